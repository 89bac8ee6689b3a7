// Dynamic glaciers of the snow model: the area sums of the glacier records,
// the searches for cells that may shrink or grow, the yearly update of every
// glacier's volume, area and cells, the spreading of the mass balance of lost
// area, and the yearly step around them (firn shift, recount, renewal of the
// mass balance). All of it runs on the main thread between two steps.

#include <algorithm>
#include <climits>
#include <cmath>

#include "framework/diagnostics_writer.h"
#include "surface/glacier_geometry_physics.h"
#include "surface/snowmod.h"

namespace {

// A glacier code as an integer; -1 for nodata, negative and unusable values.
int CodeOf(double value) {
    if (!(value >= 0 && value <= static_cast<double>(INT_MAX))) return -1;
    return static_cast<int>(value);
}

// Neighbours in the order the growth search tries them: upper, right,
// lower, left.
constexpr int NeighbourRow[4] = {-1, 0, 1, 0};
constexpr int NeighbourCol[4] = {0, 1, 0, -1};

}  // namespace

// Cells with a subbasin value, all rows, the valid columns of each row.
template <class Visit>
static void ForEachSubbasinCell(const schneemodellklasse& model, Visit visit) {
    for (int r = 1; r <= model.NRows; ++r) {
        int first = 1, last = model.NCols;
        if (model.RowExtents) {
            first = std::max(1, model.RowExtents[r].first);
            last = std::min(static_cast<int>(model.NCols), model.RowExtents[r].last);
        }
        for (int c = first; c <= last; ++c)
            if (model.subbasinGrid && model.subbasinGrid[r][c] != model.NoData) visit(r, c);
    }
}

void schneemodellklasse::SumGlacierAreasChoice(int code, bool widen) {
    if (!glacierFractionGrid || !DynamicGlaciers()) return;
    ForEachSubbasinCell(*this, [&](int r, int c) {
        const int q = CodeOf(glacierCodeGrid[r][c]);
        if (q < 0 || (code >= 0 && q != code)) return;
        const auto found = glacierIndex.find(q);
        if (found == glacierIndex.end()) return;
        glaciers[found->second].AddCell(widen, elevationGrid[r][c], glacierFractionGrid[r][c]);
    });
}

void schneemodellklasse::FindShrinkCandidates(int code) {
    if (!glacierFractionGrid || !DynamicGlaciers()) return;
    for (glacierclass& glacier : glaciers)
        if (code < 0 || glacier.code == code) glacier.ClearBands();
    // A cell at the edge has a neighbour inside the grid with another code.
    auto atEdge = [&](int r, int c) {
        for (int k = 0; k < 4; ++k) {
            const int nr = r + NeighbourRow[k], nc = c + NeighbourCol[k];
            if (nr < 1 || nr > NRows || nc < 1 || nc > NCols) continue;
            if (glacierCodeGrid[nr][nc] != glacierCodeGrid[r][c]) return true;
        }
        return false;
    };
    std::vector<char> found(glaciers.size(), 0);
    ForEachSubbasinCell(*this, [&](int r, int c) {
        const double g = glacierFractionGrid[r][c];
        const int q = CodeOf(glacierCodeGrid[r][c]);
        if (!(g > 0) || q <= 0 || !(firnWEGrid[r][c] <= 0)) return;
        if (!(g < 1 || atEdge(r, c))) return;
        if (code >= 0 && q != code) return;
        const auto it = glacierIndex.find(q);
        if (it == glacierIndex.end()) return;
        glaciers[it->second].AssignCellToBand(&glacierFractionGrid[r][c], &glacierCodeGrid[r][c], elevationGrid[r][c]);
        found[it->second] = 1;
    });
    // A glacier without such a cell offers any of its cells that is partly
    // covered or at its edge, firn or not.
    bool second = false;
    for (size_t i = 0; i < glaciers.size(); ++i)
        if ((code < 0 || glaciers[i].code == code) && !found[i]) second = true;
    if (!second) return;
    ForEachSubbasinCell(*this, [&](int r, int c) {
        const int q = CodeOf(glacierCodeGrid[r][c]);
        if (q < 0 || (code >= 0 && q != code)) return;
        const auto it = glacierIndex.find(q);
        if (it == glacierIndex.end() || found[it->second]) return;
        const double g = glacierFractionGrid[r][c];
        if (!((g >= 0 && g < 1) || atEdge(r, c))) return;
        glaciers[it->second].AssignCellToBand(&glacierFractionGrid[r][c], &glacierCodeGrid[r][c], elevationGrid[r][c]);
    });
}

