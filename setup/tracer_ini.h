#pragma once
// The tracers (dissolved substances, at most nine) carried along the water
// paths: their parameters from "[substance_transport]".

#include <string>
#include <vector>

#include "framework/modelobject.h"

// Parameters of one tracer. Table entries count from 1; entry 0 is unused.
struct TracerInfo {
    std::string name;           // three characters: lower case, padded with "_"
    int radioactive = 0;        // 1 radioactive, 0 not
    int evaporating = 0;        // 1 evaporating, 0 not
    double min_conc = 0;        // minimum concentration
    double max_conc = 0;        // maximum concentration, as written
    double half_time = -9999;   // half-life [d]; -9999 when not radioactive
    double gwini = 0;           // initial concentration in the groundwater
    double soilini = 0;         // initial concentration in the soil
    double decay_factor = 0;    // per time step, set by each sub-model
    std::string path;           // output directory or path prefix
    std::string statext;        // extension of the statistics files
    std::string gridext;        // extension of the grid files
    int statcode = 0;           // write code of the statistics
    int gridcode = 0;           // write code of the grids
};

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
};
