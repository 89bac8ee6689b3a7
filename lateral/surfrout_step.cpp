// One sub-step of surface routing: the take-over of the soil model's direct
// runoff, then iterations of an adaptive sub time step in two parallel
// phases, the fluxes of every cell and the exchange of water between cells.

#include <algorithm>
#include <cmath>
#include <atomic>
#include <cstdint>
#include <thread>
#include <utility>
#include <vector>

#include <omp.h>

#include "framework/diagnostics_writer.h"
#include "framework/parallel_rows.h"
#include "framework/tracer_info.h"
#include "framework/zonetable.h"
#include "lateral/surfrout.h"
#include "parameters/landuse.h"

using namespace surfrout;

namespace {

std::pair<int32_t, int32_t> ColumnRange(const RowExtent* extents, int32_t row, int32_t ncols) {
    if (!extents) return {1, ncols};
    return {std::max<int32_t>(1, extents[row].first), std::min<int32_t>(ncols, extents[row].last)};
}

}  // namespace

bool surfaceroutingclass::ExistingNeighbour(int32_t row, int32_t col, int d) const {
    const int32_t r = row + RowOffset[d], c = col + ColOffset[d];
    if (r < 1 || r > NRows || c < 1 || c > NCols) return false;
    return ZoneGrid[r][c] != NoData;
}

bool surfaceroutingclass::ValidNeighbour(int32_t row, int32_t col, int d) const {
    const int32_t r = row + RowOffset[d], c = col + ColOffset[d];
    if (r < 1 || r > NRows || c < 1 || c > NCols) return false;
    return ZoneGrid[r][c] > 0;
}

// Methods 1 and 2 route over the bed: depths do not enter their geometry.
double surfaceroutingclass::OwnDepthForGeometry(int32_t row, int32_t col) const {
    return FlowpathMethod >= 3 ? Depth[row][col] : 0.0;
}

double surfaceroutingclass::NeighbourDepth(int32_t row, int32_t col, int d) const {
    if (FlowpathMethod < 3 || !ValidNeighbour(row, col, d)) return 0.0;
    return Depth[row + RowOffset[d]][col + ColOffset[d]];
}

int surfaceroutingclass::LanduseOf(int32_t row, int32_t col) const {
    for (int k = LayerCount; k >= 1; --k) {
        const double position = Landuse[static_cast<size_t>(k)][row][col];
        if (position != -9999 && position >= 1 && position <= Settings.LanduseCount) return k;
    }
    return 0;
}

void surfaceroutingclass::CheckLanduse() {
    for (int32_t i = 1; i <= NRows; ++i) {
        const auto [first, last] = ColumnRange(RowExtents, i, NCols);
        for (int32_t j = first; j <= last; ++j) {
            if (!IsModelCell(i, j) || (Settings.LanduseTable && LanduseOf(i, j) > 0)) continue;
            if (Writer) {
                *Writer << "FATAL: the cell in row " << i << ", column " << j << " has no land use in any layer of "
                        << "the land-use grids; " << ModuleName << " needs the flow resistance of every cell"
                        << "[end-entry]";
            }
            throw 33;
        }
    }
}

int surfaceroutingclass::SteepestWaterSurfaceSlope(int32_t row, int32_t col, double* slope, double* angle) {
    *slope = 0;
    *angle = 0;
    if (IsRiverCell(row, col)) return 1;
    Neighbourhood cell;
    cell.H[0] = Elevation[row][col] + OwnDepthForGeometry(row, col);
    cell.z[0] = Elevation[row][col];
    bool interior = row > 1 && row < NRows && col > 1 && col < NCols;
    for (int d = 1; d <= 8; ++d) {
        cell.valid[d] = ValidNeighbour(row, col, d);
        interior = interior && cell.valid[d];
        if (cell.valid[d]) {
            const double z = Elevation[row + RowOffset[d]][col + ColOffset[d]];
            cell.z[d] = z;
            cell.H[d] = z + NeighbourDepth(row, col, d);
        }
    }
    cell.interior = interior;
    const SlopeAndAspect s = SteepestSlope(cell, CellSize);
    *slope = s.slope;
    *angle = s.angle;
    return interior ? 2 : 3;
}

