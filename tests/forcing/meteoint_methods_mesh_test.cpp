#include "forcing/meteoint_methods_mesh.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

namespace {

using meteoint::StationFile;

constexpr double N = 9999;
constexpr double G = -9999;

// Station arrays, 1-based.
struct Stations {
    std::vector<double> v{0}, z{0}, x{0}, y{0}, xr{0}, yr{0};

    void Add(double xi, double yi, double vi = 0) {
        x.push_back(xi);
        y.push_back(yi);
        xr.push_back(xi);
        yr.push_back(yi);
        z.push_back(0);
        v.push_back(vi);
    }
    StationFile File() const { return {v, z, x, y, xr, yr}; }
};

// A mesh of nx x ny stations, spacing a along its own x axis and b along its
// y axis, that axis turned by theta degrees, first station at (ox, oy);
// numbered row by row from the first station.
Stations RotatedMesh(int nx, int ny, double a, double b, double thetaDegrees, double ox, double oy) {
    const double t = thetaDegrees * std::numbers::pi / 180;
    Stations s;
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i)
            s.Add(ox + i * a * std::cos(t) - j * b * std::sin(t), oy + i * a * std::sin(t) + j * b * std::cos(t));
    return s;
}

// A 1-based row-pointer grid.
struct Grid {
    std::vector<std::vector<double>> cells;
    std::vector<double*> rows;
    Grid(int nrows, int ncols, double fill = 0) : cells(nrows + 1, std::vector<double>(ncols + 1, fill)) {
        for (auto& r : cells) rows.push_back(r.data());
    }
    double** get() { return rows.data(); }
};

TEST(MeteointMesh, MainDirectionOfARegularMesh) {
    struct Case {
        std::string what;
        double theta, a, b;
        double slope, ratio;
    };
    // Only directions of 0 to 95 deg count: a mesh whose closer spacing runs
    // at a direction below 0 deg (folded into -90..90) keeps slope 0 and
    // ratio 1.
    const std::vector<Case> cases = {
        {"closer along an axis at 20 deg", 20, 1000, 1500, 20, 0.995},
        {"closer along an axis at 2 deg", 2, 1000, 1500, 2, 0.995},
        {"axis at 60 deg: the other axis, -30 deg", 60, 1000, 1500, -30, 0.995},
        {"axis at 50 deg: -40 deg", 50, 1000, 1500, -40, 0.995},
        {"closer along an axis at -30 deg (class 15)", -30, 1000, 1500, 0, 1},
        {"closer along an axis at -2 deg (class 0)", -2, 1000, 1500, 0, 1},
        {"closer along an axis at -70 deg (class 11)", -70, 1000, 1500, 0, 1},
        {"closer along an axis at 110 deg (the same as -70)", 110, 1000, 1500, 0, 1},
        {"closer along an axis at 160 deg (-20)", 160, 1000, 1500, 0, 1},
        {"not rotated", 0, 1000, 1500, 0, 1},
        {"not rotated, closer along y", 0, 1500, 1000, 0, 1},
    };
    for (const auto& c : cases) {
        const Stations s = RotatedMesh(5, 4, c.a, c.b, c.theta, 3000, 2000);
        const meteoint::Anisotropy got = meteoint::EstimateAnisotropy(s.x, s.y);
        EXPECT_NEAR(got.SlopeDegrees, c.slope, 1e-6) << c.what;
        EXPECT_EQ(got.Ratio, c.ratio) << c.what;
    }
}

