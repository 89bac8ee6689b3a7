// Snow slides of one step. A steep cell releases a share of its pack; the
// released snow, with what came down to the cell before, passes to the
// cell's neighbours of the same zone by the slide fractions, lowest cell
// first. A neighbour keeps what fits under its deposition capacity and lets
// the rest move on when its own turn comes. At the end every cell's deposit
// and still mobile snow join its pack.
//
// The zones and the slide fractions are set-up grids: the walk with every
// cell's neighbours and their shares is built once. The
// release of a cell and the receiving depend on the cell alone and run over
// the rows on the threads. The walk in elevation order is sequential,
// but a cell passes snow and reads the state only of neighbours of its own
// zone: the zones' walks touch disjoint cells and run side by side, each in
// the global elevation order of its cells, so every cell sees exactly the
// sequence of deposits of the one walk over all cells.

#include <algorithm>
#include <map>
#include <numeric>

#include "framework/invariant.h"
#include "framework/parallel_rows.h"
#include "surface/snowmod.h"

namespace {

// Neighbours in the order of the slide fraction grids: upper, left, right, lower.
constexpr int RowStep[4] = {-1, 0, 0, 1};
constexpr int ColStep[4] = {0, -1, 1, 0};

// The row passes meet the numbered state in the walk's order, that is all
// over the place: its line is fetched this many cells ahead.
constexpr int PrefetchDistance = 8;

}  // namespace

void schneemodellklasse::BuildSlideWalk() {
    const int32_t cols = NCols;
    auto at = [cols](int row, int col) { return static_cast<size_t>(row - 1) * static_cast<size_t>(cols) + (col - 1); };
    Slides.Number.assign(static_cast<size_t>(NRows) * static_cast<size_t>(cols), -1);

    // The walk as the order grids give it, position by position, and the
    // zone of every cell: zones numbered by value; cells without a usable
    // value (not a number) share with nobody and form a zone of their own.
    struct Step {
        int Row, Col, Zone;
    };
    std::vector<Step> walk;
    std::map<double, int> zoneOf;
    int unusable = -1;
    int zoneCells = 0;
    double lastZone = 0;  // neighbours share their zone: the last one found
    int lastIndex = -1;
    for (int r = 1; r <= NRows; ++r)
        for (int c = 1; c <= NCols; ++c) {
            if (ZoneCell(r, c)) ++zoneCells;
            if (elevOrderRowGrid[r][c] == NoData || elevOrderColGrid[r][c] == NoData) continue;
            const int i = static_cast<int>(elevOrderRowGrid[r][c]);
            const int j = static_cast<int>(elevOrderColGrid[r][c]);
            RUVEX_INVARIANT(i >= 1 && i <= NRows && j >= 1 && j <= NCols && ZoneCell(i, j),
                            "the elevation order names a cell outside the zones");
            const double zone = ZoneGrid[i][j];
            int z;
            if (zone == zone) {
                if (lastIndex < 0 || !(zone == lastZone)) {
                    lastIndex = zoneOf.emplace(zone, static_cast<int>(zoneOf.size()) + (unusable >= 0 ? 1 : 0))
                                    .first->second;
                    lastZone = zone;
                }
                z = lastIndex;
            } else {
                if (unusable < 0) unusable = static_cast<int>(zoneOf.size());
                z = unusable;
            }
            walk.push_back({i, j, z});
        }
    RUVEX_INVARIANT(static_cast<int>(walk.size()) == zoneCells, "the elevation order misses zone cells");

    const int zones = static_cast<int>(zoneOf.size()) + (unusable >= 0 ? 1 : 0);
    std::vector<int32_t> counts(static_cast<size_t>(zones), 0);
    for (const Step& s : walk) ++counts[static_cast<size_t>(s.Zone)];
    Slides.ZoneBegin.assign(static_cast<size_t>(zones) + 1, 0);
    for (int z = 0; z < zones; ++z)
        Slides.ZoneBegin[static_cast<size_t>(z) + 1] = Slides.ZoneBegin[static_cast<size_t>(z)] + counts[static_cast<size_t>(z)];
    std::vector<int32_t> next(Slides.ZoneBegin.begin(), Slides.ZoneBegin.end() - 1);
    for (const Step& s : walk) {
        int32_t& number = Slides.Number[at(s.Row, s.Col)];
        RUVEX_INVARIANT(number < 0, "the elevation order names a cell twice");
        number = next[static_cast<size_t>(s.Zone)]++;
    }

    // The shares of the neighbours of the cell's zone, from the slide
    // fractions; every cell writes only its own links.
    Slides.Links.assign(walk.size(), SlideLinks{});
    Slides.State.assign(walk.size(), SlideState{});
#pragma omp parallel for schedule(static, 1) if (WorthThreads(static_cast<int64_t>(NRows) * NCols))
    for (int r = 1; r <= NRows; ++r)
        for (int c = 1; c <= NCols; ++c) {
            if (!ZoneCell(r, c)) continue;
            SlideLinks& links = Slides.Links[static_cast<size_t>(Slides.Number[at(r, c)])];
            const double zone = ZoneGrid[r][c];
            double share[4] = {};
            double sum = 0;
            for (int k = 0; k < 4; ++k) {
                const int a = r + RowStep[k], b = c + ColStep[k];
                const bool inside = a >= 1 && a <= NRows && b >= 1 && b <= NCols;
                if (inside && ZoneGrid[a][b] != NoData && ZoneGrid[a][b] == zone) {
                    links.Target[k] = Slides.Number[at(a, b)];
                    share[k] = slideFractionGrids[k + 1][r][c];
                }
                sum += share[k];
            }
            if (sum > 0)
                for (double& x : share) x /= sum;
            for (int k = 0; k < 4; ++k) links.Share[k] = share[k];
            links.Spreads = sum > 0;
        }

    Slides.Schedule.resize(static_cast<size_t>(zones));
    std::iota(Slides.Schedule.begin(), Slides.Schedule.end(), 0);
    std::stable_sort(Slides.Schedule.begin(), Slides.Schedule.end(),
                     [&counts](int32_t a, int32_t b) { return counts[static_cast<size_t>(a)] > counts[static_cast<size_t>(b)]; });
}