void surfaceroutingclass::OutflowWeights(int32_t row, int32_t col, int* kind, int iteration, double slope,
                                         double angle) {
    if (*kind == 0 || *kind == 1) return;
    double* w = Weights[row][col];
    double* v = Velocity[row][col];
    double old[9];
    for (int d = 1; d <= 8; ++d) {
        old[d] = w[d];
        w[d] = 0;
    }
    const double H = Elevation[row][col] + OwnDepthForGeometry(row, col);
    double drop[9] = {};
    bool existing[9] = {};
    for (int d = 1; d <= 8; ++d) {
        existing[d] = ExistingNeighbour(row, col, d);
        if (existing[d]) drop[d] = H - (Elevation[row + RowOffset[d]][col + ColOffset[d]] + NeighbourDepth(row, col, d));
    }
    bool byAngle = false;
    if (slope != 0 && *kind == 2) {
        double split[9];
        const int main = WeightsByAngle(angle, Curvature[row][col], FlowpathMethod, split);
        v[0] = main;
        double sum = 0;
        for (int d = 1; d <= 8; ++d) {
            if (split[d] > 0 && drop[d] < 0) split[d] = 0;
            sum += split[d];
        }
        if (sum != 0) {
            for (int d = 1; d <= 8; ++d) w[d] = split[d] / sum;
            byAngle = true;
        } else {
            *kind = 3;
        }
    }
    if (!byAngle) {
        double split[9];
        v[0] = WeightsByDrops(drop, existing, FlowpathMethod, split);
        for (int d = 1; d <= 8; ++d) w[d] = split[d];
    }
    v[9] = Surface[row][col] / 1000 + Elevation[row][col];
    w[0] = 0;
    if (iteration > 0) {
        int same = 0;
        for (int d = 1; d <= 8; ++d)
            if (std::fabs(w[d] - old[d]) <= 0.01) ++same;
        w[0] = same;
    }
}

void surfaceroutingclass::DirectionalVelocityAndFlux(int32_t row, int32_t col, int iteration, int mark) {
    double* w = Weights[row][col];
    double* v = Velocity[row][col];
    double* q = Fluxes[row][col];
    const bool recompute = w[0] < 8 || iteration == 0 || iteration == mark || FlowpathMethod == 5;
    if (recompute) {
        Resistance r;
        if (FlowpathMethod <= 4) {
            const int layer = LanduseOf(row, col);
            if (layer > 0) {
                const LanduseType& use = Settings.LanduseTable[static_cast<int>(Landuse[static_cast<size_t>(layer)][row][col])];
                const int day = static_cast<int>(StepDay), month = static_cast<int>(StepMonth);
                const int year = static_cast<int>(StepYear);
                r.cultivation = use.GetSRCultivation();
                r.kst = use.GetSRKST();
                use.GetSRRoughCoeff1(&r.rough1[0], &r.rough1[1], &r.rough1[2]);
                use.GetSRRoughCoeff2(&r.rough2[0], &r.rough2[1], &r.rough2[2]);
                if (r.cultivation == 1)
                    r.residueCover = use.GetSRResidCovrgAtDate(nullptr, day, month, year, LayerCount,
                                                               Elevation[row][col], row, col);
                if (r.cultivation == 2) {
                    r.stemDiameter = use.GetSRStemDiameterAtDate(nullptr, day, month, year, layer,
                                                                 Elevation[row][col], row, col);
                    r.cropDistX = use.GetSRCropDistX();
                    r.cropDistY = use.GetSRCropDistY();
                    r.dragHighRe = use.GetSRCWR();
                }
            }
        }
        const double y = Depth[row][col];
        const double H = Elevation[row][col] + OwnDepthForGeometry(row, col);
        double sum = 0;
        for (int d = 1; d <= 8; ++d) {
            DirectionFlow f;
            if (w[d] > 0 && y > 0) {
                const double length = (d % 2 == 0) ? Diagonal * CellSize : CellSize;
                const double zd = Elevation[row + RowOffset[d]][col + ColOffset[d]];
                const double s = (H - (zd + NeighbourDepth(row, col, d))) / length;
                if (FlowpathMethod == 5)
                    f = CappedFlow(y, s, length, CellSize, Controls.dtMin);
                else
                    f = ResistedFlow(r, Controls, v[d], w[d], y, s, CellSize, CriticalShear[row][col]);
            }
            v[d] = f.velocity;
            q[d] = f.flux;
            sum += f.flux;
        }
        // No more than the cell's water may leave in the longest sub time step.
        if (FlowpathMethod <= 4 && sum > 0) {
            const double Z = CellSize * CellSize * y / Controls.dtMax / sum;
            if (Z < 1)
                for (int d = 1; d <= 8; ++d)
                    if (q[d] > 0) q[d] *= Z;
        }
        q[0] = sum;
    }
    const int main = static_cast<int>(v[0]);
    if (main >= 1 && main <= 8) q[0] = q[main];
}

