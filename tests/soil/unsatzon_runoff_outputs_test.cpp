// The soil model's runoff tables against its output switches, glaciers,
// groundwater irrigation and threads; the HRU copy; the point files and the
// model-end report.

#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "soil/runoff_fixture.h"
#include "support/test_support.h"

using namespace testsupport;
using namespace runofftest;

namespace {

// Baseflow and runoff that vary by cell, sub-step and step.
void VaryingRunoff(Fixture& f, int step, int j) {
    double** direct = f.Grid("directflow");
    double** inter = f.Grid("interflow");
    double** base = f.Grid("baseflow");
    for (int r = 1; r <= Rows; ++r)
        for (int c = 1; c <= Cols; ++c) {
            direct[r][c] = 0.1 * ((r + c + j + step) % 4);
            inter[r][c] = 0.03 * ((r * c + j) % 5);
            base[r][c] = 0.01 * ((r + step) % 3);
        }
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace

// Baseflow reaches `QBb` and `Qg` through the soil model's own sums: the
// total runoff file is the same whether the QB statistic is written or off.
TEST(SoilRunoffOutputs, TotalRunoffDoesNotDependOnTheBaseflowStatistic) {
    std::string qg[2];
    std::vector<double> totals[2];
    const int codes[] = {2001, 0};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(codes[i]);
        Fixture f;
        Section section;
        section.SetStatistic("qb", codes[i]);
        ASSERT_EQ(f.Make(section, 2), 0) << f.Diagnostics();
        for (int step = 0; step < 6; ++step) {
            f.Step([&](int j) { VaryingRunoff(f, step, j); });
            totals[i].push_back(f.Qg(1));
            totals[i].push_back(f.QBb(2));
        }
        f.model->FinishRun(0);
        qg[i] = ReadFile(f.dir.file("qg.sta"));
        EXPECT_EQ(FileExists(f.dir.file("qb.sta")), i == 0);
    }
    EXPECT_EQ(qg[0], qg[1]);
    EXPECT_EQ(totals[0], totals[1]);
    EXPECT_GT(totals[0][1], 0);
    EXPECT_GT(Lines(qg[0]).size(), 6u);
}

// A glacier subbasin adds the glacier runoff the snow model wrote in the
// step, once: without it `Qg` is the soil's runoff alone.
TEST(SoilRunoffOutputs, GlacierRunoffCountsOnce) {
    Fixture f;
    double** ice = f.Add("ice_firn", 0);
    ice[1][1] = 0.5;
    ASSERT_EQ(f.Make(Section()), 0) << f.Diagnostics();
    double** glacier = f.model->GetGlacierRunoff();
    ASSERT_NE(glacier, nullptr);
    EXPECT_NE(glacier, f.model->GetQg());
    for (int step = 0; step < 5; ++step) {
        f.Step([&](int j) {
            VaryingRunoff(f, step, j);
            if (step == 2) glacier[0][1] = 4;
        });
        const double soil = f.QDd(1) + f.QIi(1) + f.QBb(1);
        EXPECT_DOUBLE_EQ(f.Qg(1), step == 2 ? soil + 4 : soil) << step;
        EXPECT_EQ(glacier[0][1], 0);
        EXPECT_EQ(f.Qg(2), f.QDd(2) + f.QIi(2) + f.QBb(2));
    }
}

// A cell with a glacier fraction of 0.25 adds its soil values with weight
// 0.75 and zeros with weight 0.25; its water weighs 1 in its zone.
TEST(SoilRunoffOutputs, GlacierFractionWeighsTheCell) {
    Fixture f;
    double** ice = f.Add("ice_firn", 0);
    ice[2][2] = 0.25;
    ASSERT_EQ(f.Make(Section()), 0) << f.Diagnostics();
    f.Step([&](int) {
        f.SetAll(f.Grid("SB_1_grid"), 0.3);
        f.SetAll(f.Grid("directflow"), 2);
        f.SetAll(f.Grid("baseflow"), 1);
    });
    f.model->FlushOutputs();
    const std::string text = ReadFile(f.dir.file("sb1.sta"));
    const std::vector<std::string> lines = Lines(text);
    std::istringstream last(lines.back());
    std::string word;
    std::vector<double> values;
    for (int i = 0; last >> word; ++i)
        if (i >= 4) values.push_back(std::strtod(word.c_str(), nullptr));
    ASSERT_GE(values.size(), 2u) << text;
    EXPECT_NEAR(values[0], 0.3 * 11.75 / 12, 1e-5) << text;
    EXPECT_NEAR(values[1], 0.3, 1e-5) << text;
    // The glacier share runs off nothing but counts in the means.
    EXPECT_DOUBLE_EQ(f.QD(1), 2 * 11.75 / 12);
    EXPECT_DOUBLE_EQ(f.QBb(1), 11.75 / 12);
    EXPECT_EQ(f.model->zoneFZT_QI.Zones(0, 1)[1].n, 12);
}

// Groundwater irrigation of a step leaves the irrigated cell's baseflow once,
// whatever the number of sub-steps.
TEST(SoilRunoffOutputs, GroundwaterIrrigationLeavesTheBaseflow) {
    for (int S : {1, 3}) {
        SCOPED_TRACE(S);
        Fixture f;
        double** codes = f.Add("irrigation_codes", -9999);
        codes[2][5] = 1;
        std::vector<IrrigationRule> rules(2);
        rules[0].Code = 1;
        rules[1].Code = 7;
        rules[1].Method = IrrigationRule::DemandSuction;
        rules[1].Origin = 1;
        rules[1].psi_dry = 3;
        rules[1].psi_wet = 0.5;
        ASSERT_EQ(f.Make(Section(), S, rules.data()), 0) << f.Diagnostics();
        double** amounts = f.Grid("irrigation_amounts");
        amounts[2][5] = 6;  // mm in the step
        f.Step([&](int) { f.SetAll(f.Grid("baseflow"), 0.5); });
        EXPECT_NEAR(f.QBb(1), 0.5 * S, 1e-14);
        EXPECT_NEAR(f.QBb(2), (12 * 0.5 * S - 6) / 12, 1e-14);
        EXPECT_EQ(amounts[2][5], 6);
        // A surface-water rule takes nothing from the baseflow.
        rules[1].Origin = 2;
        f.Step([&](int) { f.SetAll(f.Grid("baseflow"), 0.5); });
        EXPECT_NEAR(f.QBb(2), 0.5 * S, 1e-14);
    }
}

// Groundwater irrigation beyond a subbasin's baseflow gives a negative mean:
// the subbasin hands on no baseflow and owes the rest, which the next steps'
// baseflow pays before any reaches `QBb`. Over the steps the baseflow handed
// on equals the means, less what is still owed.
TEST(SoilRunoffOutputs, BaseflowBeyondTheMeanIsOwed) {
    Fixture f;
    double** codes = f.Add("irrigation_codes", -9999);
    codes[2][5] = 1;
    std::vector<IrrigationRule> rules(2);
    rules[0].Code = 1;
    rules[1].Code = 7;
    rules[1].Method = IrrigationRule::DemandSuction;
    rules[1].Origin = 1;
    rules[1].psi_dry = 3;
    rules[1].psi_wet = 0.5;
    ASSERT_EQ(f.Make(Section(), 1, rules.data()), 0) << f.Diagnostics();
    double** amounts = f.Grid("irrigation_amounts");
    struct Case {
        double irrigation, qbb, owed;
    } cases[] = {
        {12, 0, 0.5},    // mean (12 x 0.5 - 12) / 12 = -0.5
        {0, 0, 0},       // mean 0.5 pays what is owed
        {0, 0.5, 0},
        {21, 0, 1.25},   // mean -1.25
        {3, 0, 1},       // mean 0.25
        {0, 0, 0.5},
        {0, 0, 0},
        {0, 0.5, 0},
    };
    double means = 0, handed = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.irrigation);
        amounts[2][5] = c.irrigation;
        f.Step([&](int) { f.SetAll(f.Grid("baseflow"), 0.5); });
        means += 0.5 - c.irrigation / 12;
        handed += f.QBb(2);
        EXPECT_NEAR(f.QBb(2), c.qbb, 1e-14);
        EXPECT_NEAR(f.model->BaseflowDeficit[2], c.owed, 1e-14);
        EXPECT_NEAR(f.Qg(2), f.QDd(2) + f.QIi(2) + f.QBb(2), 1e-14);
        // Without direct runoff or interflow the subbasin holds only its debt.
        EXPECT_NEAR(f.model->StoredRunoff(2), -c.owed, 1e-12);
        EXPECT_NEAR(handed, means + c.owed, 1e-12);
        EXPECT_NEAR(f.QBb(1), 0.5, 1e-14);
    }
}

