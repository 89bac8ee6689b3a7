// The snow time step: a degree-day winter by hand, the water balance of the
// snow cover for every method, slides by hand, tracers, permafrost, hydrologic
// response units, thread invariance and a warm start.

#include <gtest/gtest.h>

#include <omp.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "setup/tracer_ini.h"
#include "support/water_balance.h"
#include "surface/snow_fixture.h"

using namespace snowtest;

namespace {

// Sets every zone cell of a grid.
void Fill(SnowFixture& f, double** grid, double value) {
    for (int r = 1; r <= f.rows; ++r)
        for (int c = 1; c <= f.cols; ++c)
            if (f.table[1].Data[r][c] != -9999) grid[r][c] = value;
}

bool SlideMethod(int m) { return m == 6 || m == 7 || m == 8 || m == 9 || m == 12 || m == 14; }
bool DepositionMethod(int m) { return m == 7 || m == 9 || m == 10 || m == 11 || m == 13 || m == 14; }

// Every input any method may ask for.
void AddAllInputs(SnowFixture& f) {
    f.AddInputs(0, 0);
    f.Add("temperature_night", 0);
    f.Add("wind_speed", 2);
    f.Add("vapor_pressure", 5);
    f.Add("cloudiness", 0.5);
    f.Add("air_humidity", 0.7);
    f.Add("AspectCorrectedGlobalRadiation", 200);
    f.Add("snow_evaporation", 0);
    for (int k = 1; k <= 4; ++k) f.Add("slidefraction" + std::to_string(k), 0.25);
    f.Add("slope_angle", 40);
    f.Add("deposition_index", 0.2);
}

}  // namespace

// Method 1 by hand: ten cold days of snow, then a dry day at +5 degC.
TEST(SnowStep, DegreeDayByHand) {
    SnowFixture f(1, 1, {{1}}, {{500}});
    f.AddInputs(0, 0);
    SnowSection section;  // method 1, transzone 0, T0R 0, T0 0, CWH 0.1, C0 3
    auto model = f.Make(section, 60);
    double** p = f.Grid("precipitation");
    double** t = f.Grid("temperature");
    double** out = f.Grid("snowcover_outflow");
    for (int day = 1; day <= 10; ++day)
        for (int hour = 1; hour <= 24; ++hour) {
            p[1][1] = 10.0 / 24;
            t[1][1] = -5;
            model->RunTimeStep(hour, day, 1, 2020);
            ASSERT_EQ(out[1][1], 0);
        }
    EXPECT_NEAR(f.Grid("snowstorage_solid")[1][1], 100, 1e-12);
    EXPECT_EQ(f.Grid("snowstorage_liquid")[1][1], 0);
    double sum = 0;
    for (int hour = 1; hour <= 24; ++hour) {
        p[1][1] = 0;
        t[1][1] = 5;
        model->RunTimeStep(hour, 11, 1, 2020);
        const double expected = hour < 15 ? 0 : (hour == 15 ? 0.3125 : 0.6875);
        EXPECT_NEAR(out[1][1], expected, 1e-12) << "hour " << hour;
        sum += out[1][1];
    }
    EXPECT_NEAR(sum, 6.5, 1e-12);
    EXPECT_NEAR(f.Grid("snowstorage_solid")[1][1], 85, 1e-12);
    EXPECT_NEAR(f.Grid("snowstorage_liquid")[1][1], 8.5, 1e-12);
    EXPECT_NEAR(f.Grid("snow_storage_total")[1][1], 93.5, 1e-12);
    EXPECT_NEAR(f.Grid("melt_from_snowcover")[1][1], 0.6875, 1e-12);
}