void surfaceroutingclass::ComputeFluxesRow(int32_t row, int iteration, int mark, double dt) {
    const auto [first, last] = ColumnRange(RowExtents, row, NCols);
    for (int32_t col = first; col <= last; ++col) {
        if (!IsModelCell(row, col)) continue;
        double slope = 0, angle = 0;
        int kind = SteepestWaterSurfaceSlope(row, col, &slope, &angle);
        OutflowWeights(row, col, &kind, iteration, slope, angle);
        DirectionalVelocityAndFlux(row, col, iteration, mark);
    }
    if (dt > 0) LimitOutflowRow(row, dt);
}

// A cell gives away no more than its water in one sub time step: its
// neighbours receive exactly what it loses.
void surfaceroutingclass::LimitOutflowRow(int32_t row, double dt) {
    const auto [first, last] = ColumnRange(RowExtents, row, NCols);
    const double area = CellSize * CellSize;
    for (int32_t col = first; col <= last; ++col) {
        if (!IsModelCell(row, col)) continue;
        double* q = Fluxes[row][col];
        double sum = 0;
        for (int d = 1; d <= 8; ++d)
            if (q[d] > 0) sum += q[d];
        if (!(sum > 0)) continue;
        const double available = std::max(0.0, Surface[row][col]) * area / (1000 * dt);
        if (sum <= available) continue;
        const double factor = available / sum;
        for (int d = 0; d <= 8; ++d)
            if (q[d] > 0) q[d] *= factor;
    }
}

double surfaceroutingclass::ShortestTravelTimeRow(int32_t row) const {
    double tmin = NoFlow;
    const auto [first, last] = ColumnRange(RowExtents, row, NCols);
    for (int32_t j = first; j <= last; ++j) {
        if (!IsModelCell(row, j)) continue;
        for (int d = 1; d <= 8; ++d) {
            const double v = Velocity[row][j][d];
            if (Weights[row][j][d] > 0.0001 && v > 0.00001) tmin = std::min(tmin, CellSize / v);
        }
    }
    return tmin;
}

// A minimum: the same over the rows in any grouping.
double surfaceroutingclass::ShortestTravelTime() {
    double tmin = NoFlow;
    for (int32_t i = 1; i <= NRows; ++i) tmin = std::min(tmin, ShortestTravelTimeRow(i));
    return tmin;
}

void surfaceroutingclass::GatherInflow(int32_t row, int32_t col, double dt, double* loads) {
    double in = 0;
    for (int k = 1; k <= TracerCount; ++k) loads[k] = 0;
    for (int d = 1; d <= 8; ++d) {
        if (!ExistingNeighbour(row, col, d)) continue;
        const int32_t r = row + RowOffset[d], c = col + ColOffset[d];
        const double flux = Fluxes[r][c][Opposite(d)];
        in += flux;
        for (int k = 1; k <= TracerCount; ++k) loads[k] += flux * TracerSnapshot[static_cast<size_t>(k)][r][c];
    }
    double out = 0;
    const double* q = Fluxes[row][col];
    for (int d = 1; d <= 8; ++d)
        if (q[d] > 0) out += q[d];
    QIn[row][col] = in * dt;
    QOut[row][col] = out * dt;
    for (int k = 1; k <= TracerCount; ++k) loads[k] *= 1000 * dt;
}