// The runoff sums and statistics are the same bits on one thread and on four.
TEST(SoilRunoffOutputs, OneThreadEqualsFour) {
    setenv("RUVEX_PARALLEL_MIN_CELLS", "1", 1);
    std::vector<double> results[2];
    std::string files[2];
    const int saved = omp_get_max_threads();
    const int threads[] = {1, 4};
    for (int i = 0; i < 2; ++i) {
        omp_set_num_threads(threads[i]);
        Fixture f;
        double** times = f.Add("flow_times", 0, "ft.asc");
        double** area = f.Add("RelCellArea", 1);
        for (int r = 1; r <= Rows; ++r)
            for (int c = 1; c <= Cols; ++c) {
                times[r][c] = 1500.0 * ((r + c) % 4);
                area[r][c] = 0.3 + 0.17 * ((r * c) % 5);
            }
        ASSERT_EQ(f.Make(Section(), 2), 0) << f.Diagnostics();
        for (int step = 0; step < 8; ++step) {
            f.Step([&](int j) {
                VaryingRunoff(f, step, j);
                f.SetAll(f.Grid("SB_1_grid"), 0.1 * j + 0.01 * step);
            });
            for (int s = 1; s <= 2; ++s) results[i].insert(results[i].end(), {f.QD(s), f.QI(s), f.QBb(s), f.Qg(s)});
        }
        f.model->FinishRun(0);
        files[i] = ReadFile(f.dir.file("qg.sta")) + ReadFile(f.dir.file("sb1.sta"));
    }
    omp_set_num_threads(saved);
    ASSERT_EQ(results[0].size(), results[1].size());
    EXPECT_EQ(std::memcmp(results[0].data(), results[1].data(), results[0].size() * sizeof(double)), 0);
    EXPECT_EQ(files[0], files[1]);
}

