#include "framework/subbasin_groups.h"

SubbasinGroupList::SubbasinGroupList(const int* codeToRank, int largestCode, int count, int smallestCode,
                                     GroupRule rule)
    : CodeToRank(codeToRank),
      LargestCode(largestCode),
      Count(count),
      SmallestCode(smallestCode),
      Previous(smallestCode),
      Rule(rule),
      MarksByRank(static_cast<size_t>(count < 0 ? 0 : count) + 1, 0.0) {}

bool SubbasinGroupList::Add(int code) {
    if (code < 1 || code > LargestCode || !CodeToRank || CodeToRank[code] <= 0 || CodeToRank[code] > Count)
        return false;
    const int rank = CodeToRank[code];
    if (rank <= LastRank) return false;
    const int previousRank = Previous >= 0 && Previous <= LargestCode ? CodeToRank[Previous] : 0;
    MarksByRank[static_cast<size_t>(rank)] = code;
    if (rank > previousRank + 1) {
        if (Previous == SmallestCode && MarksByRank[1] == 0) {
            MarksByRank[1] = SmallestCode;
            const int lastGap = Rule == GroupRule::SiltingUp ? rank : rank - 1;
            for (int r = 2; r <= lastGap; ++r) MarksByRank[static_cast<size_t>(r)] = -1;
        } else {
            for (int r = previousRank + 1; r < rank; ++r) MarksByRank[static_cast<size_t>(r)] = -1;
        }
    }
    Previous = code;
    LastRank = rank;
    AnyListed = true;
    return true;
}