// A prescribed surface temperature below 100 is read in degC: -10 and
// 263.16 K start the pack's iteration at the same point, 263.15 K elsewhere.
TEST(SnowStep, PrescribedSurfaceTemperature) {
    auto run = [](double prescribed) {
        SnowFixture f(1, 1, {{1}}, {{800}});
        AddAllInputs(f);
        f.Grid("temperature")[1][1] = -6;
        f.Add("surfacetemperature", prescribed);
        SnowSection section;
        section.Set(1, "5");
        auto model = f.Make(section, 60);
        f.Grid("snowstorage_solid")[1][1] = 40;
        model->RunTimeStep(1, 5, 1, 2020);
        return std::vector<double>{f.Grid("snowstorage_solid")[1][1], f.Grid("snowtemp")[1][1],
                                   f.Grid("surftemp")[1][1], f.Grid("snow_evaporation")[1][1]};
    };
    const auto celsius = run(-10), kelvin = run(263.16), below = run(263.15);
    EXPECT_EQ(celsius, kelvin);
    EXPECT_NE(kelvin, below);
    for (double v : celsius) EXPECT_TRUE(std::isfinite(v) && v != -9999) << v;
}

// In every cell and step: snowfall + rain = change of the total storage +
// outflow + snow evaporation; with slides the same over the basin, and the
// released mass equals deposition + mobile mass.
TEST(SnowStep, WaterBalanceOfEveryMethod) {
    const double temperatures[] = {-8, -4, -1, 0.5, 2, 5, 8, -3, 1, 6, -12, 3};
    const double precipitation[] = {5, 0, 3, 2, 0, 4, 0, 1, 6, 0, 2, 8};
    double worstCell = 0, worstBasin = 0;
    for (int interval : {60, 1440}) {
        for (int method = 1; method <= 14; ++method) {
            if (interval == 1440 && DepositionMethod(method)) continue;
            SCOPED_TRACE("method " + std::to_string(method) + ", " + std::to_string(interval) + " min");
            SnowFixture f(2, 3, {{1, 1, 2}, {1, 2, 2}}, {{900, 1000, 1100}, {950, 1050, 1200}});
            AddAllInputs(f);
            f.Grid("AspectCorrectedGlobalRadiation")[1][2] = 600;
            f.Grid("air_humidity")[2][3] = 0;
            f.Grid("deposition_index")[2][2] = -0.1;
            SnowSection section;
            section.Set(1, std::to_string(method));
            section.Set(2, "1");    // transzone
            section.Set(3, "0.5");  // T0R
            section.Set(59, "30");  // slides from 30 degrees
            section.Set(60, "0.05");
            auto model = f.Make(section, interval);
            testsupport::WaterBalance wb(2, 3);
            wb.Mask(f.table[1].Data);
            double** total = f.Grid("snow_storage_total");
            for (int step = 0; step < 36; ++step) {
                const int k = step % 12;
                for (int r = 1; r <= 2; ++r)
                    for (int c = 1; c <= 3; ++c) {
                        f.Grid("temperature")[r][c] = temperatures[k] + 0.7 * c - 0.4 * r;
                        f.Grid("temperature_night")[r][c] = temperatures[k] - 3 + 0.2 * c;
                        f.Grid("precipitation")[r][c] = precipitation[k] * (1 + 0.1 * r);
                    }
                Fill(f, f.Grid("snow_evaporation"), 0);
                wb.BeginStep();
                wb.Storage(total);
                if (interval == 60)
                    model->RunTimeStep(step % 24 + 1, 1 + step / 24, 2, 2020);
                else
                    model->RunTimeStep(24, 1 + step, 2, 2020);
                wb.In(f.Grid("snow_fraction"));
                wb.In(f.Grid("rain_fraction"));
                wb.Out(f.Grid("snowcover_outflow"));
                wb.Out(f.Grid("snow_evaporation"));
                wb.EndStorage(total);
                if (SlideMethod(method)) {
                    const double basin = wb.BasinResidual();
                    worstBasin = std::max(worstBasin, std::fabs(basin));
                    EXPECT_NEAR(basin, 0, 1e-12);
                    double released = 0, settled = 0;
                    for (int r = 1; r <= 2; ++r)
                        for (int c = 1; c <= 3; ++c) {
                            released += f.Grid("input_mass")[r][c];
                            settled += f.Grid("deposition")[r][c] + f.Grid("mobile_mass")[r][c];
                        }
                    EXPECT_NEAR(released, settled, 1e-12);
                    wb.Check(1e30);
                } else {
                    for (int r = 1; r <= 2; ++r)
                        for (int c = 1; c <= 3; ++c) worstCell = std::max(worstCell, std::fabs(wb.Residual(r, c)));
                    EXPECT_EQ(wb.Check(1e-12), "");
                }
                for (int r = 1; r <= 2; ++r)
                    for (int c = 1; c <= 3; ++c) {
                        ASSERT_GE(f.Grid("snowstorage_liquid")[r][c], 0);
                        ASSERT_GE(f.Grid("snowstorage_solid")[r][c], 0);
                    }
            }
            double snow = 0;
            for (int r = 1; r <= 2; ++r)
                for (int c = 1; c <= 3; ++c) snow += wb.TotalOut(r, c);
            EXPECT_GT(snow, 0);  // something left the pack
        }
    }
    std::printf("largest residual: cell %.3g mm, basin %.3g mm\n", worstCell, worstBasin);
}

