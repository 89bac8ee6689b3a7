// One sub-step of the groundwater model: leakage, start values,
// transmissivities, the sweeps of every layer, flows, the hand-over of
// "baseflow", balances with the tracer mixing, and the control point.

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
#include <utility>
#include <vector>

#include <omp.h>

#include "framework/diagnostics_writer.h"
#include "framework/parallel_rows.h"
#include "framework/tracer_info.h"
#include "framework/zonalstatistic.h"
#include "lateral/gwflow.h"
#include "lateral/gwflow_physics.h"

namespace {
constexpr double MissingNeighbour = -8888;
}  // namespace

void gwflowclass::RunTimeStep(int64_t, int64_t, int64_t, int64_t) {
    if (Method == 0) return;
    const double dt = SubStepSeconds();
    SizeRowPartials();
#pragma omp parallel if (Parallel())
    SubStepInTeam(dt);
    for (int k = 1; k <= Layers; ++k) {
        SweepSerial += Solutions[static_cast<size_t>(k)].Sweeps;
        FinishLayer(k, Solutions[static_cast<size_t>(k)]);
    }
    FoldStepBalances();
    RecordControlPoint();
}

void gwflowclass::SizeRowPartials() {
    const size_t rows = static_cast<size_t>(std::max(NRows, 0)) + 1;
    const size_t layers = static_cast<size_t>(std::max(Layers, 0)) + 1;
    SweepPartials.assign(2 * rows, SweepPartial{});
    OscillationPartials.assign(layers * rows, OscillationPartial{});
    Solutions.assign(layers, LayerSolution{});
    RowFixedVolume.assign(layers * rows, 0.0);
    RowResidualVolume.assign(layers * rows, 0.0);
    // One beyond the last row: an even last row has no odd row below it.
    if (OddRowDoneSize != rows + 1) {
        OddRowDone = std::make_unique<std::atomic<int64_t>[]>(rows + 1);
        for (size_t r = 0; r <= rows; ++r) OddRowDone[r].store(0, std::memory_order_relaxed);
        OddRowDoneSize = rows + 1;
    }
}

void gwflowclass::SplitRowsIntoBlocks(int threads) {
    RowBlockStart = RowBlocksOfEqualCost(NRows, threads, [this](int32_t r) {
        // The passes look at every column of a row; a look costs about a
        // ninth of a model cell (sample counts per thread, 8 threads, the
        // 400 x 300 valley).
        int64_t cost = 1 + NCols / 9;
        for (int32_t c = 1; c <= NCols; ++c) cost += ModelCell(r, c) ? 1 : 0;
        return cost;
    });
}

std::pair<int32_t, int32_t> gwflowclass::OwnRowBlock() {
#pragma omp single
    if (RowBlockStart.size() != static_cast<size_t>(omp_get_num_threads()) + 1)
        SplitRowsIntoBlocks(omp_get_num_threads());
    const size_t t = static_cast<size_t>(omp_get_thread_num());
    return {RowBlockStart[t], RowBlockStart[t + 1]};
}

