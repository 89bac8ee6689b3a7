// External coupling: the settings section, the entities, the incoming grids,
// and a whole exchange with another program played by a thread.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cctype>
#include <csignal>
#include <dirent.h>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/modapuzr_menu.h"
#include "framework/gridtable.h"
#include "framework/modelobject.h"
#include "framework/signals.h"
#include "framework/statistics_table.h"
#include "setup/defltuzr_coupling.h"
#include "setup/setup_fixture.h"
#include "setup/setup_test_grid.h"

namespace {

using setuptest::Grid;
using testsupport::FileExists;
using testsupport::ReadFile;
using testsupport::WriteFile;

constexpr double ND = setuptest::Nodata;

// A statistic as the statistics table sees it: the arrays its writer shares.
struct FakeStatistic {
    FakeStatistic(const std::string& name, std::vector<int64_t> codes) : Name(name), Codes(std::move(codes)) {
        Codes.insert(Codes.begin(), 0);
        Current.assign(Codes.size() + 1, 0.0);
        Sums.assign(Codes.size() + 1, 0.0);
        Fractions.assign(Codes.size() + 1, 0.0);
        Codes.push_back(0);  // the total column, which readers leave out
    }
    StatisticsTableEntry Entry() {
        StatisticsTableEntry entry;
        entry.ValueCount = static_cast<int64_t>(Codes.size()) - 1;
        entry.CurrentValues = Current.data();
        entry.ReaderSums = Sums.data();
        entry.AreaFractions = Fractions.data();
        entry.NameText = Name.data();
        entry.ColumnCodes = Codes.data();
        return entry;
    }
    std::string Name;
    std::vector<int64_t> Codes;
    std::vector<double> Current, Sums, Fractions;
};

// Text of a 2 x 3 grid file of the model's geometry.
std::string GridText(const std::vector<double>& values) {
    std::ostringstream text;
    text << "ncols 3\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value -9999\n";
    for (int i = 0; i < 2; ++i) {
        for (int j = 0; j < 3; ++j) text << values[i * 3 + j] << (j < 2 ? " " : "\n");
    }
    return text.str();
}

// The cells of a text grid file, row by row.
std::vector<double> GridValues(const std::string& path) {
    std::istringstream text(ReadFile(path));
    std::string word;
    double number = 0;
    for (int k = 0; k < 6; ++k) text >> word >> number;
    std::vector<double> values;
    while (text >> number) values.push_back(number);
    return values;
}

std::vector<std::string> FilesStartingWith(const std::string& directory, const std::string& prefix) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(directory.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.rfind(prefix, 0) == 0) names.push_back(name);
        }
        closedir(dir);
    }
    return names;
}

void ExpectGrid(const std::vector<double>& actual, const std::vector<double>& expected, const std::string& what) {
    ASSERT_EQ(actual.size(), expected.size()) << what;
    for (size_t k = 0; k < expected.size(); ++k) {
        EXPECT_NEAR(actual[k], expected[k], 1e-9) << what << ", cell " << k / 3 + 1 << "/" << k % 3 + 1;
    }
}

class CouplingTest : public setuptest::SetupFixture {
protected:
    CouplingTest()
        : Table(CreateGridTable()),
          Owner(Writer.get(), Dir.file("control.txt"), true),
          Zones({{1, 1, 2}, {2, 2, ND}}),
          Inflow(2, 3, 0.0),
          Runoff(2, 3, 0.0),
          Storage(2, 3, 0.0),
          Coupling(Owner) {
        Owner.ModuleName = "defaults";
        Owner.GridTable = Table.get();
        Owner.NRows = 2;
        Owner.NCols = 3;
        Owner.FirstRow = 1;
        Owner.LastRow = 2;
        Owner.CellSize = 1;
        Owner.StoreGrid(1, "zones.asc", Zones.data(), nullptr, 1, "zonegrid", 0, 1, 2);
        Owner.StoreGrid(2, "inflow.asc", Inflow.data(), nullptr, 1, "inflow", 0, 1, 2);
        Owner.StoreGrid(3, "runoff.asc", Runoff.data(), nullptr, 1, "runoff", 0, 1, 2);
        Owner.StoreGrid(4, "storage.asc", Storage.data(), nullptr, 1, "soil storage", 0, 1, 2);
        Statistic.Current[1] = 1;
        Statistic.Current[2] = 2;
        Stats[0] = Other.Entry();
        Stats[1] = Statistic.Entry();
    }

