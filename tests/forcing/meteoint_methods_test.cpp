#include "forcing/meteoint_methods.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

namespace {

using meteoint::StationFile;

constexpr double N = 9999;     // station nodata bound
constexpr double Missing = -10000;  // -N - 1
constexpr double G = -9999;    // grid nodata value

// Station arrays of one file, 1-based like the input's.
struct Stations {
    std::vector<double> v{0}, z{0}, x{0}, y{0};

    Stations& Add(double xi, double yi, double zi, double vi) {
        x.push_back(xi);
        y.push_back(yi);
        z.push_back(zi);
        v.push_back(vi);
        return *this;
    }
    // Without anisotropy the rotated coordinates are the unrotated arrays.
    StationFile File() const { return {v, z, x, y, x, y}; }
};

meteoint::IdwParameters Idw(double weight, double maxDistance = 1e7, double ratio = 1) {
    return meteoint::MakeIdwParameters(weight, maxDistance, ratio);
}

TEST(MeteointIdw, WeightsAndMaximumDistance) {
    // Point (0, 0); stations 1000 m east with 10 and 2000 m north with 20.
    Stations s;
    s.Add(1000, 0, 0, 10).Add(0, 2000, 0, 20);
    struct Case {
        std::string what;
        double weight, maxDistance, expected;
    };
    const std::vector<Case> cases = {
        {"weight 2: 1/d2 gives 4:1", 2, 1e7, 12.0},
        {"weight 1: 1/d gives 2:1", 1, 1e7, 40.0 / 3},
        {"weight 1.5: 2^1.5:1", 1.5, 1e7, 12.612038749637415},
        {"weight 2, station exactly at D keeps its weight", 2, 2000, 12.0},
        {"weight 1, station exactly at D keeps its weight", 1, 2000, 40.0 / 3},
        {"weight 1.5, station exactly at D keeps its weight", 1.5, 2000, 12.612038749637415},
        {"weight 2, station beyond D", 2, 1999.9, 10.0},
        {"weight 1, station beyond D", 1, 1999.9, 10.0},
        {"weight 1.5, station beyond D", 1.5, 1999.9, 10.0},
        {"weight 2, both beyond D", 2, 999, Missing},
        // Mode 2000 also for a weight just above 2: D is still compared as a
        // distance, not as a squared distance.
        {"weight 2.0005 within D", 2.0005, 2500, 12.0},
        {"weight 2.0005 beyond D", 2.0005, 1500, 10.0},
    };
    for (const auto& c : cases)
        EXPECT_NEAR(meteoint::IdwValue(s.File(), Idw(c.weight, c.maxDistance), N, 0, 0), c.expected, 1e-9) << c.what;
}

TEST(MeteointIdw, StationOnThePointWeighsAsOneAtOneMetre) {
    // Stations at 0 m with 10 and at 2 m with 20.
    Stations s;
    s.Add(500, 500, 0, 10).Add(502, 500, 0, 20);
    struct Case {
        double weight, expected;
    };
    const std::vector<Case> cases = {
        {2, (10 + 20 / 4.0) / 1.25},   // weights 1 and 1/4
        {1, (10 + 20 / 2.0) / 1.5},    // weights 1 and 1/2
        {3, (10 + 20 / 8.0) / 1.125},  // weights 1 and 1/8
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(meteoint::IdwValue(s.File(), Idw(c.weight), N, 500, 500), c.expected, 1e-12) << c.weight;
        EXPECT_NEAR(meteoint::IdwValueAnisotropic(s.File(), Idw(c.weight, 1e7, 0.5), N, 500, 500),
                    15.0, 1e-12)
            << "anisotropic, the 2 m along x shrink to 1 m: " << c.weight;
    }
}

TEST(MeteointIdw, NothingToInterpolateFrom) {
    Stations invalid;
    invalid.Add(100, 0, 0, -10000).Add(0, 100, 0, -20000);
    Stations empty;
    for (double weight : {2.0, 1.0, 1.5}) {
        EXPECT_EQ(meteoint::IdwValue(invalid.File(), Idw(weight), N, 0, 0), Missing);
        EXPECT_EQ(meteoint::IdwValue(empty.File(), Idw(weight), N, 0, 0), Missing);
        EXPECT_EQ(meteoint::IdwValueAnisotropic(empty.File(), Idw(weight, 1e7, 0.5), N, 0, 0), Missing);
    }
    // Another bound gives another marker; -N itself is a valid value.
    EXPECT_EQ(meteoint::IdwValue(invalid.File(), Idw(2), 99, 0, 0), -100);
    Stations bound;
    bound.Add(100, 0, 0, -9999).Add(0, 100, 0, -10000);
    EXPECT_EQ(meteoint::IdwValue(bound.File(), Idw(2), N, 0, 0), -9999);
}

TEST(MeteointIdw, IdwModes) {
    EXPECT_EQ(meteoint::IdwMode(2.0), 2000);
    EXPECT_EQ(meteoint::IdwMode(1.0), 1000);
    EXPECT_EQ(meteoint::IdwMode(2.0009), 2000);
    EXPECT_EQ(meteoint::IdwMode(1.9999), 1999);
    EXPECT_EQ(meteoint::IdwMode(0.5), 500);
    EXPECT_EQ(meteoint::IdwMode(1e12), -1);  // would not fit into 32 bits
    EXPECT_EQ(meteoint::IdwMode(std::nan("")), -1);
}

TEST(MeteointIdw, AnisotropyShrinksDistancesAlongTheMainAxis) {
    // Point (0, 0) in the rotated frame; station A 1000 m along x' with 10,
    // station B 1000 m along y' with 20. With b/a = 0.5 A counts as 500 m.
    Stations s;
    s.Add(1000, 0, 0, 10).Add(0, 1000, 0, 20);
    struct Case {
        std::string what;
        double weight, maxDistance, ratio, expected;
    };
    const std::vector<Case> cases = {
        {"b/a 0.5, weight 2: weights 4:1", 2, 1e7, 0.5, 12.0},
        {"b/a 0.5, weight 1: weights 2:1", 1, 1e7, 0.5, 40.0 / 3},
        {"b/a 1: equal weights", 2, 1e7, 1, 15.0},
        {"b/a 0.5, D between the scaled distances", 2, 600, 0.5, 10.0},
        {"b/a 0.5, D exactly at the scaled distance", 1, 500, 0.5, 10.0},
    };
    for (const auto& c : cases)
        EXPECT_NEAR(meteoint::IdwValueAnisotropic(s.File(), Idw(c.weight, c.maxDistance, c.ratio), N, 0, 0),
                    c.expected, 1e-9)
            << c.what;
    // The selector takes the anisotropic weighting below 1 only.
    EXPECT_NEAR(meteoint::IdwSelected(s.File(), Idw(2, 1e7, 0.5), N, 0, 0), 12.0, 1e-9);
    EXPECT_NEAR(meteoint::IdwSelected(s.File(), Idw(2, 1e7, 1), N, 0, 0), 15.0, 1e-9);
}

TEST(MeteointRegression, ThreeLayersAndTrendPlane) {
    meteoint::RegressionSet set;
    set.A1 = 10, set.B1 = -0.006, set.Hl = 500;
    set.A2 = 7, set.B2 = -0.004, set.Hu = 1500;
    set.A3 = 4, set.B3 = -0.002;
    set.C0 = Missing, set.Cx = 0, set.Cy = 0;  // no plane
    struct Case {
        std::string what;
        double z, expected;
    };
    const std::vector<Case> layers = {
        {"lower layer", 0, 10},
        {"just below hl", 499.99, 10 - 0.006 * 499.99},
        {"at hl: middle layer", 500, 5},
        {"middle layer", 1000, 3},
        {"at hu: middle layer", 1500, 1},
        {"just above hu", 1500.01, 4 - 0.002 * 1500.01},
        {"upper layer", 2000, 0},
    };
    for (const auto& c : layers)
        EXPECT_NEAR(meteoint::RegressionValue(set, N, G, 1000, 500, c.z), c.expected, 1e-12) << c.what;

    // Plane P = 0.001 x + 1 + 0.002 y = 3 at (1000, 500): it replaces a1 and
    // shifts the upper intercepts by P - a1 = -7.
    meteoint::RegressionSet planar = set;
    planar.C0 = 1, planar.Cx = 0.001, planar.Cy = 0.002;
    const std::vector<Case> withPlane = {
        {"lower layer", 0, 3},
        {"lower layer at 250 m", 250, 3 - 1.5},
        {"at hl", 500, 3 - 10 + 7 - 2},
        {"middle layer", 1000, 3 - 10 + 7 - 4},
        {"at hu", 1500, 3 - 10 + 7 - 6},
        {"upper layer", 2000, 3 - 10 + 4 - 4},
    };
    for (const auto& c : withPlane)
        EXPECT_NEAR(meteoint::RegressionValue(planar, N, G, 1000, 500, c.z), c.expected, 1e-12) << c.what;

    // A coordinate equal to G: the layers without the plane.
    EXPECT_NEAR(meteoint::RegressionValue(planar, N, G, G, 500, 1000), 3, 1e-12);
    EXPECT_NEAR(meteoint::RegressionValue(planar, N, G, 1000, G, 1000), 3, 1e-12);
    // The row and column play no part, only the coordinates.
    // A missing set: -N - 1.
    meteoint::RegressionSet missing = set;
    missing.A1 = -10000;
    EXPECT_EQ(meteoint::RegressionValue(missing, N, G, 1000, 500, 1000), Missing);
    // -N itself is a valid intercept.
    meteoint::RegressionSet atBound = set;
    atBound.A1 = -9999;
    EXPECT_NEAR(meteoint::RegressionValue(atBound, N, G, 1000, 500, 0), -9999, 1e-9);
}

TEST(MeteointRegression, Determinant) {
    // Columns p, q, r of [[2 1 0] [0 3 1] [1 0 4]]: 2 (12 - 0) - 1 (0 - 1) = 25.
    EXPECT_DOUBLE_EQ(meteoint::Determinant3({2, 0, 1}, {1, 3, 0}, {0, 1, 4}), 25);
    // Swapping two columns changes the sign; equal columns give 0.
    EXPECT_DOUBLE_EQ(meteoint::Determinant3({1, 3, 0}, {2, 0, 1}, {0, 1, 4}), -25);
    EXPECT_DOUBLE_EQ(meteoint::Determinant3({1, 2, 3}, {1, 2, 3}, {4, 5, 6}), 0);
    EXPECT_DOUBLE_EQ(meteoint::Determinant3({1, 0, 0}, {0, 1, 0}, {0, 0, 1}), 1);
}

TEST(MeteointThiessen, NearestValidStation) {
    Stations s;
    s.Add(100, 0, 0, 1).Add(0, 100, 0, 2).Add(300, 0, 0, 3).Add(10, 0, 0, -10000);
    struct Case {
        std::string what;
        double x, y, expected;
    };
    const std::vector<Case> cases = {
        {"equal distance: the later station", 0, 0, 2},
        {"nearest", 250, 0, 3},
        {"an invalid station on the point is skipped", 10, 0, 1},
        {"a station more than 1e10 m away is never taken", 2e10, 0, Missing},
    };
    for (const auto& c : cases) EXPECT_EQ(meteoint::ThiessenValue(s.File(), N, c.x, c.y), c.expected) << c.what;
    EXPECT_EQ(meteoint::ThiessenValue(Stations{}.File(), N, 0, 0), Missing);
}

TEST(MeteointThiessen, LapseRateAndInversion) {
    const double g1 = -0.0065, hi = 1000, g2 = 0.002;
    struct Case {
        std::string what;
        double zs, v, z;
        meteoint::LapseRate lapse;
        double expected;
    };
    const meteoint::LapseRate plain{g1, -9999, -9999, false};
    const meteoint::LapseRate inversion{g1, hi, g2, false};
    const std::vector<Case> cases = {
        {"no inversion", 500, 10, 1500, plain, 10 - 6.5},
        {"no inversion, cell below the station", 1500, 10, 500, plain, 10 + 6.5},
        {"station above, cell above", 1200, 5, 1800, inversion, 5 + 600 * g2},
        {"station above, cell below", 1200, 5, 600, inversion, 5 - 200 * g2 - 400 * g1},
        {"station below, cell above", 400, 8, 1600, inversion, 8 + 600 * g1 + 600 * g2},
        {"station below, cell below", 400, 8, 200, inversion, 8 - 200 * g1},
        {"cell at the inversion: below", 400, 8, 1000, inversion, 8 + 600 * g1},
        {"station at the inversion: below", 1000, 10, 1500, inversion, 10 + 500 * g2},
        {"inversion without upper rate: none", 400, 8, 1600, {g1, hi, -9999, false}, 8 + 1200 * g1},
        {"P-type, dry station stays dry", 500, 0, 3000, {g1, -9999, -9999, true}, 0},
        {"P-type, dry station with inversion", 500, 0, 3000, {g1, hi, g2, true}, 0},
        {"P-type, wet station", 500, 2, 1000, {-0.001, -9999, -9999, true}, 1.5},
        {"not P-type, 0 takes the lapse rate", 500, 0, 3000, plain, 2500 * g1},
    };
    for (const auto& c : cases) {
        Stations s;
        s.Add(0, 0, c.zs, c.v);
        EXPECT_NEAR(meteoint::ThiessenLapseValue(s.File(), c.lapse, N, 50, 50, c.z), c.expected, 1e-12) << c.what;
    }

    // Equal distance: the earlier station; an invalid nearer station is skipped.
    Stations s;
    s.Add(100, 0, 0, 1).Add(0, 100, 0, 2).Add(10, 0, 0, -10000);
    EXPECT_NEAR(meteoint::ThiessenLapseValue(s.File(), plain, N, 0, 0, 100), 1 + 100 * g1, 1e-12);
    EXPECT_EQ(meteoint::ThiessenLapseValue(Stations{}.File(), plain, N, 0, 0, 100), Missing);
}

// Corner stations of a mesh cell: UL (0, 1000) 1, UR (1000, 1000) 2,
// LL (0, 0) 3, LR (1000, 0) 5.
Stations SquareMesh() {
    Stations s;
    s.Add(0, 1000, 0, 1).Add(1000, 1000, 0, 2).Add(0, 0, 0, 3).Add(1000, 0, 0, 5);
    return s;
}

TEST(MeteointBilinear, InterpolatesBetweenTheFourCorners) {
    const Stations s = SquareMesh();
    const meteoint::LookUpCorners corners{2, 1, 3, 4};
    struct Case {
        double x, y, expected;
    };
    const std::vector<Case> cases = {
        {250, 750, 0.5625 * 1 + 0.1875 * 2 + 0.1875 * 3 + 0.0625 * 5},  // tx = ty = 0.25
        {0, 1000, 1},
        {1000, 1000, 2},
        {0, 0, 3},
        {1000, 0, 5},
        {500, 500, (1 + 2 + 3 + 5) / 4.0},
    };
    for (const auto& c : cases)
        EXPECT_NEAR(meteoint::BilinearValue(s.File(), corners, Idw(2), N, c.x, c.y), c.expected, 1e-12)
            << c.x << " " << c.y;
}

TEST(MeteointBilinear, FallsBackToAnisotropicIdw) {
    Stations s = SquareMesh();
    const auto idw = Idw(2);
    const double fallback = 1.6911764705882353;  // IDW of the four stations at (250, 750)
    ASSERT_NEAR(meteoint::IdwValueAnisotropic(s.File(), idw, N, 250, 750), fallback, 1e-12);
    struct Case {
        std::string what;
        meteoint::LookUpCorners corners;
        double expected;
    };
    const std::vector<Case> cases = {
        {"all four the same station", {4, 4, 4, 4}, 5},
        {"no corners", {0, 0, 0, 0}, fallback},
        {"one corner missing", {2, 1, 3, 0}, fallback},
        {"corner beyond the station count", {2, 1, 3, 7}, fallback},
        {"negative corner", {2, -1, 3, 4}, fallback},
        {"all four beyond the station count", {9, 9, 9, 9}, fallback},
        {"UR above UL: dx = 0", {3, 1, 3, 4}, fallback},
        {"LL beside UL: dy = 0", {2, 1, 2, 4}, fallback},
    };
    for (const auto& c : cases)
        EXPECT_NEAR(meteoint::BilinearValue(s.File(), c.corners, idw, N, 250, 750), c.expected, 1e-12) << c.what;

    // A corner whose value is invalid counts as none.
    s.v[4] = -10000;
    const double withoutLr = meteoint::IdwValueAnisotropic(s.File(), idw, N, 250, 750);
    EXPECT_NEAR(meteoint::BilinearValue(s.File(), {2, 1, 3, 4}, idw, N, 250, 750), withoutLr, 1e-12);
    EXPECT_NEAR(meteoint::BilinearValue(s.File(), {4, 4, 4, 4}, idw, N, 250, 750), withoutLr, 1e-12);
    // Nothing valid anywhere: -N - 1.
    for (int i = 1; i <= 4; ++i) s.v[i] = -10000;
    EXPECT_EQ(meteoint::BilinearValue(s.File(), {2, 1, 3, 4}, idw, N, 250, 750), Missing);
}

TEST(MeteointFlags, AnyFlagSet) {
    const std::vector<int32_t> flags = {7, 0, 0, 1};  // element 0 not looked at
    EXPECT_EQ(meteoint::AnyFlagSet(flags, 3), 1);
    EXPECT_EQ(meteoint::AnyFlagSet(flags, 2), 0);
    EXPECT_EQ(meteoint::AnyFlagSet(flags, 0), 0);
    EXPECT_EQ(meteoint::AnyFlagSet(flags, -5), 0);
    EXPECT_EQ(meteoint::AnyFlagSet(flags, 100), 1);  // never read past the array
    EXPECT_EQ(meteoint::AnyFlagSet({}, 3), 0);
}

// An input with two station files at the same three places: residuals
// (file 0) and gradients (file 1).
struct TwoFiles {
    Stations residuals, gradients;
    meteoint::MethodData data;