// The passes of a sub-step. A pass that reads the rows of its neighbours
// waits for the pass before it (a barrier); passes that touch only a row's
// own cells share one loop over the rows. A thread works on one block of
// neighbouring rows in every pass, so that what a row reads of its
// neighbours mostly lies in the thread's own cache; each row writes only its
// own cells and partials, and the results do not depend on the blocks.
void gwflowclass::SubStepInTeam(double dt) {
    const size_t rows = static_cast<size_t>(NRows) + 1;
    const auto [begin, end] = OwnRowBlock();
    for (int32_t r = begin; r < end; ++r) {
        // The leakage takes the heads the sub-step starts from.
        for (int k = 1; k < Layers; ++k) ComputeLeakageRows(k, r);
        for (int k = 1; k <= Layers; ++k) StartIterationRows(k, r);
    }
#pragma omp barrier
    for (int32_t r = begin; r < end; ++r)
        for (int k = 1; k <= Layers; ++k) ComputeTransmissivitiesRows(k, r);
#pragma omp barrier
    int64_t serial = SweepSerial;
    for (int k = 1; k <= Layers; ++k) {
        const LayerSolution solution = SolveLayerInTeam(k, dt, &serial, begin, end);
#pragma omp master
        Solutions[static_cast<size_t>(k)] = solution;
        // Reads only what the sweeps of this layer left; the barrier keeps
        // the next layer's sweeps from filling partials still being folded.
        OscillationPartial* oscillations = OscillationPartials.data() + static_cast<size_t>(k) * rows;
        for (int32_t r = begin; r < end; ++r) OscillationRow(k, r, oscillations);
#pragma omp barrier
    }
    for (int32_t r = begin; r < end; ++r) {
        for (int k = 1; k <= Layers; ++k) ComputeFlowsRows(k, r);
        BaseflowRow(dt, r);
    }
#pragma omp barrier
    for (int k = 1; k <= Layers; ++k) {
        for (int32_t r = begin; r < end; ++r) ComputeBalancesRows(k, dt, r);
#pragma omp barrier
        // Finishing a layer writes only its own rows of that layer, and the
        // next layer's balances read this layer at their own cells alone,
        // which this thread finished just now: no barrier before them (the
        // end of the region waits for the last layer).
        for (int32_t r = begin; r < end; ++r) FinishBalancesRow(k, r);
    }
}

void gwflowclass::BaseflowRow(double dt, int32_t r) {
    for (int32_t c = 1; c <= NCols; ++c) {
        if (!ModelCell(r, c)) continue;
        BaseflowGrid[r][c] =
            GlacierOf(r, c) < 1 ? (HeadStart[1][r][c] - Head[1][r][c]) * StorageCoeff[1][r][c] / dt : 0.0;
    }
}

void gwflowclass::FinishBalancesRow(int k, int32_t r) {
    for (int32_t c = 1; c <= NCols; ++c) {
        if (Regions && Regions[r][c] != ProcessNumber) continue;
        const bool inside = ZoneGrid[r][c] > NoData;
        if (!inside) Head[k][r][c] = NoData;
        for (int t = 1; t <= TracerCount && static_cast<size_t>(t) < Concentration.size(); ++t) {
            double** conc = Concentration[static_cast<size_t>(t)][static_cast<size_t>(k)];
            conc[r][c] = inside ? TracerTemporary[static_cast<size_t>(t)][r][c] : NoData;
        }
    }
    StepBalanceRow(k, r);
}

void gwflowclass::StepBalanceRow(int k, int32_t r) {
    double fixedVolume = 0, residualVolume = 0;
    for (int32_t c = 1; c <= NCols; ++c) {
        if (!ModelCell(r, c) || GlacierOf(r, c) >= 1) continue;
        const double balance = Balance[k][r][c];
        if (!std::isfinite(balance) || balance == NoData) continue;
        const double volume = balance * WidthX(r, c) * WidthY(r, c) / 1000;
        const bool fixed = FixedHead[k] && FixedHead[k][r][c] != NoData;
        (fixed ? fixedVolume : residualVolume) += volume;
    }
    const size_t at = static_cast<size_t>(k) * (static_cast<size_t>(NRows) + 1) + static_cast<size_t>(r);
    RowFixedVolume[at] = fixedVolume;
    RowResidualVolume[at] = residualVolume;
}

void gwflowclass::FoldStepBalances() {
    const size_t rows = static_cast<size_t>(NRows) + 1;
    for (int k = 1; k <= Layers; ++k) {
        for (size_t r = 1; r < rows; ++r) {
            StepFixedHeadVolume += RowFixedVolume[static_cast<size_t>(k) * rows + r];
            StepResidualVolume += RowResidualVolume[static_cast<size_t>(k) * rows + r];
        }
    }
}

void gwflowclass::ComputeLeakageRows(int k, int32_t r) {
    for (int32_t c = 1; c <= NCols; ++c) {
        if (Regions && Regions[r][c] != ProcessNumber) continue;
        if (ZoneGrid[r][c] == NoData || GlacierOf(r, c) >= 1) {
            Leak[k][r][c] = 0;
            continue;
        }
        // A cell without a leakage coefficient exchanges nothing.
        const double kolmation = Kolmation[k][r][c] > NoData ? Kolmation[k][r][c] : 0.0;
        Leak[k][r][c] = gwflow::Leakage(Head[k][r][c], Head[k + 1][r][c], Top[k + 1][r][c], kolmation);
    }
}