// Slides by hand on a row "1 -9999 1 1": the hole has an elevation but no
// zone, and no cell reaches across it.
TEST(SnowStep, SlidesByHand) {
    SnowFixture f(1, 4, {{1, -9999, 1, 1}}, {{100, 150, 200, 300}});
    f.AddInputs(0, -5);
    for (int k = 1; k <= 4; ++k) f.Add("slidefraction" + std::to_string(k), k == 2 ? 1 : 0);
    f.Add("slope_angle", 10);
    f.Add("max_deposition", 0.5);
    SnowSection section;
    section.Set(1, "8");
    section.Set(59, "1");
    section.Set(60, "0.01");
    auto model = f.Make(section, 60);
    Fill(f, f.Grid("snowstorage_solid"), 100);
    Fill(f, f.Grid("snow_storage_total"), 100);
    model->RunTimeStep(1, 5, 1, 2020);
    double** input = f.Grid("input_mass");
    double** mobile = f.Grid("mobile_mass");
    double** deposition = f.Grid("deposition");
    double** total = f.Grid("snow_storage_total");
    EXPECT_EQ(input[1][2], -9999);
    for (int c : {1, 3, 4}) EXPECT_NEAR(input[1][c], 1, 1e-12) << c;
    EXPECT_NEAR(mobile[1][1], 1, 1e-12);
    EXPECT_NEAR(deposition[1][3], 0.5, 1e-12);
    EXPECT_NEAR(mobile[1][3], 1.5, 1e-12);
    EXPECT_NEAR(mobile[1][4], 0, 1e-12);
    EXPECT_NEAR(total[1][1], 100, 1e-12);
    EXPECT_NEAR(total[1][3], 101, 1e-12);
    EXPECT_NEAR(total[1][4], 99, 1e-12);
    EXPECT_NEAR(total[1][1] + total[1][3] + total[1][4], 300, 1e-12);
    EXPECT_NEAR(f.Grid("snowstorage_solid")[1][3], 101, 1e-12);
}