TEST(MeteointMesh, MainDirectionWithoutAMesh) {
    Stations one;
    one.Add(100, 200);
    Stations samePlace;  // two records of one site give no direction
    samePlace.Add(100, 200);
    samePlace.Add(100, 200);
    Stations pair;  // the first station's neighbour is the second: 20 deg
    const double t = 20 * std::numbers::pi / 180;
    pair.Add(0, 0);
    pair.Add(1000 * std::cos(t), 1000 * std::sin(t));
    Stations twice;  // two sites along 20 deg, each recorded twice
    for (int k = 0; k < 2; ++k) {
        twice.Add(0, 0);
        twice.Add(1000 * std::cos(t), 1000 * std::sin(t));
    }
    struct Case {
        std::string what;
        const Stations* s;
        double slope, ratio;
    };
    const Stations none;
    const std::vector<Case> cases = {
        {"no station", &none, 0, 1},
        {"one station", &one, 0, 1},
        {"two stations on one place", &samePlace, 0, 1},
        {"two stations", &pair, 20, 0.995},
        {"two sites recorded twice", &twice, 20, 0.995},
    };
    for (const auto& c : cases) {
        const meteoint::Anisotropy got = meteoint::EstimateAnisotropy(c.s->x, c.s->y);
        EXPECT_NEAR(got.SlopeDegrees, c.slope, 1e-6) << c.what;
        EXPECT_EQ(got.Ratio, c.ratio) << c.what;
    }
}

TEST(MeteointMesh, RangeChecks) {
    using meteoint::AnisotropyCheck;
    struct Case {
        double slopeDegrees, ratio;
        AnisotropyCheck expected;
    };
    const std::vector<Case> cases = {
        {90, 1, AnisotropyCheck::Ok},
        {-90, 1, AnisotropyCheck::Ok},
        {0, 0.995, AnisotropyCheck::Ok},
        {90.0001, 1, AnisotropyCheck::SlopeOutOfRange},
        {-90.0001, 1, AnisotropyCheck::SlopeOutOfRange},
        {std::nan(""), 1, AnisotropyCheck::SlopeOutOfRange},
        {0, 0, AnisotropyCheck::RatioOutOfRange},
        {0, -0.5, AnisotropyCheck::RatioOutOfRange},
        {0, 1.0001, AnisotropyCheck::RatioOutOfRange},
        {0, std::nan(""), AnisotropyCheck::RatioOutOfRange},
        {100, 0, AnisotropyCheck::SlopeOutOfRange},  // the slope is checked first
    };
    for (const auto& c : cases)
        EXPECT_EQ(meteoint::CheckAnisotropy(meteoint::SlopeToRadians(c.slopeDegrees), c.ratio), c.expected)
            << c.slopeDegrees << " " << c.ratio;
    EXPECT_EQ(std::string(meteoint::SlopeOutOfRangeText),
              "FATAL: anisotropy slope has to range from -90 to +90 degree \n");
    EXPECT_EQ(meteoint::AnisotropyErrorCode, 54);
}

TEST(MeteointMesh, Rotation) {
    const double x0 = 1000, y0 = 2000;
    const double slope = meteoint::SlopeToRadians(30);
    const double c30 = std::sqrt(3.0) / 2;
    struct Case {
        std::string what;
        double x, y, slope, ex, ey;
    };
    const std::vector<Case> cases = {
        {"east of the origin", x0 + 1000, y0, slope, x0 + 1000 * c30, y0 - 500},
        {"north of the origin", x0, y0 + 1000, slope, x0 + 500, y0 + 1000 * c30},
        {"south of the origin", x0, y0 - 1000, slope, x0 - 500, y0 - 1000 * c30},
        {"on the main axis: onto the x axis", x0 + 1000 * c30, y0 + 500, slope, x0 + 1000, y0},
        {"the origin stays", x0, y0, slope, x0, y0},
        {"slope 0 keeps every point", x0 - 300, y0 + 400, 0, x0 - 300, y0 + 400},
    };
    for (const auto& c : cases) {
        const meteoint::RotatedPoint p = meteoint::RotatePoint(c.x, c.y, x0, y0, c.slope);
        EXPECT_NEAR(p.X, c.ex, 1e-6) << c.what;
        EXPECT_NEAR(p.Y, c.ey, 1e-6) << c.what;
    }

    // Stations and cells go through the same rotation; a cell without a
    // coordinate stays without one.
    Stations s;
    s.Add(x0 + 1000, y0);
    s.Add(x0, y0 + 1000);
    const meteoint::RotatedStations r = meteoint::RotateStationCoords(s.x, s.y, x0, y0, slope);
    ASSERT_EQ(r.X.size(), 3u);
    EXPECT_NEAR(r.X[1], x0 + 1000 * c30, 1e-6);
    EXPECT_NEAR(r.Y[2], y0 + 1000 * c30, 1e-6);
    EXPECT_NEAR(r.Radius[1], 1000, 1e-9);
    EXPECT_NEAR(r.Radius[2], 1000, 1e-9);

    Grid cx(2, 2), cy(2, 2), rx(2, 2, 7), ry(2, 2, 7);
    cx.get()[1][1] = x0 + 1000, cy.get()[1][1] = y0;
    cx.get()[1][2] = G, cy.get()[1][2] = y0;
    cx.get()[2][1] = x0, cy.get()[2][1] = G;
    cx.get()[2][2] = x0, cy.get()[2][2] = y0 + 1000;
    meteoint::CreateRotatedCoordGrids(cx.get(), cy.get(), 2, 2, G, x0, y0, slope, rx.get(), ry.get());
    EXPECT_NEAR(rx.get()[1][1], x0 + 1000 * c30, 1e-6);
    EXPECT_NEAR(ry.get()[1][1], y0 - 500, 1e-6);
    EXPECT_EQ(rx.get()[1][2], G);
    EXPECT_EQ(ry.get()[1][2], G);
    EXPECT_EQ(rx.get()[2][1], G);
    EXPECT_EQ(ry.get()[2][1], G);
    EXPECT_NEAR(rx.get()[2][2], x0 + 500, 1e-6);
    EXPECT_NEAR(ry.get()[2][2], y0 + 1000 * c30, 1e-6);
}