void gwflowclass::StartIterationRows(int k, int32_t r) {
    double** h = Head[k];
    double** hs = HeadStart[k];
    double** hp = HeadPrevious[k];
    double** hi = HeadIterate[k];
    for (int32_t c = 1; c <= NCols; ++c) {
        if (!ModelCell(r, c) || GlacierOf(r, c) >= 1) continue;
        hp[r][c] = hs[r][c];
        if (k == 1) h[r][c] = StartHeadOf(r, c);
        hi[r][c] = h[r][c];
        hs[r][c] = h[r][c];
        for (int t = 1; t <= TracerCount && static_cast<size_t>(t) < DecayPerSubStep.size(); ++t) {
            if (Tracers[t].radioactive) Concentration[static_cast<size_t>(t)][static_cast<size_t>(k)][r][c] *=
                DecayPerSubStep[static_cast<size_t>(t)];
        }
    }
}

// --- Transmissivities ----------------------------------------------------------

double gwflowclass::EffectiveThickness(int k, int32_t r, int32_t c) const {
    if (GlacierOf(r, c) >= 1) return 0;
    const double m = Thickness[k][r][c];
    if (k != 1) return m;
    if (FrozenSoil) {
        const double f = FrozenSoil[r][c];
        if (f > NoData) return std::max(m - f, 0.0);
    } else if (Permafrost) {
        // The thaw depth is positive: frozen ground below it carries no water.
        const double d = Permafrost[r][c];
        if (d > NoData) return std::min(m, d);
    }
    return m;
}

void gwflowclass::ComputeTransmissivitiesRows(int k, int32_t r) {
    double** h = Head[k];
    double** top = Top[k];
    double** m = Thickness[k];
    for (int32_t c = 1; c <= NCols; ++c) {
        const double g = GlacierOf(r, c);
        if (!ModelCell(r, c) || g >= 1) {
            TransX[k][r][c] = TransY[k][r][c] = 0;
            continue;
        }
        const double mc = EffectiveThickness(k, r, c);
        const double zone = ZoneGrid[r][c];
        auto usable = [&](int32_t nr, int32_t nc) {
            if (nr > NRows || nc > NCols || !ModelCell(nr, nc)) return false;
            if (Method == 3 && ZoneGrid[nr][nc] != zone) return false;
            return GlacierOf(nr, nc) < 1;
        };
        // x towards the next column: the cell's own value with "<=".
        {
            gwflow::FaceSide cell{gwflow::CellTransmissivity(h[r][c], top[r][c], mc, m[r][c], Kx[k][r][c], g, true),
                                  h[r][c], Kx[k][r][c], g};
            gwflow::FaceSide next;
            const bool ok = usable(r, c + 1);
            if (ok) {
                const double gn = GlacierOf(r, c + 1);
                next = {gwflow::CellTransmissivity(h[r][c + 1], top[r][c + 1], EffectiveThickness(k, r, c + 1),
                                                   m[r][c + 1], Kx[k][r][c + 1], gn, false),
                        h[r][c + 1], Kx[k][r][c + 1], gn};
            }
            TransX[k][r][c] = gwflow::FaceTransmissivity(cell, next, ok);
        }
        {
            gwflow::FaceSide cell{gwflow::CellTransmissivity(h[r][c], top[r][c], mc, m[r][c], Ky[k][r][c], g, false),
                                  h[r][c], Ky[k][r][c], g};
            gwflow::FaceSide next;
            const bool ok = usable(r + 1, c);
            if (ok) {
                const double gn = GlacierOf(r + 1, c);
                next = {gwflow::CellTransmissivity(h[r + 1][c], top[r + 1][c], EffectiveThickness(k, r + 1, c),
                                                   m[r + 1][c], Ky[k][r + 1][c], gn, false),
                        h[r + 1][c], Ky[k][r + 1][c], gn};
            }
            TransY[k][r][c] = gwflow::FaceTransmissivity(cell, next, ok);
        }
    }
    ConductancesRow(k, r);
}

