// Radiation correction: its kernels against hand-computed values, and whole
// runs of the executable that write the correction grid.

#include <gtest/gtest.h>

#include <omp.h>

#include <cmath>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "forcing/expokorr_physics.h"
#include "forcing/meteoint_fixture.h"
#include "framework/solar_geometry.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

constexpr double G = -9999;

TEST(ExpokorrKernels, SunOfSubStep) {
    struct Case {
        const char* what;
        double start, end, sunrise, sunset;
        double dark;
        bool night;
        double sunTime;
    } cases[] = {
        // begins 15 minutes before sunrise: the sun stands 7.5 minutes after the centre
        {"dawn", 5.75, 6.75, 6, 18, 0.25, false, 6.375},
        {"noon", 11, 12, 6, 18, 0, false, 11.5},
        {"dusk", 17.5, 18.5, 6, 18, 0.5, false, 17.75},
        {"late evening", 22, 23, 6, 18, 1, true, 0},
        {"next morning past 24", 29.5, 30.5, 6, 18, 0.5, false, 30.25},
        {"polar night", 11, 12, 24, 0, 1, true, 0},
        {"polar day at midnight", 0, 1, 0, 24, 0, false, 0.5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const expokorr::SubStepSun sun = expokorr::SunOfSubStep(c.start, c.end, c.sunrise, c.sunset);
        EXPECT_NEAR(sun.DarkFraction, c.dark, 1e-12);
        EXPECT_EQ(sun.Night, c.night);
        EXPECT_NEAR(sun.SunFraction, c.night ? 0 : 1 - c.dark, 1e-12);
        if (!c.night) {
            EXPECT_NEAR(sun.SunTime, c.sunTime, 1e-12);
        }
    }
}

TEST(ExpokorrKernels, BeamEnergy) {
    const double up = 0.5 * solar::Pi;
    // 1367 x 0.86^0.9 with the sun in the zenith; 0.5 x 1367 x 0.86^1.8 at 30 degrees
    EXPECT_NEAR(expokorr::BeamEnergy(1, 1, up), 1193.4854276734948, 1e-6);
    EXPECT_NEAR(expokorr::BeamEnergy(0.5, 1, 30 * solar::Pi / 180) / 0.5, 2 * 520.9976101203308, 1e-6);
    EXPECT_NEAR(expokorr::BeamEnergy(2, 0.25, up), 0.5 * 1193.4854276734948, 1e-6);
    EXPECT_EQ(expokorr::BeamEnergy(1, 1, 0.017), 0);  // the sun too low
    EXPECT_EQ(expokorr::BeamEnergy(1, 1, -0.3), 0);   // below the horizon
}

TEST(ExpokorrKernels, SlopeRadiationAndRatio) {
    struct Case {
        const char* what;
        double m, cosZ, w;
        bool shadowed, overcast;
        double expected;
    } cases[] = {
        {"flat", 0.6, 0.6, 10, false, false, 6},
        {"facing the sun", 0.9, 0.6, 10, false, false, 9},
        {"facing away", -0.2, 0.6, 10, false, false, 0},
        {"in the shadow", 0.9, 0.6, 10, true, false, 0},
        {"low sun, capped at 5 cos z", 0.8, 0.1, 10, false, false, 5},
        {"overcast counts as flat", 0.9, 0.6, 10, false, true, 6},
        {"overcast but facing away", -0.1, 0.6, 10, false, true, 0},
        {"night", 0.9, 1, 0, false, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_NEAR(expokorr::SlopeRadiation(c.m, c.cosZ, c.w, c.shadowed, c.overcast), c.expected, 1e-12);
    }
    EXPECT_DOUBLE_EQ(expokorr::CorrectionRatio(9, 6), 1.5);
    EXPECT_EQ(expokorr::CorrectionRatio(9, 0), 0);  // no sun in the step: no division
}

// A 30-degree slope at solar noon on 21 June at 47.5 degrees north, sun due
// south at zenith angle 47.5 - 23.399 degrees: cos(z - 30) / cos z and
// cos(z + 30) / cos z.
TEST(ExpokorrKernels, SlopesAtNoonInJune) {
    const solar::SunPosition sun = solar::SunPositionAt(47.5, solar::SolarDeclination(21, 6), 12);
    const double z = 0.5 * solar::Pi - sun.Elevation;
    const double cosZ = std::cos(z);
    const double w = expokorr::BeamEnergy(1, 1, sun.Elevation);
    ASSERT_GT(w, 0);
    const double k = solar::Pi / 180;
    struct Case {
        const char* what;
        double aspect, slope, ratio;
    } cases[] = {
        {"south-facing", 180, 30, 1.0896952897876957},
        {"north-facing", 0, 30, 0.6423555178794804},
        {"flat", 123, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const double m = solar::CosIncidence(c.aspect * k, c.slope * k, sun.Azimuth, z);
        const double ratio = expokorr::CorrectionRatio(expokorr::SlopeRadiation(m, cosZ, w, false, false), w * cosZ);
        EXPECT_NEAR(ratio, c.ratio, 1e-6);
    }
}

TEST(ExpokorrKernels, CorrectedTemperature) {
    const double e = std::exp(1.0);
    EXPECT_DOUBLE_EQ(expokorr::CorrectedTemperature(10, 1, 2, 0.5, 5), 10);
    EXPECT_NEAR(expokorr::CorrectedTemperature(10, e, 2, 0.5, 5), 11, 1e-12);  // + ln(e) x 2 x 0.5
    EXPECT_NEAR(expokorr::CorrectedTemperature(10, 0.1, 2, 0.5, 5), 10 - 1.6094, 1e-12);
    EXPECT_NEAR(expokorr::CorrectedTemperature(10, 0, 2, 0.5, 5), 10 - 1.6094, 1e-12);
    EXPECT_DOUBLE_EQ(expokorr::CorrectedTemperature(10, 0, 2, 0.5, 0), 10);  // no sun: unchanged
}

// A grid of 1-based rows for the shadow march.
struct Raster {
    std::vector<std::vector<double>> cells;
    std::vector<double*> rows;
    Raster(int nrows, int ncols, double value)
        : cells(static_cast<size_t>(nrows) + 1, std::vector<double>(static_cast<size_t>(ncols) + 1, value)) {
        for (auto& row : cells) rows.push_back(row.data());
    }
    double** data() { return rows.data(); }
    double& at(int r, int c) { return cells[static_cast<size_t>(r)][static_cast<size_t>(c)]; }
};

TEST(ExpokorrKernels, TerrainShadowBehindARidge) {
    const double tanE = 0.3;  // a ray falls 30 m per 100 m cell
    const double e = std::atan(tanE);
    struct Case {
        const char* what;
        double azimuth;
        bool ridgeInColumn;  // a north-south ridge (sun east) or an east-west ridge (sun south)
    } cases[] = {{"sun due east", 0.5 * M_PI, true}, {"sun due south", M_PI, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Raster elevation(5, 5, 0), zones(5, 5, 1), shadow(5, 5, 7);
        // ridge of 100 m in column 4 (row 4); one cell outside the zones
        for (int k = 1; k <= 5; ++k) (c.ridgeInColumn ? elevation.at(k, 4) : elevation.at(4, k)) = 100;
        zones.at(2, 2) = G;
        expokorr::TerrainShadow(elevation.data(), zones.data(), shadow.data(), 5, 5, G, 100, c.azimuth, e);
        for (int k = 1; k <= 5; ++k) {
            SCOPED_TRACE(k);
            auto mark = [&](int along) -> double& { return c.ridgeInColumn ? shadow.at(k, along) : shadow.at(along, k); };
            // downsun of the ridge: 70, 40 and 10 m of shadow line above ground 0
            for (int along : {1, 2, 3}) {
                if (k == 2 && along == 2) {
                    EXPECT_EQ(shadow.at(2, 2), 7);  // outside the zones: untouched
                    continue;
                }
                EXPECT_EQ(mark(along), 1) << along;
            }
            EXPECT_EQ(mark(4), 0);  // the ridge itself is lit
        }
        // the sun-facing edge: column 5 starts the eastern rays, row 5 the southern ones
        if (c.ridgeInColumn) {
            for (int r = 1; r <= 5; ++r) EXPECT_EQ(shadow.at(r, 5), 7);
        } else {
            for (int col = 1; col <= 5; ++col) EXPECT_EQ(shadow.at(5, col), 7);
        }
    }
    // a higher sun: the 100 m ridge shades only the next cell (100 - 60 > 0, 100 - 120 < 0)
    Raster elevation(3, 6, 0), zones(3, 6, 1), shadow(3, 6, 0);
    for (int r = 1; r <= 3; ++r) elevation.at(r, 5) = 100;
    expokorr::TerrainShadow(elevation.data(), zones.data(), shadow.data(), 3, 6, G, 100, 0.5 * M_PI, std::atan(0.6));
    for (int r = 1; r <= 3; ++r) {
        EXPECT_EQ(shadow.at(r, 4), 1);
        EXPECT_EQ(shadow.at(r, 3), 0);
        EXPECT_EQ(shadow.at(r, 1), 0);
    }
}

// Every quadrant and a diagonal sun on a non-square grid: rays stay inside
// the grid (the sanitizer build checks), and a flat grid is lit everywhere.
TEST(ExpokorrKernels, TerrainShadowStaysInsideTheGrid) {
    for (double azimuth : {0.1, 0.785398, 1.2, 2.0, 2.356, 3.0, 3.5, 3.927, 4.5, 5.0, 5.5, 6.2}) {
        SCOPED_TRACE(azimuth);
        Raster elevation(7, 4, 300), zones(7, 4, 1), shadow(7, 4, 5);
        expokorr::TerrainShadow(elevation.data(), zones.data(), shadow.data(), 7, 4, G, 50, azimuth, 0.4);
        int lit = 0;
        for (int r = 1; r <= 7; ++r)
            for (int c = 1; c <= 4; ++c) {
                EXPECT_NE(shadow.at(r, c), 1);
                lit += shadow.at(r, c) == 0;
            }
        EXPECT_GT(lit, 0);
    }
}

// The rays of a march in any order and on any threads leave the marks of
// the march in its order, where rays cross the same cells: rough terrain
// with holes, every quadrant, steep and flat rays, a wide and a tall grid,
// one march after the other on the same keys.
TEST(ExpokorrKernels, ShadowMarchInAnyOrderAsInOneMarch) {
    for (const auto& [nrows, ncols] : {std::pair{23, 41}, std::pair{37, 9}}) {
        Raster elevation(nrows, ncols, 0), zones(nrows, ncols, 1);
        for (int r = 1; r <= nrows; ++r)
            for (int c = 1; c <= ncols; ++c) {
                elevation.at(r, c) = 50.0 * ((r * 7 + c * 13) % 11) + 3.0 * r * c;
                if ((r * 5 + c * 3) % 19 == 0) zones.at(r, c) = G;
                if ((r + 2 * c) % 23 == 0) elevation.at(r, c) = G;
            }
        expokorr::ShadowMarch march;
        for (double azimuth : {0.3, 0.9, 1.5708, 2.2, 2.9, 3.3, 4.0, 4.6, 5.1, 5.9}) {
            for (double sun : {0.05, 0.4}) {
                SCOPED_TRACE(std::to_string(nrows) + "x" + std::to_string(ncols) + " azimuth " +
                             std::to_string(azimuth) + " elevation " + std::to_string(sun));
                Raster one(nrows, ncols, 5);
                expokorr::TerrainShadow(elevation.data(), zones.data(), one.data(), nrows, ncols, G, 100, azimuth, sun);
                for (int threads : {0, 3}) {  // 0: one thread, the rays backwards
                    ASSERT_TRUE(march.Lay(nrows, ncols, 100, azimuth, sun));
                    const int rays = march.Count();
                    if (threads == 0) {
                        for (int i = rays - 1; i >= 0; --i) march.MarchRay(i, elevation.data(), zones.data(), G);
                    } else {
#pragma omp parallel for schedule(dynamic, 1) num_threads(threads)
                        for (int i = 0; i < rays; ++i) march.MarchRay(i, elevation.data(), zones.data(), G);
                    }
                    Raster many(nrows, ncols, 5);
                    for (int r = 1; r <= nrows; ++r)
                        for (int c = 1; c <= ncols; ++c)
                            if (march.Mark(r, c) >= 0) many.at(r, c) = march.Mark(r, c);
                    EXPECT_EQ(many.cells, one.cells) << threads << " threads";
                }
            }
        }
    }
}

// ---- Whole runs.

constexpr int Rows = 30, Cols = 40;

// An east-west ridge along row 15, 20 m higher per 100 m cell towards it:
// north of it the cells face north, south of it south. The north-west corner
// lies outside the basin.
std::string GridText(bool zones) {
    std::ostringstream out;
    out << "ncols " << Cols << "\nnrows " << Rows << "\nxllcorner 1000\nyllcorner 2000\ncellsize 100\n"
        << "nodata_value -9999\n";
    for (int r = 1; r <= Rows; ++r) {
        for (int c = 1; c <= Cols; ++c) {
            if (r <= 2 && c <= 2) {
                out << "-9999 ";
            } else {
                out << (zones ? (c <= Cols / 2 ? 1 : 2) : 1500 - 20 * std::abs(r - 15)) << " ";
            }
        }
        out << "\n";
    }
    return out.str();
}

ModelFiles RadiationRun(const std::string& body) {
    ModelFiles files;
    files.ModelTime = "24\n20\n6\n2020\n24\n21\n6\n2020\n";
    files.ZoneGrid = GridText(true);
    files.Elevation = GridText(false);
    files.StandardGrids = "0\n";
    files.MeteoInputs = "[meteo_data_count]\n1\n[meteo_names]\ntemperature\n";
    meteotest::Section section;
    section.StationLine = "temperature.txt";
    files.Extra = section.Text("temperature");
    files.Methods["radiation_correction"] = 1;
    files.SectionBodies["radiation_correction"] = body;
    files.InputFiles["temperature.txt"] = meteotest::StationText(
        {{3000, 3500, 1400}}, meteotest::DailyRows({2020, 6, 20, 24}, 2, 1, [](int day, int) { return 15.0 + day; }));
    return files;
}

// method 2, TKORR, code 2, k = 2, EXKORR, code 2, SHAPE, code 0, every step, 24 sub-steps
const char* const DailyBody =
    "2 method\ntkorr.asc\n2\n2.0 k\nexkorr.asc\n2\nshade.asc\n0\n1 N\n24 splittings\n";

TEST(ExpokorrRun, WritesTheCorrectionGridAndIsThreadInvariant) {
    TempDir one, four;
    for (const TempDir* dir : {&one, &four}) RadiationRun(DailyBody).Write(*dir);
    const auto a = RunRuvex(one.path(), {"model.ctl"}, "OMP_NUM_THREADS=1");
    const auto b = RunRuvex(four.path(), {"model.ctl"}, "RUVEX_PARALLEL_MIN_CELLS=1 OMP_NUM_THREADS=4");
    ASSERT_EQ(a.exitCode, 0) << a.output;
    ASSERT_EQ(b.exitCode, 0) << b.output;

    for (const char* name : {"output/exkorr_20200621.024", "output/exkorr_20200620.024", "output/tkorr_20200621.024"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(FileExists(one.file(name)));
        EXPECT_EQ(ReadFile(one.file(name)), ReadFile(four.file(name)));
    }

    const meteotest::TextGrid ratio = meteotest::ReadTextGrid(one.file("output/exkorr_20200621.024"));
    const meteotest::TextGrid temperature = meteotest::ReadTextGrid(one.file("output/tkorr_20200621.024"));
    ASSERT_EQ(ratio.Rows, Rows);
    EXPECT_EQ(ratio.at(1, 1), G);  // outside the basin
    for (int r = 1; r <= Rows; ++r) {
        for (int c = 1; c <= Cols; ++c) {
            if (r <= 2 && c <= 2) continue;
            ASSERT_TRUE(std::isfinite(ratio.at(r, c))) << r << " " << c;
            ASSERT_GT(ratio.at(r, c), 0) << r << " " << c;
        }
    }
    // the north-facing flank gets less than a flat cell, the south-facing more
    const double north = ratio.at(8, 20), south = ratio.at(22, 20);
    EXPECT_LT(north, 1);
    EXPECT_GT(south, 1);
    // the corrected temperature follows ln(q) x k x 0.5 (no sunshine grid) around the day's 16 degrees
    EXPECT_NEAR(temperature.at(8, 20), 16 + std::log(north) * 2 * 0.5, 1e-6);
    EXPECT_NEAR(temperature.at(22, 20), 16 + std::log(south) * 2 * 0.5, 1e-6);
}

TEST(ExpokorrRun, ReadsItsSection) {
    struct Case {
        const char* what;
        std::string body;
        int code;
        const char* fatal;
    } cases[] = {
        {"a method outside 1 to 4 counts as 2", "7\ntkorr.asc\n2\n1\nexkorr.asc\n2\nshade.asc\n0\n1\n4\n", 0, ""},
        {"a missing line", "2\ntkorr.asc\n2\n1\nexkorr.asc\n2\nshade.asc\n0\n1\n", 17, "number of splittings for "},
        {"an unreadable scaling", "2\ntkorr.asc\n2\nabc\n", 17, "scaling factor for Tkorr for "},
        {"no sub-step", "2\ntkorr.asc\n2\n1\nexkorr.asc\n2\nshade.asc\n0\n1\n0\n", 17, "number of splittings for "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        RadiationRun(c.body).Write(dir);
        const auto r = RunRuvex(dir.path(), {"model.ctl"});
        EXPECT_EQ(r.exitCode, c.code) << r.output;
        if (c.code == 0) {
            // corrected temperature grid written as with method 2
            EXPECT_TRUE(FileExists(dir.file("output/tkorr_20200621.024")));
            continue;
        }
        EXPECT_NE(r.output.find(std::string("error in control file, ") + c.fatal), std::string::npos)
            << r.output;
    }
}

}  // namespace