void surfaceroutingclass::ApplyFluxesRow(int32_t row, double dt) {
    const auto [first, last] = ColumnRange(RowExtents, row, NCols);
    const double area = CellSize * CellSize;
    double loads[10] = {};
    for (int32_t col = first; col <= last; ++col) {
        if (!IsModelCell(row, col)) continue;
        GatherInflow(row, col, dt, loads);
        double& in = QIn[row][col];
        double& out = QOut[row][col];
        in = in * 1000 / area;
        out = out * 1000 / area;
        double& S = Surface[row][col];
        for (int k = 1; k <= TracerCount; ++k) {
            double& c = TracerStorage[static_cast<size_t>(k)].StorageGrid[row][col];
            c = loads[k] / area - c * out + S * c;
        }
        S = S + in - out;
        if (S < 0) {
            out += S;
            S = 0;
        }
        NetInflow[static_cast<size_t>(row) * static_cast<size_t>(NCols + 2) + static_cast<size_t>(col)] += in - out;
        for (int k = 1; k <= TracerCount; ++k) {
            double& c = TracerStorage[static_cast<size_t>(k)].StorageGrid[row][col];
            c = S > 0 ? c / S : 0.0;
        }
        if (IsRiverCell(row, col)) {
            DirectFlow[row][col] += S;
            for (int k = 1; k <= TracerCount; ++k) {
                double& c = TracerStorage[static_cast<size_t>(k)].StorageGrid[row][col];
                TracerQD[static_cast<size_t>(k)][row][col] += c * S;
                c = 0;
            }
            S = 0;
            Depth[row][col] = 0;
        } else {
            DirectFlow[row][col] = 0;
            for (int k = 1; k <= TracerCount; ++k) TracerQD[static_cast<size_t>(k)][row][col] = 0;
            Depth[row][col] = S / 1000;
        }
    }
}

double surfaceroutingclass::IceFreeShare(int32_t row, int32_t col) const {
    if (!IceShare) return 1.0;
    const double g = IceShare[row][col];
    return g == NoData || !std::isfinite(g) ? 1.0 : 1.0 - std::clamp(g, 0.0, 1.0);
}

void surfaceroutingclass::TakeOverRow(int32_t i) {
    const auto [first, last] = ColumnRange(RowExtents, i, NCols);
    for (int32_t j = first; j <= last; ++j) {
        if (!IsModelCell(i, j)) continue;
        // With the silting-up model the soil takes its direct runoff and
        // not the surface storage: what lies on the surface stays there,
        // with its tracers.
        // The soil model's direct runoff is in mm over the cell's ice-free
        // part, the surface water in mm over the whole cell. A cell all
        // glacier has no soil column to take the water that flowed onto
        // it: the water stays on the surface and flows on.
        double& S = Surface[i][j];
        const double iceFree = IceFreeShare(i, j);
        const double kept = SiltingUpRunoff || iceFree <= 0 ? S : 0.0;
        const double runoff = DirectFlow[i][j];
        const double direct = runoff * iceFree;
        S = kept + direct;
        Depth[i][j] = S / 1000;
        for (int k = 1; k <= TracerCount; ++k) {
            double& qd = TracerQD[static_cast<size_t>(k)][i][j];
            double& surface = TracerSurface[static_cast<size_t>(k)][i][j];
            const double factor = ConcentrationsFromSiltingUp ? 1.0 : TracerDecay[static_cast<size_t>(k)];
            // The soil model hands an evaporating tracer's direct runoff
            // as a concentration and any other tracer's as an amount
            // (concentration x mm); on the surface both are concentrations.
            const bool evaporating = Tracers && Tracers[k].evaporating;
            const double concentration = evaporating ? qd : (runoff > 0 ? qd / runoff : 0.0);
            // The water kept on the surface brings the concentration it
            // had at the end of the last sub-step.
            const double mixed = kept > 0 ? (kept * surface + direct * concentration) / S : concentration;
            TracerStorage[static_cast<size_t>(k)].StorageGrid[i][j] = mixed * factor;
            surface = 0;
            qd = 0;
        }
        DirectFlow[i][j] = 0;
    }
}