// The conductances of the faces towards the next column and row, from the
// transmissivities of this row: both cells of a face use its one
// conductance, whatever their sizes (the mean width and distance of a face
// are the same from either side).
void gwflowclass::ConductancesRow(int k, int32_t r) {
    double* cx = ConductX[k][r];
    double* cy = ConductY[k][r];
    for (int32_t c = 1; c <= NCols; ++c) {
        const double dx = WidthX(r, c), dy = WidthY(r, c);
        cx[c] = c < NCols ? gwflow::FaceConductance(TransX[k][r][c], dy, WidthY(r, c + 1), dx, WidthX(r, c + 1)) : 0.0;
        cy[c] = r < NRows ? gwflow::FaceConductance(TransY[k][r][c], dx, WidthX(r + 1, c), dy, WidthY(r + 1, c)) : 0.0;
    }
}

// --- Solver --------------------------------------------------------------------

void gwflowclass::SorSweepRows(int k, double dt, int32_t r, SweepPartial* partials) {
    double** h = Head[k];
    double** hs = HeadStart[k];
    double** hp = HeadPrevious[k];
    double** hi = HeadIterate[k];
    double** top = Top[k];
    double** conductX = ConductX[k];
    double** conductY = ConductY[k];
    double largest = 0, relaxSum = 0, relaxCount = 0;
    int64_t unsolvable = 0;
    for (int32_t c = 1; c <= NCols; ++c) {
        if (!ModelCell(r, c) || !(ZoneGrid[r][c] > NoData) || GlacierOf(r, c) >= 1) continue;
        const double fixed = FixedHead[k][r][c];
        if (fixed != NoData) {
            h[r][c] = hs[r][c] = hp[r][c] = fixed;
            continue;
        }
        const double h0 = h[r][c];
        const double ho = hs[r][c];
        const double dx = WidthX(r, c), dy = WidthY(r, c);
        gwflow::CellEquation e;
        const int32_t nr[4] = {r - 1, r, r + 1, r};
        const int32_t nc[4] = {c, c + 1, c, c - 1};
        // The faces' conductances of this sub-step (ConductancesRow).
        e.conductance[0] = r > 1 ? conductY[r - 1][c] : 0.0;
        e.conductance[1] = c < NCols ? conductX[r][c] : 0.0;
        e.conductance[2] = r < NRows ? conductY[r][c] : 0.0;
        e.conductance[3] = c > 1 ? conductX[r][c - 1] : 0.0;
        for (int x = 0; x < 4; ++x) {
            const bool inside = nr[x] >= 1 && nr[x] <= NRows && nc[x] >= 1 && nc[x] <= NCols;
            e.startHead[x] = inside ? hs[nr[x]][nc[x]] : h0;
            e.currentHead[x] = inside ? h[nr[x]][nc[x]] : h0;
            if (e.conductance[x] == 0) e.startHead[x] = e.currentHead[x] = h0;
        }
        e.ownStart = ho;
        e.storage = SolverStorage(k, r, c);
        e.leakage = Leak[k][r][c] - (k > 1 ? Leak[k - 1][r][c] : 0.0);
        const double q = FixedInflow[k][r][c];
        e.inflow = q > NoData ? q : 0.0;
        e.area = dx * dy;
        e.dt = dt;
        e.alpha = Alpha;
        bool solvable = true;
        const double hGS = gwflow::GaussSeidelValue(e, h0, &solvable);
        if (!solvable) {
            // Nothing acts on the cell: its head stays.
            ++unsolvable;
            continue;
        }
        double change = std::fabs(hGS - h0);
        if (ho >= top[r][c]) change /= 5;
        if (change > largest) largest = change;
        h[r][c] = hGS;
        if (AdaptiveRelaxation) {
            const double w = gwflow::AdaptiveFactor(hGS, h0, hi[r][c]);
            h[r][c] = h0 + w * (hGS - h0);
            hi[r][c] = h0;
            relaxSum += w;
            relaxCount += 1;
        } else if (SorParameter != 1) {
            h[r][c] = h0 + SorParameter * (hGS - h0);
        }
    }
    partials[r] = SweepPartial{largest, relaxSum, relaxCount, unsolvable};
}

