#include "framework/teilmod_pointseries_text.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "framework/string_helpers.h"

namespace special_output {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Grids whose values are amounts per sub-step rather than states.
const char* const FluxTexts[] = {
    "baseflow",           "irrigation_amounts",      "macropore_infiltration",   "groundwater_recharge",
    "Capillar_Uprise",    "Percolation",             "DirectRunoffSiltingUp",    "directflow",
    "interflow",          "infiltration_excess",     "total_infiltration",       "drainage_flow",
    "river_infiltration", "river_exfiltration",      "q_down",                   "SurfaceRoutingFluxes",
    "SurfaceRoutingTotalInput", "SurfaceRoutingQIn", "SurfaceRoutingQOut",       "gw_flow_x_",
    "gw_flow_y_",         "gw_leakage_"};

bool IsMissing(double value, double noData) { return value == Missing || value == noData; }

}  // namespace

BraceValue FindBraceValue(const std::string& text, const std::string& key, Occurrence which) {
    BraceValue result;
    if (key.empty()) return result;
    const size_t at = which == Occurrence::First ? text.find(key) : text.rfind(key);
    if (at == std::string::npos) return result;
    result.KeyFound = true;
    const size_t equals = text.find('=', at + key.size());
    if (equals == std::string::npos) return result;
    const size_t end = text.find(';', equals + 1);
    if (end == std::string::npos) return result;
    result.Complete = true;
    result.Text = text.substr(equals + 1, end - equals - 1);
    return result;
}

std::string FirstWord(const std::string& text) {
    size_t begin = 0;
    while (begin < text.size() && IsBlank(text[begin])) ++begin;
    size_t end = begin;
    while (end < text.size() && !IsBlank(text[end])) ++end;
    return text.substr(begin, end - begin);
}

std::vector<std::string> ListItems(const std::string& value) {
    std::vector<std::string> items;
    SplitString(value, "\t ;,", items);
    // Line ends inside a list separate items as well.
    std::vector<std::string> words;
    for (const std::string& item : items) {
        size_t pos = 0;
        while (pos < item.size()) {
            while (pos < item.size() && IsBlank(item[pos])) ++pos;
            size_t end = pos;
            while (end < item.size() && !IsBlank(item[end])) ++end;
            if (end > pos) words.push_back(item.substr(pos, end - pos));
            pos = end;
        }
    }
    return words;
}

bool ParseInt(const std::string& word, int* value) {
    if (word.empty() || IsBlank(word[0])) return false;
    errno = 0;
    char* end = nullptr;
    const long parsed = std::strtol(word.c_str(), &end, 10);
    if (errno != 0 || end != word.c_str() + word.size() || parsed < INT_MIN || parsed > INT_MAX) return false;
    *value = static_cast<int>(parsed);
    return true;
}

bool ParseDouble(const std::string& word, double* value) {
    if (word.empty() || IsBlank(word[0])) return false;
    errno = 0;
    char* end = nullptr;
    const double parsed = std::strtod(word.c_str(), &end);
    if (errno != 0 || end != word.c_str() + word.size() || !std::isfinite(parsed)) return false;
    *value = parsed;
    return true;
}

int PointColumn(double x, double xll, double cellSize, int columns) {
    const double column = std::ceil((x - xll) / cellSize);
    // Written so that a NaN quotient (cell size 0) lands outside as well.
    if (!(column >= 1 && column <= columns)) return 0;
    return static_cast<int>(column);
}

int PointRow(double y, double yll, double cellSize, int rows) {
    const double row = rows - std::floor((y - yll) / cellSize);
    if (!(row >= 1 && row <= rows)) return 0;
    return static_cast<int>(row);
}

bool IsFluxName(const std::string& id) {
    for (const char* text : FluxTexts) {
        if (id.find(text) != std::string::npos) return true;
    }
    return false;
}

double AddFlux(double sum, double value, double noData) {
    if (IsMissing(sum, noData)) return sum;
    if (IsMissing(value, noData)) return value;
    return sum + value;
}

int64_t RowCapacity(int64_t points) {
    const int64_t capacity = BufferBytes / ((points + 1) * 8 + 32);
    return capacity < 1 ? 1 : capacity;
}

}  // namespace special_output
