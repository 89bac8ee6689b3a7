#pragma once
// Pure pieces of the regional superposition: reading the key = value pairs of
// an entity block, checking region lists and weights, and the blend of one
// cell.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace superposition {

// Weights of one region summed over the inputs may differ from 1 by this.
constexpr double WeightSumTolerance = 1e-4;

// A key found by plain text search. `Value` is the text between the first "="
// after the key and the first ";" after that "="; without a "=" or a ";" the
// value is missing. `After` is the offset just past the key.
struct KeyValue {
    bool KeyFound = false;
    bool HasValue = false;
    std::string Value;
    size_t After = 0;
};
KeyValue FindKeyValue(const std::string& text, const std::string& key);

// The first word of a value (blanks, tabs and line ends separate words); empty
// when there is none.
std::string FirstWord(const std::string& value);

// The items of a list value, separated by any of line feed, carriage return,
// tab, blank, ";" and ",".
std::vector<std::string> ListItems(const std::string& value);

// Whole-word conversions: false when the word is not entirely a number of the
// kind (or does not fit).
bool ParseInt(const std::string& word, int* value);
bool ParseDouble(const std::string& word, double* value);

// Code of a region-grid cell: its value rounded to the nearest whole number,
// halves upwards. Values beyond the int range answer 0 (no region).
int64_t RegionCodeOf(double value);

// Rank 1..R of a region code; 0 for a code that is no region or lies outside
// 0..largestCode (or when there is no table).
int RankOfCode(int64_t code, const int* codeToRank, int largestCode);

// The region codes of a list must be the region codes in ascending order: the
// code at position p (1-based) has rank p. Answers the first position where
// this fails, 0 when every position is right.
int FirstMisplacedRegion(const std::vector<int>& codes, const int* codeToRank, int largestCode);

// The code of rank `rank`, 0 when no code has it.
int CodeOfRank(int rank, const int* codeToRank, int largestCode);

// The first rank 1..regionCount whose weights, summed over the inputs (each
// list in rank order, rank k at index k-1), differ from 1 by more than the
// tolerance; 0 when every rank is balanced. `sum` receives that rank's sum.
int FirstUnbalancedRank(const std::vector<const std::vector<double>*>& weights, int regionCount, double* sum);

// One region layer at a cell: the rank of its region (0: no region there)
// and its transition weight.
struct LayerSample {
    int Rank = 0;
    double Weight = 0;
};

// The superposed value of a cell:
//   sum over layers l with a region, sum over inputs i: G_i * W_i(k_l) * w_l
// with G_i the inputs' values at the cell, W_i the input's weight list (rank
// k at index k-1) and w_l the layer's transition weight. Layers first, inputs
// in order inside each layer.
double SuperposedValue(std::span<const double> inputValues, std::span<const double* const> inputWeights,
                       std::span<const LayerSample> layers);

}  // namespace superposition
