#pragma once
// Correction of precipitation for gauge undercatch, with a factor that grows
// with the wind speed, one for rain and one for snow. Without regional
// superposition the precipitation input's station values (and its regression
// set) are corrected before the inputs interpolate; with it, the
// precipitation grid after the superposition. The kernels are in
// meteoint_precicorr_physics.h.

#include <string>
#include <vector>

#include "framework/model_settings.h"
#include "framework/modelobject.h"

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
    // Corrects the current station values of the precipitation input, and
    // refits its regression set for methods 2, 3, 10 and 11, for the current
    // step. Does nothing when switched off or when one of the three
    // quantities exists only as a grid.
    virtual void CorrectStationData();
    // Corrects the precipitation grid in every cell of the valid row extents
    // that belongs to this process (parallel over rows).
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
    int PrecipitationMethod = 0;  // the precipitation input's interpolation method
    int StationCount = 0;         // stations of its station file 0 (1 for methods 2 and 10)
    // Temperature [degC] and wind speed [m/s] at each station (1-based), as
    // the last station correction found them.
    std::vector<double> StationTemperature, StationWind;

    meteointerpol** Inputs = nullptr;
    int InputCount = 0;
    StatisticsTableEntry* StatisticsTable = nullptr;
    int StatisticsTableSize = 0;

private:
    void ReadSection();
    void LinkInputs(const std::string* names);
    void PrepareStations();
    meteointerpol* Input(int position) const;
    // N of the input at `position`; for a quantity that exists only as a
    // grid, that of the last input of the list.
    double NoDataOf(int position) const;
    double** GridOf(int position, int gridIndex) const;

    std::vector<double> Work;  // scratch for the point service
};
