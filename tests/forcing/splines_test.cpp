// Spline interpolation on a station mesh: the cubic spline kernels, the
// sorting of stations into mesh columns, the two-pass interpolation onto a
// model grid, and whole runs with methods 7 and 8.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "forcing/meteoint_fixture.h"
#include "forcing/splines.h"
#include "setup/setup_test_grid.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

using meteotest::DailyRows;
using meteotest::Section;
using meteotest::StationPlace;
using meteotest::StationText;

namespace {

constexpr double G = -9999;

// Natural spline through (0, 0), (1, 1), (2, 0): y2 = 0, -3, 0.
TEST(SplineKernels, CoefficientsAndValues) {
    const double x[] = {0, 0, 1, 2, G};
    const double y[] = {0, 0, 1, 0, G};
    double y2[5] = {};
    splines::SplineCoefficients(splines::NaturalEnd, splines::NaturalEnd, x, y, 1, 3, y2);
    EXPECT_NEAR(y2[1], 0, 1e-15);
    EXPECT_NEAR(y2[2], -3, 1e-15);
    EXPECT_NEAR(y2[3], 0, 1e-15);
    // The same points with falling abscissae give the same derivatives.
    const double xr[] = {0, 2, 1, 0};
    const double yr[] = {0, 0, 1, 0};
    double y2r[4] = {};
    splines::SplineCoefficients(splines::NaturalEnd, splines::NaturalEnd, xr, yr, 1, 3, y2r);
    EXPECT_NEAR(y2r[2], -3, 1e-15);

    struct Case {
        double at;
        double expected;
    } cases[] = {
        {0.5, 0.6875},  // 0.5 + 0.375 * 3 / 6
        {1.5, 0.6875},
        {0.0, 0.0},
        {1.0, 1.0},
        {2.0, 0.0},    // the last point still has a value
        {-0.1, -55},   // outside: the fill value
        {2.1, -55},
    };
    for (const Case& c : cases) {
        int32_t klo = 1, khi = 0;
        EXPECT_NEAR(splines::SplineValue(x, y, klo, khi, y2, c.at, G, -55, 3), c.expected, 1e-14) << c.at;
    }
    // A search continued from a previous call walks either way.
    int32_t klo = 1, khi = 0;
    for (double at : {0.2, 1.7, 0.4, 2.0, 0.0}) {
        int32_t fresh = 1, fkhi = 0;
        EXPECT_EQ(splines::SplineValue(x, y, klo, khi, y2, at, G, -55, 3),
                  splines::SplineValue(x, y, fresh, fkhi, y2, at, G, -55, 3))
            << at;
    }
}

TEST(SplineKernels, GapsAndEqualAbscissae) {
    // A missing value splits the points into two runs of straight lines; an
    // interval next to the gap has no value.
    const double x[] = {0, 0, 1, 2, 3, 4, 5, G};
    const double v[] = {0, 1, 2, G, 4, 5, 6, G};
    double y2[8] = {};
    splines::RunSplineCoefficients(x, v, 6, G, G, y2);
    EXPECT_EQ(y2[3], G);
    for (int i : {1, 2, 4, 5, 6}) EXPECT_NEAR(y2[i], 0, 1e-15) << i;
    struct Case {
        double at;
        double expected;
    } cases[] = {{0.5, 1.5}, {1.5, G}, {2.5, G}, {3.5, 4.5}, {5, 6}};
    for (const Case& c : cases) {
        int32_t klo = 1, khi = 0;
        EXPECT_NEAR(splines::SplineValue(x, v, klo, khi, y2, c.at, G, G, 6), c.expected, 1e-12) << c.at;
    }

    // Two stations at one place, met at the end of the points.
    const double same[] = {0, 0, 1, 1};
    const double values[] = {0, 1, 2, 3, 4};
    const double zero[] = {0, 0, 0, 0, 0};
    testing::internal::CaptureStdout();
    int code = 0;
    try {
        int32_t klo = 1, khi = 0;
        splines::SplineValue(same, values, klo, khi, zero, 1.0, G, G, 3);
    } catch (int thrown) {
        code = thrown;
    }
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(code, 82);
    EXPECT_NE(out.find("The two input coordinates 1 (index 2) \nand 1 (index 3) for the 1-D-Splineevaluation are the same!"), std::string::npos)
        << out;
}

// Stations given by coordinates, 1-based arrays.
struct Stations {
    std::vector<double> X{0}, Y{0}, V{0};
    meteoint::StationFile File() const { return {V, {}, X, Y, X, Y}; }
    void Add(double x, double y) {
        X.push_back(x);
        Y.push_back(y);
        V.push_back(0);
    }
};

TEST(StationMesh, ColumnsOfEqualLength) {
    // Four columns of three, 1000 m apart across and 800 m along the
    // columns, slightly jittered and listed in no particular order.
    Stations s;
    const int order[] = {7, 2, 11, 0, 5, 9, 3, 10, 1, 6, 8, 4};
    for (int k : order) {
        const int p = k % 4, r = k / 4;
        s.Add(1000.0 * p + 30 * ((k * 7) % 3 - 1), 5000 - 800.0 * r + 20 * ((k * 5) % 3 - 1));
    }
    const meteoint::StationSpacing spacing{1000, 800, 0.25};
    splines::MeshResult built = splines::BuildStationMesh(s.File(), spacing);
    ASSERT_EQ(built.Status, splines::MeshStatus::Ok);
    ASSERT_EQ(built.Mesh.Rows, 3);
    ASSERT_EQ(built.Mesh.Cols, 4);
    for (int r = 1; r <= 3; ++r) {
        for (int p = 1; p <= 4; ++p) {
            const int station = built.Mesh.At(r, p);
            EXPECT_EQ(order[station - 1], (r - 1) * 4 + (p - 1)) << r << " " << p;
        }
    }

    // One column with a station more, and a file without stations.
    s.Add(3000, 5000 - 800.0 * 3);
    EXPECT_EQ(splines::BuildStationMesh(s.File(), spacing).Status, splines::MeshStatus::Irregular);
    EXPECT_EQ(splines::BuildStationMesh(Stations().File(), spacing).Status, splines::MeshStatus::Irregular);
}

// A regular mesh of stations and a model grid of 100 m cells whose cell
// coordinates start `margin` cells before the mesh on every side.
struct MeshCase {
    int rows = 4, cols = 5;
    double spacing = 300, x0 = 5000, y0 = 7000;  // lower-left station
    int margin = 2;
    splines::StationMesh mesh;
    std::unique_ptr<SplineMeshGrids> grids;
    std::unique_ptr<setuptest::Grid> cellX, cellY, zone, target;
    std::unique_ptr<TSplines> splines;
    int gridRows = 0, gridCols = 0;

