// Runoff per subbasin: the kernels of the flow-time zones and the linear
// storages against hand values, and the soil model's runoff tables on a
// small grid whose runoff grids are filled by hand.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "soil/unsatzon_runoff.h"
#include "support/test_support.h"
#include "soil/runoff_fixture.h"

using namespace testsupport;
using namespace runofftest;

namespace {

// The last data line of a statistics file, as numbers after the date.
std::vector<double> LastValues(const std::string& path) {
    const std::string text = ReadFile(path);
    size_t end = text.find_last_not_of('\n');
    size_t begin = text.rfind('\n', end);
    std::istringstream line(text.substr(begin + 1, end - begin));
    std::vector<double> values;
    std::string word;
    for (int i = 0; line >> word; ++i)
        if (i >= 4) values.push_back(std::strtod(word.c_str(), nullptr));
    return values;
}

}  // namespace

TEST(RunoffKernels, LinearStorageMatchesTheAnalyticSolution) {
    const double m = unsatzon::StorageFactor(60, 120, false);
    EXPECT_DOUBLE_EQ(m, std::exp(-0.5));
    // 10 mm in one step, then nothing.
    const double expected[] = {3.934693, 2.386512, 1.447493, 0.877949, 0.532503};
    double outflow = 0, sum = 0;
    for (int j = 0; j < 200; ++j) {
        outflow = unsatzon::StorageOutflow(j == 0 ? 10 : 0, outflow, m);
        if (j < 5) {
            EXPECT_NEAR(outflow, expected[j], 5e-7) << j;
        }
        sum += outflow;
    }
    EXPECT_NEAR(sum, 10, 1e-12);
    // A constant 1 mm per step approaches 1 as 1 - m^j.
    outflow = 0;
    for (int j = 1; j <= 20; ++j) {
        outflow = unsatzon::StorageOutflow(1, outflow, m);
        EXPECT_NEAR(outflow, 1 - std::pow(m, j), 1e-14) << j;
    }
    // The shortest recession constant (0.06 min) and a bypassed storage pass
    // the input through.
    EXPECT_EQ(unsatzon::StorageOutflow(7, 3, unsatzon::StorageFactor(60, 0.06, false)), 7);
    EXPECT_EQ(unsatzon::StorageFactor(60, 120, true), 0);
    // What the storage holds drains as the outflow it gives.
    EXPECT_NEAR(unsatzon::StorageContent(2.0, m), 2.0 * m / (1 - m), 1e-15);
    EXPECT_EQ(unsatzon::StorageConcentration(0, 5, 0, 3, m), 0);
    EXPECT_NEAR(unsatzon::StorageConcentration(2, 5, 1, 3, m), (2 * 5 * (1 - m) + 1 * 3 * m) / (2 * (1 - m) + m),
                1e-15);
}

TEST(RunoffKernels, ZoneOfATravelTime) {
    struct Case {
        double seconds, minutes;
        int zone;
        bool missing;
    } cases[] = {
        {0, 60, 1, false},      {1, 60, 1, false},    {3600, 60, 1, false},     {3601, 60, 2, false},
        {7200, 60, 2, false},   {7201, 60, 3, false}, {86400, 1440, 1, false},  {-9999, 60, 1, true},
        {-1, 60, 1, true},      {NAN, 60, 1, true},   {INFINITY, 60, 1, true},
        {1e15, 60, unsatzon::MaxFlowTimeZones + 1, false},
    };
    for (const Case& c : cases) {
        bool missing = false;
        EXPECT_EQ(unsatzon::FlowTimeZoneIndex(c.seconds, c.minutes, -9999, &missing), c.zone) << c.seconds;
        EXPECT_EQ(missing, c.missing) << c.seconds;
    }
}