void schneemodellklasse::FindGrowthCandidates(int code) {
    if (!glacierFractionGrid || !DynamicGlaciers()) return;
    const auto it = glacierIndex.find(code);
    if (it == glacierIndex.end()) return;
    glacierclass& glacier = glaciers[it->second];
    glacier.ClearBands();
    for (int search = 1; search <= 4; ++search) {
        // Searches 1 and 3 take only cells of no glacier beside firn-free
        // ice; 2 and 4 any free cell, which takes the neighbour's firn.
        const bool freeOnly = search == 1 || search == 3;
        const bool exactlyZero = search <= 2;
        int attached = 0;
        ForEachSubbasinCell(*this, [&](int r, int c) {
            const double g = glacierFractionGrid[r][c];
            if (exactlyZero ? g != 0 : !(g <= 0)) return;
            if (freeOnly && !(glacierCodeGrid[r][c] < 0)) return;
            int nr = 0, nc = 0;
            bool beside = false;
            for (int k = 0; k < 4 && !beside; ++k) {
                nr = r + NeighbourRow[k];
                nc = c + NeighbourCol[k];
                if (nr < 1 || nr > NRows || nc < 1 || nc > NCols) continue;
                if (subbasinGrid[nr][nc] != subbasinGrid[r][c] || glacierFractionGrid[nr][nc] != 1 ||
                    CodeOf(glacierCodeGrid[nr][nc]) != glacier.code)
                    continue;
                if (freeOnly && !(firnWEGrid[nr][nc] < 1e-4)) continue;
                beside = true;
            }
            if (!beside) return;
            glacierFractionGrid[r][c] = 0;
            glacierCodeGrid[r][c] = glacier.code;
            double* firn = firnStack[r][c];
            if (freeOnly) {
                for (int k = 0; k <= firn_levels; ++k) firn[k] = 0;
            } else {
                const double total = firnWEGrid[nr][nc] == NoData ? 0.0 : firnWEGrid[nr][nc];
                glaciergeom::ShareFirnLevels(firn, firn_levels, total);
            }
            firnWEGrid[r][c] = firn[0];
            glacier.AssignCellToBand(&glacierFractionGrid[r][c], &glacierCodeGrid[r][c], elevationGrid[r][c]);
            ++attached;
        });
        if (attached > 0) return;
    }
}

