#include "framework/vegetation_state.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/storage_content_file.h"
#include "framework/string_helpers.h"

namespace {

constexpr const char* SectionName = "[vegetation_period]";

// The vegetation period's grids and the daily land-use parameters, which
// change at the end of a day: a run that begins inside a day holds those of
// the day it began on, one that went through a day's end those of that day.
bool VegetationGridName(const std::string& name) {
    for (const char* prefix : {"VegetationStart", "VegetationStop", "VegetationDuration", "root_depth",
                               "vegetation_coverage_degree", "leaf_area_index", "SurfaceCanopyResistance",
                               "SurfaceIntercepResistance", "RoughnessLength", "SurfaceEvaporationResistance"})
        if (name.rfind(prefix, 0) == 0) return true;
    return false;
}

}  // namespace

std::string VegetationStateText(const MemoryGrid* table, int rows, int columns) {
    if (!table) return {};
    std::string blocks;
    for (int k = FirstGridIndex; k <= LastGridIndex; ++k) {
        const MemoryGrid& entry = table[k];
        if (entry.InternalName.empty() || !entry.Data) continue;
        if (VegetationGridName(entry.InternalName)) {
            blocks += entry.InternalName + " 1 " + std::to_string(rows) + " (vegetation grid, its rows)\n";
            AppendGridRows(blocks, entry.Data, 1, rows, columns);
        }
    }
    for (int k = FirstGridIndex; k <= LastGridIndex; ++k) {
        const MemoryGrid& entry = table[k];
        if (entry.InternalName.empty() || entry.ThousandsDigit == 0 || !entry.VegGrid) continue;
        const int first = static_cast<int>(std::max<int64_t>(entry.FirstRow, 1));
        const int last = static_cast<int>(std::min<int64_t>(entry.LastRow, rows));
        blocks += entry.InternalName + " " + std::to_string(first) + " " + std::to_string(last) + " " +
                  std::to_string(entry.VegOutputDue) + " " + std::to_string(entry.VegResetDue) +
                  " (vegetation-period sum of a grid, its rows, output and reset due)\n";
        AppendGridRows(blocks, entry.VegGrid, first, last, columns);
    }
    if (blocks.empty()) return {};
    return std::string(SectionName) + "\n" + std::to_string(rows) + " " + std::to_string(columns) +
           " (rows and columns)\n" + blocks + "\n";
}

void ReadVegetationState(MemoryGrid* table, int rows, int columns, const std::string& path,
                         DiagnosticsWriter* writer) {
    auto warn = [&](const std::string& why) {
        if (writer) *writer << "WARNING: " << why << "[end-entry]";
    };
    StorageSectionReader reader(path, writer);
    if (!reader.IsOpen()) return;  // the soil model has refused a missing file already
    if (!reader.FindSection(SectionName)) {
        warn(std::string("no section ") + SectionName + " in " + path +
             ": the vegetation period starts from the values of the start date");
        return;
    }
    const std::string& line = reader.Line;
    double size[2] = {};
    reader.ReadNumbers("number of rows and columns", 2, size);
    if (size[0] != rows || size[1] != columns) {
        reader.Mismatch("number of rows and columns", std::to_string(rows) + " " + std::to_string(columns),
                        ShortestText(size[0]) + " " + ShortestText(size[1]));
    }

    // Every block is read whole before it is loaded.
    std::vector<bool> loaded(static_cast<size_t>(LastGridIndex) + 1, false);
    std::vector<double> cells;
    while (reader.NextLine() && !BlankLine(line) && line.front() != '[') {
        const size_t space = line.find(' ');
        if (space == std::string::npos) reader.Mismatch("vegetation grid", "a name and its rows", line);
        const std::string name = line.substr(0, space);
        const bool vegetation = VegetationGridName(name);
        const std::vector<double> head = reader.ParseNumbers("rows of " + name, vegetation ? 2 : 4, space);
        const int first = static_cast<int>(head[0]), last = static_cast<int>(head[1]);
        if (first < 1 || last > rows || first > last) {
            reader.Mismatch("rows of " + name, "1 to " + std::to_string(rows), line);
        }
        cells.assign(static_cast<size_t>(last - first + 1) * static_cast<size_t>(columns), 0.0);
        for (int i = first; i <= last; ++i) {
            const std::string label = "row " + std::to_string(i) + " of " + name;
            if (!reader.NextLine()) reader.Mismatch(label, "a row", "(missing)");
            reader.ParseNumbers(label, static_cast<size_t>(columns),
                                &cells[static_cast<size_t>(i - first) * static_cast<size_t>(columns)]);
        }
        const int index = FindGridEntry(table, name, true);
        MemoryGrid* entry = index > 0 ? &table[index] : nullptr;
        double** target = nullptr;
        if (vegetation) {
            if (!entry) reader.Mismatch("vegetation grid " + name, "(none in this run)", name);
            target = entry->Data;
        } else if (!entry || entry->ThousandsDigit == 0 || !entry->VegGrid || first < entry->FirstRow ||
                   last > entry->LastRow) {
            warn("the vegetation-period sum of " + name + " in " + path + " has no vegetation-period output in this run");
            continue;
        } else {
            target = entry->VegGrid;
            entry->VegOutputDue = head[2] != 0 ? 1 : 0;
            entry->VegResetDue = head[3] != 0 ? 1 : 0;
        }
        for (int i = first; i <= last; ++i)
            for (int j = 1; j <= columns; ++j)
                target[i][j] = cells[static_cast<size_t>(i - first) * columns + static_cast<size_t>(j - 1)];
        loaded[static_cast<size_t>(index)] = true;
    }
    for (int k = FirstGridIndex; k <= LastGridIndex; ++k) {
        const MemoryGrid& entry = table[k];
        if (entry.InternalName.empty() || loaded[static_cast<size_t>(k)]) continue;
        if (entry.ThousandsDigit != 0 && entry.VegGrid) {
            warn("no vegetation-period sum of " + entry.InternalName + " in " + path + ": it starts at 0");
        }
    }
    if (writer) *writer << "vegetation period read from " << path << "[end-entry]";
}
