#include "setup/defltuzr_codes.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/modelobject.h"
#include "framework/string_helpers.h"

namespace {

const std::string Rule(71, '-');

// The texts and code that distinguish the checks of one kind of code grid.
struct CodeFamily {
    const char* CheckingText;   // first DEBUG entry
    const char* ReplacingText;  // second DEBUG entry, followed by the file name
    const char* Noun;           // names the cell value in the FATAL entry
    const char* Ending;         // closes the FATAL entry, before the rule
    int ErrorCode;
    bool PositiveOnly;  // only cells above 0 are checked
};

const CodeFamily LanduseFamily{"1.: checking codes in land use grid",
                               "2.:replacing codes in land use grid ",
                               "land use ",
                               ")\nis not present in the land use table in the control file \n",
                               31,
                               false};
const CodeFamily MultilayerFamily{"1.: checking codes in land use grid",
                                  "2.:replacing codes in land use grid ",
                                  "land use ",
                                  ")\nis not present in the multilayer-landuse-table in the control file \n",
                                  311,
                                  false};
const CodeFamily SoilFamily{"1.: checking soil type codes",
                            "2.:replacing soil type codes ",
                            "soil type ",
                            ")\nis not present in the control file \n",
                            32,
                            false};
const CodeFamily IrrigationFamily{"1.: checking codes in irrigation grid",
                                  "2.:replacing codes in irrigation grid ",
                                  "irrigation type ",
                                  ")\nis not present in the irrigation table in the control file \n",
                                  31,
                                  true};

// The codes of a table (entries 1 to n; entry 0 holds the count) and the
// position each code is replaced by. When a code occurs more than once, the
// last entry whose position differs from the code wins, as if the entries
// were applied one after the other to the unchanged grid.
class CodeIndex {
public:
    explicit CodeIndex(const std::vector<int32_t>& codes) : Codes(codes) {
        Sorted.assign(codes.begin() + (codes.empty() ? 0 : 1), codes.end());
        std::sort(Sorted.begin(), Sorted.end());
        for (size_t k = 1; k < codes.size(); ++k) {
            if (codes[k] == static_cast<int32_t>(k)) continue;
            auto it = std::lower_bound(Replacements.begin(), Replacements.end(), codes[k],
                                       [](const auto& entry, int32_t code) { return entry.first < code; });
            if (it != Replacements.end() && it->first == codes[k]) {
                it->second = static_cast<int32_t>(k);
            } else {
                Replacements.insert(it, {codes[k], static_cast<int32_t>(k)});
            }
        }
    }

    int Count() const { return Codes.empty() ? 0 : static_cast<int>(Codes.size()) - 1; }
    int32_t Code(int k) const { return Codes[static_cast<size_t>(k)]; }

    bool Contains(int32_t code) const { return std::binary_search(Sorted.begin(), Sorted.end(), code); }

