#include "framework/zonetable.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <sstream>
#include <vector>

#include "framework/diagnostics_writer.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

constexpr double Missing = -9999;

// A 1-based grid [1..rows][1..cols]; row 0 and column 0 exist but are unused.
class TestGrid {
public:
    TestGrid(int32_t rows, int32_t cols, double fill = Missing)
        : Rows(rows), Cols(cols), Cells(static_cast<size_t>(rows + 1) * (cols + 1), fill), RowPointers(rows + 1) {
        for (int32_t i = 0; i <= rows; ++i) RowPointers[i] = &Cells[static_cast<size_t>(i) * (cols + 1)];
    }
    // Rows given top to bottom, columns left to right.
    TestGrid(std::initializer_list<std::initializer_list<double>> rows)
        : TestGrid(static_cast<int32_t>(rows.size()), static_cast<int32_t>(rows.begin()->size())) {
        int32_t i = 1;
        for (const auto& row : rows) {
            int32_t j = 1;
            for (double v : row) RowPointers[i][j++] = v;
            ++i;
        }
    }
    TestGrid(const TestGrid&) = delete;
    TestGrid(TestGrid&&) = default;  // the row pointers keep pointing into the moved cells
    double** data() { return RowPointers.data(); }
    double& at(int32_t i, int32_t j) { return RowPointers[i][j]; }
    const int32_t Rows, Cols;

private:
    std::vector<double> Cells;
    std::vector<double*> RowPointers;
};

// Row extents that cover every column of every row.
std::vector<RowExtent> FullExtents(int32_t rows, int32_t cols) {
    std::vector<RowExtent> e(rows + 1);
    for (int32_t i = 1; i <= rows; ++i) e[i] = {1, cols};
    return e;
}

class ZoneRanking : public ::testing::Test {
protected:
    ZoneRanking() : Writer(Dir.file("diag.xml"), DiagDebug, Console) {}

    ZoneTable Rank(ZoneRankingKind kind, TestGrid& grid, const std::vector<RowExtent>* extents = nullptr,
                   double** relativeArea = nullptr, double cellSize = 1000) {
        std::vector<RowExtent> full = FullExtents(grid.Rows, grid.Cols);
        const RowExtent* e = extents ? extents->data() : full.data();
        return RankZoneGrid(kind, grid.data(), grid.Rows, grid.Cols, e, Missing, cellSize, relativeArea, &Writer,
                            "zones.asc", "unsatzon_model");
    }

    // The code thrown by a ranking, or 0 when it succeeds.
    int ThrownCode(ZoneRankingKind kind, TestGrid& grid, double** relativeArea = nullptr) {
        try {
            Rank(kind, grid, nullptr, relativeArea);
        } catch (int code) {
            return code;
        }
        return 0;
    }

    TempDir Dir;
    std::ostringstream Console;
    DiagnosticsWriter Writer;
};

const ZoneRankingKind BothKinds[] = {ZoneRankingKind::SubModel, ZoneRankingKind::SetUp};

TEST_F(ZoneRanking, CodesAreRankedInAscendingOrder) {
    for (ZoneRankingKind kind : BothKinds) {
        TestGrid grid{{5, 2, 9}, {9, Missing, 5}};
        const ZoneTable t = Rank(kind, grid);
        ASSERT_EQ(t.Count, 3);
        EXPECT_EQ(t.LargestCode, 9);
        ASSERT_EQ(t.Records.size(), 4u);
        EXPECT_EQ(t.Records[1].zonenwert, 2);
        EXPECT_EQ(t.Records[2].zonenwert, 5);
        EXPECT_EQ(t.Records[3].zonenwert, 9);
        EXPECT_EQ(t.CodeToRank, (std::vector<int>{0, 0, 1, 0, 0, 2, 0, 0, 0, 3}));
        // Without relative areas every cell counts 1.
        const double sx[] = {0, 1, 2, 2};
        for (int k = 1; k <= 3; ++k) {
            EXPECT_EQ(t.Records[k].sx, sx[k]);
            EXPECT_EQ(t.Records[k].n, sx[k]);
            EXPECT_EQ(t.Records[k].RelCellSum, sx[k]);
            EXPECT_DOUBLE_EQ(t.Records[k].rel, sx[k] / 5);
        }
        // Basin record: 5 cells of 1 km2.
        EXPECT_DOUBLE_EQ(t.Records[0].rel, 5.0);
        EXPECT_EQ(t.Records[0].n, 0);
        EXPECT_EQ(t.Records[0].sx, 0);
        EXPECT_EQ(t.Records[0].RelCellSum, 0);
        EXPECT_EQ(t.Records[0].zonenwert, kind == ZoneRankingKind::SubModel ? 1 : 0);
    }
    EXPECT_NE(Console.str().find("ranking zones from zones.asc for unsatzon_model"), std::string::npos);
}