void schneemodellklasse::UpdateGlacierGeometry() {
    if (!glacierFractionGrid || !DynamicGlaciers()) return;
    for (glacierclass& glacier : glaciers) {
        glacier.cells = 0;
        glacier.area = 0;
        glacier.UnsetRange();
        glacier.volume = glacier.oldVolume;
    }
    // The bands span the elevations of all the glacier's cells.
    SumGlacierAreasAndRange(-1);
    for (glacierclass& glacier : glaciers) glacier.CreateBands();
    FindShrinkCandidates(-1);

    ForEachSubbasinCell(*this, [&](int r, int c) {
        const double g = glacierFractionGrid[r][c];
        const int q = CodeOf(glacierCodeGrid[r][c]);
        if (!(g >= 0) || q < 0) return;
        const auto it = glacierIndex.find(q);
        if (it == glacierIndex.end()) return;
        glacierclass& glacier = glaciers[it->second];
        glacier.AddVolume(glaciergeom::VolumeChange(massBalanceGrid[r][c] - oldMassBalanceGrid[r][c], g,
                                                    glacier.cellSize, iceDensityRatio));
    });
    if (Writer) *Writer << "DEBUG: Glacierbalance\n[end-entry]";

    constexpr int MaximumIterations = 30;
    for (size_t l = 0; l < glaciers.size(); ++l) {
        glacierclass& glacier = glaciers[l];
        glacier.AreaFromVolume();
        const double area = glacier.area;
        glacier.ComputeCellsToChange();
        double w = glacier.cellsToChange;
        glacier.CellsPerIteration();
        if (Writer) {
            *Writer << "DEBUG: " << "Glacier:\t" << static_cast<int>(l) << "\n"
                    << "Old Volume:\t" << glacier.oldVolume << "\n"
                    << "New Volume:\t" << glacier.volume << "\n"
                    << "Old Area:\t" << glacier.oldArea << "\n"
                    << "New Area:\t" << glacier.area << "\n"
                    << "[end-entry]";
        }
        for (int iteration = 0; std::fabs(w) > glaciergeom::ChangeTolerance;) {
            const int changeable = glacier.CountChangeableCells(w);
            if (glacier.bands.empty()) {
                w = 0;
                break;
            }
            if (changeable > 0) {
                const double d = iteration == 0 ? glacier.CellsPerIteration() : glacier.CellsPerIterationFor(w);
                if (Writer) {
                    *Writer << "DEBUG: " << "number of cells to add: \t" << w << "\n"
                            << "number of changeable cells: \t" << changeable << "\n"
                            << "fraction of cells to add per iteration: \t" << d << "[end-entry]";
                }
                double left = 0;
                for (int band = 0; band < static_cast<int>(glacier.bands.size()); ++band)
                    left += glacier.ApplyCellChange(band, d);
                w = left;
                if (std::fabs(w) <= glaciergeom::ChangeTolerance) break;
            }
            // New candidates: free cells beside the glacier when it grows,
            // the cells of its new edge when it shrinks.
            glacier.cells = 0;
            glacier.area = 0;
            glacier.UnsetRange();
            if (w > 0) {
                if (Writer) *Writer << "DEBUG: " << "growing the glacier...[end-entry]";
                FindGrowthCandidates(glacier.code);
            } else {
                if (Writer) *Writer << "DEBUG: " << "shrinking the glacier...[end-entry]";
            }
            SumGlacierAreasAndRange(glacier.code);
            glacier.CreateBands();
            FindShrinkCandidates(glacier.code);
            if (++iteration > MaximumIterations) {
                if (Writer) {
                    *Writer << "WARNING: \n----------- WARNING: ----------\nThere were too many iterations when "
                               "trying to remove or add glacier areas for glacier"
                            << static_cast<int>(l) << "\n-----------------------------\n[end-entry]";
                }
                break;
            }
        }
        if (Writer) *Writer << "DEBUG: " << "---------------------------------\n\n[end-entry]";
        // The recounts above only rebuilt the bands: the record keeps the
        // area of its volume.
        glacier.area = area;
        glacier.oldArea = glacier.area;
        glacier.oldVolume = glacier.volume;
    }
}