// Three zones of one cell each, uniform runoff q per sub-step, S = 2: the
// outlet passes 1/3, 2/3 and then all of the step's runoff 2q.
TEST(RunoffKernels, PrefilledQueueCountsEverySubStep) {
    for (int S : {1, 2, 3}) {
        SCOPED_TRACE(S);
        unsatzon::FlowTimeQueues queue;
        queue.Allocate({0, 3}, 0);
        unsatzon::FlowTimeZone* z = queue.Zones(0, 1);
        for (int k = 1; k <= 3; ++k) z[k].n = z[k].RelCellSum = 1;
        unsatzon::PrefillQueue(z, 3, S);
        EXPECT_EQ(z[1].RelCellSum, 3.0 * S);
        EXPECT_EQ(z[3].RelCellSum, 1.0 * S);
        const double q = 0.75;
        const double expected[] = {1.0 / 3, 2.0 / 3, 1, 1, 1};
        for (int step = 0; step < 5; ++step) {
            queue.Advance();
            for (int j = 0; j < S; ++j) {
                for (int k = 1; k <= 3; ++k) {
                    z[k].n += 1;
                    z[k].sx += q * S;
                    z[k].RelCellSum += 1;
                }
            }
            EXPECT_NEAR(unsatzon::OutletValue(z[1]), expected[step] * q * S, 1e-15) << step;
        }
    }
    // One zone: the advance only clears it.
    unsatzon::FlowTimeQueues one;
    one.Allocate({0, 1, 2}, 1);
    one.Zones(1, 2)[2].sx = 4;
    one.Zones(0, 1)[1].sx = 5;
    one.Zones(0, 1)[1].rel = 1;
    one.Advance();
    EXPECT_EQ(one.Zones(0, 1)[1].sx, 0);
    EXPECT_EQ(one.Zones(0, 1)[1].rel, 1);
    EXPECT_EQ(one.Zones(1, 2)[1].sx, 4);
    EXPECT_EQ(one.Zones(1, 2)[2].sx, 0);
}

// Without flow times 10 mm of direct runoff reach QD at once and leave the
// storage (kelsqd 2 h) as the analytic impulse response; Qg adds the three
// components.
TEST(SoilRunoff, DirectRunoffThroughTheLinearStorage) {
    Fixture f;
    ASSERT_EQ(f.Make(Section()), 0) << f.Diagnostics();
    double** direct = f.Grid("directflow");
    double** inter = f.Grid("interflow");
    double** base = f.Grid("baseflow");
    const double expected[] = {3.934693, 2.386512, 1.447493, 0.877949, 0.532503};
    double sum = 0;
    for (int step = 0; step < 200; ++step) {
        f.Step([&](int) {
            f.SetAll(direct, step == 0 ? 10 : 0);
            f.SetAll(inter, 0);
            f.SetAll(base, 0.25);
        });
        if (step < 5) {
            EXPECT_NEAR(f.QDd(1), expected[step], 5e-7) << step;
            EXPECT_EQ(f.QD(1), step == 0 ? 10 : 0);
            EXPECT_EQ(f.QBb(2), 0.25);
            EXPECT_EQ(f.Qg(2), f.QDd(2) + f.QIi(2) + f.QBb(2));
        }
        sum += f.QDd(1);
    }
    EXPECT_NEAR(sum, 10, 1e-12);
    f.model->FlushOutputs();
    const std::vector<double> qd = LastValues(f.dir.file("qd.sta"));
    ASSERT_GE(qd.size(), 2u);
    EXPECT_NEAR(qd[0], f.QDd(1), 1e-6 + 1e-6 * f.QDd(1));
}

// With surface routing on every cell adds to zone 1 and the storages pass
// their input through: QDd = QD, QIi = QI.
TEST(SoilRunoff, SurfaceRoutingBypassesTheStorages) {
    Fixture f;
    double** times = f.Add("flow_times", 0, "ft.asc");
    for (int r = 1; r <= Rows; ++r) times[r][2] = 3601;
    ASSERT_EQ(f.Make(Section(), 2), 0) << f.Diagnostics();
    f.model->SetSurfaceRoutingActive(1);
    for (int step = 0; step < 4; ++step) {
        f.Step([&](int j) {
            f.SetAll(f.Grid("directflow"), step + j);
            f.SetAll(f.Grid("interflow"), 0.5 * j);
        });
        EXPECT_EQ(f.QDd(1), f.QD(1));
        EXPECT_EQ(f.QIi(1), f.QI(1));
        EXPECT_EQ(f.QDd(2), f.QD(2));
    }
    // Subbasin 2 has one zone: the step's runoff, (3 + 1) + (3 + 2) mm.
    EXPECT_DOUBLE_EQ(f.QD(2), 9);
    // Zone 2 of subbasin 1 is empty once its prefilled weight has passed.
    EXPECT_DOUBLE_EQ(f.QD(1), 9);
}