TEST(MeteointMesh, MeanDistancesToTheNextStation) {
    struct Case {
        std::string what;
        Stations s;
        double horizontal, vertical;
    };
    std::vector<Case> cases;
    cases.push_back({"3 x 2 mesh, 1000 m by 2000 m", RotatedMesh(3, 2, 1000, 2000, 0, 0, 0), 1000, 2000});
    {
        // (0,0): right (1000,100) at 1004.99, above (0,1000) at 1000;
        // (1000,100): none; (0,1000): right (1000,100) at 1345.36.
        Stations s;
        s.Add(0, 0);
        s.Add(1000, 100);
        s.Add(0, 1000);
        cases.push_back({"three stations", s, (std::sqrt(1010000.0) + std::sqrt(1810000.0)) / 2, 1000});
    }
    {
        Stations s;
        s.Add(0, 0);
        s.Add(0, 0);  // on the same place: neither right nor above
        cases.push_back({"one place", s, -9999, -9999});
    }
    {
        Stations s;
        s.Add(0, 0);
        s.Add(1000, 0);
        cases.push_back({"two in a row", s, 1000, -9999});
    }
    cases.push_back({"no station", Stations{}, -9999, -9999});
    for (const auto& c : cases) {
        const meteoint::StationSpacing got = meteoint::CalcStationDistances(c.s.xr, c.s.yr);
        EXPECT_NEAR(got.Horizontal, c.horizontal, 1e-9) << c.what;
        EXPECT_NEAR(got.Vertical, c.vertical, 1e-9) << c.what;
        EXPECT_EQ(got.Tolerance, 0.25) << c.what;
    }
}

TEST(MeteointMesh, StationInsideAWindow) {
    Stations s;
    s.Add(1000, 0);
    s.Add(1250, 0);
    s.Add(750, 0);
    struct Case {
        double dx1, dx2, dy1, dy2;
        int32_t expected;
    };
    const std::vector<Case> cases = {
        {750, 1250, -10, 10, 1},    // the first station inside; 750 itself is on the edge
        {1000, 1300, -10, 10, 2},   // 1000 on the edge, 1250 inside
        {1250, 2000, -10, 10, 0},   // strict: on the edge is outside
        {700, 800, -10, 10, 3},
        {700, 1300, 0, 10, 0},      // y on the edge
        {700, 1300, 10, -10, 0},    // an empty window
    };
    for (const auto& c : cases)
        EXPECT_EQ(meteoint::FindStationInRect(s.File(), 0, 0, c.dx1, c.dx2, c.dy1, c.dy2), c.expected)
            << c.dx1 << " " << c.dx2;
    EXPECT_EQ(meteoint::FindStationInRect(Stations{}.File(), 0, 0, -1e9, 1e9, -1e9, 1e9), 0);
}

