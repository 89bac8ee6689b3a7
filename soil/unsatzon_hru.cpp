// Hydrologic response units in the soil model: after the cell step every
// other cell of a unit takes the state and the outputs of the unit's master
// cell.

#include <algorithm>

#include "framework/parallel_rows.h"
#include "soil/unsatzon.h"

void unsatzonmodellklasse::CopyHruStateRows(int row) {
    if (HruMasters.empty()) return;
    double** const grids[] = {PondingStorage, DrainageLevel, IrrigationAmounts, PermafrostThawDepth, MaxPumping,
                              ThawDepth, FrozenSoilInGroundwater, Etr2Etp, WaterInput, RealEvaporation, SiltingUp,
                              GroundwaterDistance, GroundwaterLevel, Baseflow, DrainageFlow,
                              GroundwaterActive == 1 ? RiverInfiltration : nullptr,
                              GroundwaterActive == 1 ? RiverExfiltration : nullptr, DirectFlow, InterFlow,
                              MacroporeInfiltration, GroundwaterRecharge, Percolation, CapillarUprise,
                              InfiltrationExcess, TotalInfiltration, ThetaInGwLevel, SB1, SB2, RootGrid,
                              NumberOfSubsteps};
    const GridStack stacks[] = {SoilTemperature, Theta, GeodeticHeads, HydraulicHeads, QDown};
    int first = 1, last = NCols;
    if (RowExtents) {
        first = std::max(1, static_cast<int>(RowExtents[row].first));
        last = std::min(NCols, static_cast<int>(RowExtents[row].last));
    }
    for (int c = first; c <= last; ++c) {
        if (!OwnModelCell(row, c) || MasterHydrologicResponseUnits[row][c] != NoData) continue;
        // PrepareHruCopy has refused cells whose unit has no master.
        const auto [mr, mc] = HruMasters[static_cast<size_t>(HydrologicResponseUnits[row][c])];
        for (double** g : grids)
            if (g) g[row][c] = g[mr][mc];
        for (double** g : RealTranspiration)
            if (g) g[row][c] = g[mr][mc];
        for (GridStack s : stacks) {
            if (!s) continue;
            for (int l = 0; l <= maxLayers; ++l) s[row][c][l] = s[mr][mc][l];
        }
    }
}

void unsatzonmodellklasse::CopyHruState() {
    if (HruMasters.empty()) return;
#pragma omp parallel for schedule(static, 1) if (WorthThreadsForLightPass(Cells()))
    for (int r = 1; r <= NRows; ++r) CopyHruStateRows(r);
}