    void SetUp() override {
        sigaction(SIGINT, nullptr, &SavedSigint);
        CtrlCState = 0;
    }
    void TearDown() override {
        CtrlCState = 0;
        sigaction(SIGINT, &SavedSigint, nullptr);
    }

    void Configure(const std::string& section) {
        if (Owner.ControlFile) std::fclose(Owner.ControlFile);
        Owner.ControlFile = nullptr;
        WriteFile(Dir.file("control.txt"), "[model_time]\n0 1 1 2001\n[next_section]\n1\n" + section);
        Coupling.GetCouplingParameters();
    }

    std::string P(const std::string& name) const { return Dir.file(name); }

    std::unique_ptr<MemoryGrid[]> Table;
    modelobject Owner;
    Grid Zones, Inflow, Runoff, Storage;
    FakeStatistic Other{"temperature_submodel:defaults", {1, 2}};
    FakeStatistic Statistic{"runoff per zone_submodel:unsatzon_model", {1, 2}};
    StatisticsTableEntry Stats[StatisticsTableSize + 1] = {};
    ExternalCoupling Coupling;
    struct sigaction SavedSigint {};
};

TEST_F(CouplingTest, TheSectionIsReadInItsOrder) {
    Configure(
        "[ExternalCoupling]\n"
        "1 coupling mode\n"
        "go.sem  name of the semaphore file\n"
        "250 wait interval\n"
        "D rhythm\n"
        "60 timestep of the other model\n"
        "2 grids to read\n"
        "a.asc inflow 1\n 0 b.asc\n"  // groups may span lines
        "GWTableExtern 0 7 rest of the line\n"
        "0 grids to write\n"
        "1 statistics to write\n"
        "s.txt runoff_per_zone SumTotal_DMY\n"
        "done.sem\n"
        "ready\n");
    EXPECT_TRUE(Coupling.IsCoupled());
    EXPECT_EQ(Coupling.GetSemaphoreFile(), "go.sem");
    EXPECT_EQ(Coupling.GetWaitInterval(), 250);
    EXPECT_EQ(Coupling.GetCouplingRhythm(), 'D');
    EXPECT_EQ(Coupling.GetExternalTimestep(), 60);
    ASSERT_EQ(Coupling.Incoming().size(), 2u);
    EXPECT_EQ(Coupling.Incoming()[0].FileName, "a.asc");
    EXPECT_EQ(Coupling.Incoming()[0].Entity, "inflow");
    EXPECT_EQ(Coupling.Incoming()[0].FillCode, 1);
    EXPECT_EQ(Coupling.Incoming()[0].RenameCode, 0);
    EXPECT_EQ(Coupling.Incoming()[1].Entity, "GWTableExtern");
    EXPECT_EQ(Coupling.Incoming()[1].RenameCode, 7);
    EXPECT_TRUE(Coupling.HasExternalGWTable());
    EXPECT_TRUE(Coupling.Outgoing().empty());
    ASSERT_EQ(Coupling.Statistics().size(), 1u);
    EXPECT_EQ(Coupling.Statistics()[0].WriteCode, "SumTotal_DMY");
    EXPECT_EQ(Coupling.GetOutSemaphoreFile(), "done.sem");
    EXPECT_EQ(Coupling.GetOutSemaphoreContent(), "ready");
}

