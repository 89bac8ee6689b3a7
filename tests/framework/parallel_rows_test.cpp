#include "framework/parallel_rows.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

TEST(ThreadsForLoad, TakesTheIdleCoresAndAtLeastOne) {
    struct Case {
        int cores;
        double load;
        int threads;
    };
    const Case cases[] = {
        {8, 0.0, 8},  {8, 0.4, 8},   {8, 0.5, 7},  {8, 4.9, 3},   {8, 5.0, 3},        {8, 7.4, 1},
        {8, 7.6, 1},  {8, 8.0, 1},   {8, 45.0, 1}, {1, 0.0, 1},   {1, 3.0, 1},        {0, 0.0, 1},
        {-3, 2.0, 1}, {8, -1.0, 8},  {4, 1.2, 3},  {16, 2.5, 13}, {8, std::numeric_limits<double>::infinity(), 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ThreadsForLoad(c.cores, c.load), c.threads) << c.cores << " cores, load " << c.load;
    EXPECT_EQ(ThreadsForLoad(8, std::numeric_limits<double>::quiet_NaN()), 8);
}

TEST(OtherLoad, TakesTheSmallerOfAverageAndTasksRunnableNow) {
    struct Case {
        const char* text;
        double load;
    };
    const Case cases[] = {
        {"5.64 4.33 1.97 3/188 14074\n", 2},   // the reader and two others run now
        {"0.80 0.50 0.20 9/400 100\n", 0.8},   // a crowd that has only just started
        {"2.00 1.00 1.00 1/100 7\n", 0},       // only the reader runs
        {"45.61 23.49 9.88 54/419 27877", 45.61},
        {"", -1},
        {"garbage", -1},
        {"1.0 1.0 1.0\n", -1},
        {"1.0 1.0 1.0 0/10 5\n", -1},
    };
    for (const Case& c : cases) EXPECT_DOUBLE_EQ(OtherLoad(c.text), c.load) << c.text;
    EXPECT_LT(OtherLoad(nullptr), 0);
}

}  // namespace