// The slides run zone by zone on several threads; the result must be that
// of one walk over all cells in elevation order, bit for bit. Three zones
// interlock on a grid with holes, equal elevations, shares of zero, flat
// cells and small capacities, so that snow moves on over several cells.
TEST(SnowStep, SlidesZoneByZoneAreOneWalk) {
    setenv("RUVEX_PARALLEL_MIN_CELLS", "1", 1);
    const int R = 23, C = 29;
    std::vector<std::vector<double>> zones(R, std::vector<double>(C, 1));
    std::vector<std::vector<double>> dem(R, std::vector<double>(C, 0));
    unsigned seed = 12345;
    auto next = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return static_cast<double>((seed >> 8) % 10000) / 10000.0;
    };
    for (int r = 0; r < R; ++r)
        for (int c = 0; c < C; ++c) {
            zones[r][c] = (r / 4 + c / 5 + (r * c) % 3 == 0 ? 1 : 0) % 3 + 1;
            if ((r * 7 + c * 11) % 17 == 0) zones[r][c] = -9999;
            // rising from cell to cell along the rows, pairs of equal height, a few bumps
            dem[r][c] = 1000 + 30.0 * r + c / 2 + ((r * c) % 7 == 0 ? 5 : 0);
        }
    struct Grids {
        std::vector<std::vector<double>> solid, liquid, total, input, mobile, deposition;
    };
    auto copy = [&](double** grid) {
        std::vector<std::vector<double>> v(R + 1, std::vector<double>(C + 1, 0));
        for (int r = 1; r <= R; ++r)
            for (int c = 1; c <= C; ++c) v[r][c] = grid[r][c];
        return v;
    };
    Grids reference;
    bool haveReference = false;
    for (int threads : {1, 3, 8}) {
        SCOPED_TRACE(threads);
        omp_set_num_threads(threads);
        SnowFixture f(R, C, zones, dem);
        f.AddInputs(0, -5);
        for (int k = 1; k <= 4; ++k) f.Add("slidefraction" + std::to_string(k), 0);
        f.Add("slope_angle", 0);
        f.Add("max_deposition", 0);
        SnowSection section;
        section.Set(1, "8");
        section.Set(60, "0.2");
        auto model = f.Make(section, 60);
        seed = 12345;
        for (int r = 1; r <= R; ++r)
            for (int c = 1; c <= C; ++c) {
                if (zones[r - 1][c - 1] == -9999) continue;
                for (int k = 1; k <= 4; ++k) f.Grid("slidefraction" + std::to_string(k))[r][c] = next() < 0.2 ? 0 : next();
                f.Grid("slope_angle")[r][c] = 60 * next();
                f.Grid("max_deposition")[r][c] = 0.5 * next();
                const double solid = next() < 0.1 ? 0 : 100 * next(), liquid = solid > 0 ? 10 * next() : 0;
                f.Grid("snowstorage_solid")[r][c] = solid;
                f.Grid("snowstorage_liquid")[r][c] = liquid;
                f.Grid("snow_storage_total")[r][c] = solid + liquid;
            }
        if (!haveReference) {
            // One walk over all cells in the order the order grids give.
            auto solid = copy(f.Grid("snowstorage_solid")), liquid = copy(f.Grid("snowstorage_liquid"));
            auto total = copy(f.Grid("snow_storage_total"));
            std::vector<std::vector<double>> input(R + 1, std::vector<double>(C + 1, 0)), mobile = input,
                                             deposition = input;
            double** orderRow = f.Grid("elev_order_row");
            double** orderCol = f.Grid("elev_order_col");
            double** zone = f.table[1].Data;
            double** capacity = f.Grid("max_deposition");
            for (int pr = 1; pr <= R; ++pr)
                for (int pc = 1; pc <= C; ++pc) {
                    if (orderRow[pr][pc] == -9999) continue;
                    const int i = static_cast<int>(orderRow[pr][pc]), j = static_cast<int>(orderCol[pr][pc]);
                    const int ni[4] = {i - 1, i, i, i + 1}, nj[4] = {j, j - 1, j + 1, j};
                    double share[4] = {}, sum = 0;
                    for (int k = 0; k < 4; ++k) {
                        if (ni[k] >= 1 && ni[k] <= R && nj[k] >= 1 && nj[k] <= C && zone[ni[k]][nj[k]] != -9999 &&
                            zone[ni[k]][nj[k]] == zone[i][j])
                            share[k] = f.Grid("slidefraction" + std::to_string(k + 1))[i][j];
                        sum += share[k];
                    }
                    if (sum > 0)
                        for (double& x : share) x /= sum;
                    if (total[i][j] > 0 && f.Grid("slope_angle")[i][j] >= 30) {
                        const double t = total[i][j], kept = t - 0.2 * t;
                        input[i][j] += t * 0.2 * 1.0;
                        liquid[i][j] = liquid[i][j] / t * kept;
                        solid[i][j] = kept - liquid[i][j];
                        total[i][j] = kept;
                    }
                    const double m = input[i][j] + mobile[i][j];
                    if (!(sum > 0)) {
                        mobile[i][j] = m;
                        continue;
                    }
                    mobile[i][j] = 0;
                    for (int k = 0; k < 4; ++k) {
                        const double amount = share[k] * m;
                        if (!(amount > 0)) continue;
                        double& d = deposition[ni[k]][nj[k]];
                        d += amount;
                        if (d > capacity[ni[k]][nj[k]]) {
                            mobile[ni[k]][nj[k]] += d - capacity[ni[k]][nj[k]];
                            d = capacity[ni[k]][nj[k]];
                        }
                    }
                }
            for (int r = 1; r <= R; ++r)
                for (int c = 1; c <= C; ++c) {
                    if (zone[r][c] == -9999) continue;
                    const double a = deposition[r][c] + mobile[r][c];
                    if (total[r][c] <= 0) {
                        liquid[r][c] = 0;
                        solid[r][c] = total[r][c] = a;
                    } else {
                        const double next = total[r][c] + a;
                        liquid[r][c] = liquid[r][c] / total[r][c] * next;
                        solid[r][c] = next - liquid[r][c];
                        total[r][c] = next;
                    }
                }
            reference = {solid, liquid, total, input, mobile, deposition};
            haveReference = true;
        }
        model->SnowSlides();
        const std::pair<const char*, const std::vector<std::vector<double>>*> expected[] = {
            {"snowstorage_solid", &reference.solid}, {"snowstorage_liquid", &reference.liquid},
            {"snow_storage_total", &reference.total}, {"input_mass", &reference.input},
            {"mobile_mass", &reference.mobile},       {"deposition", &reference.deposition}};
        for (const auto& [name, values] : expected)
            for (int r = 1; r <= R; ++r)
                for (int c = 1; c <= C; ++c) {
                    if (zones[r - 1][c - 1] == -9999) continue;
                    ASSERT_EQ(std::memcmp(&f.Grid(name)[r][c], &(*values)[r][c], sizeof(double)), 0)
                        << name << " (" << r << "," << c << ")";
                }
    }
    omp_set_num_threads(omp_get_num_procs());
}