// The concentrations every cell starts an exchange with: a cell takes its
// neighbours' from here while they change their own.
void surfaceroutingclass::SnapshotRow(int32_t row) {
    for (int k = 1; k <= TracerCount; ++k) {
        const double* from = TracerStorage[static_cast<size_t>(k)].StorageGrid[row];
        std::copy(from + 1, from + NCols + 1, TracerSnapshot[static_cast<size_t>(k)][row] + 1);
    }
}

void surfaceroutingclass::RunTimeStep(int64_t, int64_t, int64_t, int64_t) {
    if (Method == 0) return;
    RowShortest.assign(static_cast<size_t>(std::max(NRows, 0)) + 1, NoFlow);
    const size_t gridSize = static_cast<size_t>(std::max(NRows, 0) + 2) * static_cast<size_t>(std::max(NCols, 0) + 2);
    if (NetInflow.size() != gridSize) NetInflow.assign(gridSize, 0.0);
    const size_t marks = static_cast<size_t>(std::max(NRows, 0)) + 2;
    if (RowMarksSize != marks) {
        FluxesDone = std::make_unique<std::atomic<int64_t>[]>(marks);
        ExchangeDone = std::make_unique<std::atomic<int64_t>[]>(marks);
        for (size_t r = 0; r < marks; ++r) {
            FluxesDone[r].store(IterationSerial, std::memory_order_relaxed);
            ExchangeDone[r].store(IterationSerial, std::memory_order_relaxed);
        }
        RowMarksSize = marks;
    }
    PrepareZoneCells();
    const bool threads = WorthThreads(static_cast<int64_t>(NRows) * NCols);
#pragma omp parallel if (threads)
    RouteInTeam();
    // A cell that changed its zone (or the first sub-step) sorts the cells
    // anew before the zone sums; else the team has added them already.
    if (!ZoneCellsCurrent()) {
        BuildZoneCells();
#pragma omp parallel if (threads)
        AddZoneSumsInTeam();
    }
    RethrowZoneSumFailure();
}

void surfaceroutingclass::SplitRowsIntoBlocks(int threads) {
    RowBlockStart = RowBlocksOfEqualCost(NRows, threads, [this](int32_t row) {
        const auto [first, last] = ColumnRange(RowExtents, row, NCols);
        // Every row copies its concentrations over all columns and looks at
        // its columns; on the 400 x 300 valley a row cost about as much as
        // 15 model cells more (sample counts per thread, 8 threads).
        int64_t cost = 1 + NCols / 25;
        for (int32_t col = first; col <= last; ++col) cost += IsModelCell(row, col) ? 1 : 0;
        return cost;
    });
}

std::pair<int32_t, int32_t> surfaceroutingclass::OwnRowBlock() const {
    const size_t t = static_cast<size_t>(omp_get_thread_num());
    return {RowBlockStart[t], RowBlockStart[t + 1]};
}

