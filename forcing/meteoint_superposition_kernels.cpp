#include "forcing/meteoint_superposition_kernels.h"

#include "framework/zonetable.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "framework/string_helpers.h"

namespace superposition {

KeyValue FindKeyValue(const std::string& text, const std::string& key) {
    KeyValue result;
    const size_t at = text.find(key);
    if (at == std::string::npos) return result;
    result.KeyFound = true;
    result.After = at + key.size();
    const size_t equals = text.find('=', result.After);
    if (equals == std::string::npos) return result;
    const size_t semicolon = text.find(';', equals + 1);
    if (semicolon == std::string::npos) return result;
    result.HasValue = true;
    result.Value = text.substr(equals + 1, semicolon - equals - 1);
    return result;
}

std::string FirstWord(const std::string& value) {
    std::vector<std::string> words;
    SplitString(value, " \t\r\n", words);
    return words.empty() ? std::string() : words.front();
}

std::vector<std::string> ListItems(const std::string& value) {
    std::vector<std::string> items;
    SplitString(value, "\n\r\t ;,", items);
    return items;
}

bool ParseInt(const std::string& word, int* value) {
    if (word.empty()) return false;
    const char* begin = word.c_str();
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(begin, &end, 10);
    if (end == begin || *end != '\0' || errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
    *value = static_cast<int>(v);
    return true;
}

bool ParseDouble(const std::string& word, double* value) {
    if (word.empty()) return false;
    const char* begin = word.c_str();
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(begin, &end);
    if (end == begin || *end != '\0' || errno == ERANGE || !std::isfinite(v)) return false;
    *value = v;
    return true;
}

int64_t RegionCodeOf(double value) {
    const double code = ZoneCodeOf(value);
    if (!(code >= static_cast<double>(INT_MIN) && code <= static_cast<double>(INT_MAX))) return 0;
    return static_cast<int64_t>(code);
}

int RankOfCode(int64_t code, const int* codeToRank, int largestCode) {
    if (!codeToRank || code < 0 || code > largestCode) return 0;
    return codeToRank[code];
}

int FirstMisplacedRegion(const std::vector<int>& codes, const int* codeToRank, int largestCode) {
    for (size_t p = 1; p <= codes.size(); ++p) {
        if (RankOfCode(codes[p - 1], codeToRank, largestCode) != static_cast<int>(p)) return static_cast<int>(p);
    }
    return 0;
}

int CodeOfRank(int rank, const int* codeToRank, int largestCode) {
    if (!codeToRank || rank < 1) return 0;
    for (int code = 0; code <= largestCode; ++code) {
        if (codeToRank[code] == rank) return code;
    }
    return 0;
}

int FirstUnbalancedRank(const std::vector<const std::vector<double>*>& weights, int regionCount, double* sum) {
    for (int k = 1; k <= regionCount; ++k) {
        double s = 0;
        for (const std::vector<double>* list : weights) {
            if (list && static_cast<int>(list->size()) >= k) s += (*list)[static_cast<size_t>(k - 1)];
        }
        if (!(std::fabs(s - 1.0) <= WeightSumTolerance)) {
            *sum = s;
            return k;
        }
    }
    *sum = 0;
    return 0;
}

double SuperposedValue(std::span<const double> inputValues, std::span<const double* const> inputWeights,
                       std::span<const LayerSample> layers) {
    double value = 0;
    const size_t inputs = std::min(inputValues.size(), inputWeights.size());
    for (const LayerSample& layer : layers) {
        if (layer.Rank <= 0) continue;
        for (size_t i = 0; i < inputs; ++i) {
            value += inputValues[i] * inputWeights[i][layer.Rank - 1] * layer.Weight;
        }
    }
    return value;
}

}  // namespace superposition