    MeshCase() {
        mesh.Rows = rows;
        mesh.Cols = cols;
        for (int k = 1; k <= rows * cols; ++k) mesh.Station.push_back(k);
        grids = std::make_unique<SplineMeshGrids>(mesh);
        for (int r = 1; r <= rows; ++r) {
            for (int p = 1; p <= cols; ++p) {
                grids->X[r][p] = x0 + (p - 1) * spacing;
                grids->Y[r][p] = y0 + (rows - r) * spacing;
            }
        }
        gridCols = static_cast<int>((cols - 1) * spacing / 100) + 1 + 2 * margin;
        gridRows = static_cast<int>((rows - 1) * spacing / 100) + 1 + 2 * margin;
        cellX = std::make_unique<setuptest::Grid>(gridRows, gridCols);
        cellY = std::make_unique<setuptest::Grid>(gridRows, gridCols);
        zone = std::make_unique<setuptest::Grid>(gridRows, gridCols, 1.0);
        target = std::make_unique<setuptest::Grid>(gridRows, gridCols, 123.0);
        for (int i = 1; i <= gridRows; ++i) {
            for (int j = 1; j <= gridCols; ++j) {
                cellX->at(i, j) = x0 + (j - 1 - margin) * 100.0;
                cellY->at(i, j) = y0 + (gridRows - i - margin) * 100.0;
            }
        }
    }
    void Make() {
        SplineSettings s;
        s.OriginX = grids->X[rows][1];
        s.OriginY = grids->Y[rows][1];
        s.Dh = s.Dv = spacing;
        s.CentreX = x0 - 1000;
        s.CentreY = y0 - 1000;
        s.CellSize = 100;
        s.MeshX = grids->X;
        s.MeshY = grids->Y;
        s.MeshRows = rows;
        s.MeshCols = cols;
        s.CellX = cellX->data();
        s.CellY = cellY->data();
        s.Rows = gridRows;
        s.Cols = gridCols;
        s.ZoneGrid = zone->data();
        splines = std::make_unique<TSplines>(s);
    }
    void Run(const std::function<double(double, double)>& f) {
        for (int r = 1; r <= rows; ++r) {
            for (int p = 1; p <= cols; ++p) grids->Value[r][p] = f(grids->X[r][p], grids->Y[r][p]);
        }
        splines->PrepareColumnSplines(grids->Value, grids->SecondDerivative);
        splines->InterpolateMesh(grids->Value, grids->SecondDerivative, target->data());
    }
    bool InsideMesh(int i, int j) const {
        const double x = cellX->at(i, j), y = cellY->at(i, j);
        return x >= x0 && x <= x0 + (cols - 1) * spacing && y >= y0 && y <= y0 + (rows - 1) * spacing;
    }
};

// Planes and bilinear surfaces are reproduced at every cell inside the mesh;
// cells beyond the outermost stations and cells without a zone get the
// grid nodata value.
TEST(SplineInterpolation, SurfacesOfTheMeshAreReproduced) {
    struct Surface {
        const char* name;
        std::function<double(double, double)> f;
    } surfaces[] = {
        {"constant", [](double, double) { return 7.25; }},
        {"plane", [](double x, double y) { return 3 + 0.01 * x - 0.004 * y; }},
        {"bilinear", [](double x, double y) { return 1 + 2e-3 * (x - 5000) - 1e-3 * (y - 7000) + 1e-6 * (x - 5000) * (y - 7000); }},
    };
    for (const Surface& s : surfaces) {
        SCOPED_TRACE(s.name);
        MeshCase c;
        c.zone->at(4, 5) = G;
        c.Make();
        EXPECT_EQ(c.splines->SubgridRows(), 10);
        EXPECT_EQ(c.splines->SubgridCols(), 13);
        c.Run(s.f);
        int inside = 0;
        for (int i = 1; i <= c.gridRows; ++i) {
            for (int j = 1; j <= c.gridCols; ++j) {
                const double got = c.target->at(i, j);
                if (i == 4 && j == 5) {
                    EXPECT_EQ(got, G);
                } else if (c.InsideMesh(i, j)) {
                    ++inside;
                    EXPECT_NEAR(got, s.f(c.cellX->at(i, j), c.cellY->at(i, j)), 1e-9) << i << " " << j;
                } else {
                    EXPECT_EQ(got, G) << i << " " << j;
                }
            }
        }
        EXPECT_EQ(inside, 10 * 13 - 1);
    }
}

// A station without a value splits its column and the rows across it.
TEST(SplineInterpolation, MissingStationLeavesAGap) {
    MeshCase c;
    c.Make();
    const auto plane = [](double x, double y) { return 0.01 * x + 0.02 * y; };
    // Station at mesh row 2, column 2 (x0 + 300, y0 + 600) is missing.
    c.Run([&](double x, double y) { return x == c.x0 + 300 && y == c.y0 + 600 ? G : plane(x, y); });
    auto cell = [&](double x, double y) {
        const int j = static_cast<int>((x - c.x0) / 100) + 1 + c.margin;
        const int i = c.gridRows - c.margin - static_cast<int>((y - c.y0) / 100);
        return c.target->at(i, j);
    };
    EXPECT_EQ(cell(c.x0 + 300, c.y0 + 600), G);
    EXPECT_EQ(cell(c.x0 + 100, c.y0 + 600), G);  // between column 1 and the gap
    EXPECT_NEAR(cell(c.x0 + 900, c.y0 + 600), plane(c.x0 + 900, c.y0 + 600), 1e-9);
    EXPECT_NEAR(cell(c.x0 + 300, c.y0), plane(c.x0 + 300, c.y0), 1e-9);  // below the gap's intervals
}

// A model grid wholly outside the mesh needs no sub-grid cell: every cell
// gets the grid nodata value.
TEST(SplineInterpolation, GridOutsideTheMesh) {
    MeshCase c;
    for (int i = 1; i <= c.gridRows; ++i) {
        for (int j = 1; j <= c.gridCols; ++j) c.cellX->at(i, j) += 1e5;
    }
    c.Make();
    EXPECT_TRUE(c.splines->NothingNeeded());
    c.Run([](double, double) { return 1.0; });
    for (int i = 1; i <= c.gridRows; ++i) {
        for (int j = 1; j <= c.gridCols; ++j) EXPECT_EQ(c.target->at(i, j), G);
    }
}

// The model grid of the run tests: 4 x 3 cells of 100 m from (1000, 2000);
// the stations form a 100 m mesh from (800, 1800) to (1500, 2400), cell
// coordinates being the cells' lower-left corners.
std::vector<StationPlace> RunMesh() {
    std::vector<StationPlace> mesh;
    for (int i = 0; i < 7; ++i)
        for (int j = 0; j < 8; ++j) mesh.push_back({800.0 + 100 * j, 1800.0 + 100 * i, 500});
    return mesh;
}

// Methods 7 and 8 with the real executable: the spline reproduces a plane of
// station values, and with method 8 the second file's gradient times the
// cell's elevation is added; one thread and four give the same files.
TEST(SplineRun, MethodsSevenAndEight) {
    const std::vector<StationPlace> mesh = RunMesh();
    const int n = static_cast<int>(mesh.size());
    auto plane = [](int day, double x, double y) { return day + 0.01 * (x - 1000) + 0.02 * (y - 2000); };
    auto values = [&](int day, int s) {
        const StationPlace& p = mesh[static_cast<size_t>(s - 1)];
        return plane(day, p.X, p.Y);
    };
    auto gradients = [](int day, int) { return 0.001 * (day + 1); };
    const std::vector<std::vector<double>> elevation = {
        {G, 500, 520, 610}, {480, 505, 600, 640}, {G, 470, 580, G}};

    for (int method : {7, 8}) {
        SCOPED_TRACE(method);
        testsupport::ModelFiles files;
        files.MeteoInputs = "[meteo_data_count]\n1\n[meteo_names]\ntemperature\n";
        Section section;
        section.Method = method;
        section.StationLine = "temperature.txt";
        if (method == 8) section.SecondStationLine = "gradients.txt";
        section.WriteCode = 3;
        section.StatisticsLine = "temperature.sta 2001";
        files.Extra = section.Text("temperature");
        std::map<std::string, std::string> outputs[2];
        const char* threads[2] = {"OMP_NUM_THREADS=1", "OMP_NUM_THREADS=4"};
        for (int k = 0; k < 2; ++k) {
            testsupport::TempDir dir;
            const auto control = files.Write(dir);
            testsupport::WriteFile(dir.file("input/temperature.txt"),
                                   StationText(mesh, DailyRows({2020, 1, 1, 24}, 10, n, values)));
            testsupport::WriteFile(dir.file("input/gradients.txt"),
                                   StationText(mesh, DailyRows({2020, 1, 1, 24}, 10, n, gradients)));
            const auto run = testsupport::RunRuvex(dir.path(), {control}, threads[k]);
            ASSERT_EQ(run.exitCode, 0) << run.output;
            const auto grid = meteotest::ReadTextGrid(dir.file("output/result.asc"));
            for (int r = 1; r <= 3; ++r) {
                for (int c = 1; c <= 4; ++c) {
                    const double z = elevation[static_cast<size_t>(r - 1)][static_cast<size_t>(c - 1)];
                    if (z == G) {
                        EXPECT_EQ(grid.at(r, c), G);
                        continue;
                    }
                    double expected = plane(9, 900.0 + 100 * c, 2300.0 - 100 * r);
                    if (method == 8) expected += gradients(9, 0) * z;
                    EXPECT_NEAR(grid.at(r, c), expected, 1e-9) << r << " " << c;
                }
            }
            outputs[k]["result.asc"] = testsupport::ReadFile(dir.file("output/result.asc"));
            outputs[k]["temperature.sta"] = testsupport::ReadFile(dir.file("output/temperature.sta"));
        }
        EXPECT_EQ(outputs[0], outputs[1]);
    }
}

// Stations that do not form columns of equal length end the run with
// code 70.
TEST(SplineRun, IrregularMeshEndsTheRun) {
    std::vector<StationPlace> mesh = RunMesh();
    mesh.pop_back();
    testsupport::ModelFiles files;
    files.MeteoInputs = "[meteo_data_count]\n1\n[meteo_names]\ntemperature\n";
    Section section;
    section.Method = 7;
    section.StationLine = "temperature.txt";
    files.Extra = section.Text("temperature");
    testsupport::TempDir dir;
    const auto control = files.Write(dir);
    testsupport::WriteFile(
        dir.file("input/temperature.txt"),
        StationText(mesh, DailyRows({2020, 1, 1, 24}, 10, static_cast<int>(mesh.size()), [](int, int) { return 1.0; })));
    const auto run = testsupport::RunRuvex(dir.path(), {control});
    EXPECT_EQ(run.exitCode, 70);
    bool found = false;
    for (const auto& line : testsupport::DiagLines(testsupport::ReadFile(dir.file("Ruvex_Diag.xml")))) {
        if (line.level == 0 && line.description.find("Error converting the station coordinates into a grid") !=
                                   std::string::npos)
            found = true;
    }
    EXPECT_TRUE(found);
}

// One station whose y was typed with five digits too many: the stations of
// a single row each form a column of their own, so the mesh is regular but
// would span 21.5 million sub-grid rows of 100 m (gigabytes and minutes of
// work). The run ends at once with code 70, naming the station and its file.
TEST(SplineRun, StationFarFromTheGridEndsTheRun) {
    std::vector<StationPlace> row;
    for (int j = 0; j < 8; ++j) row.push_back({800.0 + 100 * j, 2150, 500});
    row.push_back({1570, 2150000000, 500});
    testsupport::ModelFiles files;
    files.MeteoInputs = "[meteo_data_count]\n1\n[meteo_names]\ntemperature\n";
    Section section;
    section.Method = 7;
    section.StationLine = "temperature.txt";
    files.Extra = section.Text("temperature");
    testsupport::TempDir dir;
    const auto control = files.Write(dir);
    testsupport::WriteFile(dir.file("input/temperature.txt"),
                           StationText(row, DailyRows({2020, 1, 1, 24}, 10, 9, [](int, int s) { return 1.0 * s; })));
    const auto run = testsupport::RunRuvex(dir.path(), {control});
    EXPECT_EQ(run.exitCode, 70) << run.output;
    std::string fatal;
    for (const auto& line : testsupport::DiagLines(testsupport::ReadFile(dir.file("Ruvex_Diag.xml")))) {
        if (line.level == 0 && line.description.find("Error converting the station coordinates") != std::string::npos)
            fatal = line.description;
    }
    EXPECT_NE(fatal.find("station 9 (x = 1570, y = 2.15e+09)"), std::string::npos) << fatal;
    EXPECT_NE(fatal.find("temperature.txt"), std::string::npos) << fatal;
    EXPECT_NE(fatal.find("more than 10000"), std::string::npos) << fatal;
}

}  // namespace