TEST_F(ZoneRanking, CellValuesRoundHalvesUpwards) {
    struct Case {
        double value;
        int code;
    };
    const Case cases[] = {{4.5, 5}, {4.49, 4}, {-0.5, 0}, {0, 0}, {0.49, 0}, {32767, 32767}, {32767.49, 32767}};
    for (const Case& c : cases) {
        TestGrid grid{{c.value}};
        const ZoneTable t = Rank(ZoneRankingKind::SubModel, grid);
        ASSERT_EQ(t.Count, 1) << c.value;
        EXPECT_EQ(t.LargestCode, c.code) << c.value;
        EXPECT_EQ(t.CodeToRank[c.code], 1) << c.value;
        // The record keeps the value of the first cell met with the code.
        EXPECT_EQ(t.Records[1].zonenwert, c.value);
    }
    // Two values of one code form one zone.
    TestGrid grid{{4.5, 5.2, 4.49}};
    const ZoneTable t = Rank(ZoneRankingKind::SetUp, grid);
    ASSERT_EQ(t.Count, 2);
    EXPECT_EQ(t.Records[1].sx, 1);
    EXPECT_EQ(t.Records[2].sx, 2);
    EXPECT_EQ(t.Records[2].zonenwert, 4.5);
}

TEST_F(ZoneRanking, RelativeAreasWeightTheCells) {
    TestGrid grid{{3, 7}};
    TestGrid area{{0.5, 0.7}};
    const ZoneTable t = Rank(ZoneRankingKind::SubModel, grid, nullptr, area.data(), 1000);
    ASSERT_EQ(t.Count, 2);
    EXPECT_DOUBLE_EQ(t.Records[0].rel, 1.2);
    EXPECT_EQ(t.Records[1].sx, 1);
    EXPECT_DOUBLE_EQ(t.Records[1].n, 0.5);
    EXPECT_DOUBLE_EQ(t.Records[1].RelCellSum, 0.5);
    EXPECT_DOUBLE_EQ(t.Records[1].rel, 0.5 / 1.2);
    EXPECT_DOUBLE_EQ(t.Records[2].n, 0.7);
    EXPECT_DOUBLE_EQ(t.Records[2].rel, 0.7 / 1.2);
}

TEST_F(ZoneRanking, SubModelNeverLooksOutsideItsRowExtents) {
    // Outside the extents lie values that would end the run if they were read.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    TestGrid grid{{-5, 1, 1, 40000}, {nan, nan, nan, nan}, {99999, 99999, 2, 2}};
    TestGrid area{{nan, 1, 1, nan}, {nan, nan, nan, nan}, {nan, nan, 1, 1}};
    std::vector<RowExtent> extents = {{}, {2, 3}, {0, -1}, {3, 4}};
    const ZoneTable t = Rank(ZoneRankingKind::SubModel, grid, &extents, area.data());
    ASSERT_EQ(t.Count, 2);
    EXPECT_EQ(t.Records[1].sx, 2);
    EXPECT_EQ(t.Records[2].sx, 2);
    EXPECT_DOUBLE_EQ(t.Records[0].rel, 4.0);
    EXPECT_TRUE(t.RowExtents.empty());
}

TEST_F(ZoneRanking, SetUpDerivesRowExtentsFromTheWholeGrid) {
    TestGrid grid{{Missing, 1, Missing, 1, Missing}, {Missing, Missing, Missing, Missing, Missing}, {2, 2, 2, 2, 2}};
    const ZoneTable t = Rank(ZoneRankingKind::SetUp, grid);
    ASSERT_EQ(t.RowExtents.size(), 4u);
    EXPECT_EQ(t.RowExtents[1].first, 2);
    EXPECT_EQ(t.RowExtents[1].last, 4);
    EXPECT_EQ(t.RowExtents[2].first, 0);
    EXPECT_EQ(t.RowExtents[2].last, -1);
    EXPECT_EQ(t.RowExtents[3].first, 1);
    EXPECT_EQ(t.RowExtents[3].last, 5);
    // A missing cell inside a row's extent is still skipped.
    EXPECT_EQ(t.Records[1].sx, 2);
    EXPECT_EQ(t.Records[2].sx, 5);

    const std::vector<RowExtent> derived = DeriveRowExtents(grid.data(), grid.Rows, grid.Cols, Missing);
    ASSERT_EQ(derived.size(), 4u);
    for (int i = 1; i <= 3; ++i) {
        EXPECT_EQ(derived[i].first, t.RowExtents[i].first);
        EXPECT_EQ(derived[i].last, t.RowExtents[i].last);
    }
}

