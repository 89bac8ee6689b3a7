#pragma once
// Correction of precipitation for gauge undercatch, with a factor that grows
// with the wind speed, one for rain and one for snow.
//
// This is the component's shell: it reads its section and finds the inputs
// it works on; the two corrections are still to come.

#include <string>

#include "framework/modelobject.h"
#include "setup/model_settings.h"

class meteointerpol;
struct StatisticsTableEntry;

class precicorrclass : public modelobject {
public:
    // `inputs` and `names` are 1-based with `inputCount` entries. Reads
    // "[precipitation_correction]". The status is 0, or the code of a failure
    // inside (103 for anything but a code).
    precicorrclass(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                   int statisticsTableSize, meteointerpol** inputs, const std::string* names, int inputCount,
                   const ModelSettings& settings, MemoryGrid* gridTable);

    // The highest elevation of the model grid [m].
    virtual void SetMaxAltitude(double maxAltitude);
    virtual void CorrectStationData();
    virtual void CorrectGrid();
    void DeleteModule() override;

    int DoIt = 1;                     // 0: correction off
    double ThresholdTemperature = 0;  // rain above, snow at or below [degC]
    double RainConstant = 0, RainSlope = 0;
    double SnowConstant = 0, SnowSlope = 0;
    double MaxAltitude = 0;  // [m]
    // Positions (1-based) of the inputs among the application's inputs; 0
    // when the quantity comes from a grid, -1 when it is missing altogether.
    int PrecipitationInput = 0, TemperatureInput = -1, WindInput = -1;
    int PrecipitationGridIndex = 0, TemperatureGridIndex = 0, WindGridIndex = 0;
    bool InputMissing = false;

    meteointerpol** Inputs = nullptr;
    int InputCount = 0;
    StatisticsTableEntry* StatisticsTable = nullptr;
    int StatisticsTableSize = 0;

private:
    void ReadSection();
    void LinkInputs(const std::string* names);
};
