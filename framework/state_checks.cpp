#include "framework/state_checks.h"

#include <cmath>
#include <sstream>

#include "framework/diagnostics_writer.h"
#include "framework/gridfiles.h"

namespace statecheck {
namespace {

std::string Number(double value) {
    std::ostringstream text;
    text.precision(17);
    text << value;
    return text.str();
}

bool Within(double value, Range range) { return std::isfinite(value) && value >= range.Low && value <= range.High; }

[[noreturn]] void CellRefused(const modelobject& reader, const std::string& file, const std::string& what, long i,
                              long j, int l, bool stack, double value, Range range) {
    if (reader.Writer) {
        *reader.Writer << "FATAL: error reading " << file << ": the " << what << " of the cell in row " << i
                       << ", column " << j;
        if (stack) *reader.Writer << ", level " << l;
        *reader.Writer << " is " << Number(value) << ", outside " << Number(range.Low) << " to "
                       << Number(range.High) << " (in " << reader.ModuleName << ")" << "[end-entry]";
    }
    throw 22;
}

}  // namespace

std::string InputPath(const modelobject& reader, const std::string& fileName) {
    std::string path = fileName;
    PrefixDirectory(reader.InputDirectory, path);
    return path;
}

void CheckGrid(const modelobject& reader, const std::string& file, double** grid, const std::string& what,
               Range range) {
    if (!grid) return;
    for (long i = 1; i <= reader.NRows; ++i) {
        if (!grid[i]) continue;
        for (long j = 1; j <= reader.NCols; ++j) {
            const double value = grid[i][j];
            if (value == reader.NoData || Within(value, range)) continue;
            CellRefused(reader, file, what, i, j, 0, false, value, range);
        }
    }
}

void CheckStack(const modelobject& reader, const std::string& file, GridStack stack, int firstLevel, int lastLevel,
                const std::string& what, const CellRange& range) {
    if (!stack) return;
    for (long i = 1; i <= reader.NRows; ++i) {
        if (!stack[i]) continue;
        for (long j = 1; j <= reader.NCols; ++j) {
            for (int l = firstLevel; l <= lastLevel; ++l) {
                const double value = stack[i][j][l];
                if (value == reader.NoData) continue;
                const Range r = range(i, j, l);
                if (!Within(value, r)) CellRefused(reader, file, what, i, j, l, true, value, r);
            }
        }
    }
}

void CheckValue(DiagnosticsWriter* writer, const std::string& file, const std::string& what, double value,
                Range range, int code) {
    if (Within(value, range)) return;
    if (writer) {
        *writer << "FATAL: error in storage file content reading " << file << ": " << what << " is "
                << Number(value) << ", outside " << Number(range.Low) << " to " << Number(range.High)
                << "\nRuvex throws..." << "[end-entry]";
    }
    throw code;
}

}  // namespace statecheck
