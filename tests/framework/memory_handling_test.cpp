#include "framework/memory_handling.h"

#include <gtest/gtest.h>
#include <omp.h>

#include <sstream>

#include "framework/diagnostics_writer.h"
#include "support/test_support.h"

using testsupport::TempDir;

TEST(MatrixBlockPlan, ExamplesCarveRowsIntoHalvingBlocks) {
    struct Case {
        long firstRow, lastRow, lastCol;
        std::vector<long> blocks;
    } cases[] = {
        {1, 1000, 999, {524, 262, 131, 83}},
        {1, 10, 10, {5, 2, 2, 1}},
        {1, 5000, 5000, {3354, 838, 419, 389}},
        {1, 1, 10, {1}},
    };
    memory_handling m;
    for (const auto& c : cases) {
        EXPECT_EQ(m.BlockPlan(c.firstRow, c.lastRow, c.lastCol), c.blocks) << c.lastRow << "x" << c.lastCol;
    }
}

TEST(Matrix, RowsAreContiguousWithinBlocksAndZeroed) {
    memory_handling m;
    double** grid = m.matrix(1, 10, 1, 10, 12);
    // blocks of 5, 2, 2, 1 rows: rows 1..5 lie back to back
    for (long r = 1; r < 5; ++r) EXPECT_EQ(grid[r + 1] - grid[r], 11);
    EXPECT_EQ(grid[0], nullptr);
    EXPECT_EQ(grid[11], nullptr);  // capacity beyond the last row stays null
    EXPECT_EQ(grid[12], nullptr);
    for (long r = 1; r <= 10; ++r)
        for (long c = 0; c <= 10; ++c) EXPECT_EQ(grid[r][c], 0.0);
    for (long r = 1; r <= 10; ++r)
        for (long c = 0; c <= 10; ++c) grid[r][c] = r * 100 + c;  // every cell writable
    EXPECT_EQ(grid[7][3], 703);
    m.free_matrix(grid, 1, 10, 1, 10);
}

TEST(Matrix, BadBoundsAreRefused) {
    TempDir dir;
    std::ostringstream console;
    DiagnosticsWriter writer(dir.file("d.xml"), DiagDebug, console);
    memory_handling m;
    m.Writer = &writer;
    struct Case {
        long firstRow, lastRow, lastCol, capacity;
    } cases[] = {{1, 10, 5, 5}, {5, 4, 5, 0}, {-1, 4, 5, 0}, {1, 4, -2, 0}};
    for (const auto& c : cases) {
        try {
            m.matrix(c.firstRow, c.lastRow, 1, c.lastCol, c.capacity);
            ADD_FAILURE() << "accepted rows " << c.firstRow << ".." << c.lastRow;
        } catch (int code) {
            EXPECT_EQ(code, 1);
        }
    }
    // a row whose length plus the allocator's 24 bytes is too long fails before allocating
    try {
        m.matrix(1, 2, 1, 2147480000L / 8, 0);
        ADD_FAILURE();
    } catch (int code) {
        EXPECT_EQ(code, 1);
    }
    EXPECT_NE(console.str().find("too long matrix rows"), std::string::npos);
    // exactly at the limit passes the test (plan only, nothing allocated)
    EXPECT_EQ(m.BlockPlan(1, 1, (2147480000L - 24) / 8 - 1), std::vector<long>{1});
}

TEST(Matrix, NullReleasesAreIgnored) {
    memory_handling m;
    m.free_matrix(nullptr, 1, 10, 1, 10);
    m.free_matrix3d(nullptr, 1, 10);
}

TEST(Stack, LayoutOfLevels) {
    memory_handling m;
    GridStack s = m.matrix3d(1, 3, 1, 4, 2, 0);
    for (long r = 1; r <= 3; ++r) {
        EXPECT_EQ(s[r][1] - s[r][0], 3);  // column 1 lies levels + 1 doubles after the block start
        for (long c = 1; c <= 4; ++c)
            for (long l = 0; l <= 2; ++l) {
                EXPECT_EQ(s[r][c][l], 0.0);
                s[r][c][l] = r * 100 + c * 10 + l;
            }
    }
    EXPECT_EQ(s[2][4][2], 242);
    EXPECT_EQ(s[0], nullptr);
    m.free_matrix3d(s, 1, 3);
}

// Large grids and stacks are cleared by a team of threads: every cell, the
// column 0 and the last row included, is zero even where the memory held
// values before (a grid of the same size was filled and released first).
TEST(Matrix, LargeGridsAndStacksClearedOnSeveralThreadsAreZero) {
    memory_handling m;
    const int saved = omp_get_max_threads();
    omp_set_num_threads(4);
    const long rows = 300, cols = 400, levels = 2;
    for (int round = 0; round < 2; ++round) {
        double** grid = m.matrix(1, rows, 1, cols, rows + 1);
        GridStack stack = m.matrix3d(1, rows, 1, cols, levels, 0);
        long nonZero = 0;
        for (long r = 1; r <= rows; ++r) {
            for (long c = 0; c <= cols; ++c) {
                nonZero += grid[r][c] != 0.0;
                grid[r][c] = 7.5;
            }
            for (long c = 1; c <= cols; ++c)
                for (long l = 0; l <= levels; ++l) {
                    nonZero += stack[r][c][l] != 0.0;
                    stack[r][c][l] = -3.25;
                }
        }
        EXPECT_EQ(nonZero, 0) << "round " << round;
        EXPECT_EQ(grid[rows + 1], nullptr);
        m.free_matrix(grid, 1, rows, 1, cols);
        m.free_matrix3d(stack, 1, rows);
    }
    omp_set_num_threads(saved);
}

TEST(Log2Ceil, Values) {
    memory_handling m;
    struct Case {
        double x, n;
    } cases[] = {{1, 0}, {1.5, 1}, {2, 1}, {2.5, 2}, {0, 0}, {-3, 0}, {1024, 10}, {1025, 11}};
    for (const auto& c : cases) EXPECT_EQ(m.Log2Ceil(c.x), c.n) << c.x;
}

TEST(AllocBuffer, ZeroFilledAndFailureThrows81) {
    memory_handling m;
    auto* b = static_cast<unsigned char*>(m.AllocBuffer(64, 5));
    for (int i = 0; i < 64; ++i) EXPECT_EQ(b[i], 0);
    free(b);
    m.ModuleName = "snow_model";
    try {
        m.AllocationError(7);
        ADD_FAILURE();
    } catch (int code) {
        EXPECT_EQ(code, 81);
    }
}