// A conservative tracer keeps its load; a radioactive one decays in a
// snow-free cell.
TEST(SnowStep, Tracers) {
    SnowFixture f(1, 2, {{1, 1}}, {{500, 500}});
    f.AddInputs(2, -2);
    double** night = f.Add("temperature_night", -2);
    f.Add("concflux_tracer_1_input", 3);
    f.Add("concflux_tracer_2_input", 0);
    std::vector<TracerInfo> tracers(3);
    tracers[1].name = "con";
    tracers[1].max_conc = 1e9;
    tracers[2].name = "rad";
    tracers[2].radioactive = 1;
    tracers[2].half_time = 10;
    tracers[2].max_conc = 1e9;
    for (int i = 1; i <= 2; ++i) {
        tracers[i].path = f.dir.file("out") + "/";
        tracers[i].statext = "sta";
        tracers[i].gridext = "grd";
    }
    auto model = f.Make(SnowSection(), 1440);
    int status = 0;
    model->InitTracers(&status, 2, tracers.data(), f.statistics, StatisticsTableSize);
    ASSERT_EQ(status, 0);
    double** store1 = f.Grid("concstor_tracer_1_snow_model");
    double** flux1 = f.Grid("concflux_tracer_1_snow_model");
    double** store2 = f.Grid("concstor_tracer_2_snow_model");
    store2[1][2] = 10;
    const double decay = std::exp(-1.0 / (1.442695041111 * 10));
    double** t = f.Grid("temperature");
    double** p = f.Grid("precipitation");
    for (int day = 1; day <= 20; ++day) {
        t[1][1] = day <= 10 ? -2 : 6;
        t[1][2] = 20;
        night[1][1] = t[1][1];
        night[1][2] = 20;
        p[1][2] = 0;
        const double before = store1[1][1];
        const double radioactive = store2[1][2];
        model->RunTimeStep(24, day, 3, 2020);
        const double in = p[1][1] * 3;
        const double out = f.Grid("snowcover_outflow")[1][1] * flux1[1][1];
        EXPECT_NEAR(store1[1][1] - before, in - out, 1e-9) << day;
        EXPECT_NEAR(store2[1][2], radioactive * decay, 1e-12) << day;
    }
    EXPECT_GT(f.Grid("snowcover_outflow")[1][1], 0);
    model->ReleaseTracers();
}