// Plane v = 3 + 0.002 x - 0.001 y.
double Plane(double x, double y) { return 3 + 0.002 * x - 0.001 * y; }

// A 3 x 3 mesh with 1000 m spacing from (0, 0), stations numbered
// 1 + column + 3 row, values on the plane; a 4 x 4 grid of 500 m cells from
// the origin (0, 0), cell centres (c - 0.5) 500, (4.5 - r) 500.
struct SmallMesh {
    Stations s = RotatedMesh(3, 3, 1000, 1000, 0, 0, 0);
    Grid cx{4, 4}, cy{4, 4};
    std::vector<RowExtent> extents{{0, -1}, {1, 4}, {1, 4}, {1, 4}, {2, 3}};

    SmallMesh() {
        for (size_t i = 1; i < s.v.size(); ++i) s.v[i] = Plane(s.x[i], s.y[i]);
        for (int r = 1; r <= 4; ++r)
            for (int c = 1; c <= 4; ++c) {
                cx.get()[r][c] = (c - 0.5) * 500;
                cy.get()[r][c] = (4.5 - r) * 500;
            }
    }
};

TEST(MeteointLookUp, RegularMesh) {
    SmallMesh m;
    const meteoint::StationSpacing spacing = meteoint::CalcStationDistances(m.s.xr, m.s.yr);
    ASSERT_EQ(spacing.Horizontal, 1000);
    ASSERT_EQ(spacing.Vertical, 1000);
    // Cell (2, 2) lies outside the zones; row 4 holds valid cells in columns 2 and 3 only.
    const auto selected = [](int32_t row, int32_t col) { return !(row == 2 && col == 2); };
    const meteoint::LookUpGrids g =
        meteoint::ChooseLookUpStations(m.s.File(), spacing, 4, 4, m.cx.get(), m.cy.get(), m.extents, selected);

    const int32_t ur[4][4] = {{8, 8, 9, 9}, {8, 0, 9, 9}, {5, 5, 6, 6}, {0, 5, 6, 0}};
    const int32_t ul[4][4] = {{7, 7, 8, 8}, {7, 0, 8, 8}, {4, 4, 5, 5}, {0, 4, 5, 0}};
    const int32_t ll[4][4] = {{4, 4, 5, 5}, {4, 0, 5, 5}, {1, 1, 2, 2}, {0, 1, 2, 0}};
    const int32_t lr[4][4] = {{5, 5, 6, 6}, {5, 0, 6, 6}, {2, 2, 3, 3}, {0, 2, 3, 0}};
    for (int r = 1; r <= 4; ++r)
        for (int c = 1; c <= 4; ++c) {
            const meteoint::LookUpCorners k = g.At(r, c);
            EXPECT_EQ(k.UpperRight, ur[r - 1][c - 1]) << r << "," << c;
            EXPECT_EQ(k.UpperLeft, ul[r - 1][c - 1]) << r << "," << c;
            EXPECT_EQ(k.LowerLeft, ll[r - 1][c - 1]) << r << "," << c;
            EXPECT_EQ(k.LowerRight, lr[r - 1][c - 1]) << r << "," << c;
        }
    // Outside the grid: no corners.
    for (auto [r, c] : {std::pair{0, 1}, {5, 1}, {1, 0}, {1, 5}}) {
        const meteoint::LookUpCorners k = g.At(r, c);
        EXPECT_EQ(k.UpperRight + k.UpperLeft + k.LowerLeft + k.LowerRight, 0) << r << "," << c;
    }
    // A file without stations leaves every cell at 0.
    const meteoint::LookUpGrids empty = meteoint::ChooseLookUpStations(
        Stations{}.File(), spacing, 4, 4, m.cx.get(), m.cy.get(), m.extents, [](int32_t, int32_t) { return true; });
    for (int r = 1; r <= 4; ++r)
        for (int c = 1; c <= 4; ++c) EXPECT_EQ(empty.At(r, c).UpperRight, 0);
    // Row extents shorter than the grid: the rows without one stay 0.
    const std::vector<RowExtent> twoRows{{0, -1}, {1, 4}};
    const meteoint::LookUpGrids partial = meteoint::ChooseLookUpStations(
        m.s.File(), spacing, 4, 4, m.cx.get(), m.cy.get(), twoRows, [](int32_t, int32_t) { return true; });
    EXPECT_EQ(partial.At(1, 1).UpperRight, 8);
    EXPECT_EQ(partial.At(3, 1).UpperRight, 0);
}

