#pragma once
// Special output: time series of grid values at chosen points. Each file of
// the optional section "[special_output]" lists points of named grids or
// stacks of the grid table; every time step appends one row with the value of
// every point.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/teilmod.h"
#include "framework/teilmod_pointseries_file.h"

struct StatisticsTableEntry;

class SpecialOutputClass : public teilmodellklasse {
public:
    // Section "special_output", which may be missing: then, and with method
    // 0, the sub-model is off. `subSteps` is the count of
    // "[soil_surface_groundwater_substeps]". The status is 0, or the code of
    // a failure while the file blocks are read (104 for a missing key, value
    // or line), which the creator throws.
    SpecialOutputClass(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                       int statisticsTableSize, const std::string& sectionName, const ModelSettings& settings,
                       MemoryGrid* gridTable, int subSteps);
    ~SpecialOutputClass() override;

    // Called with (date, true, j) in sub-step j = 1..sub-steps and with
    // (date, false, 0) at the end of the step.
    virtual void Step(int64_t hour, int64_t day, int64_t month, int64_t year, bool subStepCall, int subStep);
    // Appends the buffered rows of every file.
    virtual void Flush();
    // Empties the list of files without writing them (the application
    // flushes before its teardown).
    void DeleteModule() override;

    StatisticsTableEntry* StatisticsTable = nullptr;
    int StatisticsTableSize = 0;
    std::vector<std::unique_ptr<SpecialOutputFile>> Files;  // in the order of the section
    int FileCount = 0;
    int SubStepCount = 1;
    int RegionsIndex = 0;  // grid-table entry of "MPIRegions", 0 when absent

private:
    void ReadSection();
    // The next line of the control file; false at its end.
    bool ReadLine(std::string& line);
    // A file block: lines up to the one that closes its first brace.
    std::string ReadFileBlock(int number);
    InstanceCells OwnCells() const;
};