// Every thread keeps the iteration's bookkeeping itself and reaches the same
// values: the shortest travel time is a minimum, the same in any grouping.
// Within an iteration the fluxes of a cell's neighbours (and the
// concentrations they start with) are complete before the cell takes their
// water, and a cell computes its next fluxes only when its neighbours have
// taken their water (with the fluxes and concentrations it is about to
// replace) and have their new depths.
//
// A thread works on one block of neighbouring rows in every pass: a cell's
// neighbours then mostly lie in rows the same thread wrote in the pass before,
// in its own cache. Only the rows at the ends of a block wait, for the rows
// next to them in the blocks of other threads (each row notes the iteration
// it has finished); the first iteration, whose shortest travel time comes
// from all rows, ends its passes at barriers. Each row writes only its own
// cells, so the results do not depend on the blocks.
void surfaceroutingclass::RouteInTeam() {
#pragma omp single
    if (RowBlockStart.size() != static_cast<size_t>(omp_get_num_threads()) + 1)
        SplitRowsIntoBlocks(omp_get_num_threads());
    const auto [begin, end] = OwnRowBlock();
    // Marks of the rows next to the block; rows 0 and NRows + 1 have none.
    const bool above = begin > 1 && begin < end, below = end <= NRows && begin < end;
    int64_t serial = IterationSerial;
    for (int32_t row = begin; row < end; ++row) TakeOverRow(row);
#pragma omp barrier
    const double T = TimeInterval / std::max(1, SubSteps) * 60;
    if (T - 0.5 * Controls.dtMin > 0) {
        int iteration = 0;
        double mark = 0, elapsed = 0, dt = 0, iterations = 1;
        do {
            const int markNow = static_cast<int>(mark);
            const double limit = iteration > 0 ? dt : 0.0;
            const bool first = iteration == 0;
            ++serial;
            if (!first) {
                if (above) WaitForRow(ExchangeDone[static_cast<size_t>(begin - 1)], serial - 1);
                if (below) WaitForRow(ExchangeDone[static_cast<size_t>(end)], serial - 1);
            }
            for (int32_t row = begin; row < end; ++row) {
                ComputeFluxesRow(row, iteration, markNow, limit);
                if (first) RowShortest[static_cast<size_t>(row)] = ShortestTravelTimeRow(row);
                SnapshotRow(row);
            }
            if (first) {
#pragma omp barrier
                double tmin = NoFlow;
                for (int32_t row = 1; row <= NRows; ++row) tmin = std::min(tmin, RowShortest[static_cast<size_t>(row)]);
                dt = SubTimeStep(T, tmin, Controls.dtMin, Controls.dtMax, &iterations);
                for (int32_t row = begin; row < end; ++row) LimitOutflowRow(row, dt);
            }
            if (begin < end) {
                FluxesDone[static_cast<size_t>(begin)].store(serial, std::memory_order_release);
                FluxesDone[static_cast<size_t>(end - 1)].store(serial, std::memory_order_release);
            }
            if (iteration == markNow) mark = std::floor(mark + iterations / (T / Controls.dtMax));
            ++iteration;
            if (above) WaitForRow(FluxesDone[static_cast<size_t>(begin - 1)], serial);
            if (below) WaitForRow(FluxesDone[static_cast<size_t>(end)], serial);
            for (int32_t row = begin; row < end; ++row) ApplyFluxesRow(row, dt);
            if (begin < end) {
                ExchangeDone[static_cast<size_t>(begin)].store(serial, std::memory_order_release);
                ExchangeDone[static_cast<size_t>(end - 1)].store(serial, std::memory_order_release);
            }
            elapsed += dt;
        } while (elapsed < T - 0.5 * Controls.dtMin);
    }
#pragma omp barrier
#pragma omp master
    IterationSerial = serial;
    for (int32_t row = begin; row < end; ++row) CloseCellsRow(row);
#pragma omp barrier
    // Every thread sees the same notes after the barrier.
    if (ZoneCellsCurrent()) AddZoneSumsInTeam();
}

void surfaceroutingclass::FillFromNeighbours(int32_t row, int32_t col, double** grid) {
    double sum = 0;
    int count = 0;
    for (int d = 1; d <= 8; ++d) {
        const int32_t r = row + RowOffset[d], c = col + ColOffset[d];
        if (r < 1 || r > NRows || c < 1 || c > NCols || grid[r][c] == NoData) continue;
        sum += grid[r][c];
        ++count;
    }
    if (count > 0) grid[row][col] = sum / count;
}

void surfaceroutingclass::ComputePlanCurvature() {
    for (int32_t i = 1; i <= NRows; ++i) {
        for (int32_t j = 1; j <= NCols; ++j) {
            Curvature[i][j] = NoData;
            if (i == 1 || i == NRows || j == 1 || j == NCols) continue;
            double z[3][3];
            bool complete = true;
            for (int a = 0; a < 3 && complete; ++a)
                for (int b = 0; b < 3 && complete; ++b) {
                    z[a][b] = Elevation[i - 1 + a][j - 1 + b];
                    complete = z[a][b] != NoData;
                }
            if (complete) Curvature[i][j] = PlanCurvature(z, CellSize);
        }
    }
    for (int32_t i = 1; i <= NRows; ++i)
        for (int32_t j = 1; j <= NCols; ++j)
            if (IsModelCell(i, j) && Curvature[i][j] == NoData) FillFromNeighbours(i, j, Curvature);
}