// In HRU mode every other cell of a unit holds its master's state after a
// sub-step; a unit without a master is refused at the set-up.
TEST(SoilRunoffOutputs, ResponseUnitsCopyTheirMaster) {
    {
        Fixture f;
        double** units = f.Add("HydrologicResponseUnits", 1);
        double** masters = f.Add("MasterHydrologicResponseUnits", -9999);
        for (int r = 1; r <= Rows; ++r)
            for (int c = 4; c <= Cols; ++c) units[r][c] = 2;
        masters[1][1] = 1;
        masters[3][5] = 2;
        ASSERT_EQ(f.Make(Section()), 0) << f.Diagnostics();
        GridStack theta = f.model->Theta;
        f.Step([&](int) {
            f.Grid("directflow")[1][1] = 7;
            f.Grid("directflow")[3][5] = 1;
            f.Grid("baseflow")[3][5] = 0.5;
            theta[1][1][2] = 0.33;
            theta[3][5][3] = 0.21;
            f.Grid("real_transpiration1")[1][1] = 0.8;
        });
        for (int r = 1; r <= Rows; ++r)
            for (int c = 1; c <= Cols; ++c) {
                SCOPED_TRACE(std::to_string(r) + "," + std::to_string(c));
                const bool first = c <= 3;
                EXPECT_EQ(f.Grid("directflow")[r][c], first ? 7 : 1);
                EXPECT_EQ(theta[r][c][2], first ? 0.33 : theta[3][5][2]);
                EXPECT_EQ(theta[r][c][3], first ? theta[1][1][3] : 0.21);
                if (first) {
                    EXPECT_EQ(f.Grid("real_transpiration1")[r][c], 0.8);
                }
            }
        // The copied runoff is the runoff of every cell of the unit.
        EXPECT_DOUBLE_EQ(f.QD(1), 7);
        EXPECT_DOUBLE_EQ(f.QBb(2), 0.5);
    }
    {
        Fixture f;
        double** units = f.Add("HydrologicResponseUnits", 1);
        double** masters = f.Add("MasterHydrologicResponseUnits", -9999);
        masters[1][1] = 1;
        units[4][6] = 3;
        EXPECT_EQ(f.Make(Section()), 22);
        EXPECT_NE(f.Diagnostics().find("the cell in row 4, column 6 belongs to the hydrologic response unit 3, which "
                                       "has no master cell"),
                  std::string::npos)
            << f.Diagnostics();
    }
}

