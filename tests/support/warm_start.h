#pragma once
// What the warm-start tests of the example share: write codes that take a
// snapshot at the end of a run, read switches turned on, and the state
// directory that a continuing run reads from.

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace testsupport {

// The control's lines that follow a line beginning with one of `names`: their
// first word (a write code) becomes `code`.
inline std::string SetWriteCodesAfter(const std::string& control, const std::set<std::string>& names, int code) {
    std::istringstream in(control);
    std::string out, line;
    bool next = false;
    while (std::getline(in, line)) {
        if (next) {
            const size_t end = line.find_first_of(" \t");
            line = std::to_string(code) + (end == std::string::npos ? "" : line.substr(end));
        }
        std::istringstream words(line);
        std::string first;
        words >> first;
        next = names.count(first) > 0;
        out += line + "\n";
    }
    return out;
}

// The switch at the start of the line that holds `comment` turns from 0 to 1.
inline void SwitchReadOn(std::string& control, const std::string& comment) {
    const size_t at = control.find(comment);
    ASSERT_NE(at, std::string::npos) << comment;
    const size_t line = control.rfind('\n', at) + 1;
    ASSERT_EQ(control[line], '0') << comment;
    control[line] = '1';
}

// The state directory of a warm start: the inputs with the first run's output
// over them, but the land-use and soil grids of the input (the output holds
// their table positions under these names).
inline void FillStateDirectory(const TempDir& first, const TempDir& state) {
    const auto over = std::filesystem::copy_options::recursive | std::filesystem::copy_options::overwrite_existing;
    std::filesystem::copy(first.file("input"), state.path(), over);
    std::filesystem::copy(first.file("output"), state.path(), over);
    for (const char* name : {"landuse.asc", "soils.asc"})
        std::filesystem::copy(first.file("input/") + name, state.file(name), over);
}

// The rows of a dated table (statistics, point and routing files) of 2019
// from `day` of `month` on; empty for a file without dated rows.
inline std::vector<std::string> RowsFromDay(const std::string& text, int month, int day) {
    std::istringstream in(text);
    std::vector<std::string> rows;
    std::string row;
    while (std::getline(in, row)) {
        std::istringstream words(row);
        int y = 0, m = 0, d = 0;
        if (words >> y >> m >> d && y == 2019 && m == month && d >= day) rows.push_back(row);
    }
    return rows;
}

}  // namespace testsupport