// Odd rows, then even rows: a row reads only rows of the other colour, which
// no thread writes meanwhile. An even row waits only for its two odd
// neighbours, not for every odd row: each odd row notes the sweep it has
// finished (`serial` grows with every sweep of the run); within a thread's
// block of rows only the rows at its ends wait for another thread.
void gwflowclass::SweepInTeam(int k, double dt, SweepPartial* partials, int64_t serial, int32_t begin,
                              int32_t end) {
    std::atomic<int64_t>* done = OddRowDone.get();
    for (int32_t r = begin + (begin % 2 == 0 ? 1 : 0); r < end; r += 2) {
        SorSweepRows(k, dt, r, partials);
        done[r].store(serial, std::memory_order_release);
    }
    for (int32_t r = begin + (begin % 2 == 0 ? 0 : 1); r < end; r += 2) {
        WaitForRow(done[r - 1], serial);
        if (r < NRows) WaitForRow(done[r + 1], serial);
        SorSweepRows(k, dt, r, partials);
    }
#pragma omp barrier
}

gwflowclass::SweepPartial gwflowclass::FoldSweep(const SweepPartial* partials) const {
    SweepPartial total;
    for (int32_t r = 1; r <= NRows; ++r) {
        const SweepPartial& row = partials[r];
        if (row.Largest > total.Largest) total.Largest = row.Largest;
        total.RelaxSum += row.RelaxSum;
        total.RelaxCount += row.RelaxCount;
        total.Unsolvable += row.Unsolvable;
    }
    return total;
}

// Every thread folds the rows itself and so takes the same decision to sweep
// again. Consecutive sweeps fill alternate sets of partials: a thread may start
// the next sweep while another still folds the last one.
gwflowclass::LayerSolution gwflowclass::SolveLayerInTeam(int k, double dt, int64_t* serial, int32_t begin,
                                                         int32_t end) {
    const size_t rows = static_cast<size_t>(NRows) + 1;
    LayerSolution solution;
    do {
        ++solution.Sweeps;
        SweepPartial* partials = SweepPartials.data() + static_cast<size_t>(solution.Sweeps % 2) * rows;
        SweepInTeam(k, dt, partials, ++*serial, begin, end);
        solution.Last = FoldSweep(partials);
    } while (!(solution.Sweeps >= MaxSweeps || solution.Last.Largest <= Tolerance));
    return solution;
}

void gwflowclass::OscillationRow(int k, int32_t r, OscillationPartial* partials) const {
    double** h = Head[k];
    double** hs = HeadStart[k];
    double** hp = HeadPrevious[k];
    const double t = Tolerance;
    OscillationPartial row;
    for (int32_t c = 1; c <= NCols; ++c) {
        if (!ModelCell(r, c)) continue;
        const double a = hs[r][c] - hp[r][c];
        const double b = h[r][c] - hs[r][c];
        if ((a > t && b < -t) || (a < -t && b > t)) {
            ++row.Count;
            row.Sum += std::fabs(b);
            if (std::fabs(b) > row.Largest) row.Largest = std::fabs(b);
        }
    }
    partials[r] = row;
}