TEST(SoilRunoff, TravelTimesDelayTheDirectRunoff) {
    Fixture f;
    double** times = f.Add("flow_times", 0, "ft.asc");
    // Subbasin 1: column 1 at 0 s, column 2 at 3601 s, column 3 at 7201 s.
    for (int r = 1; r <= Rows; ++r) {
        times[r][2] = 3601;
        times[r][3] = 7201;
    }
    Section section;
    section.Parameters = "0.0005 0.0005 kelsqd\n0.0005 0.0005 kelsqi\n5 6 density\n0 0 kelsqlat\n0 0 Q0\n0 0 snow\n";
    ASSERT_EQ(f.Make(section, 2), 0) << f.Diagnostics();
    EXPECT_EQ(f.model->maxzeit[1], 3);
    EXPECT_EQ(f.model->maxzeit[2], 1);
    EXPECT_EQ(times[1][3], 3);
    const std::string log = ReadFile(f.dir.file("modell_0.log"));
    EXPECT_NE(log.find("flow time distribution:\nTG\t   1\t(  3\tZonen):\t0.333\t0.333\t0.333\nTG\t   2\t(  1\tZonen):"
                       "\t1.000\n"),
              std::string::npos)
        << log;

    // Uniform runoff of 0.6 mm per sub-step: 1/3, 2/3, then all of the
    // step's 1.2 mm.
    const double uniform[] = {0.4, 0.8, 1.2, 1.2};
    for (double expected : uniform) {
        f.Step([&](int) { f.SetAll(f.Grid("directflow"), 0.6); });
        EXPECT_NEAR(f.QD(1), expected, 1e-14);
        EXPECT_NEAR(f.QDd(1), expected, 1e-14);
        EXPECT_NEAR(f.QD(2), 1.2, 1e-14);
    }
    // The step's log line names the options, here the flow times.
    EXPECT_NE(f.Diagnostics().find(" 1.6.2020 3. h (time of meteo data)+ft,"), std::string::npos) << f.Diagnostics();
    // Runoff in the column at 3601 s only reaches the outlet one step later;
    // the column at 0 s in the same step.
    for (int step = 0; step < 3; ++step) f.Step([&](int) { f.SetAll(f.Grid("directflow"), 0); });
    for (int column : {2, 1}) {
        SCOPED_TRACE(column);
        for (int step = 0; step < 3; ++step) {
            f.Step([&](int) {
                f.SetAll(f.Grid("directflow"), 0);
                if (step == 0)
                    for (int r = 1; r <= Rows; ++r) f.Grid("directflow")[r][column] = 3;
            });
            const double arrives = column == 1 ? 0 : 1;
            EXPECT_NEAR(f.QD(1), step == arrives ? 2.0 : 0.0, 1e-14) << step;
        }
    }
}

