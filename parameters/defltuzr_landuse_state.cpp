// The dynamic phenology's state in the storage content file: a run that goes
// on from an earlier run's state continues the forcing and chilling sums, the
// season starts, the fix-point days and the mean temperatures where that run
// left them.

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "framework/diagnostics_writer.h"
#include "framework/modelobject.h"
#include "framework/storage_content_file.h"
#include "framework/string_helpers.h"
#include "parameters/defltuzr_landuse_grids.h"

namespace {

constexpr const char* SectionName = "[dynamic_phenology]";

}  // namespace

std::vector<LanduseParameterGrids::StateBlock> LanduseParameterGrids::PhenologyStateBlocks() const {
    std::vector<StateBlock> blocks;
    if (!DynamicPhenology || Layers < 1) return blocks;
    blocks.push_back({"TemperatureAVG", -1, TemperatureSum, nullptr});
    blocks.push_back({"StartDayOfLeaveFall", -1, LeafFall, nullptr});
    blocks.push_back({"TemperatureMOVAVG7", -1, MovingMean, nullptr});
    // Level 0 counts the cold days, 1 to 7 hold the daily means (8 is unused).
    for (int level = 0; level <= 7; ++level) blocks.push_back({"TemperatureMOVAVG7", level, nullptr, MovingMeanStack});
    for (int k = 1; k <= Layers; ++k) {
        for (LayerGrid g : {ForcingSumGrid, PhenoStartGrid, ChillingSumGrid, ForcingThresholdGrid}) {
            blocks.push_back({LayerGridNames[g] + std::to_string(k), -1, Grids[g][static_cast<size_t>(k)], nullptr});
        }
        if (MultipleStartTimes) {
            for (int level = 0; level <= LargestFixPoints + 1; ++level) {
                blocks.push_back({"MultipleStartTimes" + std::to_string(k), level, nullptr,
                                  SampleDayStacks[static_cast<size_t>(k)]});
            }
        }
    }
    return blocks;
}

std::string LanduseParameterGrids::PhenologyStateText() const {
    const std::vector<StateBlock> blocks = PhenologyStateBlocks();
    if (blocks.empty() || !Table) return {};
    const int rows = Setup.NRows, columns = Setup.NCols;
    const int classes = static_cast<int>(Table->size()) - 1;
    std::string text = std::string(SectionName) + "\n" + std::to_string(rows) + " " + std::to_string(columns) + " " +
                       std::to_string(Layers) + " " + std::to_string(LargestFixPoints) +
                       " (rows, columns, land-use layers, largest number of fix points)\n" +
                       std::to_string(MovingMeanDays) + " (days in the 7-day mean temperature)\n" +
                       std::to_string(classes) + " (land-use classes: position, first-season flag, start day)\n";
    for (int i = 1; i <= classes; ++i) {
        const LanduseType& R = (*Table)[static_cast<size_t>(i)];
        text += std::to_string(i) + " " + (R.DynamicPhenology ? "1" : "0") + " " + std::to_string(R.TStart) + "\n";
    }
    std::vector<double*> levelRows(static_cast<size_t>(rows) + 1, nullptr);
    std::vector<std::vector<double>> levelCells(static_cast<size_t>(rows) + 1);
    for (const StateBlock& block : blocks) {
        text += block.Name + " " + std::to_string(block.Level) + " (grid, or level of a stack, and its rows)\n";
        if (block.Level < 0) {
            AppendGridRows(text, block.Rows, 1, rows, columns);
            continue;
        }
        for (int r = 1; r <= rows; ++r) {
            std::vector<double>& row = levelCells[static_cast<size_t>(r)];
            row.assign(static_cast<size_t>(columns) + 1, 0.0);
            for (int c = 1; c <= columns; ++c) row[static_cast<size_t>(c)] = block.Stack[r][c][block.Level];
            levelRows[static_cast<size_t>(r)] = row.data();
        }
        AppendGridRows(text, levelRows.data(), 1, rows, columns);
    }
    return text + "\n";
}