// Control point 2 2, ten hourly steps of two sub-steps: every point file has
// its header and 20 rows, and the log ends with the model-end report.
TEST(SoilRunoffOutputs, PointFilesAndModelEndReport) {
    Fixture f;
    Section section;
    section.Control = "2 2 control point\n";
    ASSERT_EQ(f.Make(section, 2), 0) << f.Diagnostics();
    ASSERT_TRUE(f.model->PointOutput);
    const double etr[Layers + 1] = {0.1, 0.2, 0.3, 0.4};
    const double interflow[Layers + 1] = {0, 0.01, 0.02, 0.03};
    for (int step = 0; step < 10; ++step) {
        f.Step([&](int j) {
            f.SetAll(f.Grid("directflow"), 0.5 * j);
            f.model->AppendCellPointRecords(2, 2, etr, interflow, 1.5);
        });
    }
    EXPECT_EQ(f.model->PointBuffers[unsatzonmodellklasse::ThetaFile].Fill, 20);
    f.model->FinishRun(0);

    const std::vector<std::string> thetaFile = Lines(ReadFile(f.dir.file("theta.txt")));
    ASSERT_EQ(thetaFile.size(), 21u);
    EXPECT_EQ(thetaFile[0], "YY\tMM\tDD\tHH\ttheta[2][2][1]\t[2]\t[3]\t");
    EXPECT_EQ(thetaFile[1].rfind("2020\t6\t1\t0\t", 0), 0u) << thetaFile[1];
    EXPECT_EQ(thetaFile[20].rfind("2020\t6\t1\t9\t", 0), 0u) << thetaFile[20];
    const std::vector<std::string> etrFile = Lines(ReadFile(f.dir.file("etr.txt")));
    ASSERT_EQ(etrFile.size(), 21u);
    EXPECT_EQ(etrFile[5], "2020\t6\t1\t2\t0.1\t0.2\t0.3\t0.4");
    const std::vector<std::string> other = Lines(ReadFile(f.dir.file("other.txt")));
    ASSERT_EQ(other.size(), 21u);
    EXPECT_EQ(other[2].rfind("2020\t6\t1\t0\t1\t0\t0\t1.5\t-9999\t-9999\t0\t", 0), 0u) << other[2];
    EXPECT_EQ(Lines(ReadFile(f.dir.file("interflow.txt")))[1], "2020\t6\t1\t0\t0.01\t0.02\t0.03");
    for (const char* name : {"qb.txt", "hhyd.txt"}) EXPECT_EQ(Lines(ReadFile(f.dir.file(name))).size(), 21u) << name;

    const std::vector<std::string> log = Lines(ReadFile(f.dir.file("modell_0.log")));
    ASSERT_GE(log.size(), 4u);
    const size_t n = log.size();
    EXPECT_EQ(log[n - 4].rfind("(mpi_rank 0) soil water content (control point r=2 c=2) at model-end: ", 0), 0u);
    EXPECT_EQ(log[n - 3].rfind("mean soil water content for all cells at model-end: ", 0), 0u);
    EXPECT_EQ(log[n - 2].rfind("mean soil water content for unglacierized or only partly unglacierized cells at "
                               "model-end: ", 0),
              0u);
    EXPECT_EQ(log[n - 1], "mean soil water content for partly or completely glacierized cells at model-end: "
                          "0.000000 m^3/m^2");
    EXPECT_TRUE(f.model->Deleted());
}

namespace {

int CtrlCSeen = 0;
void CountCtrlC(int) { ++CtrlCSeen; }

}  // namespace

// The buffer writer ignores SIGINT while it writes and gives back the handler
// it found; an empty buffer touches nothing; a file it cannot open ends the
// run with code 65.
TEST(SoilRunoffOutputs, PointBufferWriter) {
    Fixture f;
    Section section;
    section.Control = "2 2 control point\n";
    ASSERT_EQ(f.Make(section), 0) << f.Diagnostics();
    struct sigaction mine = {}, before = {}, after = {};
    mine.sa_handler = CountCtrlC;
    sigemptyset(&mine.sa_mask);
    ASSERT_EQ(sigaction(SIGINT, &mine, &before), 0);
    ControlPointBuffer& b = f.model->PointBuffers[unsatzonmodellklasse::ThetaFile];
    const std::string file = f.dir.file("written.txt");
    f.model->WritePointBuffer(nullptr, file, &b.Fill, b.Rows.data(), 1, 0);
    EXPECT_FALSE(FileExists(file));
    b.Fill = 1;
    b.Rows[1].Year = 2021;
    b.Rows[1].Values[1] = 0.25;
    f.model->WritePointBuffer(nullptr, file, &b.Fill, b.Rows.data(), 1, 1);
    EXPECT_EQ(ReadFile(file), "2021\t0\t0\t0\t0.25\n");
    EXPECT_EQ(b.Fill, 0);
    sigaction(SIGINT, nullptr, &after);
    EXPECT_EQ(after.sa_handler, CountCtrlC);

    b.Fill = 1;
    int code = 0;
    try {
        f.model->WritePointBuffer(nullptr, f.dir.file("missing/x.txt"), &b.Fill, b.Rows.data(), 1, 0);
    } catch (int thrown) {
        code = thrown;
    }
    EXPECT_EQ(code, 65);
    EXPECT_NE(f.Diagnostics().find("error opening file " + f.dir.file("missing/x.txt")), std::string::npos);
    sigaction(SIGINT, nullptr, &after);
    EXPECT_EQ(after.sa_handler, CountCtrlC);
    sigaction(SIGINT, &before, nullptr);
}