// Permafrost: thaw under snow-free ground, refreezing under a lasting snow
// cover, nothing in a cell without a thaw coefficient.
TEST(SnowStep, Permafrost) {
    SnowFixture f(1, 2, {{1, 1}}, {{500, 500}});
    f.AddInputs(0, 5);
    double** night = f.Add("temperature_night", 5);
    double** coefficient = f.Add("ThawCoeffPermaFrost", 0.1);
    coefficient[1][2] = -9999;
    double** thaw = f.Add("PermafrostThawDepth", 0);
    double** root = f.Add("root_depth1", 0.8);
    auto model = f.Make(SnowSection(), 1440, "[permafrost]\n1\n3\n5\nthaw.sta 0\n1e-9\n");
    for (int day = 1; day <= 25; ++day) model->RunTimeStep(24, day, 6, 2020);
    EXPECT_NEAR(thaw[1][1], 0.5, 1e-12);
    EXPECT_LE(root[1][1], 0.5);
    EXPECT_EQ(thaw[1][2], 0);
    EXPECT_EQ(root[1][2], 0.8);
    // a snow cover lasting three days refreezes the ground
    f.Grid("temperature")[1][1] = -5;
    night[1][1] = -5;
    f.Grid("precipitation")[1][1] = 20;
    for (int day = 26; day <= 28; ++day) model->RunTimeStep(24, day, 6, 2020);
    EXPECT_EQ(thaw[1][1], 0);
    EXPECT_EQ(root[1][1], 0);
    EXPECT_EQ(f.Grid("SnowFreeDaysGrid")[1][1], 0);
}

// Hydrologic response units: the non-master cells carry their master's
// outputs, and the slides are skipped.
TEST(SnowStep, HydrologicResponseUnits) {
    SnowFixture f(1, 3, {{1, 1, 1}}, {{500, 600, 700}});
    AddAllInputs(f);
    double** units = f.Add("HydrologicResponseUnits", 1);
    units[1][3] = 2;
    double** masters = f.Add("MasterHydrologicResponseUnits", -9999);
    masters[1][1] = 1;
    masters[1][3] = 2;
    SnowSection section;
    section.Set(1, "8");
    auto model = f.Make(section, 60);
    for (int hour = 1; hour <= 24; ++hour) {
        for (int c = 1; c <= 3; ++c) {
            f.Grid("temperature")[1][c] = hour < 12 ? -3.0 * c : 2.0 * c;
            f.Grid("precipitation")[1][c] = c;
        }
        model->RunTimeStep(hour, 1, 1, 2020);
        for (const char* name : {"snow_storage_total", "snowstorage_solid", "snowstorage_liquid", "snow_fraction",
                                 "rain_fraction", "snowcover_outflow", "snow_age", "albedo", "days_snow"})
            EXPECT_EQ(f.Grid(name)[1][2], f.Grid(name)[1][1]) << name << " hour " << hour;
        EXPECT_EQ(f.Grid("input_mass")[1][1], 0);
    }
    EXPECT_NE(f.Grid("snow_storage_total")[1][3], f.Grid("snow_storage_total")[1][1]);
}

