#pragma once
// A small 1-based grid for the set-up kernel tests, plus a diagnostics writer
// whose console output the tests can read.

#include <cstdint>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "framework/diagnostics_writer.h"
#include "support/test_support.h"

namespace setuptest {

constexpr double Nodata = -9999;

// Cells [1..rows][1..cols] in one block of exactly (rows+1)*(cols+1) doubles;
// row 0 and column 0 exist but are unused, so a write past the last column
// of the last row leaves the block.
class Grid {
public:
    Grid(int32_t rows, int32_t cols, double fill = Nodata)
        : Rows(rows), Cols(cols), Cells(static_cast<size_t>(rows + 1) * (cols + 1), fill), RowPointers(rows + 1) {
        for (int32_t i = 0; i <= rows; ++i) RowPointers[i] = &Cells[static_cast<size_t>(i) * (cols + 1)];
    }
    // Rows given top to bottom, columns left to right.
    Grid(std::initializer_list<std::initializer_list<double>> rows)
        : Grid(static_cast<int32_t>(rows.size()), static_cast<int32_t>(rows.begin()->size())) {
        int32_t i = 1;
        for (const auto& row : rows) {
            int32_t j = 1;
            for (double v : row) RowPointers[i][j++] = v;
            ++i;
        }
    }
    Grid(const Grid&) = delete;
    Grid& operator=(const Grid&) = delete;
    double** data() { return RowPointers.data(); }
    double& at(int32_t i, int32_t j) { return RowPointers[i][j]; }
    double at(int32_t i, int32_t j) const { return RowPointers[i][j]; }
    const int32_t Rows, Cols;

private:
    std::vector<double> Cells;
    std::vector<double*> RowPointers;
};

// A diagnostics writer into a temporary directory; Console() holds everything
// written (without level prefixes).
class Diagnostics {
public:
    Diagnostics() : Writer(Dir.file("diag.xml"), DiagDebug, ConsoleStream) {}
    DiagnosticsWriter* writer() { return &Writer; }
    std::string Console() const { return ConsoleStream.str(); }

private:
    testsupport::TempDir Dir;
    std::ostringstream ConsoleStream;
    DiagnosticsWriter Writer;
};

// Runs `action` and returns the int it throws, or 0 when it throws nothing.
template <typename Action>
int ThrownCode(Action&& action) {
    try {
        action();
    } catch (int code) {
        return code;
    }
    return 0;
}

}  // namespace setuptest