    // The position a cell value is replaced by; false when it keeps its value.
    bool Replacement(double value, double* position) const {
        int32_t code = 0;
        if (!CellCode(value, &code)) return false;
        auto it = std::lower_bound(Replacements.begin(), Replacements.end(), code,
                                   [](const auto& entry, int32_t c) { return entry.first < c; });
        if (it == Replacements.end() || it->first != code) return false;
        *position = it->second;
        return true;
    }

private:
    std::vector<int32_t> Codes;
    std::vector<int32_t> Sorted;
    std::vector<std::pair<int32_t, int32_t>> Replacements;
};

template <typename Entry>
std::vector<int32_t> TableCodes(const std::vector<Entry>& table) {
    std::vector<int32_t> codes;
    codes.reserve(table.size());
    for (const Entry& entry : table) codes.push_back(entry.Code);
    return codes;
}

double** ZoneGrid(modelobject& setup) {
    if (setup.GridTable && setup.GridTable[FirstGridIndex].Data) return setup.GridTable[FirstGridIndex].Data;
    if (setup.Writer) {
        *setup.Writer << "FATAL: no zone grid in memory (grid entry " << FirstGridIndex << ") in " << setup.ModuleName
                      << "[end-entry]";
    }
    throw 33;
}

// Rows of a grid-table entry that lie in the model grid.
std::pair<long, long> EntryRows(const modelobject& setup, const MemoryGrid& entry) {
    long first = 1;
    long last = setup.NRows;
    if (entry.LastRow > 0) {
        first = std::max<long>(first, static_cast<long>(entry.FirstRow));
        last = std::min<long>(last, static_cast<long>(entry.LastRow));
    }
    return {first, last};
}

[[noreturn]] void CodeMissing(modelobject& setup, const MemoryGrid& entry, const CodeFamily& family, double value) {
    if (setup.Writer) {
        *setup.Writer << "FATAL: \n"
                      << Rule << "\n"
                      << family.Noun << ShortestText(value) << " in grid " << entry.FileName << " (" << entry.InternalName
                      << family.Ending << Rule << "\n\n"
                      << "[end-entry]";
    }
    throw family.ErrorCode;
}

bool CellChecked(const CodeFamily& family, double zone, double value, double noData) {
    if (!(zone > noData)) return false;
    return !family.PositiveOnly || !(value <= 0);
}

// Checks every cell inside the zone grid and renumbers the whole grid to
// table positions. The first cell in row order that fails is reported.
void CheckAndRenumber(modelobject& setup, int index, const CodeIndex& codes, const CodeFamily& family) {
    setup.CheckGridIndex(index);
    MemoryGrid& entry = setup.GridTable[index];
    double** grid = entry.Data;
    double** zone = ZoneGrid(setup);
    const auto [firstRow, lastRow] = EntryRows(setup, entry);
    const int cols = setup.NCols;
    const double noData = setup.NoData;

    if (setup.Writer) *setup.Writer << family.CheckingText << "[end-entry]";
    // A checked cell outside the entry's rows has no value: it cannot hold a code.
    for (long r = 1; r < firstRow; ++r) {
        for (int c = 1; c <= cols; ++c) {
            if (zone[r][c] > noData) CodeMissing(setup, entry, family, noData);
        }
    }
    std::vector<int> firstBad(static_cast<size_t>(std::max<long>(lastRow, 0)) + 1, 0);
#pragma omp parallel for schedule(static)
    for (long r = firstRow; r <= lastRow; ++r) {
        for (int c = 1; c <= cols; ++c) {
            const double value = grid[r][c];
            if (!CellChecked(family, zone[r][c], value, noData)) continue;
            int32_t code = 0;
            if (CellCode(value, &code) && codes.Contains(code)) continue;
            firstBad[static_cast<size_t>(r)] = c;
            break;
        }
    }
    for (long r = firstRow; r <= lastRow; ++r) {
        const int c = firstBad[static_cast<size_t>(r)];
        if (c > 0) CodeMissing(setup, entry, family, grid[r][c]);
    }
    for (long r = lastRow + 1; r <= setup.NRows; ++r) {
        for (int c = 1; c <= cols; ++c) {
            if (zone[r][c] > noData) CodeMissing(setup, entry, family, noData);
        }
    }

    if (setup.Writer) *setup.Writer << family.ReplacingText << entry.FileName << "[end-entry]";
    bool anyReplacement = false;
    for (int k = 1; k <= codes.Count(); ++k) {
        if (codes.Code(k) == k) continue;
        anyReplacement = true;
        if (setup.Writer)
            *setup.Writer << codes.Code(k) << " replaced by " << k << " ..."
                          << "[end-entry]";
    }
    if (!anyReplacement) return;
        // Each cell is looked up by its value before the renumbering, so a code
        // that equals another entry's position is never renumbered twice.
#pragma omp parallel for schedule(static)
    for (long r = firstRow; r <= lastRow; ++r) {
        for (int c = 1; c <= cols; ++c) {
            double position = 0;
            if (codes.Replacement(grid[r][c], &position)) grid[r][c] = position;
        }
    }
}

// A layer code at or below nodata marks a layer without land use.
bool LayerAbsent(int32_t code, double noData) { return !(static_cast<double>(code) > noData); }

int32_t LayerCode(const std::vector<int32_t>& codes, int count, int layer, bool* present) {
    *present = layer >= 1 && layer <= count && static_cast<size_t>(layer) < codes.size();
    return *present ? codes[static_cast<size_t>(layer)] : 0;
}

// Checks the layer codes of every multilayer entry against the land-use table
// and turns them into land-use positions.
void RenumberLayerCodes(modelobject& setup, const CodeIndex& landuseCodes,
                        std::vector<MultilayerLanduseType>& multilayerTable) {
    const double noData = setup.NoData;
    for (size_t j = 1; j < multilayerTable.size(); ++j) {
        const MultilayerLanduseType& entry = multilayerTable[j];
        for (int q = 1; q <= std::max(entry.LayerCount, 1); ++q) {
            bool present = false;
            const int32_t code = LayerCode(entry.LayerCodesAsRead, entry.LayerCount, q, &present);
            if (!present || LayerAbsent(code, noData)) {
                if (q > 1) continue;
                if (setup.Writer) {
                    *setup.Writer << "FATAL: \n\n"
                                  << Rule
                                  << "\nError: the first Layer code of each MultiLayer-Landuse Entry \nmust be a valid "
                                     "entry (not 9999 or larger):\nHere, line "
                                  << static_cast<int>(j) << " contains "
                                  << (present ? std::to_string(code) : ShortestText(noData)) << " as first layer code.\n"
                                  << Rule << "\n\n"
                                  << "[end-entry]";
                }
                throw 312;
            }
            if (landuseCodes.Contains(code)) continue;
            if (setup.Writer) {
                *setup.Writer << "FATAL: \n"
                              << Rule << "\nError: not all layer codes from landuse " << entry.Code
                              << " from MultiLayer_Landuse-Table\nare present in the landuse-table in the control "
                                 "file: Here, code "
                              << code << " is missing.\n"
                              << Rule << "\n\n"
                              << "[end-entry]";
            }
            throw 312;
        }
    }

    for (int k = 1; k <= landuseCodes.Count(); ++k) {
        const int32_t code = landuseCodes.Code(k);
        if (code == k) continue;
        for (size_t m = 1; m < multilayerTable.size(); ++m) {
            MultilayerLanduseType& entry = multilayerTable[m];
            for (int q = 1; q <= entry.LayerCount; ++q) {
                bool present = false;
                const int32_t asRead = LayerCode(entry.LayerCodesAsRead, entry.LayerCount, q, &present);
                if (!present || asRead != code) continue;
                if (static_cast<size_t>(q) >= entry.LayerCodes.size()) continue;
                entry.LayerCodes[static_cast<size_t>(q)] = k;
                if (setup.Writer) {
                    *setup.Writer << "Code replacement in MultiLayer-Landuse " << static_cast<int>(m)
                                  << ": changed Layer-Code #" << q << " from " << code << " to " << k << "[end-entry]";
                }
            }
        }
    }
}

double** EntryGrid(modelobject& setup, int index) {
    if (index == 0) return nullptr;
    setup.CheckGridIndex(index);
    return setup.GridTable[index].Data;
}

}  // namespace

