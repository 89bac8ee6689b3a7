#include "soil/unsatzon_river.h"

#include <algorithm>

#include "parameters/soil.h"

namespace unsatzon {

int RiverBedLayer(std::span<const double> layerThickness, int layers, double depth) {
    if (layers <= 0) return 1;
    double sum = 0;
    for (int k = 1; k <= layers; ++k) {
        sum += layerThickness[k];
        if (sum >= depth) return k;
    }
    return layers;
}

bool RiverExchange(const SoilType& soil, SoilColumn& c, const RiverCell& river, double groundwaterDistance,
                   double dt) {
    const int n = c.LayerCount;
    for (int k = 1; k <= n; ++k) c.riverInfiltration[k] = c.riverExfiltration[k] = 0;
    if (!(river.depth > 0) || !(river.width > 0) || !(river.cellSize > 0) || !(dt > 0)) return false;
    const int g = std::clamp(c.GroundwaterLayer, 1, std::max(1, n));
    const int L = RiverBedLayer(c.layerThickness, n, river.depth);
    const double top = c.boundaryElevation[0];
    const double H = top + groundwaterDistance;
    const double B = top - river.depth;
    const double K = river.kolmation;
    const double area = river.cellSize * river.cellSize;

    if (H > B) {
        c.riverInfiltrationTotal = 0;
        const double X = H - B;
        const double F = K > 0 ? K * X * river.width / river.cellSize : 0.0;
        c.riverExfiltrationTotal = F;
        const double drainable = (c.thetaStart[g] + c.thetaIter[g]) / 2 - soil.ThetaFromSuction(g, 3.45);
        double rest = F;
        auto take = [&](int k, double amount) {
            const double t = std::min(rest, std::max(0.0, amount));
            c.riverExfiltration[k] += t;
            rest -= t;
        };
        if (g < L) {
            take(g, (H - c.boundaryElevation[g]) * drainable / dt);
            for (int k = g + 1; k <= L - 1; ++k) take(k, c.layerThickness[k] * drainable / dt);
            take(L, (c.boundaryElevation[L - 1] - B) * drainable / dt);
        } else {
            take(L, X * drainable / dt);
        }
        if (rest > 0) c.riverExfiltrationTotal -= rest;
        return false;
    }

    c.riverExfiltrationTotal = 0;
    if (!river.infiltration) return false;
    const double depthInRiver = (river.speed > 0 ? river.flowm3s / river.speed : 0.0) / river.width;
    const double reference = g < L ? H : c.hydraulicHead[L];
    double I = K > 0 ? (B + depthInRiver - reference) * K * river.width * river.cellSize : 0.0;
    I = std::max(0.0, I);
    I = std::min(I, std::max(0.0, river.available));
    c.riverInfiltrationTotal = I / area;
    if (!(c.riverInfiltrationTotal > 0)) return false;

    const double Z = river.depth - depthInRiver;
    int M = 1;
    if (Z > 0 && n > 0) {
        M = n + 1;
        double sum = 0;
        for (int k = 1; k <= n; ++k) {
            sum += c.layerThickness[k];
            if (sum >= Z) {
                M = k + 1;
                break;
            }
        }
        M = std::min(M, n + 1);
    }
    double rest = I / area;
    bool entered = false;
    auto give = [&](int k) {
        const double room = (c.thetaSat[k] - (c.thetaStart[k] + c.thetaIter[k]) / 2) * c.layerThickness[k] / dt;
        const double t = std::min(rest, std::max(0.0, room));
        if (t > 0) entered = true;
        c.riverInfiltration[k] += t;
        rest -= t;
    };
    if (g >= L)
        for (int k = L; k <= g && rest > 0; ++k) give(k);
    for (int k = L - 1; k >= M + 1 && rest > 0; --k) give(k);
    if (rest > 0) c.riverInfiltrationTotal -= rest;
    return entered;
}

}  // namespace unsatzon

// --- The river exchange of the soil model ------------------------------------

#include <string>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "soil/unsatzon.h"

namespace {

std::string InvalidRiverLinkText(int code) {
    const std::string c = std::to_string(code);
    return "FATAL: \n\n -------- error! ---------------------------------------------\n\nThere is a river link \"" + c +
           "\" from the river link grid\nwhich is not valid for the current routing structure -> there is no "
           "routing \ndescription for a river with code " + c + "\n" +
           "Please check your River link grid if there are cells defined as routing link " + c +
           " and replace those values by nodata (-9999).\n" +
           "-------------------------------------------------------------\n\n";
}

}  // namespace