    TwoFiles(int32_t method, double r1, double r2, double r3, double g) {
        residuals.Add(0, 0, 400, r1).Add(1000, 0, 600, r2).Add(0, 1000, 800, r3);
        gradients.Add(0, 0, 400, g).Add(1000, 0, 600, g).Add(0, 1000, 800, g);
        data.Method = method;
        data.NoData = N;
        data.GridNoData = G;
        data.Idw = Idw(2);
        data.Files[0] = residuals.File();
        data.Files[1] = gradients.File();
        data.Regression.A1 = Missing;  // no regression set
    }
};

meteoint::CellPoint Cell(double x, double y, double elevation, double grid = 0, double grid2 = 0) {
    meteoint::CellPoint c;
    c.X = c.QX = x;
    c.Y = c.QY = y;
    c.Elevation = elevation;
    c.Grid = grid;
    c.Grid2 = grid2;
    return c;
}

// Every station of file 0 reports 5: every cell gets 5 whatever the method,
// except the regressions (2, 10: a1 = 2, b1 = -0.005 give -3 at 1000 m), the
// grid (9) and the lapse rate (12), which still apply as without the
// shortcut. The gradients (0.01) of methods 6 and 8 and the regression of
// methods 3 and 11 are not added.
TEST(MeteointCellValue, AllEqualShortcutByMethod) {
    struct Case {
        int32_t method;
        double expected;
    };
    const double lapse = 5 + (1000 - 600) * -0.0065;  // station 2 is the nearest to (900, 100)
    // Equal intercepts keep their elevation terms: the regression (-3 at
    // 1000 m) mixes with the common value in methods 3 and 11, and the
    // gradient 0.01 of file 1 adds 10 at 1000 m in methods 6 and 8.
    const double mixed = 0.75 * -3 + 0.25 * 5;
    const std::vector<Case> cases = {{1, 5},  {2, -3}, {3, mixed}, {4, 5},  {5, 5},     {6, 15},
                                     {7, 5},  {8, 15}, {9, 7.5},   {10, -3}, {11, mixed}, {12, lapse}};
    for (const auto& c : cases) {
        TwoFiles input(c.method, 5, 5, 5, 0.01);
        input.data.IdwFraction = 0.25;
        input.data.Regression = {2, -0.005, -1e9, 2, -0.005, 1e9, 2, -0.005, Missing, 0, 0};
        input.data.Lapse = {-0.0065, -9999, -9999, false};
        const auto common = meteoint::AllEqualCommonValue(true, input.data.Files[0], N);
        ASSERT_EQ(common, std::optional<double>(5));
        const auto cell = Cell(900, 100, 1000, 7.5, 0.01);
        EXPECT_NEAR(meteoint::InterpolateCellValue(input.data, cell, common).Value, c.expected, 1e-12) << c.method;
    }
}

TEST(MeteointCellValue, CommonValue) {
    Stations s;
    s.Add(0, 0, 0, -10000).Add(1, 0, 0, 3).Add(2, 0, 0, 3);
    EXPECT_EQ(meteoint::AllEqualCommonValue(true, s.File(), N), std::optional<double>(3));  // first valid one
    EXPECT_EQ(meteoint::AllEqualCommonValue(false, s.File(), N), std::nullopt);
    Stations none;
    none.Add(0, 0, 0, -10000);
    EXPECT_EQ(meteoint::AllEqualCommonValue(true, none.File(), N), std::nullopt);
    EXPECT_EQ(meteoint::AllEqualCommonValue(true, Stations{}.File(), N), std::nullopt);
}

// Method 8 adds the gradient spline times the elevation to the residual
// spline; where either spline has no value (outside the station mesh) the
// cell takes the inverse-distance values of both files, the gradient's times
// the elevation: a residual alone would be a value at sea level.
TEST(MeteointCellValue, SplineFallbacks) {
    // Residuals 2, 4, 6 and gradients 0.01, 0.02, 0.03 at three stations; the
    // cell at 500 m.
    TwoFiles input(8, 2, 4, 6, 0.01);
    input.gradients.v[2] = 0.02;
    input.gradients.v[3] = 0.03;
    input.data.Files[1] = input.gradients.File();
    const auto cell = [](double grid, double grid2) { return Cell(100, 100, 500, grid, grid2); };
    const double idw0 = meteoint::IdwValue(input.data.Files[0], input.data.Idw, N, 100, 100);
    const double idw1 = meteoint::IdwValue(input.data.Files[1], input.data.Idw, N, 100, 100);
    ASSERT_GT(idw1, 0.01);
    ASSERT_LT(idw1, 0.03);
    struct Case {
        std::string what;
        double grid, grid2, expected;
        std::optional<double> common;
    };
    const std::vector<Case> cases = {
        {"both splines", 3, 0.02, 3 + 10, std::nullopt},
        {"no gradient spline", 3, G, idw0 + idw1 * 500, std::nullopt},
        {"no residual spline", G, 0.02, idw0 + idw1 * 500, std::nullopt},
        {"neither", G, G, idw0 + idw1 * 500, std::nullopt},
        // every residual equal: the common value stands for file 0
        {"equal residuals, gradient spline", G, 0.02, 5 + 10, 5},
        {"equal residuals, no gradient spline", G, G, 5 + idw1 * 500, 5},
    };
    for (const auto& c : cases)
        EXPECT_NEAR(meteoint::InterpolateCellValue(input.data, cell(c.grid, c.grid2), c.common).Value, c.expected,
                    1e-12)
            << c.what;
    // Without a valid gradient anywhere the fallback has nothing to give.
    for (int i = 1; i <= 3; ++i) input.gradients.v[static_cast<size_t>(i)] = -10000;
    input.data.Files[1] = input.gradients.File();
    EXPECT_EQ(meteoint::InterpolateCellValue(input.data, cell(G, G), std::nullopt).Value, Missing);

    // Method 7: the spline value, or the IDW where it has none.
    input.data.Method = 7;
    EXPECT_EQ(meteoint::InterpolateCellValue(input.data, cell(3, 0), std::nullopt).Value, 3);
    EXPECT_NEAR(meteoint::InterpolateCellValue(input.data, cell(G, 0), std::nullopt).Value, idw0, 1e-12);
}

TEST(MeteointCellValue, MissingTermsGiveTheInvalidValue) {
    // Gradients all invalid: method 6 cannot add them, whatever the elevation
    // (an invalid marker times a negative elevation would look valid).
    for (double elevation : {-5.0, 0.0, 800.0}) {
        TwoFiles input(6, 2, 4, 6, -10000);
        EXPECT_EQ(meteoint::InterpolateCellValue(input.data, Cell(100, 100, elevation), std::nullopt).Value, Missing);
    }
    // Method 1 with no station within the search radius: -N - 1 and the warning.
    TwoFiles input(1, 2, 4, 6, 0);
    input.data.Idw = Idw(2, 10);
    const auto out = meteoint::InterpolateCellValue(input.data, Cell(500, 500, 0), std::nullopt);
    EXPECT_EQ(out.Value, Missing);
    EXPECT_TRUE(out.NoStationInRadius);
    // Methods 3 and 11 fall back on the regression without a station in reach.
    input.data.Method = 3;
    input.data.IdwFraction = 0.5;
    input.data.Regression = {2, 0, -1e9, 2, 0, 1e9, 2, 0, Missing, 0, 0};
    const auto blended = meteoint::InterpolateCellValue(input.data, Cell(500, 500, 0), std::nullopt);
    EXPECT_EQ(blended.Value, 2);
    EXPECT_TRUE(blended.NoStationInRadius);
    // Methods 2 and 10 without a regression set leave the cell as it is.
    for (int32_t method : {2, 10}) {
        TwoFiles regression(method, 2, 4, 6, 0);
        const auto kept = meteoint::InterpolateCellValue(regression.data, Cell(0, 0, 0, 42), std::nullopt);
        EXPECT_FALSE(kept.Computed);
        EXPECT_EQ(kept.Value, 42);
    }
    // Method 9 keeps the grid read; a method out of range has nothing.
    TwoFiles grid(9, 2, 4, 6, 0);
    EXPECT_EQ(meteoint::InterpolateCellValue(grid.data, Cell(0, 0, 0, 7.5), std::nullopt).Value, 7.5);
    grid.data.Method = 13;
    EXPECT_EQ(meteoint::InterpolateCellValue(grid.data, Cell(0, 0, 0, 7.5), std::nullopt).Value, Missing);
}

TEST(MeteointPointValue, ByMethod) {
    TwoFiles input(8, 2, 4, 6, 0.01);
    meteoint::PointQuery p;
    p.X = p.QX = 900;
    p.Y = p.QY = 100;
    p.Z = 1500;
    p.CellX = 950;  // nearest station of the cell centre: (1000, 0)
    p.CellY = 50;
    p.CellElevation = 700;
    // Method 8: nearest residual plus nearest gradient times the cell's elevation.
    EXPECT_NEAR(meteoint::InterpolatePointValue(input.data, p), 4 + 7, 1e-12);
    input.data.Method = 7;
    EXPECT_EQ(meteoint::InterpolatePointValue(input.data, p), 4);
    input.data.Method = 4;
    EXPECT_EQ(meteoint::InterpolatePointValue(input.data, p), 4);
    input.data.Method = 12;
    input.data.Lapse = {-0.001, -9999, -9999, false};
    EXPECT_NEAR(meteoint::InterpolatePointValue(input.data, p), 4 - 0.9, 1e-12);  // station at 600 m, point at 1500 m

    // Methods 3 and 11: the blend when both parts are valid, else the valid part.
    input.data.Method = 3;
    input.data.IdwFraction = 0.25;
    input.data.Regression = {1, 0, -1e9, 1, 0, 1e9, 1, 0, Missing, 0, 0};
    const double idw = meteoint::IdwValue(input.data.Files[0], input.data.Idw, N, 900, 100);
    EXPECT_NEAR(meteoint::InterpolatePointValue(input.data, p), 0.25 * idw + 0.75, 1e-12);
    input.data.Regression.A1 = Missing;
    EXPECT_NEAR(meteoint::InterpolatePointValue(input.data, p), idw, 1e-12);
    input.data.Regression.A1 = 1;
    input.data.Idw = Idw(2, 10);
    EXPECT_EQ(meteoint::InterpolatePointValue(input.data, p), 1);
    input.data.Regression.A1 = Missing;
    EXPECT_EQ(meteoint::InterpolatePointValue(input.data, p), Missing);
}

}  // namespace
