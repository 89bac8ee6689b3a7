#include "setup/defltuzr_cellsize.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "framework/zonetable.h"
#include "setup_test_grid.h"

using namespace setuptest;

namespace {

constexpr double Cs = 10;
const double NaN = std::numeric_limits<double>::quiet_NaN();

// Two rows of three cells; cell (2,2) lies outside the basin.
struct CellGeometry {
    Grid Zones{{1, 1, 1}, {1, Nodata, 1}};
    Grid X{2, 3, NaN}, Y{2, 3, NaN}, R{2, 3, NaN};
    CellSizeGrids Grids;
    Diagnostics Diag;

    // A given grid holds `value` everywhere; a made one holds NaN, so that any
    // read before a value is set shows in the result.
    CellGeometry(double givenX, double givenY, double givenR) {
        Grids.CellSizeX = X.data();
        Grids.CellSizeY = Y.data();
        Grids.RelCellArea = R.data();
        Grids.GivenX = !std::isnan(givenX);
        Grids.GivenY = !std::isnan(givenY);
        Grids.GivenRelCellArea = !std::isnan(givenR);
        Grids.FileX = "sizes.csx";
        Grids.FileY = "sizes.csy";
        Grids.FileRelCellArea = "area.rca";
        Fill(X, givenX);
        Fill(Y, givenY);
        Fill(R, givenR);
    }
    static void Fill(Grid& g, double v) {
        for (int32_t i = 1; i <= g.Rows; ++i)
            for (int32_t j = 1; j <= g.Cols; ++j) g.at(i, j) = v;
    }
    int Check() {
        return ThrownCode([&] { CheckCellSizes(Zones.data(), 2, 3, Cs, Nodata, Grids, Diag.writer()); });
    }
};

TEST(CheckCellSizes, DerivesTheMissingGridsForEveryCombination) {
    struct Case {
        const char* name;
        double givenX, givenY, givenR;
        double x, y, r;
    };
    const Case cases[] = {
        {"nothing given", NaN, NaN, NaN, 10, 10, 1},
        {"area only", NaN, NaN, 4, 20, 20, 4},
        {"area only, small", NaN, NaN, 0.25, 5, 5, 0.25},
        {"width only", 20, NaN, NaN, 20, 10, 2},
        {"height only", NaN, 5, NaN, 10, 5, 0.5},
        {"width and height", 20, 5, NaN, 20, 5, 1},
        {"width and area", 20, NaN, 4, 20, 20, 4},
        {"height and area", NaN, 5, 0.25, 5, 5, 0.25},
        {"all three, agreeing", 20, 5, 1.000005, 20, 5, 1.000005},
        {"all three, agreeing below", 20, 5, 0.999991, 20, 5, 0.999991},
    };
    for (const Case& c : cases) {
        CellGeometry g(c.givenX, c.givenY, c.givenR);
        ASSERT_EQ(g.Check(), 0) << c.name;
        for (int32_t i = 1; i <= 2; ++i) {
            for (int32_t j = 1; j <= 3; ++j) {
                const bool inside = !(i == 2 && j == 2);
                EXPECT_DOUBLE_EQ(g.X.at(i, j), inside ? c.x : Nodata) << c.name << " " << i << "," << j;
                EXPECT_DOUBLE_EQ(g.Y.at(i, j), inside ? c.y : Nodata) << c.name << " " << i << "," << j;
                EXPECT_DOUBLE_EQ(g.R.at(i, j), inside ? c.r : Nodata) << c.name << " " << i << "," << j;
            }
        }
        EXPECT_NE(g.Diag.Console().find("Checking cell sizes for variable Cells..."), std::string::npos);
    }
}

TEST(CheckCellSizes, VaryingSizesAreDerivedCellByCell) {
    CellGeometry g(NaN, NaN, NaN);
    g.Grids.GivenX = true;
    g.Grids.GivenRelCellArea = true;
    const double widths[] = {0, 5, 10, 40};
    const double areas[] = {0, 0.5, 1, 2};
    for (int32_t j = 1; j <= 3; ++j) {
        g.X.at(1, j) = g.X.at(2, j) = widths[j];
        g.R.at(1, j) = g.R.at(2, j) = areas[j];
    }
    ASSERT_EQ(g.Check(), 0);
    // Y = R * cs^2 / X: 0.5*100/5, 1*100/10, 2*100/40.
    EXPECT_DOUBLE_EQ(g.Y.at(1, 1), 10);
    EXPECT_DOUBLE_EQ(g.Y.at(1, 2), 10);
    EXPECT_DOUBLE_EQ(g.Y.at(1, 3), 5);
    EXPECT_DOUBLE_EQ(g.Y.at(2, 3), 5);
    EXPECT_EQ(g.Y.at(2, 2), Nodata);
}

TEST(CheckCellSizes, BadGivenValuesEndTheRunAtTheFirstCell) {
    struct Case {
        const char* name;
        double givenX, givenY, givenR;
        int row, col;     // the bad cell
        double badValue;  // put into the grid named by `which`
        char which;
        const char* message;
    };
    const Case cases[] = {
        {"zero width", 20, NaN, NaN, 2, 3, 0, 'x',
         "cell size in x direction is zero at row 2, column 3,\nread from file sizes.csx\n"},
        {"zero width with height", 20, 5, NaN, 1, 2, 0, 'x', "cell size in x direction is zero at row 1, column 2,"},
        {"zero height", NaN, 5, 0.25, 2, 1, 0, 'y',
         "cell size in y direction is zero at row 2, column 1,\nread from file sizes.csy"},
        {"zero height with width", 20, 5, NaN, 1, 3, 0, 'y', "cell size in y direction is zero at row 1, column 3,"},
        {"missing width", 20, NaN, 4, 1, 1, Nodata, 'x',
         "cell size in x direction is negative or missing (-9999) at row 1, column 1,"},
        {"negative height", NaN, 5, NaN, 2, 3, -5, 'y',
         "cell size in y direction is negative or missing (-5) at row 2, column 3,"},
        {"negative area", NaN, NaN, 4, 1, 3, -1, 'r', "relative cell area is not positive (-1) at row 1, column 3,"},
        {"zero area", 20, NaN, 4, 2, 1, 0, 'r', "relative cell area is not positive (0) at row 2, column 1,"},
        {"mismatch", 20, 5, 1, 1, 2, 1.0001, 'r',
         "Cell size Y (5, from sizes.csy) times\ncell size X (20, from sizes.csx) \ndivided by the mean cell area is 1 "
         "and differs from \nthe relative grid cell size 1.0001 (from area.rca) by more than 0.001%%\n"},
        {"mismatch below", 20, 5, 1, 1, 1, 0.9999, 'r', "the relative grid cell size 0.9999 (from area.rca)"},
    };
    for (const Case& c : cases) {
        CellGeometry g(c.givenX, c.givenY, c.givenR);
        Grid& target = c.which == 'x' ? g.X : c.which == 'y' ? g.Y : g.R;
        target.at(c.row, c.col) = c.badValue;
        target.at(2, 3) = c.badValue;  // a later bad cell is not the one reported
        EXPECT_EQ(g.Check(), 66) << c.name;
        const std::string console = g.Diag.Console();
        EXPECT_NE(console.find(c.message), std::string::npos) << c.name << "\n" << console;
    }
}

TEST(CheckCellSizes, BadValuesOutsideTheBasinAreIgnored) {
    CellGeometry g(20, 5, 1);
    g.X.at(2, 2) = 0;
    g.R.at(2, 2) = 7;
    EXPECT_EQ(g.Check(), 0);
    EXPECT_EQ(g.X.at(2, 2), Nodata);
    EXPECT_EQ(g.R.at(2, 2), Nodata);
}

TEST(CheckCellSizes, ANonPositiveRasterCellSizeIsRefused) {
    for (double cs : {0.0, -10.0, NaN, std::numeric_limits<double>::infinity()}) {
        CellGeometry g(NaN, NaN, NaN);
        EXPECT_EQ(ThrownCode([&] { CheckCellSizes(g.Zones.data(), 2, 3, cs, Nodata, g.Grids, g.Diag.writer()); }), 22)
            << cs;
    }
}

// The coordinate grids of a 3 x 4 raster with its lower-left corner at
// (1000, 2000).
struct Coordinates {
    Grid Zones;
    Grid X, Y, CoordX{3, 4, NaN}, CoordY{3, 4, NaN};
    std::vector<RowExtent> Extents;