TEST(MeteointLookUp, BilinearReproducesAPlane) {
    SmallMesh m;
    const meteoint::StationSpacing spacing = meteoint::CalcStationDistances(m.s.xr, m.s.yr);
    const auto all = [](int32_t, int32_t) { return true; };
    const meteoint::LookUpGrids g =
        meteoint::ChooseLookUpStations(m.s.File(), spacing, 4, 4, m.cx.get(), m.cy.get(), m.extents, all);
    const auto idw = meteoint::MakeIdwParameters(2, 1e7, 1);
    // At the cell centres and at points around them within their mesh cells.
    for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 4; ++c)
            for (auto [ox, oy] : {std::pair{0.0, 0.0}, {-200.0, 130.0}, {170.0, -240.0}}) {
                const double x = m.cx.get()[r][c] + ox;
                const double y = m.cy.get()[r][c] + oy;
                EXPECT_NEAR(meteoint::BilinearValue(m.s.File(), g.At(r, c), idw, N, x, y), Plane(x, y), 1e-12)
                    << r << "," << c << " at " << x << " " << y;
            }
}

TEST(MeteointLookUp, RotatedMeshFromEstimateToBilinear) {
    // A mesh turned by 20 deg, 1000 m by 1500 m; the grid origin (0, 0).
    Stations s = RotatedMesh(5, 4, 1000, 1500, 20, 2500, 1200);
    for (size_t i = 1; i < s.v.size(); ++i) s.v[i] = Plane(s.x[i], s.y[i]);
    const meteoint::Anisotropy a = meteoint::EstimateAnisotropy(s.x, s.y);
    ASSERT_NEAR(a.SlopeDegrees, 20, 1e-6);
    const double slope = meteoint::SlopeToRadians(a.SlopeDegrees);
    ASSERT_EQ(meteoint::CheckAnisotropy(slope, a.Ratio), meteoint::AnisotropyCheck::Ok);
    const meteoint::RotatedStations r = meteoint::RotateStationCoords(s.x, s.y, 0, 0, slope);
    s.xr = r.X;
    s.yr = r.Y;
    const meteoint::StationSpacing spacing = meteoint::CalcStationDistances(s.xr, s.yr);
    EXPECT_NEAR(spacing.Horizontal, 1000, 1e-6);
    EXPECT_NEAR(spacing.Vertical, 1500, 1e-6);

    const auto idw = meteoint::MakeIdwParameters(2, 1e7, a.Ratio);
    const double t = 20 * std::numbers::pi / 180;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 3; ++j)
            for (auto [fx, fy] : {std::pair{0.2, 0.3}, {0.7, 0.6}, {0.4, 0.9}}) {
                const double u = (i + fx) * 1000, w = (j + fy) * 1500;
                const double x = 2500 + u * std::cos(t) - w * std::sin(t);
                const double y = 1200 + u * std::sin(t) + w * std::cos(t);
                const meteoint::RotatedPoint p = meteoint::RotatePoint(x, y, 0, 0, slope);
                const meteoint::LookUpCorners k = meteoint::ChooseLookUpCorners(s.File(), spacing, p.X, p.Y);
                ASSERT_TRUE(k.UpperRight && k.UpperLeft && k.LowerLeft && k.LowerRight) << i << "," << j;
                // Mesh cell (i, j) has the corners 1 + i + 5 j and its neighbours.
                EXPECT_EQ(k.LowerLeft, 1 + i + 5 * j);
                EXPECT_EQ(k.UpperRight, 1 + (i + 1) + 5 * (j + 1));
                EXPECT_NEAR(meteoint::BilinearValue(s.File(), k, idw, N, p.X, p.Y), Plane(x, y), 1e-9)
                    << i << "," << j << " " << fx << " " << fy;
            }
}

}  // namespace