TEST(SoilRunoff, MissingTravelTimesAndFailingZones) {
    {
        Fixture f;
        double** times = f.Add("flow_times", 10, "ft.asc");
        times[2][2] = -9999;
        ASSERT_EQ(f.Make(Section()), 0) << f.Diagnostics();
        EXPECT_EQ(times[2][2], 1);
        EXPECT_NE(f.Diagnostics().find("1 cells of the soil model have a negative or no flow travel time in "
                                       "ft.asc"),
                  std::string::npos)
            << f.Diagnostics();
        // The cell counts in zone 1 with the others.
        EXPECT_EQ(f.model->zoneFZT_QI.Zones(0, 1)[1].n, 12);
    }
    {
        // Subbasin 2 starts at 2 h: its first zone is empty.
        Fixture f;
        double** times = f.Add("flow_times", 10, "ft.asc");
        for (int r = 1; r <= Rows; ++r)
            for (int c = 4; c <= Cols; ++c) times[r][c] = 7200;
        EXPECT_EQ(f.Make(Section()), 61);
        EXPECT_NE(f.Diagnostics().find("FATAL: in flow-travel-time grid: the first time zone of subbasin 2 has no "
                                       "cells!"),
                  std::string::npos)
            << f.Diagnostics();
    }
    {
        // A travel time of 30 000 years would need a queue of billions of zones.
        Fixture f;
        double** times = f.Add("flow_times", 10, "ft.asc");
        times[3][4] = 1e12;
        EXPECT_EQ(f.Make(Section()), 22);
        EXPECT_NE(f.Diagnostics().find("the flow travel time 1e+12 s in ft.asc (row 3, column 4) needs more than "
                                       "100000 flow time zones"),
                  std::string::npos)
            << f.Diagnostics();
    }
    {
        Fixture f;
        double** times = f.Add("flow_times", 10, "ft.asc");
        for (int r = 1; r <= Rows; ++r)
            for (int c = 4; c <= Cols; ++c) times[r][c] = -9999;
        EXPECT_EQ(f.Make(Section()), 6);
        EXPECT_NE(f.Diagnostics().find("FATAL: all cells in ft.asc, subbasin 2 are NODATA!"), std::string::npos)
            << f.Diagnostics();
    }
}

// What entered the flow-time zones of a subbasin equals what left its
// storages plus what the zones and storages still hold, with cell weights,
// a glacier cell, sub-steps and travel times.
TEST(SoilRunoff, QueuesAndStoragesConserveWater) {
    Fixture f;
    double** times = f.Add("flow_times", 0, "ft.asc");
    double** area = f.Add("RelCellArea", 1);
    double** ice = f.Add("ice_firn", 0);
    for (int r = 1; r <= Rows; ++r)
        for (int c = 1; c <= Cols; ++c) {
            times[r][c] = 1800.0 * ((r + 2 * c) % 5);
            area[r][c] = 0.5 + 0.1 * ((r * c) % 7);
        }
    ice[2][2] = 0.4;
    ice[3][5] = 1;
    ASSERT_EQ(f.Make(Section(), 3), 0) << f.Diagnostics();
    double entered[3] = {}, left[3] = {};
    double** direct = f.Grid("directflow");
    double** inter = f.Grid("interflow");
    for (int step = 0; step < 40; ++step) {
        f.Step([&](int j) {
            for (int r = 1; r <= Rows; ++r)
                for (int c = 1; c <= Cols; ++c) {
                    const double d = step < 39 ? 0.1 * ((r + c + j + step) % 4) : 0;
                    const double i = step < 39 ? 0.05 * ((r * c + j) % 3) : 0;
                    direct[r][c] = d;
                    inter[r][c] = i;
                    const double g = std::clamp(ice[r][c], 0.0, 1.0);
                    const int s = c <= 3 ? 1 : 2;
                    entered[s] += area[r][c] * (1 - g) * (d + i);
                }
        });
        for (int s = 1; s <= 2; ++s) left[s] += f.QDd(s) + f.QIi(s);
    }
    for (int s = 1; s <= 2; ++s) {
        SCOPED_TRACE(s);
        const double in = entered[s] / f.model->SubbasinCellWeight[static_cast<size_t>(s)];
        EXPECT_GT(in, 1);
        EXPECT_NEAR(in - left[s] - f.model->StoredRunoff(s), 0, 1e-12 * in);
        EXPECT_GT(f.model->StoredRunoff(s), 0);
        std::printf("subbasin %d: entered %.6f mm, left %.6f mm, stored %.6f mm, residual %.3g mm\n", s, in,
                    left[s], f.model->StoredRunoff(s), in - left[s] - f.model->StoredRunoff(s));
    }
}
