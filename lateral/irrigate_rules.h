#pragma once
// Irrigation rules as pure kernels: the amount a rule asks for in one step,
// the tracer mixing of the irrigated water, and the limitation of the
// surface-water amounts by what rivers and reservoirs can deliver.

#include <cstdint>
#include <vector>

struct IrrigationRule;
struct ZoneRecord;
struct riverflow_table;

namespace irrigate {

// What the demand of a cell depends on besides its rule.
struct CellWater {
    double Previous = 0;       // amount the cell holds when the step begins [mm per step]
    double SB1 = 0;            // water content of the root zone [-]
    double SBLow = 0;          // content below which irrigation starts [-]
    double SBHigh = 0;         // content up to which irrigation refills [-]
    double EtrToEtp = 1;       // ratio of real to potential evapotranspiration [-]
    double RootDepth = 0;      // root depth of the first vegetation layer [m]; 9999: the whole profile
    double ProfileDepth = 0;   // depth of the cell's soil profile [m]; not above 0: unknown
};

// Refill up to SBHIGH over the root zone, never below 0:
// R = max(0, SBHIGH - SB_1) * min(root depth, profile depth) * 1000 * dt / 1440  [mm per step]
double RefillAmount(double sb1, double sbHigh, double rootDepth, double profileDepth, double dtMinutes);

// The amount [mm per step] the rule asks for in a step of `dtMinutes` on
// `month`/`day` (before the groundwater cap and the surface-water
// limitation). A previous amount that is not a number above the nodata
// value counts as 0 where the rule keeps it.
double RuleAmount(const IrrigationRule& rule, const CellWater& cell, double dtMinutes, int64_t month, int64_t day,
                  double noData);

// Concentration of precipitation `p` [mm] at `cInput` mixed with irrigation
// water `a` [mm] at `cWater`; without irrigation the input concentration
// where it rains, else 0.
double MixedConcentration(double cInput, double p, double cWater, double a);

// The routing's exchange tables as the irrigation sees them (subbasins 1..n).
struct ExchangeView {
    int Count = 0;                          // subbasins n
    double TimeStep = 0;                    // [min]
    ZoneRecord* Demand = nullptr;           // records 0..n: [1]/[4] the mean surface-water demand
    double** MaxIrrig = nullptr;            // row 0: river water available, then the supplied fraction
    double** FromReservoirs = nullptr;      // row 0: reservoir water available, then the reservoir share
    int** Targets = nullptr;                // [1][i]: the subbasin i flows into (0: none)
    riverflow_table* Rivers = nullptr;      // may be null (groundwater model off)
};

// Result of the limitation: per subbasin the factor on its surface-water
// amounts (1 without shortage), whether any subbasin is short, and the
// reservoir shares o_k [mm over subbasin k].
struct Limitation {
    bool Short = false;
    std::vector<double> Factor;     // 0..n
    std::vector<double> Reservoir;  // 0..n
};

// Mean surface-water demand of a record [mm per step over the subbasin].
double MeanDemand(const ZoneRecord& record);

// Limits the mean demands of the demand records by the availability in
// `maxirrig` and `maxirrigFromReservoirs` row 0, lowers the river flows
// of the withdrawals, and leaves in the tables the supplied fractions and
// the reservoir shares. A subbasin's amounts are scaled so that the water
// delivered equals what the routing then takes: its reservoir share plus
// the supplied fraction of the river demand.
Limitation LimitSurfaceWater(const ExchangeView& tables);

}  // namespace irrigate