void gwflowclass::FinishLayer(int k, const LayerSolution& solution) {
    SweepCount = solution.Sweeps;
    LargestChange = solution.Last.Largest;
    RelaxationSum = solution.Last.RelaxSum;
    RelaxedCells = solution.Last.RelaxCount;
    UnsolvableCells = solution.Last.Unsolvable;
    const size_t rows = static_cast<size_t>(NRows) + 1;
    const OscillationPartial* oscillations = OscillationPartials.data() + static_cast<size_t>(k) * rows;
    OscillatingCells = 0;
    OscillationSum = 0;
    OscillationMax = 0;
    for (size_t r = 1; r < rows; ++r) {
        OscillatingCells += oscillations[r].Count;
        OscillationSum += oscillations[r].Sum;
        if (oscillations[r].Largest > OscillationMax) OscillationMax = oscillations[r].Largest;
    }
    const bool logged = LogInterval > 0 &&
                        (static_cast<int64_t>(TimeShiftHours) + StepHour) % static_cast<int64_t>(LogInterval) == 0;
    if (logged && Writer) {
        const double relaxation =
            AdaptiveRelaxation ? (RelaxedCells > 0 ? RelaxationSum / RelaxedCells : 0.0) : SorParameter;
        const double mean = OscillatingCells > 0 ? OscillationSum / static_cast<double>(OscillatingCells) : 0.0;
        *Writer << "GWlevel " << k << ", MPI-rank " << ProcessNumber << ", Steps " << SweepCount << " err "
                << LargestChange << ", SOR " << relaxation << ", osc. at " << static_cast<long long>(OscillatingCells)
                << " points (av: " << mean << ", max " << OscillationMax << ")" << "[end-entry]";
    }
}

// --- Flows and balances ------------------------------------------------------------

void gwflowclass::ComputeFlowsRows(int k, int32_t r) {
    double** h = Head[k];
    for (int32_t c = 1; c <= NCols; ++c) {
        if (Regions && Regions[r][c] != ProcessNumber) continue;
        const double zone = ZoneGrid[r][c];
        if (zone == NoData || GlacierOf(r, c) >= 1) {
            FlowX[k][r][c] = FlowY[k][r][c] = 0;
            continue;
        }
        if (c == NCols) {
            FlowX[k][r][c] = 0;
        } else if (zone <= NoData || ZoneGrid[r][c + 1] <= NoData) {
            FlowX[k][r][c] = NoData;
        } else if (GlacierOf(r, c + 1) >= 1) {
            FlowX[k][r][c] = 0;
        } else {
            FlowX[k][r][c] = (h[r][c] - h[r][c + 1]) * Kx[k][r][c] / WidthX(r, c);
        }
        if (r == NRows) {
            FlowY[k][r][c] = 0;
        } else if (zone <= NoData || ZoneGrid[r + 1][c] <= NoData) {
            FlowY[k][r][c] = NoData;
        } else if (GlacierOf(r + 1, c) >= 1) {
            FlowY[k][r][c] = 0;
        } else {
            FlowY[k][r][c] = (h[r][c] - h[r + 1][c]) * Ky[k][r][c] / WidthY(r, c);
        }
    }
}

