// The soil model reads its per-subbasin lines through the shared group list
// with the soil rule. Every code line of a basin with gaps in its codes gives
// the same marks and accepts or refuses the same codes as the soil model's
// own list did, so the soil model's parameters stay what they were.

#include <gtest/gtest.h>

#include <vector>

#include "framework/subbasin_groups.h"
#include "soil/unsatzon.h"

TEST(SubbasinGroups, SoilRuleMatchesTheSoilModelsOwnList) {
    const std::vector<int> codes = {1, 2, 5, 8, 9};  // rank order
    const int largest = codes.back();
    std::vector<int> rank(static_cast<size_t>(largest) + 1, 0);
    for (size_t r = 0; r < codes.size(); ++r) rank[static_cast<size_t>(codes[r])] = static_cast<int>(r) + 1;
    const int n = static_cast<int>(codes.size());
    // Every code line: any subset of the codes in order, the largest last,
    // optionally followed by a refused code (repeated, unknown or 0).
    for (unsigned subset = 0; subset < (1u << (codes.size() - 1)); ++subset) {
        std::vector<int> line;
        for (size_t k = 0; k + 1 < codes.size(); ++k)
            if (subset & (1u << k)) line.push_back(codes[k]);
        line.push_back(largest);
        for (int tail : {-1, 0, 3, 8, 10}) {
            std::vector<int> listed = line;
            if (tail >= 0) listed.insert(listed.end() - 1, tail);
            SubbasinCodeMarks own(rank.data(), largest, n, codes.front());
            SubbasinGroupList shared(rank.data(), largest, n, codes.front(), GroupRule::Soil);
            for (int code : listed) {
                const bool a = own.Add(code), b = shared.Add(code);
                ASSERT_EQ(a, b) << "code " << code << " of line " << subset << "/" << tail;
                if (!a) break;
            }
            EXPECT_EQ(own.Complete(), shared.Complete()) << subset << "/" << tail;
            EXPECT_EQ(own.Marks(), shared.Marks()) << subset << "/" << tail;
        }
    }
}
