#pragma once
// Pure helpers of special output: values of brace entries, the mapping of a
// point onto a cell, the flux names and the row buffer size.

#include <cstdint>
#include <string>
#include <vector>

namespace special_output {

// Value written for a point that has no value.
constexpr double Missing = -9999.0;
// Bytes of buffered rows per output file.
constexpr int64_t BufferBytes = 2097152;

enum class Occurrence { First, Last };

// The value of a brace entry: the text between the first "=" after the
// key's occurrence and the next ";". Keys are plain, case-sensitive
// substrings, so a key inside a longer key matches too.
struct BraceValue {
    bool KeyFound = false;  // the key occurs in the text
    bool Complete = false;  // an "=" and a ";" follow it
    std::string Text;
};
BraceValue FindBraceValue(const std::string& text, const std::string& key, Occurrence which);

// The first word of a text (up to white space); empty for a blank text.
std::string FirstWord(const std::string& text);

// The items of a list value, split at tabs, blanks, semicolons and commas.
std::vector<std::string> ListItems(const std::string& value);

// Whole-word number conversions in the "C" locale; false for anything else
// than one number (trailing text, overflow, an empty word).
bool ParseInt(const std::string& word, int* value);
bool ParseDouble(const std::string& word, double* value);

// Column of x: ceil((x - xll) / cellSize), 1 to `columns`; 0 outside.
int PointColumn(double x, double xll, double cellSize, int columns);
// Row of y, counted from the top: rows - floor((y - yll) / cellSize),
// 1 to `rows`; 0 outside.
int PointRow(double y, double yll, double cellSize, int rows);

// True when the grid name contains one of the texts of the flux grids, whose
// values are summed over the sub-steps of a time step.
bool IsFluxName(const std::string& id);

// Adds the value of a later sub-step to a flux sum. A sub-step without a
// value (-9999 or the grid's nodata value) leaves the whole sum without one.
double AddFlux(double sum, double value, double noData);

// Rows that fit into the buffer for `points` values per row: at least 1.
int64_t RowCapacity(int64_t points);

}  // namespace special_output
