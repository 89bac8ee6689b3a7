#pragma once
// Radiation correction for slope, aspect and terrain shadow, and the
// exposition-corrected temperature.
//
// Per computed step the sub-model sums, over its sub-steps, the clear-sky
// direct radiation on every cell's sloped surface (with the shadow of the
// terrain) and on a horizontal surface; their ratio is "radiation_correction",
// which evapotranspiration and snow receive by pointer. It also keeps
// "Shadow", "Ieff_max", "corr_temperature" and "temperature_night".

#include <cstdint>
#include <string>

#include "forcing/expokorr_physics.h"
#include "framework/teilmod.h"

struct StatisticsTableEntry;

class expokorrklasse : public teilmodellklasse {
public:
    // Section "radiation_correction". The status is 0 or the code of a
    // failure after the base was built (103 for anything but a code);
    // failures of the base are thrown.
    expokorrklasse(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                   int statisticsTableSize, const std::string& sectionName, const ModelSettings& settings,
                   MemoryGrid* gridTable);
    ~expokorrklasse() override;

    // The "radiation_correction" grid when the switch is 1, else null.
    virtual double** GetCorrectedRadiationGrid();
    void RunTimeStep(int64_t hour, int64_t day, int64_t month, int64_t year) override;
    void DeleteModule() override;

    StatisticsTableEntry* StatisticsTable = nullptr;
    int StatisticsTableSize = 0;

    // Section values.
    int CorrectionMethod = 2;  // 1 to 4
    std::string TemperatureFileName, RatioFileName, ShadowFileName;
    int TemperatureWriteCode = 0, RatioWriteCode = 0, ShadowWriteCode = 0;
    double TemperatureScaling = 0;  // k
    int StepsPerComputation = 1;    // N
    int StepCounter = 0;
    int Splittings = 1;  // s, sub-steps per computed step

    // Grids read.
    double** Elevation = nullptr;
    double** Aspect = nullptr;  // [deg] clockwise from north
    double** Slope = nullptr;   // [deg]
    double** Sunshine = nullptr;  // relative sunshine duration, optional
    double** Temperature = nullptr;  // optional
    double** Regions = nullptr;
    double** MasterGrid = nullptr;  // with hydrologic response units

    // Grids created, with their grid-table entries (0 when not created).
    double** CorrectedRadiation = nullptr;
    double** ShadowGrid = nullptr;
    double** SlopeRadiationSum = nullptr;  // "Ieff_max"
    double** CorrectedTemperatureGrid = nullptr;
    double** NightTemperature = nullptr;  // "temperature_night" when created, else the temperature
    int RatioIndex = 0, ShadowIndex = 0, SlopeRadiationIndex = 0, TemperatureIndex = 0, NightIndex = 0;
    int32_t ShadowFirstRow = 1, ShadowLastRow = 0;

    // Solar values of the current sub-step and step.
    double HorizontalSum = 0;  // H
    double BeamEnergy = 0;     // W
    bool Night = true;

private:
    expokorr::ShadowMarch Shadows;

    void Construct();
    void ReadSection();
    double** CreateGrid(int& index, const std::string& fileName, const std::string& name, int writeCode,
                        int32_t firstRow, int32_t lastRow);
    bool ValidCell(int32_t row, int32_t col) const;
    // One sub-step in one parallel region: the shadow march (`shade`) on
    // the threads, then one pass over the rows, each row cleared for the
    // step (`first`), shaded, lit and corrected (`last`).
    void SubStep(bool first, bool last, bool shade, double cosZenith);
    void ClearStepRow(int32_t row);
    // The row's shadow: 0 for its cells, then the march's marks.
    void ShadeRow(int32_t row, bool shade);
    void AccumulateSlopeRadiationRow(int32_t row, double cosZenith);
    void FinishCorrectionRow(int32_t row, double horizontal);
    void ReleaseOwnGrids();
    bool ShadowsComputed() const { return CorrectionMethod == 1 || CorrectionMethod == 2; }
    bool TemperatureCorrected() const { return CorrectionMethod == 2 || CorrectionMethod == 4; }
};
