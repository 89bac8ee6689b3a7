#pragma once
// The work arrays of the soil-column cell step, held per grid row by the
// thread that runs the row, and the dump file of a column that left its
// plausible range.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace unsatzon {

// Column work arrays of one row (layers 0..n) and per vegetation layer
// (0..V). Allocated once per row, reused for every cell of it.
struct ColumnWork {
    ColumnWork(int layers, int vegetationLayers);

    int Layers, VegetationLayers;
    std::vector<double> thetaStart, thetaIter, thetaTrial, layerInterflow, riverInfiltration, riverExfiltration,
        suctionStart, layerTranspiration, layerEvaporation, layerEtr, rootFraction, rootWeight, capillarySupply,
        baseflowWithdrawal, macroporeCapacity, macroporeInflow;
    std::vector<double> potTranspirationStep, realTranspirationStep;  // [mm per iteration step]
    // Solutes: the water contents at the start of the iteration step and the
    // transport's scratch values.
    std::vector<double> thetaBefore, tracerScratch;
};

// What the dump file holds: the column as it stood before the iteration.
struct DumpSnapshot {
    int32_t rootLayers = 0;
    double meanSuction = 0;
    double surfaceInfiltration = 0;  // [m/s]
    double baseflow = 0;
    std::vector<double> realTranspiration;  // vegetation layers 0..V
    // Seven and six per-layer arrays, then thetaNew, each n + 1 long.
    std::vector<double> columnsA, columnsB, thetaNew;
    int32_t soilIndex = 0;
    std::vector<double> landuse;  // vegetation layers 1..V
    int32_t date[4] = {};         // hour, day, month, year
    double iterationSteps = 0;
    double stepSeconds = 0;
    // With soil heat: seven per-layer heat arrays (unfrozen fractions, stored
    // temperatures, conductivities, freezing slopes, heat capacities, heat
    // fluxes, temperatures at the step start), the heat step [s], the heat
    // steps of the sub-step and per iteration step, the air temperature.
    bool heat = false;
    std::vector<double> heatColumns;
    double heatStepSeconds = 0;
    double heatSteps = 0;
    int32_t heatStepsPerIterationStep = 0;
    double airTemperature = 0;
};

// Flag h of a dump: a layer 1..n-1 whose new temperature lies outside
// [-50, 50] degC or stands out by more than 0.001 K above (or below) its own
// start and both neighbours before and after the step (the air times the
// n-factor above layer 1).
bool TemperatureOutOfLine(int layers, const double* before, const double* after, double airAboveSurface);

// "[h_][th_][dgw_]dump_row_<r>_col_<c>_substep_<k>_<YYYY><MM><DD><HH>.dmp".
std::string DumpFileName(bool heat, bool theta, bool baseflow, int row, int column, int step, int64_t year,
                         int64_t month, int64_t day, int64_t hour);

// Bytes of a dump file without soil heat.
int64_t DumpFileSize(int layers, int vegetationLayers);

// Writes the snapshot in native byte order; false when the file cannot be
// written completely.
bool WriteDumpFile(const std::string& name, const DumpSnapshot& s);

// The iteration report line of a step that needed more than 100 passes.
std::string IterationReportLine(int64_t day, int64_t month, int64_t hour, int row, int column, int passes,
                                double lastChange);

}  // namespace unsatzon