bool CellCode(double value, int32_t* code) {
    if (!(value >= static_cast<double>(std::numeric_limits<int32_t>::min()) &&
          value <= static_cast<double>(std::numeric_limits<int32_t>::max())))
        return false;
    if (value != std::trunc(value)) return false;
    *code = static_cast<int32_t>(value);
    return true;
}

double** CheckLanduseCodes(modelobject& setup, int landuseIndex, const std::vector<LanduseType>& landuseTable,
                           std::vector<MultilayerLanduseType>& multilayerTable) {
    double** grid = EntryGrid(setup, landuseIndex);
    if (!grid || setup.ProcessNumber != 0) return grid;
    const CodeIndex landuseCodes(TableCodes(landuseTable));
    if (multilayerTable.empty()) {
        CheckAndRenumber(setup, landuseIndex, landuseCodes, LanduseFamily);
        return grid;
    }
    CheckAndRenumber(setup, landuseIndex, CodeIndex(TableCodes(multilayerTable)), MultilayerFamily);
    RenumberLayerCodes(setup, landuseCodes, multilayerTable);
    return grid;
}

double** check_SOIL_Codes(modelobject& setup, int soilIndex, const std::vector<SoilType>& soilTable) {
    double** grid = EntryGrid(setup, soilIndex);
    if (!grid || setup.ProcessNumber != 0) return grid;
    CheckAndRenumber(setup, soilIndex, CodeIndex(TableCodes(soilTable)), SoilFamily);
    return grid;
}

double** check_irrig_Codes(modelobject& setup, int irrigationIndex,
                           const std::vector<IrrigationRule>& irrigationTable) {
    if (irrigationIndex == 0) return nullptr;
    return CheckIrrigationCodes(setup, irrigationIndex, irrigationTable);
}

double** CheckIrrigationCodes(modelobject& setup, int irrigationIndex,
                              const std::vector<IrrigationRule>& irrigationTable) {
    double** grid = EntryGrid(setup, irrigationIndex);
    if (!grid || setup.ProcessNumber != 0) return grid;
    CheckAndRenumber(setup, irrigationIndex, CodeIndex(TableCodes(irrigationTable)), IrrigationFamily);
    return grid;
}