TEST_F(CouplingTest, WithoutModeOneNoExchangeTakesPlace) {
    struct Case {
        const char* name;
        std::string section;
        int mode;
    };
    const Case cases[] = {
        {"no section", "", 0},
        {"mode 0", "[ExternalCoupling]\n0\nthis is not read\n", 0},
        {"mode 2", "[ExternalCoupling]\n2\ngo.sem\n100\nI\n15\n1\nin.asc inflow 0 0\n0\n0\ndone.sem\nok\n", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Configure(c.section);
        EXPECT_FALSE(Coupling.IsCoupled());
        EXPECT_EQ(Coupling.GetCouplingMode(), c.mode);
        Coupling.FindCouplingEntities(Stats, StatisticsTableSize, 2);

        // The time loop's calls do nothing: no wait (the semaphore file never
        // comes), no reading, no file written.
        RunHooks hooks;
        hooks.Writer = Writer.get();
        CouplingProgress progress;
        StepDate date{0, 1, 1, 2001};
        CouplingWait(hooks, Coupling, progress, date);
        CouplingExchange(hooks, Coupling, progress, date, true);
        EXPECT_EQ(progress.LastCouplingYear, -1);
        EXPECT_FALSE(FileExists(P("done.sem")));
    }
    // Mode 2 reads and checks the whole section.
    Configure("[ExternalCoupling]\n2\ngo.sem\n100\nI\n15\n1\nin.asc nothing_of_that_name 0 0\n0\n0\ndone.sem\nok\n");
    EXPECT_EQ(ThrownCode([&] { Coupling.FindCouplingEntities(Stats, StatisticsTableSize, 2); }), 1003);
}

TEST_F(CouplingTest, MalformedSectionsEndTheRun) {
    const std::string head = "[ExternalCoupling]\n1\ngo.sem\n100\n";
    const std::string reason = "possible reason: parameter missing or a linefeed \nbefore the end of the parameter block";
    struct Case {
        const char* name;
        std::string section;
        int code;
        std::string message;
    };
    const Case cases[] = {
        {"rhythm after a blank", head + " D\n60\n0\n0\n0\nd.sem\nok\n", 10,
         "error reading Coupling Mode (I, H, D, M or Y) for external gw table grid defaults\n" + reason},
        {"rhythm unknown", head + "W\n60\n0\n0\n0\nd.sem\nok\n", 10, "error reading Coupling Mode"},
        {"read group cut short", head + "D\n60\n2\na.asc inflow 0 0\nb.asc inflow 0\n", 10,
         "error reading external (read) grid name/entity/fill code/rename code defaults\n" + reason},
        {"fill code not a number", head + "D\n60\n1\na.asc inflow x 0\n0\n0\nd.sem\nok\n", 10,
         "error reading external (read) grid name/entity/fill code/rename code"},
        {"write group cut short", head + "D\n60\n0\n1\nout.asc runoff\n", 10,
         "error reading external (write) grid name/entity/Writecodedefaults"},
        {"write code too long", head + "D\n60\n0\n1\nout.asc runoff " + std::string(50, 'S') + "\n0\nd.sem\nok\n",
         10, "error reading external (write) grid name/entity/Writecode"},
        {"statistic group cut short", head + "D\n60\n0\n0\n1\ns.txt\n", 10,
         "error reading external (write) Statfile name/entity/writecodedefaults"},
        {"timestep missing", head + "D\nsixty\n", 17, "the external model's timestep in minutes ; defaults"},
        {"negative count", head + "D\n60\n-1\n", 17, "number external grids (to read)"},
        {"semaphore content missing", head + "D\n60\n0\n0\n0\nd.sem\n", 17,
         "semaphore Content for informing the external model "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int code = ThrownCode([&] { Configure(c.section); });
        EXPECT_EQ(code, c.code);
        if (Owner.ControlFile) std::fclose(Owner.ControlFile);
        Owner.ControlFile = nullptr;
    }
    for (const Case& c : cases) {
        EXPECT_NE(ConsoleText().find(c.message), std::string::npos) << c.name << ": " << c.message;
    }
}

TEST_F(CouplingTest, OnlyASingleProcessCouplesAndTheControlFileMustOpen) {
    Owner.ProcessCount = 2;
    EXPECT_EQ(ThrownCode([&] { Configure("[ExternalCoupling]\n1\n"); }), 1009);
    std::fclose(Owner.ControlFile);
    Owner.ControlFile = nullptr;
    Owner.ProcessCount = 1;
    Owner.ControlFilePath = P("no_such_file");
    EXPECT_EQ(ThrownCode([&] { Coupling.GetCouplingParameters(); }), 14);
    EXPECT_EQ(CountEntries(DiagFatal, "error opening " + P("no_such_file")), 1);
}

TEST_F(CouplingTest, UnknownEntitiesEndTheRunWithTheirCodes) {
    const std::string tail = "go.sem\n1\nI\n60\n";
    struct Case {
        const char* name;
        std::string lists;
        int code;
        std::string message;
    };
    const Case cases[] = {
        {"incoming grid", "1\nin.asc Inflow 0 0\n0\n0\n", 1003,
         "error looking for internal grid to read from in.asc, with internal name \"Inflow\"\npossible reason: "
         "internal name of the grid is wrong (case sensitive!)"},
        {"outgoing grid", "0\n1\nout.asc runof Sum\n0\n", 1004,
         "error looking for internal grid to write to out.asc with internal name \"runof\""},
        {"statistic", "0\n0\n1\ns.txt runoff_per_zone_submodel:snow_model Sum\n", 1005,
         "error looking for zonal statistic with internal name \"runoff_per_zone_submodel:snow_model\"\npossible "
         "reason: name of the statistic entity is wrong (case sensitive!)"},
        {"statistic in another case", "0\n0\n1\ns.txt Runoff_per_zone Sum\n", 1005, "internal name \"Runoff_per_zone\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Configure("[ExternalCoupling]\n1\n" + tail + c.lists + "done.sem\nok\n");
        EXPECT_EQ(ThrownCode([&] { Coupling.FindCouplingEntities(Stats, StatisticsTableSize, 2); }), c.code);
        std::fclose(Owner.ControlFile);
        Owner.ControlFile = nullptr;
    }
    for (const Case& c : cases) {
        EXPECT_NE(ConsoleText().find(c.message), std::string::npos) << c.name << ": " << c.message;
    }
}

TEST_F(CouplingTest, AStatisticIsFoundWithUnderscoresForItsBlanks) {
    // A statistic registered after a free entry is invisible to the search.
    FakeStatistic late{"late statistic", {1}};
    Stats[3] = late.Entry();
    Configure("[ExternalCoupling]\n1\ngo.sem\n1\nI\n60\n0\n0\n2\n" + P("a.txt") + " per_zone_submodel Sum\n" +
              P("b.txt") + " zone_submodel:unsatzon_model Mean\ndone.sem\nok\n");
    Coupling.FindCouplingEntities(Stats, StatisticsTableSize, 2);
    EXPECT_EQ(Coupling.Statistics()[0].Entry, &Stats[1]);
    EXPECT_EQ(Coupling.Statistics()[1].Entry, &Stats[1]);

    Configure("[ExternalCoupling]\n1\ngo.sem\n1\nI\n60\n0\n0\n1\ns.txt late_statistic Sum\ndone.sem\nok\n");
    EXPECT_EQ(ThrownCode([&] { Coupling.FindCouplingEntities(Stats, StatisticsTableSize, 2); }), 1005);
}

TEST_F(CouplingTest, AStatisticFileQuotesAtMostAHundredCharactersOfTheName) {
    FakeStatistic longName{std::string(120, 'n'), {4, 9}};
    Stats[2] = longName.Entry();
    longName.Current[1] = 0.1;
    longName.Current[2] = 1234567.0;
    Configure("[ExternalCoupling]\n1\ngo.sem\n1\nI\n60\n0\n0\n2\n" + P("long.txt") + " nnnnn Other\n" + P("short.txt") +
              " temperature Sum\ndone.sem\nok\n");
    Coupling.FindCouplingEntities(Stats, StatisticsTableSize, 7);
    Coupling.WriteExternalOutput(4, 3, 2001, 0, 0, 0);
    EXPECT_EQ(ReadFile(P("long.txt")), std::string(100, 'n') + "...; 7 Gebiete\n4\t0.1\n9\t1.23457e+06\n");
    EXPECT_EQ(ReadFile(P("short.txt")), "temperature_submodel:defaults; 7 zones\n1\t0\n2\t0\n");
}

TEST_F(CouplingTest, IncomingGridsAreReadThenRenamedDeletedOrKept) {
    Owner.InputDirectory = P("input/");
    ASSERT_EQ(mkdir(P("input").c_str(), 0755), 0);
    Configure("[ExternalCoupling]\n1\n" + P("go.sem") +
              "\n1\nI\n60\n3\na.asc inflow 0 1\nb.asc runoff 0 0\nc.asc inflow 0 5\n0\n0\ndone.sem\nok\n");
    Coupling.FindCouplingEntities(Stats, StatisticsTableSize, 2);

    WriteFile(P("input/a.asc"), GridText({1, 2, 3, 4, 5, 6}));
    WriteFile(P("input/b.asc"), GridText({7, 8, 9, 10, 11, 12}));
    WriteFile(P("input/c.asc"), GridText({1, 2, 3, 4, 5, 6}));
    WriteFile(P("go.sem"), "");
    Coupling.ReadExternalGrids(2001, 3, 4, 5);

    ExpectGrid({Inflow.at(1, 1), Inflow.at(1, 3), Inflow.at(2, 2)}, {1, 3, 5}, "inflow");
    ExpectGrid({Runoff.at(1, 2), Runoff.at(2, 3)}, {8, 12}, "runoff");
    EXPECT_FALSE(FileExists(P("input/a.asc")));
    const auto renamed = FilesStartingWith(P("input"), "a.asc_2001_03_04_05_");
    ASSERT_EQ(renamed.size(), 1u);
    ASSERT_GT(renamed[0].size(), 20u);
    EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(renamed[0][20])));  // the clock count
    EXPECT_FALSE(FileExists(P("input/b.asc")));
    EXPECT_TRUE(FileExists(P("input/c.asc")));
    EXPECT_FALSE(FileExists(P("go.sem")));
    EXPECT_FALSE(Coupling.HasExternalGWTable());

    // Without the semaphore file to delete the hand-over is broken.
    WriteFile(P("input/a.asc"), GridText({1, 2, 3, 4, 5, 6}));
    WriteFile(P("input/b.asc"), GridText({7, 8, 9, 10, 11, 12}));
    EXPECT_EQ(ThrownCode([&] { Coupling.ReadExternalGrids(2001, 3, 4, 6); }), 1001);
    EXPECT_EQ(CountEntries(DiagFatal, "error deleting semaphore file " + P("go.sem")), 1);
}

TEST(PeriodEndFileNameTest, TheDateGoesBetweenDirectoryAndBaseName) {
    EXPECT_EQ(PeriodEndFileName("out/total.asc", 'D', 2001, 3, 4), "out/SumTotal_EndOf_Day_2001_03_04_total.asc");
    EXPECT_EQ(PeriodEndFileName("/a/b\\total", 'M', 2001, 12, 31), "/a/b\\SumTotal_EndOf_Month_2001_12_total");
    EXPECT_EQ(PeriodEndFileName("total.asc", 'Y', 987, 1, 1), "SumTotal_EndOf_Year_0987_total.asc");
}

// Two days of hourly steps coupled daily with another program, which a thread
// plays: before each day it writes the incoming grid and its semaphore file,
// and after each day it takes the model's grids and statistics once the
// model's semaphore file is there.
TEST_F(CouplingTest, ADailyExchangeWithAnotherProgram) {
    Configure("[ExternalCoupling]\n1\n" + P("go.sem") + "\n1\nD\n60\n1\n" + P("in.asc") + " inflow 0 1\n3\n" +
              P("mean.asc") + " runoff Mean\n" + P("sum.asc") + " runoff Sum\n" + P("total.asc") +
              " runoff SumTotal_DMY\n3\n" + P("mean.txt") + " runoff_per_zone Mean\n" + P("sum.txt") +
              " runoff_per_zone Sum\n" + P("total.txt") + " runoff_per_zone SumTotal\n" + P("done.sem") +
              "\nready\n");
    Owner.WriteAsciiGrids = true;
    Coupling.FindCouplingEntities(Stats, StatisticsTableSize, 2);

    const int days = 2;
    struct Received {
        std::vector<double> Mean, Sum, Total;
        std::string MeanText, SumText, TotalText, Semaphore;
    };
    std::vector<Received> received(days);
    std::atomic<bool> stop{false};
    std::string partnerFailure;
    auto waitFor = [&](const std::string& path) {
        for (int k = 0; k < 20000; ++k) {
            if (FileExists(path)) return true;
            if (stop) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    };
    std::thread partner([&] {
        for (int d = 0; d < days; ++d) {
            WriteFile(P("in.asc"), GridText({1000.0 * (d + 1) + 1, 1000.0 * (d + 1) + 2, 1000.0 * (d + 1) + 3,
                                             1000.0 * (d + 1) + 4, 1000.0 * (d + 1) + 5, 1000.0 * (d + 1) + 6}));
            WriteFile(P("go.sem"), "");
            if (!waitFor(P("done.sem"))) {
                partnerFailure = "the model's semaphore file never came on day " + std::to_string(d);
                return;
            }
            Received& r = received[d];
            r.Mean = GridValues(P("mean.asc"));
            r.Sum = GridValues(P("sum.asc"));
            r.Total = GridValues(P("total.asc"));
            r.MeanText = ReadFile(P("mean.txt"));
            r.SumText = ReadFile(P("sum.txt"));
            r.TotalText = ReadFile(P("total.txt"));
            r.Semaphore = ReadFile(P("done.sem"));
            std::remove(P("done.sem").c_str());
        }
    });

    // The model's side, as the time loop calls it.
    std::vector<StepDate> dates;
    for (int d = 0; d < days; ++d) {
        for (int h = 0; h < 24; ++h) dates.push_back({h, 4 + d, 3, 2001});
    }
    size_t next = 0;
    int pauses = 0;
    RunHooks hooks;
    hooks.Writer = Writer.get();
    hooks.ActualDate = [&](StepDate& date) {
        date = next < dates.size() ? dates[next] : dates.back();
        return true;
    };
    hooks.WaitTicks = [&](long) {
        if (++pauses > 20000) throw 999;  // the partner is gone
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    int gwTableCalls = 0;
    hooks.ApplyExternalGWTable = [&](int) { ++gwTableCalls; };

    std::vector<std::vector<double>> inflowSeen;
    int code = 0;
    try {
        CouplingProgress progress;
        for (size_t s = 0; s < dates.size(); ++s) {
            StepDate current = dates[s];
            CouplingWait(hooks, Coupling, progress, current);
            inflowSeen.push_back({Inflow.at(1, 1), Inflow.at(2, 3)});
            // Each cell's runoff is the hour plus 100 per day plus its number.
            const double base = current.Hour + 100.0 * (current.Day - 4);
            for (int i = 1; i <= 2; ++i) {
                for (int j = 1; j <= 3; ++j) Runoff.at(i, j) = base + (i - 1) * 3 + j;
            }
            Statistic.Current[1] = base;
            Statistic.Current[2] = 2 * base;
            next = s + 1;
            CouplingExchange(hooks, Coupling, progress, current, next == dates.size());
        }
    } catch (int thrown) {
        code = thrown;
    }
    stop = true;
    partner.join();
    ASSERT_EQ(code, 0);
    ASSERT_EQ(partnerFailure, "");

    // The incoming grid of each day reached the model at its first step.
    for (size_t s = 0; s < dates.size(); ++s) {
        const double day = 1000.0 * (s / 24 + 1);
        EXPECT_EQ(inflowSeen[s], (std::vector<double>{day + 1, day + 6})) << "step " << s;
    }
    EXPECT_EQ(FilesStartingWith(Dir.path(), "in.asc_2001_03_04_00_").size(), 1u);
    EXPECT_EQ(FilesStartingWith(Dir.path(), "in.asc_2001_03_05_00_").size(), 1u);
    EXPECT_FALSE(FileExists(P("go.sem")));
    EXPECT_EQ(gwTableCalls, 0);

    // Mean and sum of each day over its 24 steps; the cell outside the zone
    // grid is nodata. The mean of the hours 0 to 23 is 11.5.
    for (int d = 0; d < days; ++d) {
        SCOPED_TRACE("day " + std::to_string(d));
        std::vector<double> mean, sum;
        for (int c = 1; c <= 6; ++c) {
            mean.push_back(c == 6 ? ND : 11.5 + 100.0 * d + c);
            sum.push_back(c == 6 ? ND : 24 * (11.5 + 100.0 * d + c));
        }
        ExpectGrid(received[d].Mean, mean, "mean");
        ExpectGrid(received[d].Sum, sum, "sum");
        EXPECT_EQ(received[d].MeanText,
                  "runoff per zone_submodel:unsatzon_model; 2 zones\n1\t" + std::to_string(int(11.5 + 100 * d)) +
                      ".5\n2\t" + std::to_string(int(23 + 200 * d)) + "\n");
        const double daySum = 24 * (11.5 + 100.0 * d);
        std::ostringstream sumText;
        sumText << "runoff per zone_submodel:unsatzon_model; 2 zones\n1\t" << daySum << "\n2\t" << 2 * daySum << "\n";
        EXPECT_EQ(received[d].SumText, sumText.str());
        EXPECT_EQ(received[d].Semaphore, "ready");
    }
    // The running total takes every step of the run, those that end a day too.
    std::vector<double> total;
    for (int c = 1; c <= 6; ++c) total.push_back(c == 6 ? ND : 24 * (11.5 + c) + 24 * (111.5 + c));
    ExpectGrid(received[1].Total, total, "running total");
    std::ostringstream totalText;
    totalText << "runoff per zone_submodel:unsatzon_model; 2 zones\n1\t" << 24 * 11.5 + 24 * 111.5 << "\n2\t"
              << 2 * (24 * 11.5 + 24 * 111.5) << "\n";
    EXPECT_EQ(received[1].TotalText, totalText.str());

    // Period files: the end of the first day; day, month and year at the end
    // of the run.
    std::vector<double> firstDay;
    for (int c = 1; c <= 6; ++c) firstDay.push_back(c == 6 ? ND : 24 * (11.5 + c));
    ExpectGrid(GridValues(P("SumTotal_EndOf_Day_2001_03_04_total.asc")), firstDay, "end of the first day");
    ExpectGrid(GridValues(P("SumTotal_EndOf_Day_2001_03_05_total.asc")), total, "end of the second day");
    ExpectGrid(GridValues(P("SumTotal_EndOf_Month_2001_03_total.asc")), total, "end of the month");
    ExpectGrid(GridValues(P("SumTotal_EndOf_Year_2001_total.asc")), total, "end of the year");
    EXPECT_EQ(FilesStartingWith(Dir.path(), "SumTotal_EndOf_").size(), 4u);
}

// A step of a coupled run that reads the external groundwater table hands the
// external time step to the soil model.
TEST_F(CouplingTest, AnExternalGroundwaterTableGoesToTheSoilModel) {
    Owner.StoreGrid(5, "gw.asc", Storage.data(), nullptr, 1, "GWTableExtern", 0, 1, 2);
    Configure("[ExternalCoupling]\n1\n" + P("go.sem") + "\n1\nI\n30\n1\n" + P("gw.asc") +
              " GWTableExtern 0 0\n0\n0\n" + P("done.sem") + "\nok\n");
    Coupling.FindCouplingEntities(Stats, StatisticsTableSize, 2);
    WriteFile(P("gw.asc"), GridText({-1, -2, -3, -4, -5, -6}));
    WriteFile(P("go.sem"), "");
    std::vector<int> timesteps;
    RunHooks hooks;
    hooks.Writer = Writer.get();
    hooks.ApplyExternalGWTable = [&](int timestep) {
        EXPECT_EQ(Storage.at(2, 2), -5);  // after the reading
        timesteps.push_back(timestep);
    };
    CouplingProgress progress;
    CouplingWait(hooks, Coupling, progress, {7, 4, 3, 2001});
    EXPECT_EQ(timesteps, std::vector<int>{30});
    EXPECT_EQ(progress.LastCouplingHour, 7);
    EXPECT_EQ(progress.LastCouplingYear, 2001);
}

// The statistics file of an exchange is written whole or the run ends.
TEST_F(CouplingTest, AStatisticsFileThatCannotBeWrittenIsFatal) {
    Configure("[ExternalCoupling]\n1\ngo.sem\n1\nI\n60\n0\n0\n1\n" + P("missing/s.txt") +
              " temperature Sum\ndone.sem\nok\n");
    Coupling.FindCouplingEntities(Stats, StatisticsTableSize, 2);
    EXPECT_EQ(ThrownCode([&] { Coupling.WriteExternalOutput(4, 3, 2001, 0, 0, 0); }), 26);
    EXPECT_EQ(CountEntries(DiagFatal, "error creating " + P("missing/s.txt")), 1);
}

}  // namespace