// A run that ends before its set-up finished writes no report and no last
// point rows; a log that cannot be opened costs the report, with a warning.
TEST(SoilRunoffOutputs, ModelEndWithoutReport) {
    {
        Fixture f;
        Section section;
        section.Control = "2 2 control point\n";
        ASSERT_EQ(f.Make(section), 0) << f.Diagnostics();
        f.model->SetStatus(0);
        f.Step([&](int) {});
        const std::string before = ReadFile("modell_0.log");
        f.model->FinishRun(0);
        EXPECT_EQ(ReadFile("modell_0.log"), before);
        EXPECT_EQ(Lines(ReadFile(f.dir.file("theta.txt"))).size(), 1u);
        EXPECT_TRUE(f.model->Deleted());
    }
    {
        Fixture f;
        ASSERT_EQ(f.Make(Section()), 0) << f.Diagnostics();
        f.Step([&](int) {});
        std::filesystem::remove("modell_0.log");
        std::filesystem::create_directory("modell_0.log");
        f.model->FinishRun(0);
        EXPECT_NE(f.Diagnostics().find("log file modell_0.log could not be opened"), std::string::npos)
            << f.Diagnostics();
        // The statistics were still closed with their rows.
        EXPECT_EQ(Lines(ReadFile(f.dir.file("qg.sta"))).size(), 4u);
    }
}

// The model-start and model-end means weigh each cell by its area in the
// water summed and in the area divided by alike: 24 cells of 0.3 m of soil,
// one of them three times as large and covered by ice, which counts as
// saturated (0.45). Area 26: at the end, at theta 0.3, 23 x 0.09 / 26
// ice-free, 3 x 0.135 / 26 under ice, and their sum the mean over all cells;
// at the start the same with the start water of the ice-free cells.
TEST(SoilRunoffOutputs, ModelStartAndEndMeansWeighByCellArea) {
    Fixture f;
    double** area = f.Add("RelCellArea", 1);
    area[1][1] = 3;
    double** ice = f.Add("ice_firn", 0);
    ice[1][1] = 1;
    ASSERT_EQ(f.Make(Section()), 0) << f.Diagnostics();
    // The start theta of a layer, the same in every cell (0.1 m each).
    double layer[Layers + 1] = {}, start = 0;
    for (int l = 1; l <= Layers; ++l) {
        layer[l] = f.model->Theta[1][2][l];
        start += 0.1 * layer[l];
    }
    for (int r = 1; r <= Rows; ++r)
        for (int c = 1; c <= Cols; ++c)
            for (int l = 1; l <= Layers; ++l) {
                if (r > 1 || c > 1) {
                    ASSERT_EQ(f.model->Theta[r][c][l], layer[l]) << r << " " << c;
                }
                f.model->Theta[r][c][l] = 0.3;
            }
    f.model->FinishRun(0);
    const std::vector<std::string> log = Lines(ReadFile(f.dir.file("modell_0.log")));
    const struct {
        const char* text;
        double value;
    } means[] = {
        {"mean soil water content for all cells at model-start: ", (23 * start + 3 * 0.135) / 26},
        {"mean soil water content for unglacierized or only partly unglacierized cells at model-start: ",
         23 * start / 26},
        {"mean soil water content for partly or completely glacierized cells at model-start: ", 3 * 0.135 / 26},
        {"mean soil water content for all cells at model-end: ", (23 * 0.09 + 3 * 0.135) / 26},
        {"mean soil water content for unglacierized or only partly unglacierized cells at model-end: ",
         23 * 0.09 / 26},
        {"mean soil water content for partly or completely glacierized cells at model-end: ", 3 * 0.135 / 26},
    };
    for (const auto& m : means) {
        SCOPED_TRACE(m.text);
        const auto line = std::find_if(log.begin(), log.end(),
                                       [&](const std::string& l) { return l.rfind(m.text, 0) == 0; });
        ASSERT_NE(line, log.end());
        EXPECT_NEAR(std::strtod(line->c_str() + std::strlen(m.text), nullptr), m.value, 1e-6);
    }
}