TEST_F(ZoneRanking, CodesOutsideTheRangeEndTheRunWithCode3) {
    const double bad[] = {32768, -1, 32767.5, -0.51, std::numeric_limits<double>::quiet_NaN(),
                          std::numeric_limits<double>::infinity(), 1e300};
    for (double value : bad) {
        for (ZoneRankingKind kind : BothKinds) {
            TestGrid grid{{1, value, 2}};
            EXPECT_EQ(ThrownCode(kind, grid), 3) << value;
        }
    }
    const std::string out = Console.str();
    EXPECT_NE(out.find("wrong zone index in zones.asc!\n Zones have to range from 0 to 32767!\n"),
              std::string::npos);
    EXPECT_NE(out.find("invalid zone code in zones.asc!\n (codes has to be between 0 and 32767)!\n"),
              std::string::npos);
}

TEST_F(ZoneRanking, NoValidCellOrNoWeightEndsTheRunWithCode7) {
    for (ZoneRankingKind kind : BothKinds) {
        TestGrid empty(3, 4);
        EXPECT_EQ(ThrownCode(kind, empty), 7);
        TestGrid grid{{1, 2}};
        TestGrid zeroArea{{0, 0}};
        EXPECT_EQ(ThrownCode(kind, grid, zeroArea.data()), 7);
    }
    TestGrid none(0, 0);
    EXPECT_EQ(ThrownCode(ZoneRankingKind::SetUp, none), 7);
    const std::string out = Console.str();
    EXPECT_NE(out.find("all cells in zones.asc are NODATA!\n"), std::string::npos);
    EXPECT_NE(out.find("all cells in the zone grid zones.asc are NODATA!\n"), std::string::npos);
    const auto lines = DiagLines(ReadFile(Dir.file("diag.xml")));
    int fatal = 0;
    for (const auto& l : lines) fatal += l.level == DiagFatal;
    EXPECT_EQ(fatal, 5);
}

TEST_F(ZoneRanking, ZoneCountLimits) {
    auto distinct = [](int count) {
        TestGrid grid(1, count);
        for (int j = 1; j <= count; ++j) grid.at(1, j) = count - j;  // codes met in descending order
        return grid;
    };
    {
        TestGrid grid = distinct(MaxZoneCount);
        const ZoneTable t = Rank(ZoneRankingKind::SetUp, grid);
        EXPECT_EQ(t.Count, MaxZoneCount);
        EXPECT_EQ(t.Records[1].zonenwert, 0);
        EXPECT_EQ(t.Records[MaxZoneCount].zonenwert, MaxZoneCount - 1);
        EXPECT_EQ(t.CodeToRank[MaxZoneCount - 1], MaxZoneCount);
    }
    {
        TestGrid grid = distinct(MaxZoneCount + 1);
        EXPECT_EQ(ThrownCode(ZoneRankingKind::SetUp, grid), 4);
        EXPECT_EQ(ThrownCode(ZoneRankingKind::SubModel, grid), 4);
    }
    {
        TestGrid grid = distinct(MaxSubbasinCount);
        EXPECT_EQ(ThrownCode(ZoneRankingKind::SubModel, grid), 0);
    }
    {
        TestGrid grid = distinct(MaxSubbasinCount + 1);
        EXPECT_EQ(ThrownCode(ZoneRankingKind::SubModel, grid), 4);
        EXPECT_EQ(ThrownCode(ZoneRankingKind::SetUp, grid), 0);
    }
    const std::string out = Console.str();
    EXPECT_NE(out.find("too much zones in zones.asc, (max. 16000)!\n"), std::string::npos);
    EXPECT_NE(out.find("too much zones in zones.asc, (max. 16000!)\n"), std::string::npos);
    EXPECT_NE(out.find("too much subbasins (10001) in unsatzon_model (max. 10000). Ende!\n"), std::string::npos);
}

}  // namespace