    explicit Coordinates(std::initializer_list<std::initializer_list<double>> zones)
        : Zones(zones), X(3, 4, Cs), Y(3, 4, Cs) {
        Extents = DeriveRowExtents(Zones.data(), 3, 4, Nodata);
        for (int32_t i = 1; i <= 3; ++i)
            for (int32_t j = 1; j <= 4; ++j)
                if (Zones.at(i, j) == Nodata) X.at(i, j) = Y.at(i, j) = Nodata;
    }
    void Make(bool variable) {
        MakeCoordinateGrids(Zones.data(), 3, 4, 1000, 2000, Cs, Nodata, Extents.data(), variable ? X.data() : nullptr,
                            variable ? Y.data() : nullptr, CoordX.data(), CoordY.data());
    }
};

TEST(MakeCoordinateGrids, RegularRasterGivesTheCornerCoordinates) {
    for (bool variable : {false, true}) {
        Coordinates c({{Nodata, 1, 1, 1}, {1, 1, 1, 1}, {1, 1, Nodata, 1}});
        c.Make(variable);
        for (int32_t i = 1; i <= 3; ++i) {
            for (int32_t j = 1; j <= 4; ++j) {
                if (c.Zones.at(i, j) == Nodata) {
                    EXPECT_EQ(c.CoordX.at(i, j), Nodata);
                    EXPECT_EQ(c.CoordY.at(i, j), Nodata);
                    continue;
                }
                EXPECT_DOUBLE_EQ(c.CoordX.at(i, j), 1000 + (j - 1) * Cs) << variable << " " << i << "," << j;
                EXPECT_DOUBLE_EQ(c.CoordY.at(i, j), 2000 + (3 - i) * Cs) << variable << " " << i << "," << j;
            }
        }
    }
}

TEST(MakeCoordinateGrids, VariableCellsSumWidthsAndHeights) {
    Coordinates c({{1, 1, 1, 1}, {1, Nodata, 1, 1}, {Nodata, 1, 1, 1}});
    // Widths per column 10, 20, 5, (last not used); heights of the rows from
    // the bottom: 8, 30, (top not used). Cells outside the basin count cs.
    const double widths[] = {0, 10, 20, 5, 7};
    const double heights[] = {0, 50, 30, 8};
    for (int32_t i = 1; i <= 3; ++i) {
        for (int32_t j = 1; j <= 4; ++j) {
            if (c.Zones.at(i, j) == Nodata) continue;
            c.X.at(i, j) = widths[j];
            c.Y.at(i, j) = heights[i];
        }
    }
    c.Make(true);
    // Top row: x 1000, 1010, 1030, 1035; y = 2000 + 8 + 30, except where an
    // outside cell below counts cs: (3,1) and (2,2).
    const double x1[] = {0, 1000, 1010, 1030, 1035};
    const double y1[] = {0, 2040, 2018, 2038, 2038};
    // Middle row: cell (2,2) is outside; its width counts cs.
    const double x2[] = {0, 1000, 1010, 1020, 1025};
    const double y2[] = {0, 2010, Nodata, 2008, 2008};
    // Bottom row: column 1 is outside, so the sum starts at the regular x of
    // column 2.
    const double x3[] = {0, Nodata, 1010, 1030, 1035};
    for (int32_t j = 1; j <= 4; ++j) {
        EXPECT_DOUBLE_EQ(c.CoordX.at(1, j), x1[j]) << j;
        EXPECT_DOUBLE_EQ(c.CoordY.at(1, j), y1[j]) << j;
        EXPECT_DOUBLE_EQ(c.CoordX.at(2, j), j == 2 ? Nodata : x2[j]) << j;
        EXPECT_DOUBLE_EQ(c.CoordY.at(2, j), y2[j]) << j;
        EXPECT_DOUBLE_EQ(c.CoordX.at(3, j), x3[j]) << j;
        EXPECT_DOUBLE_EQ(c.CoordY.at(3, j), j == 1 ? Nodata : 2000) << j;
    }
}

TEST(MakeCoordinateGrids, AnEmptyLastRowKeepsTheRegularValues) {
    Coordinates c({{1, 1, 1, 1}, {1, 1, 1, 1}, {Nodata, Nodata, Nodata, Nodata}});
    for (int32_t j = 1; j <= 4; ++j) c.X.at(1, j) = c.X.at(2, j) = 20;
    c.Make(true);
    for (int32_t j = 1; j <= 4; ++j) {
        EXPECT_EQ(c.CoordX.at(3, j), Nodata);
        EXPECT_DOUBLE_EQ(c.CoordX.at(2, j), 1000 + (j - 1) * 20);
        EXPECT_DOUBLE_EQ(c.CoordY.at(2, j), 2010);  // the empty row below counts cs
        EXPECT_DOUBLE_EQ(c.CoordY.at(1, j), 2020);
    }
}

// The whole chain of the set-up: no cell-size grid given, then coordinates.
TEST(MakeCoordinateGrids, DerivedSizesGiveTheRegularCorners) {
    CellGeometry g(NaN, NaN, NaN);
    ASSERT_EQ(g.Check(), 0);
    const std::vector<RowExtent> extents = DeriveRowExtents(g.Zones.data(), 2, 3, Nodata);
    Grid cx(2, 3, NaN), cy(2, 3, NaN);
    MakeCoordinateGrids(g.Zones.data(), 2, 3, 0.5, -7, Cs, Nodata, extents.data(), g.X.data(), g.Y.data(), cx.data(),
                        cy.data());
    for (int32_t i = 1; i <= 2; ++i) {
        for (int32_t j = 1; j <= 3; ++j) {
            if (i == 2 && j == 2) continue;
            EXPECT_DOUBLE_EQ(cx.at(i, j), 0.5 + (j - 1) * Cs);
            EXPECT_DOUBLE_EQ(cy.at(i, j), -7 + (2 - i) * Cs);
        }
    }
}

}  // namespace
