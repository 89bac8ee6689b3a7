// The pumping capacity below the groundwater table and the external table
// level: kernels on one column, and the passes over the grid.

#include "soil/unsatzon_gwtable.h"

#include <algorithm>
#include <vector>

#include "framework/gridtable.h"
#include "framework/parallel_rows.h"
#include "parameters/soil.h"
#include "soil/unsatzon.h"

namespace unsatzon {

double PumpingCapacity(int groundwaterLayer, int layers, std::span<const double> layerThickness,
                       std::span<const double> thetaSat, std::span<const double> thetaFc) {
    double sum = 0;
    for (int k = std::max(1, groundwaterLayer); k <= layers - 1; ++k)
        sum += 1000 * layerThickness[k] * (thetaSat[k] - thetaFc[k]);
    return sum;
}

ExternalTableMove MoveTableTo(int groundwaterLayer, int layers, double H, double E,
                              std::span<const double> e, std::span<const double> layerThickness,
                              std::span<const double> thetaSat, std::span<const double> thetaFc,
                              std::span<double> theta) {
    const int n = layers;
    const int g = std::clamp(groundwaterLayer, 1, n);
    double before = 0;
    for (int k = 1; k <= n; ++k) before += theta[k] * layerThickness[k];
    ExternalTableMove move;
    auto lower = [&](int k, double length) {
        if (layerThickness[k] > 0 && length > 0) theta[k] -= (thetaSat[k] - thetaFc[k]) * length / layerThickness[k];
    };
    if (E < H) {
        int m = 0;
        for (int k = g; k <= n; ++k) {
            if (e[k] <= E) {
                m = k;
                break;
            }
        }
        if (m == 0) {
            E = e[n];
            m = n;
        }
        if (m == g) {
            lower(g, H - E);
        } else {
            lower(g, H - e[g]);
            for (int k = g + 1; k <= m - 1; ++k) lower(k, layerThickness[k]);
            lower(m, e[m - 1] - E);
        }
        move.layer = m;
    } else {
        const double rise = E - H;
        int v = g;
        if (g > 1 && E > e[g - 1]) {
            v = 1;
            for (int k = g - 1; k >= 1; --k) {
                if (e[k - 1] >= E && e[k] < E) {
                    v = k;
                    break;
                }
            }
            theta[g] = thetaSat[g];
            for (int k = v + 1; k <= g - 1; ++k) theta[k] = thetaSat[k];
            if (layerThickness[v] > 0)
                theta[v] += (thetaSat[v] - theta[v]) * std::max(0.0, E - e[v]) / layerThickness[v];
        } else if (layerThickness[g] > 0) {
            theta[g] += (thetaSat[g] - theta[g]) * rise / layerThickness[g];
        }
        move.layer = v;
    }
    // A level above the surface or a table outside its layer would push a
    // layer past saturation (or a drained one below empty).
    double after = 0;
    for (int k = 1; k <= n; ++k) {
        theta[k] = std::clamp(theta[k], 0.0, std::max(0.0, thetaSat[k]));
        after += theta[k] * layerThickness[k];
    }
    move.table = E;
    move.balance = 1000 * (after - before);
    return move;
}

}  // namespace unsatzon

void unsatzonmodellklasse::UpdateMaxPumping() {
    if (Method == 0 || !IrrigationTable || !MaxPumping) return;
    const int n = maxLayers;
    const size_t n1 = static_cast<size_t>(n) + 1;
    const int first = std::max(1, FirstRow), last = std::min(LastRow, NRows);
#pragma omp parallel for schedule(static, 1) if (WorthThreadsForLightPass(Cells()))
    for (int i = first; i <= last; ++i) {
        std::vector<double> fieldCapacity(n1, 0.0);
        const int from = RowExtents ? std::max(1, static_cast<int>(RowExtents[i].first)) : 1;
        const int to = RowExtents ? std::min(NCols, static_cast<int>(RowExtents[i].last)) : NCols;
        for (int j = from; j <= to; ++j) {
            if (!OwnModelCell(i, j)) {
                MaxPumping[i][j] = NoData;
                continue;
            }
            const SoilType& soil = CellSoil(i, j);
            for (int k = 1; k <= n; ++k) fieldCapacity[static_cast<size_t>(k)] = soil.ThetaFromSuction(k, 3.45);
            const int g = std::clamp(static_cast<int>(GroundwaterLevel[i][j]), 1, n);
            MaxPumping[i][j] = unsatzon::PumpingCapacity(g, n, std::span<const double>(soil.thickness.data(), n1),
                                                         std::span<const double>(soil.theta_sat.data(), n1),
                                                         fieldCapacity);
        }
    }
}

void unsatzonmodellklasse::ApplyExternalGWTable(int) {
    if (Method == 0) return;
    if (!ExternalTableFlag) {
        GwStorageCoeff = OptionalGrid("gw_storage_coeff_1");
        ExternalTableFlag = 1;
    }
    if (!GWTableExtern || !Balance) return;
    const int n = maxLayers;
    const size_t n1 = static_cast<size_t>(n) + 1;
#pragma omp parallel for schedule(static, 1) if (WorthThreadsForLightPass(Cells()))
    for (int i = 1; i <= NRows; ++i) {
        std::vector<double> fieldCapacity(n1, 0.0);
        for (int j = 1; j <= NCols; ++j) {
            if (!(SubbasinGrid[i][j] > NoData)) {
                Balance[i][j] = Baseflow[i][j] = GroundwaterDistance[i][j] = NoData;
                continue;
            }
            if (!(GWTableExtern[i][j] > NoData)) {
                Balance[i][j] = 0;
                continue;
            }
            const SoilType& soil = CellSoil(i, j);
            for (int k = 1; k <= n; ++k) fieldCapacity[static_cast<size_t>(k)] = soil.ThetaFromSuction(k, 3.45);
            std::span<const double> e(GeodeticHeads[i][j], n1);
            const double H = GroundwaterDistance[i][j] + e[0];
            const int g = std::clamp(static_cast<int>(GroundwaterLevel[i][j]), 1, n);
            const unsatzon::ExternalTableMove move = unsatzon::MoveTableTo(
                g, n, H, GWTableExtern[i][j], e, std::span<const double>(soil.thickness.data(), n1),
                std::span<const double>(soil.theta_sat.data(), n1), fieldCapacity,
                std::span<double>(Theta[i][j], n1));
            GWTableExtern[i][j] = move.table;
            Balance[i][j] = move.balance;
            GroundwaterLevel[i][j] = move.layer;
            Baseflow[i][j] = 0;
            // The table never stands above the soil surface.
            GroundwaterDistance[i][j] = std::min(0.0, move.table - e[0]);
        }
    }
}
