#pragma once
// One meteorological input: it reads its own section, keeps its result grid
// in the grid table under the input's name and carries the model clock.
//
// PLACEHOLDER: the station, regression and grid-list files and the
// interpolation are not built yet. Until they are, an input reads only the
// method line of its section, holds one record dated at the start of the
// run, and its step checks the date and leaves the result grid at the
// nodata value.

#include <cstdint>
#include <string>

#include "framework/modelobject.h"
#include "setup/model_settings.h"

struct StatisticsTableEntry;

// Takes over the model-wide values every component keeps in its base: the
// grid geometry, the zone table, the time shift, the log interval and the end
// date of the run.
void AdoptModelSettings(modelobject& component, const ModelSettings& settings, MemoryGrid* gridTable);

class meteointerpol : public modelobject {
public:
    // `name` is the input's name and section; `gridIndex` (1 to 999) the free
    // grid-table entry that receives the result grid. The status is 0 on
    // success; on failure it holds the code, which is also thrown.
    meteointerpol(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                  int statisticsTableSize, const std::string& name, int gridIndex, const ModelSettings& settings,
                  MemoryGrid* gridTable);
    ~meteointerpol() override;

    // 1: the input may warn about cells without a station in the search
    // radius.
    virtual void SetWarnings(int on);
    // The hours from the hour of a record to the end of its step.
    virtual void SetTimeStep(double hours);
    virtual void GetActualDate(int64_t* hour, int64_t* day, int64_t* month, int64_t* year);
    // Ends the run (code 52) unless the current record carries this date.
    virtual void InterpolateStep(int64_t hour, int64_t day, int64_t month, int64_t year);
    virtual void ReadNextStep();
    virtual bool EndOfData();
    // The current record becomes the last one.
    virtual void StopAtActualDate();
    virtual void FlushStatistics();
    // Back to the start; the next ReadNextStep takes the first record again.
    virtual void ResetToStart();
    virtual void CalcElevationRegression(int stationFile);
    virtual void WriteResultGrid();
    void DeleteModule() override;

    int InterpolationMethod = 0;  // 1 to 12
    int WarningsOn = 0;
    int ResultGridIndex = 0;
    double** ResultGrid = nullptr;
    int64_t CurrentHour = 0, CurrentDay = 0, CurrentMonth = 0, CurrentYear = 0;
    StatisticsTableEntry* StatisticsTable = nullptr;
    int StatisticsTableSize = 0;
    ModelSettings Settings;

private:
    void ReadSection();
    void ReleaseResultGrid();

    bool EndOfDataFlag = false;
    // Placeholder clock: -1 before the first record, 0 on it.
    int RecordCursor = 0;
};
