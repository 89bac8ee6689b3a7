#pragma once
// Lists of subbasin codes that let groups of subbasins share the values of
// one listed subbasin: a code line names some subbasins in ascending order,
// and every value line then holds one number per listed subbasin, which
// passes to the subbasins after it up to the next listed one.
//
// Two rules are in use for a list that does not begin with the smallest code:
// - `GroupRule::Soil`: the smallest code counts as listed before the first
//   code, and the first code reads its own number (the soil model);
// - `GroupRule::SiltingUp`: the smallest code counts as listed, and the
//   subbasins from the second up to the first code, that code included, take
//   its number (the silting-up model's minimum rain pause).
// A list that begins with the second subbasin's code leaves the first without
// a number under both rules; it takes 0.

#include <cstddef>
#include <vector>

enum class GroupRule { Soil, SiltingUp };

class SubbasinGroupList {
public:
    // `codeToRank` covers the codes 0 to `largestCode`; ranks run 1 to `count`.
    SubbasinGroupList(const int* codeToRank, int largestCode, int count, int smallestCode, GroupRule rule);

    // False for a code below 1, above the largest, without a subbasin, or
    // listed out of ascending order or twice (the numbers of the value lines
    // would reach the wrong subbasins).
    bool Add(int code);
    // True once the largest code has been listed.
    bool Complete() const { return Previous == LargestCode && AnyListed; }
    // Per rank 0..n: the code of a rank that reads a number, -1 for a rank
    // that takes the rank below, 0 for one not reached (also taking the rank
    // below, rank 0 being 0).
    const std::vector<double>& Marks() const { return MarksByRank; }

private:
    const int* CodeToRank;
    int LargestCode, Count, SmallestCode, Previous;
    GroupRule Rule;
    int LastRank = 0;
    bool AnyListed = false;
    std::vector<double> MarksByRank;
};

// Per rank 1..n the value of a value line: a rank marked with a code takes the
// next number from `next` (false: unreadable, `failedRank` says which), the
// others the stored value of the rank below. `convert` turns a number into the
// stored value.
template <typename Next, typename Convert>
bool AssignGroupedValues(const std::vector<double>& marks, std::vector<double>& values, Next next, Convert convert,
                         int* failedRank) {
    values.assign(marks.size(), 0.0);
    for (size_t r = 1; r < marks.size(); ++r) {
        if (marks[r] > 0) {
            double v = 0;
            if (!next(&v)) {
                *failedRank = static_cast<int>(r);
                return false;
            }
            values[r] = convert(v);
        } else {
            values[r] = values[r - 1];
        }
    }
    return true;
}
