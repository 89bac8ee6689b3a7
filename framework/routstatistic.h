#pragma once
// Routed discharge per subbasin: a zonal statistic with one column per routed
// subbasin and no basin total, a second table entry through which the routing
// publishes the observed discharge, and at the end of the run the model
// efficiencies of simulated against observed discharge for time shifts of
// -10 to +10 steps.

#include "framework/zonalstatistic.h"

// Efficiency sums of one subbasin and shift: six doubles.
enum EfficiencySum {
    PairCount = 0,        // N: number of paired values
    DeviationSum = 1,     // D: sum of (simulated - observed)
    DeviationSquares = 2, // Q: sum of (simulated - observed)^2
    ObservedCount = 3,    // M: number of observed values
    ObservedSum = 4,      // S: sum of observed values
    ObservedSquares = 5,  // R: sum of squared observed values
    EfficiencySumCount = 6
};

// Shifts -10..+10 are the indices 0..20 of the sums.
constexpr int EfficiencyShiftCount = 21;
constexpr int EfficiencyMaxShift = 10;
// Written for a criterion that the data cannot support.
constexpr double EfficiencyMissing = -9999.0;

// Variance of the observations, (R - S^2 / M) / (M - 1); 0 unless M > 2.
double ObservedVariance(double count, double sum, double sumSquares);
// Linear form, 1 - (Q / (N - 1)) / var. Missing with fewer than 3 pairs or
// without variance of the observations.
double EfficiencyRSquare(const double* sums);
// Bias-free form, 1 - ((Q - D^2 / N) / (N - 1)) / var; missing as above.
double EfficiencyCoefficient(const double* sums);

class routstatistic : public zonalstatistic {
public:
    // The `zonalstatistic` arguments plus the subbasin weights (1-based, index
    // 0 the total; copied), printed in the third header line.
    routstatistic(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* table, int tableEntries,
                  double** relCellArea, int gridRows, int gridCols, ZoneRecord* zones, const double* weights,
                  int zoneCount, int modeCode, int precision, std::string& fileName,
                  const std::string& outputDirectory, int listedCount, const int* listedCodes);
    routstatistic(int* status, DiagnosticsWriter* writer, double** relCellArea, int gridRows, int gridCols,
                  ZoneRecord* zones, const double* weights, int zoneCount, int modeCode, int precision,
                  std::string& fileName, const std::string& outputDirectory, int listedCount,
                  const int* listedCodes);

    using zonalstatistic::WriteHeader;
    // Creates the file and registers the routed values and, in the entry right
    // after them, the observed series. Returns the observed entry's index, or
    // 0 when there is none (off, or the entry after the routed one was not
    // free): the observed entry is never at index 0.
    int WriteHeader(const std::string& name, const std::string& subModel, StatisticsTableEntry* table,
                    int entries) override;
    void Close() override;
    // A routed statistic has no total column: a step closes as a routed step.
    void CloseStep(int64_t year, int64_t month, int64_t day, int64_t hour) override;

    // Appends the four efficiency tables. `linear` and `logarithmic` hold 21
    // pointers (shifts -10..+10), each to six sums per subbasin 0..n (the
    // block of subbasin i at 6i). A null pointer counts as no data.
    virtual void WriteEfficiency(const double* const* linear, const double* const* logarithmic);
    // Ends a routing step from the sums the routing added into the records.
    virtual void CloseRoutedStep(int64_t year, int64_t month, int64_t day, int64_t hour);

    // Observed values the routing sets each step (1-based, n + 1 usable
    // positions), or null when the observed entry is not registered.
    double* ObservedValues() { return ObservedIndex > 0 ? ObsCurrentValues.data() : nullptr; }
    int GetObservedTableIndex() const { return ObservedIndex > 0 ? ObservedIndex : 0; }
    int64_t GetObservedValueCount() const { return ObsValueCount; }

private:
    StatisticsTableEntry ObservedEntry();

    std::vector<double> Weights;  // 0 to n

    int64_t ObsYear = 0, ObsMonth = 0, ObsDay = 0, ObsHour = 0;
    int64_t ObsValueCount = 0;
    std::vector<double> ObsCurrentValues;
    std::vector<double> ObsReaderSums;
    std::vector<double> ObsWeights;
    std::string ObsNameText;
    std::vector<int64_t> ObsColumnCodes;
    int ObservedIndex = -1;
};
