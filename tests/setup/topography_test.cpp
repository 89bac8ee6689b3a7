#include "setup/defltuzr_topography.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "setup_test_grid.h"

using namespace setuptest;

namespace {

// atan(1) and atan(sqrt(2) * (sqrt(5) - 1) / 2) with the factor of the slope
// grids (slightly below 180 / pi).
constexpr double Slope45 = 44.99999999999704;
constexpr double SlopeConeDiagonal = 41.15449939655399;
constexpr double Tol = 1e-9;

// A rows x cols elevation grid from z(row, col).
void FillElevation(Grid& g, const std::function<double(int, int)>& z) {
    for (int32_t i = 1; i <= g.Rows; ++i)
        for (int32_t j = 1; j <= g.Cols; ++j) g.at(i, j) = z(i, j);
}

struct Topography {
    Grid Elevation, Slope, Aspect;
    Diagnostics Diag;
    Topography(int32_t rows, int32_t cols) : Elevation(rows, cols), Slope(rows, cols, 0), Aspect(rows, cols, 0) {}
    void Derive(double cellSize, bool slope = true, bool aspect = true) {
        make_Slope_and_Aspect(Elevation.data(), Elevation.Rows, Elevation.Cols, cellSize, Nodata,
                              slope ? Slope.data() : nullptr, aspect ? Aspect.data() : nullptr, Diag.writer());
    }
};

TEST(SlopeAndAspect, PlanesTiltedTowardEachCompassDirection) {
    // Gradients of magnitude 1 (45 degrees); the row above is north. The
    // aspect is the direction the surface faces, opposite to where it rises.
    const double s = std::sqrt(0.5);
    struct Case {
        const char* rises;
        double east, north;  // dz per unit length
        double aspect;
    };
    const Case cases[] = {
        {"north", 0, 1, 180}, {"north-east", s, s, 225},  {"east", 1, 0, 270}, {"south-east", s, -s, 315},
        {"south", 0, -1, 0},  {"south-west", -s, -s, 45}, {"west", -1, 0, 90}, {"north-west", -s, s, 135},
    };
    const double cs = 25;
    for (const Case& c : cases) {
        Topography t(5, 6);
        FillElevation(t.Elevation, [&](int i, int j) { return 500 + c.east * j * cs + c.north * (5 - i) * cs; });
        t.Derive(cs);
        // Inner cells are computed, border cells are filled with the mean of
        // their neighbours: on a plane every cell gets the same values.
        for (int32_t i = 1; i <= 5; ++i) {
            for (int32_t j = 1; j <= 6; ++j) {
                EXPECT_NEAR(t.Slope.at(i, j), Slope45, Tol) << c.rises << " " << i << "," << j;
                EXPECT_NEAR(t.Aspect.at(i, j), c.aspect, Tol) << c.rises << " " << i << "," << j;
            }
        }
    }
}

TEST(SlopeAndAspect, GentleAndFlatPlanes) {
    // Rising towards larger columns by 2 m per 10 m cell: dx = 0.2.
    Topography t(4, 4);
    FillElevation(t.Elevation, [](int, int j) { return 2.0 * j; });
    t.Derive(10);
    EXPECT_NEAR(t.Slope.at(2, 2), 11.309932474019469, Tol);
    EXPECT_NEAR(t.Aspect.at(3, 3), 270, Tol);

    Topography flat(4, 4);
    FillElevation(flat.Elevation, [](int, int) { return 7.0; });
    flat.Derive(10);
    for (int32_t i = 1; i <= 4; ++i) {
        for (int32_t j = 1; j <= 4; ++j) {
            EXPECT_EQ(flat.Slope.at(i, j), 0);
            EXPECT_EQ(flat.Aspect.at(i, j), 0);
        }
    }
    EXPECT_NE(flat.Diag.Console().find("calculating the lokal topography (aspect, slope ...).. "), std::string::npos);
}

TEST(SlopeAndAspect, Cone) {
    // z = 10 - distance from the centre cell (3,3), in cells of 1 m.
    Topography t(5, 5);
    FillElevation(t.Elevation,
                  [](int i, int j) { return 10 - std::sqrt(double((i - 3) * (i - 3) + (j - 3) * (j - 3))); });
    t.Derive(1);
    struct Expected {
        int i, j;
        double slope, aspect;
    };
    const Expected inner[] = {
        {3, 3, 0, 0},                    // the top: both differences vanish
        {2, 3, Slope45, 0},              // north of the top faces north
        {2, 4, SlopeConeDiagonal, 45},   // north-east
        {3, 4, Slope45, 90},             // east
        {4, 4, SlopeConeDiagonal, 135},  // south-east
        {4, 3, Slope45, 180},            // south
        {4, 2, SlopeConeDiagonal, 225},  // south-west
        {3, 2, Slope45, 270},            // west
        {2, 2, SlopeConeDiagonal, 315},  // north-west
    };
    for (const Expected& e : inner) {
        EXPECT_NEAR(t.Slope.at(e.i, e.j), e.slope, Tol) << e.i << "," << e.j;
        EXPECT_NEAR(t.Aspect.at(e.i, e.j), e.aspect, Tol) << e.i << "," << e.j;
    }
    // Border cells are filled in place, row by row: (1,1) takes (2,2) alone;
    // (1,2) takes (2,3), (2,2) and the freshly filled (1,1).
    EXPECT_NEAR(t.Slope.at(1, 1), SlopeConeDiagonal, Tol);
    EXPECT_NEAR(t.Aspect.at(1, 1), 315, Tol);
    EXPECT_NEAR(t.Slope.at(1, 2), (Slope45 + 2 * SlopeConeDiagonal) / 3, Tol);
    EXPECT_NEAR(t.Aspect.at(1, 2), (0 + 315 + 315) / 3.0, Tol);
}

TEST(SlopeAndAspect, MissingElevations) {
    // A plane rising eastwards with one missing cell in the middle: its four
    // neighbours cannot be computed and are filled from theirs; the missing
    // cell itself has four valid neighbours and is computed. A value below
    // the model's nodata marks a missing cell as well.
    for (double missing : {Nodata, -99999.0}) {
        Topography t(5, 5);
        FillElevation(t.Elevation, [](int, int j) { return 3.0 * j; });
        t.Elevation.at(3, 3) = missing;
        t.Derive(3);
        const double slope = std::atan(1.0) * SlopeDegreesPerRadian;
        for (int32_t i = 1; i <= 5; ++i) {
            for (int32_t j = 1; j <= 5; ++j) {
                EXPECT_NEAR(t.Slope.at(i, j), slope, Tol) << missing << " " << i << "," << j;
                EXPECT_NEAR(t.Aspect.at(i, j), 270, Tol) << missing << " " << i << "," << j;
            }
        }
    }
}

TEST(SlopeAndAspect, SecondPassReachesCellsWithoutNeighboursInTheFirst) {
    // (1,2) is missing, so (2,2) cannot be computed; (1,1) has no valid
    // neighbour in the first pass and is filled in the second.
    Topography t(4, 4);
    FillElevation(t.Elevation, [](int i, int) { return -2.0 * i; });  // rises northwards
    t.Elevation.at(1, 2) = Nodata;
    t.Derive(1);
    EXPECT_NEAR(t.Aspect.at(1, 1), 180, Tol);
    EXPECT_NEAR(t.Slope.at(1, 1), std::atan(2.0) * SlopeDegreesPerRadian, Tol);
    // A border cell without elevation is never filled.
    EXPECT_EQ(t.Aspect.at(1, 2), Nodata);
    EXPECT_EQ(t.Slope.at(1, 2), Nodata);
}

TEST(SlopeAndAspect, CellsWithoutValidNeighboursStayNodata) {
    Topography t(5, 5);
    t.Elevation.at(1, 1) = 100;  // a corner cell
    t.Elevation.at(3, 3) = 100;  // an inner cell among missing ones
    t.Derive(1);
    for (int32_t i = 1; i <= 5; ++i) {
        for (int32_t j = 1; j <= 5; ++j) {
            EXPECT_EQ(t.Slope.at(i, j), Nodata) << i << "," << j;
            EXPECT_EQ(t.Aspect.at(i, j), Nodata) << i << "," << j;
        }
    }
}

TEST(SlopeAndAspect, GridsOfAtMostTwoRowsOrColumnsStayNodata) {
    const int32_t shapes[][2] = {{2, 5}, {5, 2}, {1, 1}, {1, 4}, {4, 1}};
    for (const auto& shape : shapes) {
        Topography t(shape[0], shape[1]);
        FillElevation(t.Elevation, [](int i, int j) { return 1.0 * i * j; });
        t.Derive(1);
        for (int32_t i = 1; i <= shape[0]; ++i) {
            for (int32_t j = 1; j <= shape[1]; ++j) {
                EXPECT_EQ(t.Slope.at(i, j), Nodata) << shape[0] << "x" << shape[1];
                EXPECT_EQ(t.Aspect.at(i, j), Nodata) << shape[0] << "x" << shape[1];
            }
        }
    }
}

TEST(SlopeAndAspect, AGivenGridIsLeftAlone) {
    for (bool deriveSlope : {true, false}) {
        Topography t(4, 5);
        FillElevation(t.Elevation, [](int, int j) { return 1.0 * j; });
        t.Slope.at(1, 1) = t.Aspect.at(1, 1) = 42;  // a given grid keeps even its border rows
        t.Derive(1, deriveSlope, !deriveSlope);
        Grid& given = deriveSlope ? t.Aspect : t.Slope;
        Grid& derived = deriveSlope ? t.Slope : t.Aspect;
        EXPECT_EQ(given.at(1, 1), 42);
        EXPECT_EQ(given.at(2, 2), 0);
        EXPECT_NEAR(derived.at(1, 1), deriveSlope ? Slope45 : 270, Tol);
    }
    // Both given: nothing is computed or logged.
    Topography t(4, 5);
    t.Derive(1, false, false);
    EXPECT_EQ(t.Slope.at(2, 2), 0);
    EXPECT_EQ(t.Diag.Console().find("calculating"), std::string::npos);
}

TEST(SlopeAndAspect, ANonPositiveCellSizeIsRefused) {
    Topography t(4, 4);
    FillElevation(t.Elevation, [](int, int j) { return 1.0 * j; });
    EXPECT_EQ(ThrownCode([&] { t.Derive(0); }), 22);
}

TEST(FillFromNeighbours, MeanOfTheValidNeighboursInsideTheGrid) {
    Grid g{{1, 2, 3}, {4, Nodata, 6}, {Nodata, -99999, 9}};
    FillFromNeighbours(2, 2, g.data(), 3, 3, Nodata);
    EXPECT_DOUBLE_EQ(g.at(2, 2), (1 + 2 + 3 + 4 + 6 + 9) / 6.0);
    // A corner has three neighbours.
    FillFromNeighbours(1, 1, g.data(), 3, 3, Nodata);
    EXPECT_DOUBLE_EQ(g.at(1, 1), (2 + 4 + (1 + 2 + 3 + 4 + 6 + 9) / 6.0) / 3);
    // No valid neighbour: the value stays.
    Grid lonely{{Nodata, Nodata}, {Nodata, 5}};
    FillFromNeighbours(2, 2, lonely.data(), 2, 2, Nodata);
    EXPECT_EQ(lonely.at(2, 2), 5);
    FillFromNeighbours(1, 1, lonely.data(), 2, 2, Nodata);
    EXPECT_EQ(lonely.at(1, 1), 5);
}

}  // namespace