void gwflowclass::ComputeBalancesRows(int k, double dt, int32_t r) {
    double** h = Head[k];
    double** hs = HeadStart[k];
    const size_t tracers = std::min(static_cast<size_t>(std::max(TracerCount, 0)) + 1, Concentration.size());
    for (int32_t c = 1; c <= NCols; ++c) {
        if (Regions && Regions[r][c] != ProcessNumber) continue;
        const double zone = ZoneGrid[r][c];
        if (zone == NoData) continue;
        if (zone < NoData || GlacierOf(r, c) >= 1) {
            Balance[k][r][c] = 0;
            // Nothing mixes: the concentration stays.
            for (size_t t = 1; t < tracers; ++t) TracerTemporary[t][r][c] = Concentration[t][static_cast<size_t>(k)][r][c];
            continue;
        }
        const double dx = WidthX(r, c), dy = WidthY(r, c), area = dx * dy;
        const double ho = hs[r][c], head = h[r][c];
        const double top = Top[k][r][c], m = Thickness[k][r][c];
        const double mo = ho < top ? ho - top + m : m;
        const double volume = StorageCoeff[1][r][c] * area * std::max(mo, 0.0);

        // Lateral volumes N, E, S, W [m3, positive into the cell].
        double q[4] = {0, 0, 0, 0};
        double marker[4] = {0, 0, 0, 0};
        const int32_t nr[4] = {r - 1, r, r + 1, r};
        const int32_t nc[4] = {c, c + 1, c, c - 1};
        const bool inside[4] = {r > 1, c < NCols, r < NRows, c > 1};
        for (int x = 0; x < 4; ++x) {
            if (!inside[x] || ZoneGrid[nr[x]][nc[x]] == NoData) continue;
            double face = 0, width = 0, distance = 0;
            switch (x) {
                case 0: marker[x] = FlowY[k][r - 1][c]; face = TransY[k][r - 1][c]; break;
                case 1: marker[x] = FlowX[k][r][c]; face = TransX[k][r][c]; break;
                case 2: marker[x] = FlowY[k][r][c]; face = TransY[k][r][c]; break;
                default: marker[x] = FlowX[k][r][c - 1]; face = TransX[k][r][c - 1]; break;
            }
            if (marker[x] == NoData) continue;
            // The face's width and centre distance, as the solver took them.
            const bool northSouth = x % 2 == 0;
            width = ((northSouth ? dx : dy) + (northSouth ? WidthX(nr[x], nc[x]) : WidthY(nr[x], nc[x]))) / 2;
            distance = ((northSouth ? dy : dx) + (northSouth ? WidthY(nr[x], nc[x]) : WidthX(nr[x], nc[x]))) / 2;
            q[x] = (h[nr[x]][nc[x]] - head) / distance * face * width * dt;
        }
        const double up = k > 1 ? -Leak[k - 1][r][c] * area * dt : 0.0;
        const double down = k < Layers ? Leak[k][r][c] * area * dt : 0.0;
        const double net = q[0] + q[1] + q[2] + q[3] + up + down;
        const double total = volume + net;
        // The storage change as the solver computed it, with its coefficient.
        const double storage = SolverStorage(k, r, c);
        Balance[k][r][c] = gwflow::BalanceResidual(head, ho, storage, net, area);
        StoredWater[k][r][c] += (head - ho) * storage;

        for (size_t t = 1; t < tracers; ++t) {
            double** conc = Concentration[t][static_cast<size_t>(k)];
            const double c0 = conc[r][c];
            double loads = 0;
            // Upwind: water entering brings the neighbour's concentration.
            // North and west faces belong to the neighbour: positive flow enters.
            if (q[0] != 0) loads += (marker[0] > 0 ? conc[r - 1][c] : c0) * q[0];
            if (q[1] != 0) loads += (marker[1] > 0 ? c0 : conc[r][c + 1]) * q[1];
            if (q[2] != 0) loads += (marker[2] > 0 ? c0 : conc[r + 1][c]) * q[2];
            if (q[3] != 0) loads += (marker[3] > 0 ? conc[r][c - 1] : c0) * q[3];
            if (k > 1 && up != 0) {
                loads += (Leak[k - 1][r][c] < 0 ? Concentration[t][static_cast<size_t>(k - 1)][r][c] : c0) * up;
            }
            if (k < Layers && down != 0) {
                loads += (Leak[k][r][c] < 0 ? c0 : Concentration[t][static_cast<size_t>(k + 1)][r][c]) * down;
            }
            TracerTemporary[t][r][c] = gwflow::MixedConcentration(c0, volume, loads, total);
        }
    }
}

// --- Control point -------------------------------------------------------------------

void gwflowclass::RecordControlPoint() {
    if (ControlRow < 1 || ControlRecords.empty()) return;
    ++ControlCount;
    ControlPointRecord& record = ControlRecords[static_cast<size_t>(ControlCount)];
    record.Year = StepYear;
    record.Month = StepMonth;
    record.Day = StepDay;
    record.Hour = StepHour;
    const int32_t r = ControlRow, j = ControlColumn;
    for (int k = 1; k <= Layers; ++k) {
        double** h = Head[k];
        double* v = record.Values + 6 * (k - 1);
        v[1] = h[r][j];
        v[2] = r > 1 ? h[r - 1][j] : MissingNeighbour;
        v[3] = j < NCols ? h[r][j + 1] : MissingNeighbour;
        v[4] = r < NRows ? h[r + 1][j] : MissingNeighbour;
        v[5] = j > 1 ? h[r][j - 1] : MissingNeighbour;
        v[6] = j > 1 ? BaseflowGrid[r][j - 1] : MissingNeighbour;
    }
    if (ControlCount >= ControlCapacity) WriteControlPointFluxes();
}
