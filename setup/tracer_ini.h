#pragma once
// The tracers (dissolved substances, at most nine) carried along the water
// paths: their parameters from "[substance_transport]".

#include <string>
#include <vector>

#include "framework/modelobject.h"
#include "framework/tracer_info.h"

class tracer_ini_class : public modelobject {
public:
    static constexpr int MaxTracers = 9;

    // Reads "[substance_transport]" from the compiled control file. `status`
    // receives 0, a thrown code, or 103; on success `tracerCount` and
    // `tracers` (when given) receive the count and the table, which stays
    // owned by this object (null when there are no tracers).
    tracer_ini_class(int* status, DiagnosticsWriter* writer, const std::string& controlFilePath,
                     int* tracerCount = nullptr, TracerInfo** tracers = nullptr, bool writeAsciiGrids = false,
                     bool writeDoubleGrids = false, const std::string& inputDirectory = "",
                     const std::string& outputDirectory = "");
    ~tracer_ini_class() override = default;

    void DeleteModule() override;

    int TracerCount = 0;
    // 1-based table; null when there are no tracers.
    TracerInfo* Tracers() { return Table.empty() ? nullptr : Table.data(); }

private:
    void ReadSection();
    void ReadTracer(int i, int n, const std::string& line);

    std::vector<TracerInfo> Table;
    long TracerLine = 0;  // line of the control file that holds the tracer being read
};