int MakeLanduseLayerGrids(modelobject& setup, int landuseIndex,
                          const std::vector<MultilayerLanduseType>& multilayerTable, std::vector<double**>& layers,
                          int* setupGridCount) {
    const int layerCount = multilayerTable.size() > 1 ? std::max(multilayerTable[1].LayerCount, 1) : 1;
    double** landuse = EntryGrid(setup, landuseIndex);
    layers.assign(1, landuse);
    if (!landuse) return 0;
    const MemoryGrid& landuseEntry = setup.GridTable[landuseIndex];
    double** zone = ZoneGrid(setup);

    // Every layer needs its own free entry; none is taken unless all are there.
    std::vector<int> entries;
    for (int k = 1, from = FirstGridIndex; k <= layerCount; ++k) {
        const int index = FindFreeGridEntry(setup.GridTable, from);
        if (index == NoFreeGridEntry) {
            if (setup.Writer) {
                *setup.Writer << "FATAL: no free grid found in memory (at position " << NoFreeGridEntry << ")\n"
                              << "[end-entry]";
            }
            throw 12;
        }
        entries.push_back(index);
        from = index + 1;
    }

    const int rows = setup.NRows;
    const int cols = setup.NCols;
    const double noData = setup.NoData;
    const int regionsIndex = setup.FindGrid("MPIRegions");
    double** regions = regionsIndex > 0 ? setup.GridTable[regionsIndex].Data : nullptr;
    const double process = setup.ProcessNumber;
    const auto [firstRow, lastRow] = EntryRows(setup, landuseEntry);
    const int entryCount = static_cast<int>(multilayerTable.size()) - 1;

    // Multilayer position of every own cell inside the zone grid (0 outside).
    std::vector<int> positions(static_cast<size_t>(rows + 1) * static_cast<size_t>(cols + 1), 0);
    std::vector<int> firstBad(static_cast<size_t>(rows) + 1, 0);
#pragma omp parallel for schedule(static)
    for (int r = 1; r <= rows; ++r) {
        for (int c = 1; c <= cols; ++c) {
            if (!(zone[r][c] > noData)) continue;
            if (regions && regions[r][c] != process) continue;
            int32_t position = 0;
            const bool inRows = r >= firstRow && r <= lastRow;
            if (!inRows || !CellCode(landuse[r][c], &position) || position < 1 || position > entryCount) {
                if (firstBad[static_cast<size_t>(r)] == 0) firstBad[static_cast<size_t>(r)] = c;
                continue;
            }
            positions[static_cast<size_t>(r) * static_cast<size_t>(cols + 1) + static_cast<size_t>(c)] = position;
        }
    }
    for (int r = 1; r <= rows; ++r) {
        const int c = firstBad[static_cast<size_t>(r)];
        if (c > 0) {
            const bool inRows = r >= firstRow && r <= lastRow;
            CodeMissing(setup, landuseEntry, MultilayerFamily, inRows ? landuse[r][c] : noData);
        }
    }

    for (int k = 1; k <= layerCount; ++k) {
        const std::string name = "landuse" + std::to_string(k);
        double** grid = setup.matrix(1, rows, 1, cols, rows);
        setup.StoreGrid(entries[static_cast<size_t>(k - 1)], name, grid, nullptr, 1, name, 0, 1, rows);
        layers.push_back(grid);
        if (setupGridCount) ++*setupGridCount;
#pragma omp parallel for schedule(static)
        for (int r = 1; r <= rows; ++r) {
            for (int c = 1; c <= cols; ++c) {
                const int e =
                    positions[static_cast<size_t>(r) * static_cast<size_t>(cols + 1) + static_cast<size_t>(c)];
                double value = noData;
                if (e > 0) {
                    const MultilayerLanduseType& entry = multilayerTable[static_cast<size_t>(e)];
                    bool present = false;
                    const int32_t code = LayerCode(entry.LayerCodes, entry.LayerCount, k, &present);
                    if (present && !LayerAbsent(code, noData)) value = code;
                }
                grid[r][c] = value;
            }
        }
    }
    return layerCount;
}

int SetUpLanduseLayers(modelobject& setup, int landuseIndex, const std::vector<LanduseType>& landuseTable,
                       std::vector<MultilayerLanduseType>& multilayerTable, std::vector<double**>& layers,
                       int* setupGridCount) {
    double** grid = CheckLanduseCodes(setup, landuseIndex, landuseTable, multilayerTable);
    if (!grid) {
        layers.clear();
        return 0;
    }
    if (!multilayerTable.empty())
        return MakeLanduseLayerGrids(setup, landuseIndex, multilayerTable, layers, setupGridCount);
    layers.assign(2, grid);
    setup.GridTable[landuseIndex].InternalName = "landuse1";
    return 1;
}