void schneemodellklasse::ReleaseSlideRow(int r) {
    const bool glacierPack = glacierSolidStorageGrid != nullptr;
    const int32_t* numbers = Slides.Number.data() + static_cast<size_t>(r - 1) * static_cast<size_t>(NCols);
    for (int c = 1; c <= NCols; ++c) {
        if (c + PrefetchDistance <= NCols && numbers[c + PrefetchDistance - 1] >= 0)
            __builtin_prefetch(&Slides.State[static_cast<size_t>(numbers[c + PrefetchDistance - 1])], 1);
        if (!ZoneCell(r, c)) {
            depositionGrid[r][c] = inputMassGrid[r][c] = mobileMassGrid[r][c] = NoData;
            continue;
        }
        const size_t number = static_cast<size_t>(numbers[c - 1]);
        const double total = totalStorageGrid[r][c];
        const double g = glacierPack ? GlacierShare(r, c) : 0.0;
        const double glacierTotal = glacierPack ? glacierTotalStorageGrid[r][c] : 0.0;
        double input = 0;
        if ((total > 0 || glacierTotal > 0) && slopeAngleGrid[r][c] >= minSlideSlope) {
            auto release = [&](double** solid, double** liquid, double** pack, double part) {
                const double t = pack[r][c];
                input += t * slideMassFrac * part;
                const double kept = t - slideMassFrac * t;
                liquid[r][c] = liquid[r][c] / t * kept;
                solid[r][c] = kept - liquid[r][c];
                pack[r][c] = kept;
            };
            if (g < 1 && total > 0) release(solidStorageGrid, liquidStorageGrid, totalStorageGrid, 1 - g);
            if (glacierPack && glacierTotal > 0 && g > 0)
                release(glacierSolidStorageGrid, glacierLiquidStorageGrid, glacierTotalStorageGrid, g);
        }
        inputMassGrid[r][c] = input;
        Slides.State[number] = SlideState{0, 0, maxDepositionGrid[r][c], input};
    }
}