void unsatzonmodellklasse::InitRiverExchange() {
    RiverDepth = RiverWidth = RiverLinks = Kolmation = nullptr;
    if (surfaceWaterInteraction > 0) {
        RiverDepth = RequiredGrid("river_depth");
        RiverWidth = RequiredGrid("river_width");
        RiverLinks = RequiredGrid("river_links");
        Kolmation = RequiredGrid("kolmation");
    }
    Statistics[wGWIN] = CreateStatistics(StatisticsFiles[sGWIN], 7, "re-infiltration from rivers [mm per Zone]");
    Statistics[wGWEX] = CreateStatistics(StatisticsFiles[sGWEX], 7,
                                         "base flow (exfiltration into rivers, only with gw-module active) [mm per Zone]");
    RiverInfiltration = CreateGrid(GridFiles[18].Name, "river_infiltration", GridFiles[18].Code, 0);
    RiverExfiltration = CreateGrid(GridFiles[19].Name, "river_exfiltration", GridFiles[19].Code, 0);
    GwStorageCoeff = OptionalGrid("gw_storage_coeff_1");
    RiverFlows.assign(static_cast<size_t>(Subbasins.Count) + 1, riverflow_table{});

    // Every river link must name a routed subbasin; the cells linked to each
    // river share its remaining flow.
    const int n = Subbasins.Count;
    RiverLinkedCells.assign(static_cast<size_t>(n) + 1, 0);
    RiverQuota.assign(static_cast<size_t>(n) + 1, 0.0);
    RiverWithdrawal.assign(static_cast<size_t>(NRows + 1) * static_cast<size_t>(NCols + 1), 0.0);
    if (!RiverLinks) return;
    for (int i = 1; i <= NRows; ++i) {
        const int from = RowExtents ? std::max(1, static_cast<int>(RowExtents[i].first)) : 1;
        const int to = RowExtents ? std::min(NCols, static_cast<int>(RowExtents[i].last)) : NCols;
        for (int j = from; j <= to; ++j) {
            if (!OwnModelCell(i, j) || !(RiverLinks[i][j] > 0)) continue;
            const double link = RiverLinks[i][j];
            const int code = link <= Subbasins.LargestCode ? static_cast<int>(link) : -1;
            const int rank = code >= 1 ? Subbasins.CodeToRank[code] : 0;
            if (code < 1 || rank < 1 || rank > n) {
                if (Writer) *Writer << InvalidRiverLinkText(code >= 1 ? code : static_cast<int>(std::min(link, 2e9)))
                                    << "[end-entry]";
                throw 199;
            }
            ++RiverLinkedCells[static_cast<size_t>(rank)];
        }
    }
}

bool unsatzonmodellklasse::RiverOfCell(int row, int column, int& rank) const {
    rank = 0;
    if (!RiverDepth || surfaceWaterInteraction <= 0) return false;
    // A lake cell that holds water has no river of its own; a lake flag other
    // than 0 or 1 switches the exchange off.
    if (LakesActive == 1) {
        if (LakeCodes && LakeCodes[row][column] != NoData && PondingStorage && PondingStorage[row][column] >= 1.0)
            return false;
    } else if (LakesActive != 0) {
        return false;
    }
    if (RiverLinks && RiverLinks[row][column] > 0 && RiverLinks[row][column] <= Subbasins.LargestCode)
        rank = Subbasins.CodeToRank[static_cast<int>(RiverLinks[row][column])];
    return true;
}

bool unsatzonmodellklasse::DrawsOnRiver(int row, int column) const {
    if (GroundwaterActive != 1 || surfaceWaterInteraction != 2 || RiverFlows.empty() || !RiverLinks) return false;
    int rank = 0;
    return RiverOfCell(row, column, rank) && rank > 0;
}

void unsatzonmodellklasse::PrepareRiverQuota() {
    RiverRows.assign(static_cast<size_t>(NRows) + 1, 0);
    if (RiverFlows.empty() || RiverQuota.empty()) return;
    std::fill(RiverWithdrawal.begin(), RiverWithdrawal.end(), 0.0);
    for (size_t s = 1; s < RiverQuota.size(); ++s) {
        const riverflow_table& r = RiverFlows[s];
        // What the river still owes the columns from earlier steps is not
        // there to be taken again.
        RiverQuota[s] = RiverLinkedCells[s] > 0 ? std::max(0.0, r.flowm3s - r.withdrawn - r.carried) : 0.0;
    }
    if (surfaceWaterInteraction != 2 || !RiverLinks) return;
    for (int i = std::max(1, FirstRow); i <= std::min(LastRow, NRows); ++i) {
        const int from = RowExtents ? std::max(1, static_cast<int>(RowExtents[i].first)) : 1;
        const int to = RowExtents ? std::min(NCols, static_cast<int>(RowExtents[i].last)) : NCols;
        for (int j = from; j <= to && !RiverRows[static_cast<size_t>(i)]; ++j)
            if (OwnModelCell(i, j) && DrawsOnRiver(i, j)) RiverRows[static_cast<size_t>(i)] = 1;
    }
}

void unsatzonmodellklasse::BookRiverWithdrawals() {
    if (RiverFlows.empty() || !RiverLinks) return;
    for (int i = 1; i <= NRows; ++i) {
        for (int j = 1; j <= NCols; ++j) {
            const double taken = RiverWithdrawal[static_cast<size_t>(i) * static_cast<size_t>(NCols + 1) + j];
            if (taken == 0) continue;
            const int rank = Subbasins.CodeToRank[static_cast<int>(RiverLinks[i][j])];
            RiverFlows[static_cast<size_t>(rank)].withdrawn += taken;
        }
    }
}