// The same run on one and on eight threads, and a warm start from the state
// grids of a run's middle, give the same bits.
TEST(SnowStep, ThreadsAndWarmStart) {
    for (int method : {1, 5, 8}) {
        SCOPED_TRACE(method);
        // large enough for the cell loop to run on several threads
        const int R = 45, C = 50;
        std::vector<std::vector<double>> zones(R, std::vector<double>(C, 1));
        std::vector<std::vector<double>> dem(R, std::vector<double>(C, 0));
        for (int r = 0; r < R; ++r)
            for (int c = 0; c < C; ++c) {
                zones[r][c] = c < 20 ? 1 : 2;
                dem[r][c] = 800 + 37.0 * ((r * 7 + c * 3) % 11) + r;
            }
        zones[0][0] = -9999;
        auto run = [&](int threads, int firstDay, int lastDay, bool warm, SnowFixture& f,
                       std::unique_ptr<schneemodellklasse>& model) {
            omp_set_num_threads(threads);
            if (!model) {
                AddAllInputs(f);
                SnowSection section;
                section.Set(1, std::to_string(method));
                section.Set(41, warm ? "1" : "0");
                model = f.Make(section, 360);
            }
            for (int day = firstDay; day <= lastDay; ++day)
                for (int hour = 6; hour <= 24; hour += 6) {
                    for (int r = 1; r <= R; ++r)
                        for (int c = 1; c <= C; ++c) {
                            f.Grid("temperature")[r][c] = -6 + day * 0.6 + hour * 0.1 - r * 0.3 + c * 0.2;
                            f.Grid("precipitation")[r][c] = ((day + hour / 6 + r) % 3) * 1.5;
                        }
                    Fill(f, f.Grid("snow_evaporation"), 0);
                    model->RunTimeStep(hour, day, 3, 2020);
                }
        };
        const char* names[] = {"snowstorage_solid", "snowstorage_liquid", "snow_storage_total", "days_snow",
                               "snow_age",          "snowcover_outflow",  "snow_fraction",      "albedo"};
        // the albedo is the set-up's grid, not a snow state: a warm start does not restore it
        auto same = [&](SnowFixture& a, SnowFixture& b, bool albedo = true) {
            for (const char* name : names) {
                if (!albedo && std::strcmp(name, "albedo") == 0) continue;
                for (int r = 1; r <= R; ++r)
                    for (int c = 1; c <= C; ++c)
                        ASSERT_EQ(std::memcmp(&a.Grid(name)[r][c], &b.Grid(name)[r][c], sizeof(double)), 0)
                            << name << " (" << r << "," << c << ")";
            }
        };
        SnowFixture one(R, C, zones, dem), eight(R, C, zones, dem);
        std::unique_ptr<schneemodellklasse> m1, m8;
        run(1, 1, 12, false, one, m1);
        run(8, 1, 12, false, eight, m8);
        same(one, eight);

        // six days, the state written, six more days from it
        SnowFixture first(R, C, zones, dem);
        std::unique_ptr<schneemodellklasse> mf;
        run(2, 1, 6, false, first, mf);
        SnowFixture second(R, C, zones, dem);
        const char* files[] = {"ssolid.asc", "sliquid.asc", "stotal.asc", "sdays.asc", "sage.asc", "stemp.asc",
                               "sftemp.asc"};
        const char* states[] = {"snowstorage_solid", "snowstorage_liquid", "snow_storage_total", "days_snow",
                                "snow_age", "snowtemp", "surftemp"};
        for (int k = 0; k < (method == 5 ? 7 : 5); ++k)
            mf->WriteGrid(second.dir.file(std::string("in/") + files[k]), first.Grid(states[k]), true, false);
        std::unique_ptr<schneemodellklasse> ms;
        run(2, 7, 12, true, second, ms);
        run(2, 7, 12, false, first, mf);
        if (method != 5) same(first, second, false);
        omp_set_num_threads(omp_get_num_procs());
    }
}