void schneemodellklasse::ReceiveSlideRow(int r) {
    const bool glacierPack = glacierSolidStorageGrid != nullptr;
    const int32_t* numbers = Slides.Number.data() + static_cast<size_t>(r - 1) * static_cast<size_t>(NCols);
    for (int c = 1; c <= NCols; ++c) {
        if (c + PrefetchDistance <= NCols && numbers[c + PrefetchDistance - 1] >= 0)
            __builtin_prefetch(&Slides.State[static_cast<size_t>(numbers[c + PrefetchDistance - 1])]);
        if (!ZoneCell(r, c)) continue;
        const SlideState& state = Slides.State[static_cast<size_t>(numbers[c - 1])];
        depositionGrid[r][c] = state.Deposition;
        mobileMassGrid[r][c] = state.Mobile;
        const double a = state.Deposition + state.Mobile;
        auto receive = [&](double** solid, double** liquid, double** pack) {
            const double total = pack[r][c];
            if (total <= 0) {
                liquid[r][c] = 0;
                solid[r][c] = pack[r][c] = a;
            } else {
                const double next = total + a;
                liquid[r][c] = liquid[r][c] / total * next;
                solid[r][c] = next - liquid[r][c];
                pack[r][c] = next;
            }
        };
        const double g = glacierPack ? GlacierShare(r, c) : 0.0;
        if (g < 1) receive(solidStorageGrid, liquidStorageGrid, totalStorageGrid);
        if (glacierPack && g > 0) receive(glacierSolidStorageGrid, glacierLiquidStorageGrid, glacierTotalStorageGrid);
    }
}

void schneemodellklasse::WalkSlideZone(int k) {
    const int32_t zone = Slides.Schedule[static_cast<size_t>(k)];
    const int32_t last = Slides.ZoneBegin[static_cast<size_t>(zone) + 1];
    SlideState* state = Slides.State.data();
    const SlideLinks* links = Slides.Links.data();
    for (int32_t p = Slides.ZoneBegin[static_cast<size_t>(zone)]; p < last; ++p) {
        SlideState& cell = state[p];
        const double m = cell.Input + cell.Mobile;
        // Without mass no share is positive: the neighbours stay as they are.
        if (!links[p].Spreads || !(m > 0)) {
            cell.Mobile = links[p].Spreads ? 0.0 : m;
            continue;
        }
        cell.Mobile = 0;
        for (int n = 0; n < 4; ++n) {
            const double amount = links[p].Share[n] * m;
            if (!(amount > 0)) continue;
            SlideState& target = state[links[p].Target[n]];
            target.Deposition += amount;
            if (target.Deposition > target.Capacity) {
                target.Mobile += target.Deposition - target.Capacity;
                target.Deposition = target.Capacity;
            }
        }
    }
}

void schneemodellklasse::SnowSlides() {
    if (Slides.Number.empty()) BuildSlideWalk();
    const bool parallel = WorthThreads(static_cast<int64_t>(NRows) * NCols);
#pragma omp parallel for schedule(static, 1) if (parallel)
    for (int r = 1; r <= NRows; ++r) ReleaseSlideRow(r);
    const int zones = static_cast<int>(Slides.Schedule.size());
#pragma omp parallel for schedule(dynamic, 1) if (parallel && zones > 1)
    for (int k = 0; k < zones; ++k) WalkSlideZone(k);
#pragma omp parallel for schedule(static, 1) if (parallel)
    for (int r = 1; r <= NRows; ++r) ReceiveSlideRow(r);
}