void schneemodellklasse::GlacierMeanMassBalance(int code) {
    if (!glacierFractionGrid || !DynamicGlaciers()) return;
    for (glacierclass& glacier : glaciers)
        if (code < 0 || glacier.code == code) glacier.lostMass = glacier.oldFractionSum = glacier.newFractionSum = 0;
    auto concerned = [&](int q) -> glacierclass* {
        if (q < 0 || (code >= 0 && q != code)) return nullptr;
        const auto it = glacierIndex.find(q);
        return it == glacierIndex.end() ? nullptr : &glaciers[it->second];
    };
    ForEachSubbasinCell(*this, [&](int r, int c) {
        glacierclass* glacier = concerned(CodeOf(oldGlacierCodeGrid[r][c]));
        if (!glacier) return;
        const double before = oldGlacierFractionGrid[r][c], after = glacierFractionGrid[r][c];
        const double balance = massBalanceGrid[r][c];
        if (oldGlacierCodeGrid[r][c] != glacierCodeGrid[r][c])
            glacier->lostMass += balance * before;
        else
            glacier->lostMass += (before - after) * balance;
        glacier->oldFractionSum += before;
    });
    ForEachSubbasinCell(*this, [&](int r, int c) {
        if (glacierclass* glacier = concerned(CodeOf(glacierCodeGrid[r][c])))
            glacier->newFractionSum += glacierFractionGrid[r][c];
    });
    for (glacierclass& glacier : glaciers) {
        if (code >= 0 && glacier.code != code) continue;
        glacier.meanMassBalance = glacier.newFractionSum > 0 ? glacier.lostMass / glacier.newFractionSum : 0.0;
    }
    ForEachSubbasinCell(*this, [&](int r, int c) {
        if (glacierclass* glacier = concerned(CodeOf(glacierCodeGrid[r][c])))
            massBalanceGrid[r][c] += glacier->meanMassBalance;
    });
}

bool schneemodellklasse::GlacierEvaluationStep(int64_t hour, int64_t day, int64_t month) const {
    return DynamicGlaciers() && glacierFractionGrid && day == GMBEvalDay && month == GMBEvalMonth &&
           static_cast<double>(hour) + (TimeInterval + TimeShiftMinutes) / 60.0 > 24.001;
}

void schneemodellklasse::AnnualGlacierUpdate() {
    // The firn of past years one level down, the deepest level gone; the
    // snow left on the glacier becomes the newest firn.
    for (int r = 1; r <= NRows; ++r)
        for (int c = 1; c <= NCols; ++c) {
            if (!ActiveCell(r, c) || !subbasinGrid || subbasinGrid[r][c] == NoData) continue;
            if (!(glacierFractionGrid[r][c] > 0)) continue;
            oldGlacierCodeGrid[r][c] = glacierCodeGrid[r][c];
            double** pack = glacierTotalStorageGrid ? glacierTotalStorageGrid : totalStorageGrid;
            const double snow = pack[r][c] == NoData ? 0.0 : pack[r][c];
            glaciergeom::ShiftFirnLevels(firnStack[r][c], firn_levels, snow, NoData);
            firnWEGrid[r][c] = firnStack[r][c][0];
            if (glacierTotalStorageGrid) {
                glacierTotalStorageGrid[r][c] = 0;
                glacierSolidStorageGrid[r][c] = 0;
                glacierLiquidStorageGrid[r][c] = 0;
            }
        }

    UpdateGlacierGeometry();
    GlacierMeanMassBalance(-1);
    if (Writer) *Writer << "DEBUG: glaciers changed, updating glaicerlist now...[end-entry]";

    // The glacier shares per subbasin of the runoff storages; which
    // subbasins have a glacier stays as set up.
    for (SubbasinGlacierArea& area : glacierAreas) area.glacierCells = area.freeCells = 0;
    ForEachSubbasinCell(*this, [&](int r, int c) {
        const int s = SubbasinPosition(r, c);
        if (s <= 0 || static_cast<size_t>(s) >= glacierAreas.size()) return;
        const double g = GlacierShare(r, c);
        glacierAreas[static_cast<size_t>(s)].glacierCells += g;
        glacierAreas[static_cast<size_t>(s)].freeCells += 1 - g;
    });

    // The mass balance goes on accumulating; its reference is renewed, and
    // cells without glacier start again from 0.
    ForEachSubbasinCell(*this, [&](int r, int c) {
        if (!(glacierFractionGrid[r][c] > 0)) {
            massBalanceGrid[r][c] = 0;
            oldMassBalanceGrid[r][c] = 0;
        } else {
            oldMassBalanceGrid[r][c] = massBalanceGrid[r][c];
        }
    });
}