void LanduseParameterGrids::ReadPhenologyState(const std::string& path) {
    DiagnosticsWriter* writer = Setup.Writer;
    StorageSectionReader reader(path, writer);
    if (!reader.IsOpen()) return;  // the soil model has refused a missing file already
    const bool found = reader.FindSection(SectionName);
    const std::vector<StateBlock> blocks = PhenologyStateBlocks();
    const std::string& line = reader.Line;
    if (!found) {
        if (!blocks.empty() && writer) {
            *writer << "WARNING: no section " << SectionName << " in " << path
                    << ": the dynamic phenology starts from the values of the start date" << "[end-entry]";
        }
        return;
    }
    if (blocks.empty()) reader.Mismatch("dynamic phenology", "(none in this run)", SectionName);

    // Whole numbers and a comment in parentheses after them, or nothing.
    auto numbers = [&](const std::string& label, size_t count, bool whole) {
        std::vector<double> values;
        const char* at = line.c_str();
        for (size_t k = 0; k < count; ++k) {
            char* end = nullptr;
            const double v = std::strtod(at, &end);
            const bool token = end != at && (*end == '\0' || *end == ' ' || *end == '\t' || *end == '\r');
            if (!token || !std::isfinite(v) || (whole && v != std::trunc(v))) {
                reader.Mismatch(label, std::to_string(count) + (whole ? " whole numbers" : " numbers"), line);
            }
            values.push_back(v);
            at = end;
        }
        while (*at == ' ' || *at == '\t' || *at == '\r') ++at;
        if (*at != '\0' && *at != '(') reader.Mismatch(label, std::to_string(count) + " values", line);
        return values;
    };
    auto next = [&](const std::string& label) {
        if (!reader.NextLine()) reader.Mismatch(label, "a line", "(missing)");
    };
    const int rows = Setup.NRows, columns = Setup.NCols;
    const int classes = static_cast<int>(Table->size()) - 1;
    next("measures of the dynamic phenology");
    const std::vector<double> head = numbers("measures of the dynamic phenology", 4, true);
    const std::string current = std::to_string(rows) + " " + std::to_string(columns) + " " + std::to_string(Layers) +
                                " " + std::to_string(LargestFixPoints);
    if (head[0] != rows || head[1] != columns || head[2] != Layers || head[3] != LargestFixPoints) {
        reader.Mismatch("rows, columns, land-use layers and largest number of fix points", current,
                 ShortestText(head[0]) + " " + ShortestText(head[1]) + " " + ShortestText(head[2]) + " " +
                     ShortestText(head[3]));
    }
    next("days in the 7-day mean temperature");
    const double days = numbers("days in the 7-day mean temperature", 1, true)[0];
    if (days < 0 || days > 7) reader.Mismatch("days in the 7-day mean temperature", "0 to 7", line);
    next("number of land-use classes");
    const double storedClasses = numbers("number of land-use classes", 1, true)[0];
    if (storedClasses != classes) reader.Mismatch("number of land-use classes", std::to_string(classes), line);
    std::vector<std::pair<bool, int>> flags(static_cast<size_t>(classes) + 1);
    for (int i = 1; i <= classes; ++i) {
        const std::string label = "first-season flag and start day of land-use class " + std::to_string(i);
        next(label);
        const std::vector<double> v = numbers(label, 3, true);
        if (v[0] != i || (v[1] != 0 && v[1] != 1) || std::fabs(v[2]) > 1e6) {
            reader.Mismatch(label, std::to_string(i) + ", 0 or 1, a day", line);
        }
        flags[static_cast<size_t>(i)] = {v[1] != 0, static_cast<int>(v[2])};
    }
    std::vector<std::vector<double>> cells(blocks.size());
    for (size_t b = 0; b < blocks.size(); ++b) {
        const std::string expected = blocks[b].Name + " " + std::to_string(blocks[b].Level);
        next(expected);
        if (line.compare(0, expected.size(), expected) != 0 ||
            (line.size() > expected.size() && line[expected.size()] != ' ')) {
            reader.Mismatch("dynamic-phenology grid", expected, line);
        }
        cells[b].reserve(static_cast<size_t>(rows) * static_cast<size_t>(columns));
        for (int r = 1; r <= rows; ++r) {
            const std::string label = "row " + std::to_string(r) + " of " + expected;
            next(label);
            const std::vector<double> row = numbers(label, static_cast<size_t>(columns), false);
            cells[b].insert(cells[b].end(), row.begin(), row.end());
        }
    }
    if (reader.NextLine() && !BlankLine(line) && line.front() != '[') {
        reader.Mismatch("dynamic-phenology grid", "(no more)", line);
    }

    // Read whole: now load it.
    MovingMeanDays = static_cast<int>(days);
    for (int i = 1; i <= classes; ++i) {
        LanduseType& R = (*Table)[static_cast<size_t>(i)];
        R.DynamicPhenology = flags[static_cast<size_t>(i)].first;
        R.TStart = flags[static_cast<size_t>(i)].second;
    }
    for (size_t b = 0; b < blocks.size(); ++b) {
        const StateBlock& block = blocks[b];
        for (int r = 1; r <= rows; ++r) {
            for (int c = 1; c <= columns; ++c) {
                const double v = cells[b][static_cast<size_t>(r - 1) * columns + static_cast<size_t>(c - 1)];
                if (block.Level >= 0) {
                    block.Stack[r][c][block.Level] = v;
                } else {
                    block.Rows[r][c] = v;
                }
            }
        }
    }
    if (writer) *writer << "dynamic phenology read from " << path << "[end-entry]";
}
