#include "framework/zonalstatistic.h"

#include <gtest/gtest.h>

#include <omp.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>
#include <cmath>
#include <csignal>
#include <sstream>

#include "framework/diagnostics_writer.h"
#include "framework/signals.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

// A 1-based matrix with its own storage.
struct TestGrid {
    TestGrid(int rows, int cols, double fill) : Data(rows + 1, std::vector<double>(cols + 1, fill)), Rows(rows + 1) {
        for (int r = 0; r <= rows; ++r) Rows[r] = Data[r].data();
    }
    double** get() { return Rows.data(); }
    std::vector<std::vector<double>> Data;
    std::vector<double*> Rows;
};

// One cell handed to a statistic: row, column, zone rank, value.
struct Cell {
    int row, col, zone;
    double value;
};

// Three zones with the codes 10, 20 and 30 on a grid of 2 x 3 cells.
const std::vector<Cell> kCells = {{1, 1, 1, 2}, {1, 2, 1, 4}, {1, 3, 2, 6}, {2, 1, 2, 10}, {2, 2, 3, 1}, {2, 3, 3, 3}};

std::vector<ZoneRecord> ThreeZones() {
    std::vector<ZoneRecord> zones(4);
    zones[0].rel = 12.5;
    const double codes[] = {0, 10, 20, 30};
    const double rel[] = {0, 0.2, 0.3, 0.5};
    for (int i = 1; i <= 3; ++i) {
        zones[i].zonenwert = codes[i];
        zones[i].rel = rel[i];
        zones[i].n = zones[i].sx = zones[i].RelCellSum = 99;  // the statistic clears them
    }
    return zones;
}

class ZonalStatisticTest : public ::testing::Test {
protected:
    ZonalStatisticTest() : Writer(Dir.file("diag.xml"), DiagDebug, Console), Table(StatisticsTableSize + 1) {}

    std::unique_ptr<zonalstatistic> Make(int code, std::vector<ZoneRecord>& zones, double** rca = nullptr,
                                         const std::vector<int>& listed = {}, int precision = 4,
                                         const std::string& name = "stat.txt", int* statusOut = nullptr) {
        int status = -1;
        std::vector<int> codes(listed.size() + 1, 0);
        std::copy(listed.begin(), listed.end(), codes.begin() + 1);
        std::string fileName = name;
        auto statistic = std::make_unique<zonalstatistic>(
            &status, &Writer, Table.data(), StatisticsTableSize, rca, 2, 3, zones.data(),
            static_cast<int>(zones.size()) - 1, code, precision, fileName, Dir.path() + "/",
            static_cast<int>(listed.size()), codes.data());
        if (statusOut) *statusOut = status;
        else EXPECT_EQ(status, 0);
        return statistic;
    }

    static void Step(zonalstatistic& statistic, const std::vector<Cell>& cells, int64_t hour) {
        statistic.ResetStep();
        for (const Cell& c : cells) statistic.AddValue(c.row, c.col, c.zone, c.value, 1.0);
        statistic.CloseStep(2000, 1, 1, hour);
    }

    TempDir Dir;
    std::ostringstream Console;
    DiagnosticsWriter Writer;
    std::vector<StatisticsTableEntry> Table;
};

// Restores the SIGINT disposition that a test changes.
class SigintGuard {
public:
    SigintGuard() { sigaction(SIGINT, nullptr, &Saved); }
    ~SigintGuard() { sigaction(SIGINT, &Saved, nullptr); }
    static void (*Current())(int) {
        struct sigaction now {};
        sigaction(SIGINT, nullptr, &now);
        return now.sa_handler;
    }

private:
    struct sigaction Saved {};
};

TEST_F(ZonalStatisticTest, ModesWriteHeaderAndZoneMeansWithAndWithoutCellAreas) {
    // Cell areas 1, 0.5, 1 / 0.25, 0.8, missing (counts as 1).
    // Without areas: zone means 6/2, 16/2, 4/2 and total 26/6.
    // With areas: 4/1.5, 8.5/1.25, 3.8/1.8 and total 16.3/4.55.
    struct Case {
        int code;
        std::vector<int> listed;
        bool areas;
        std::string line1, line3, row;
        int64_t valueCount;
    };
    const std::string all = "\t\"10\"\t\"20\"\t\"30\"";
    const std::string allRel = "\t0.2000000\t0.3000000\t0.5000000";
    const std::vector<Case> cases = {
        {1001, {}, false, "", "", "\t4.3333", 2},
        {2001, {}, false, all, allRel, "\t3.0000\t8.0000\t2.0000\t4.3333", 4},
        {3001, {}, false, "", "", "\t4.3333", 2},
        {4001, {}, false, all, allRel, "\t3.0000\t8.0000\t2.0000\t4.3333", 4},
        {5001, {10, 30}, false, "\t\"10\"\t\"30\"", "\t0.2000000\t0.5000000", "\t3.0000\t2.0000\t4.3333", 3},
        {6001, {20}, false, "\t\"20\"", "\t0.3000000", "\t8.0000\t4.3333", 2},
        {7001, {10}, false, "", "", "\t4.3333", 2},
        {1001, {}, true, "", "", "\t3.5824", 2},
        {2001, {}, true, all, allRel, "\t2.6667\t6.8000\t2.1111\t3.5824", 4},
        {4001, {}, true, all, allRel, "\t2.6667\t6.8000\t2.1111\t3.5824", 4},
        {5001, {20, 30}, true, "\t\"20\"\t\"30\"", "\t0.3000000\t0.5000000", "\t6.8000\t2.1111\t3.5824", 3},
        {6001, {10}, true, "\t\"10\"", "\t0.2000000", "\t2.6667\t3.5824", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("code " + std::to_string(c.code) + (c.areas ? " with areas" : " without areas"));
        std::fill(Table.begin(), Table.end(), StatisticsTableEntry{});
        TestGrid areas(2, 3, 1.0);
        areas.Data[1][2] = 0.5;
        areas.Data[2][1] = 0.25;
        areas.Data[2][2] = 0.8;
        areas.Data[2][3] = -9999;
        auto zones = ThreeZones();
        auto statistic = Make(c.code, zones, c.areas ? areas.get() : nullptr, c.listed);
        EXPECT_EQ(statistic->WriteHeader("Name", "Sub"), 0);
        Step(*statistic, kCells, 7);
        Step(*statistic, kCells, 8);
        EXPECT_EQ(Table[0].ValueCount, c.valueCount);
        statistic->Close();
        const auto lines = Lines(ReadFile(Dir.file("stat.txt")));
        ASSERT_EQ(lines.size(), 5u);
        EXPECT_EQ(lines[0], "YY\tMM\tDD\tHH" + c.line1 + "\ttot_average");
        EXPECT_EQ(lines[1], "Name_submodel:Sub");
        EXPECT_EQ(lines[2], "--\t--\t--\t--" + c.line3 + "\t1.0000");
        EXPECT_EQ(lines[3], "2000\t 1\t 1\t 7" + c.row);
        EXPECT_EQ(lines[4], "2000\t 1\t 1\t 8" + c.row);
        EXPECT_FALSE(statistic->IsOn()) << "a closed statistic is off";
    }
}

TEST_F(ZonalStatisticTest, IntervalsGiveAreaWeightedMeansAndSums) {
    // Zone 1 (code 10) changes its cells: sums 4, 5, 6 over 2, 1, 3 cells.
    // Zone 2 (code 20) keeps one cell: 10, 20, 30.
    std::vector<std::vector<Cell>> steps = {
        {{1, 1, 1, 1}, {1, 2, 1, 3}, {2, 1, 2, 10}},
        {{1, 1, 1, 5}, {2, 1, 2, 20}},
        {{1, 1, 1, 2}, {1, 2, 1, 2}, {1, 3, 1, 2}, {2, 1, 2, 30}},
    };
    struct Case {
        int code;
        std::vector<int> listed;
        std::string row;
    };
    // Means: 15/6, 60/3, total 75/9. Sums: 15 / last cells 3, 60 / 1, total 75 / 4.
    const std::vector<Case> cases = {
        {1003, {}, "\t8.3333"},
        {2003, {}, "\t2.5000\t20.0000\t8.3333"},
        {3003, {}, "\t18.7500"},
        {4003, {}, "\t5.0000\t60.0000\t18.7500"},
        {5003, {20}, "\t20.0000\t8.3333"},
        {6003, {20}, "\t60.0000\t18.7500"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("code " + std::to_string(c.code));
        std::fill(Table.begin(), Table.end(), StatisticsTableEntry{});
        std::vector<ZoneRecord> zones(3);
        zones[1].zonenwert = 10;
        zones[2].zonenwert = 20;
        zones[1].rel = zones[2].rel = 0.5;
        auto statistic = Make(c.code, zones, nullptr, c.listed);
        statistic->WriteHeader("Name", "Sub");
        for (int repeat = 0; repeat < 2; ++repeat) {
            for (size_t s = 0; s < steps.size(); ++s) Step(*statistic, steps[s], int64_t(repeat * 3 + s + 1));
        }
        statistic->Close();
        const auto lines = Lines(ReadFile(Dir.file("stat.txt")));
        ASSERT_EQ(lines.size(), 5u);
        EXPECT_EQ(lines[3], "2000\t 1\t 1\t 3" + c.row);
        EXPECT_EQ(lines[4], "2000\t 1\t 1\t 6" + c.row);
    }
}

TEST_F(ZonalStatisticTest, ZonesWithoutWeightShowZeroNotNan) {
    // Zone 1 has cells whose areas are all 0; zone 3 has no cell at all.
    TestGrid areas(2, 3, 1.0);
    areas.Data[1][1] = areas.Data[1][2] = 0.0;
    auto zones = ThreeZones();
    auto statistic = Make(2001, zones, areas.get());
    statistic->WriteHeader("Name", "Sub");
    Step(*statistic, {{1, 1, 1, 5}, {1, 2, 1, 7}, {1, 3, 2, 6}}, 1);
    const double* values = statistic->GetCurrentValues();
    EXPECT_EQ(values[1], 0.0);
    EXPECT_EQ(values[2], 6.0);
    EXPECT_EQ(values[3], 0.0);
    EXPECT_EQ(values[4], 6.0);
    statistic->Close();
    EXPECT_EQ(Lines(ReadFile(Dir.file("stat.txt")))[3], "2000\t 1\t 1\t 1\t0.0000\t6.0000\t0.0000\t6.0000");
}

TEST_F(ZonalStatisticTest, OffStatisticDoesNothingAndIntervalZeroWritesNoRows) {
    for (int code : {-5, 0, 1000}) {
        auto zones = ThreeZones();
        auto statistic = Make(code, zones);
        EXPECT_TRUE(statistic->IsReady());
        EXPECT_FALSE(statistic->IsOn());
        EXPECT_EQ(statistic->WriteHeader("Name", "Sub"), -1);
        statistic->ResetStep();
        statistic->AddValue(1, 1, 77, 1.0, 1.0);  // not even checked while off
        statistic->CloseStep(2000, 1, 1, 1);
        statistic->Flush();
        statistic->Close();
        EXPECT_FALSE(FileExists(Dir.file("stat.txt")));
        EXPECT_EQ(Table[0].ValueCount, 0);
        EXPECT_EQ(zones[1].n, 99) << "an off statistic leaves the zone table alone";
    }
    auto zones = ThreeZones();
    auto statistic = Make(2000, zones);
    statistic->WriteHeader("Name", "Sub");
    for (int h = 1; h <= 5; ++h) Step(*statistic, kCells, h);
    statistic->Close();
    EXPECT_EQ(Lines(ReadFile(Dir.file("stat.txt"))).size(), 3u);
}

TEST_F(ZonalStatisticTest, ListedCodesMustExistInAscendingOrder) {
    struct Case {
        std::vector<int> listed;
        int status;
        std::string missing;
        int used;
    };
    const std::vector<Case> cases = {
        {{10, 30}, 0, "", 2},
        {{10, 20, 30, 40}, 0, "", 3},  // only the first n codes are used
        {{30, 10}, 1, "(10)", 0},
        {{30, 20}, 1, "(20)", 0},
        {{20, 20}, 1, "(20)", 0},
        {{15}, 1, "(15)", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.listed));
        Console.str("");
        auto zones = ThreeZones();
        int status = -1;
        auto statistic = Make(5001, zones, nullptr, c.listed, 4, "stat.txt", &status);
        EXPECT_EQ(status, c.status);
        if (c.status == 0) {
            EXPECT_EQ(statistic->ListedCountUsed(), c.used);
        } else {
            EXPECT_NE(Console.str().find("there is a code in the output list which no zone exists for " + c.missing),
                      std::string::npos)
                << Console.str();
            EXPECT_FALSE(statistic->IsReady());
            EXPECT_EQ(statistic->WriteHeader("Name", "Sub"), -1);
        }
    }
}

TEST_F(ZonalStatisticTest, TableEntrySharesValuesAndIsClearedOnClose) {
    Table[0].ValueCount = 5;  // taken by someone else
    auto zones = ThreeZones();
    auto statistic = Make(2001, zones);
    EXPECT_EQ(statistic->WriteHeader("Air temp", "defaults"), 1);
    const StatisticsTableEntry& entry = Table[1];
    EXPECT_EQ(entry.ValueCount, 4);
    EXPECT_STREQ(entry.NameText, "Air temp_submodel:defaults");
    EXPECT_EQ(entry.ColumnCodes[1], 10);
    EXPECT_EQ(entry.ColumnCodes[3], 30);
    EXPECT_EQ(entry.ColumnCodes[4], 0);
    EXPECT_EQ(entry.AreaFractions[2], 0.3);
    EXPECT_EQ(entry.AreaFractions[4], 1.0);
    Step(*statistic, kCells, 1);
    EXPECT_EQ(entry.CurrentValues[2], 8.0);
    EXPECT_EQ(entry.ReaderSums[2], 0.0);
    statistic->Close();
    EXPECT_EQ(Table[1].ValueCount, 0);
    EXPECT_EQ(Table[1].CurrentValues, nullptr);
    EXPECT_EQ(Table[1].NameText, nullptr);
    EXPECT_EQ(Table[0].ValueCount, 5);
}

TEST_F(ZonalStatisticTest, FullTableLeavesStatisticUnregisteredButWritten) {
    for (auto& e : Table) e.ValueCount = 1;
    auto zones = ThreeZones();
    auto statistic = Make(2001, zones);
    EXPECT_EQ(statistic->WriteHeader("Name", "Sub"), -1);
    Step(*statistic, kCells, 1);
    statistic->Close();
    EXPECT_EQ(Lines(ReadFile(Dir.file("stat.txt"))).size(), 4u);
    EXPECT_EQ(Table[200].ValueCount, 1) << "the spare entry is never used";
}

TEST_F(ZonalStatisticTest, BufferingGivesTheSameFileAsWritingEveryRow) {
    // 2000 zones: (2001 x 8 + 32) bytes per row leave room for 130 rows.
    const int n = 2000;
    std::vector<ZoneRecord> zonesA(n + 1), zonesB(n + 1);
    for (int i = 1; i <= n; ++i) {
        zonesA[i].zonenwert = zonesB[i].zonenwert = i;
        zonesA[i].rel = zonesB[i].rel = 1.0 / n;
    }
    auto buffered = Make(2001, zonesA, nullptr, {}, 3, "buffered.txt");
    auto direct = Make(2001, zonesB, nullptr, {}, 3, "direct.txt");
    EXPECT_EQ(buffered->GetCapacity(), 130);
    buffered->WriteHeader("Name", "Sub");
    direct->WriteHeader("Name", "Sub");
    for (int step = 1; step <= 300; ++step) {
        for (zonalstatistic* s : {buffered.get(), direct.get()}) {
            s->ResetStep();
            for (int i = 1; i <= n; ++i) s->AddValue(1, 1, i, step * 0.5 + i, 1.0);
            s->CloseStep(2001, 2, step % 28 + 1, step % 24);
        }
        direct->Flush();
        if (step == 130) {
            EXPECT_EQ(buffered->GetRowsInUse(), 0) << "a full buffer is written at once";
            EXPECT_EQ(Lines(ReadFile(Dir.file("buffered.txt"))).size(), 133u);
        }
    }
    buffered->Close();
    direct->Close();
    const std::string a = ReadFile(Dir.file("buffered.txt"));
    EXPECT_EQ(Lines(a).size(), 303u);
    EXPECT_EQ(a, ReadFile(Dir.file("direct.txt")));

    auto zones = ThreeZones();
    EXPECT_EQ(Make(1001, zones)->GetCapacity(), 43690);
    EXPECT_EQ(Make(3001, zones)->GetCapacity(), 43690);
}

TEST_F(ZonalStatisticTest, PrecisionSelectsDecimalsOrSixSignificantDigits) {
    for (auto [precision, expected] : std::vector<std::pair<int, std::string>>{
             {3, "\t0.000"}, {99, "\t0.000123457"}, {0, "\t0"}, {7, "\t0.0001235"}}) {
        auto zones = ThreeZones();
        auto statistic = Make(1001, zones, nullptr, {}, precision);
        statistic->WriteHeader("Name", "Sub");
        Step(*statistic, {{1, 1, 1, 0.000123456789}}, 1);
        statistic->Close();
        EXPECT_EQ(Lines(ReadFile(Dir.file("stat.txt")))[3], "2000\t 1\t 1\t 1" + expected);
    }
}

TEST_F(ZonalStatisticTest, RelativeNamesGetTheOutputDirectory) {
    auto zones = ThreeZones();
    int status = -1;
    std::string relative = "rel.txt";
    std::string absolute = Dir.file("abs.txt");
    zonalstatistic a(&status, &Writer, nullptr, 0, 0, zones.data(), 3, 2001, 4, relative, Dir.path() + "/", 0,
                     nullptr);
    zonalstatistic b(&status, &Writer, nullptr, 0, 0, zones.data(), 3, 2001, 4, absolute, "/nonexistent/", 0,
                     nullptr);
    EXPECT_EQ(relative, Dir.file("rel.txt"));
    EXPECT_EQ(absolute, Dir.file("abs.txt"));
    a.WriteHeader("A", "Sub", nullptr, 0);
    b.WriteHeader("B", "Sub", nullptr, 0);
    EXPECT_TRUE(FileExists(relative));
    EXPECT_TRUE(FileExists(absolute));
}

TEST_F(ZonalStatisticTest, FailingOpenWriteOrCloseIsFatal) {
    auto zones = ThreeZones();
    auto missingDir = Make(2001, zones, nullptr, {}, 4, "nodir/stat.txt");
    try {
        missingDir->WriteHeader("Name", "Sub");
        ADD_FAILURE() << "no error";
    } catch (int code) {
        EXPECT_EQ(code, 15);
    }
    EXPECT_NE(Console.str().find("error opening"), std::string::npos);

    // /dev/full accepts the open and fails when the data reach it.
    auto full = Make(2001, zones, nullptr, {}, 4, "/dev/full");
    try {
        full->WriteHeader("Name", "Sub");
        ADD_FAILURE() << "header reported as written";
    } catch (int code) {
        EXPECT_EQ(code, 16);
    }
    EXPECT_NE(Console.str().find("cannot close /dev/full"), std::string::npos);
    for (int step = 1; step <= 500; ++step) {
        full->ResetStep();
        full->AddValue(1, 1, 1, 1.0, 1.0);
        full->CloseStep(2000, 1, 1, 1);
    }
    try {
        full->Flush();
        ADD_FAILURE() << "rows reported as written";
    } catch (int code) {
        EXPECT_TRUE(code == 16 || code == 18) << code;
    }
    const auto diag = Writer.FileName();
    Writer.Close();
    int fatal = 0;
    for (const auto& line : DiagLines(ReadFile(diag))) fatal += line.level == 0;
    EXPECT_EQ(fatal, 3);
}

TEST_F(ZonalStatisticTest, ZoneRankOutsideTheTableIsFatal) {
    auto zones = ThreeZones();
    auto statistic = Make(2001, zones);
    statistic->ResetStep();
    for (int zone : {-1, 4}) {
        try {
            statistic->AddValue(1, 1, zone, 1.0, 1.0);
            ADD_FAILURE() << "zone " << zone << " accepted";
        } catch (int code) {
            EXPECT_EQ(code, 3);
        }
    }
    statistic->AddValue(1, 1, 0, 5.0, 1.0);  // cells outside any zone go to record 0
    EXPECT_EQ(zones[0].sx, 5.0);
}

TEST_F(ZonalStatisticTest, SigintIsIgnoredWhileWritingThenSetAsPrescribed) {
    SigintGuard guard;
    auto zones = ThreeZones();
    auto statistic = Make(2001, zones);
    ArmCtrlCHandler();
    statistic->WriteHeader("Name", "Sub");
    EXPECT_EQ(SigintGuard::Current(), SIG_DFL) << "headers leave the default action";
    Step(*statistic, kCells, 1);
    statistic->Flush();
    EXPECT_EQ(SigintGuard::Current(), &OnCtrlC) << "rows arm the Ctrl-C handler again";
}

}  // namespace

// Sums gathered per row in a parallel loop and folded in row order give the
// same file on any number of threads, and the same means as cell by cell.
TEST_F(ZonalStatisticTest, RowSumsFromParallelLoopsAreTheSameOnAnyThreadCount) {
    const int rows = 40, cols = 25;
    TestGrid areas(rows, cols, 1.0);
    for (int r = 1; r <= rows; ++r)
        for (int c = 1; c <= cols; ++c) areas.Data[r][c] = (r * 7 + c) % 5 == 0 ? -9999 : 0.1 + 0.01 * ((r + c) % 9);
    auto zoneOf = [](int r, int c) { return 1 + (r / 7 + c / 9) % 3; };
    auto valueOf = [](int r, int c, int s) { return 0.1 * r + 0.37 * c + 1.0 / (s + r + 3.0); };
    std::string files[4];
    const int threads[4] = {0, 1, 3, 8};  // 0: cell by cell with AddValue
    for (int k = 0; k < 4; ++k) {
        std::vector<ZoneRecord> zones = ThreeZones();
        int status = -1;
        std::string name = "rows" + std::to_string(k) + ".txt";
        zonalstatistic statistic(&status, &Writer, areas.get(), rows, cols, zones.data(), 3, 2002, 98, name,
                                 Dir.path() + "/", 0, nullptr);
        ASSERT_EQ(status, 0);
        statistic.WriteHeader("Name", "Sub");
        for (int s = 1; s <= 6; ++s) {
            statistic.ResetStep();
            if (threads[k] == 0) {
                for (int r = 1; r <= rows; ++r)
                    for (int c = 1; c <= cols; ++c) statistic.AddValue(r, c, zoneOf(r, c), valueOf(r, c, s), 1.0);
            } else {
#pragma omp parallel for schedule(static) num_threads(threads[k])
                for (int r = 1; r <= rows; ++r)
                    for (int c = 1; c <= cols; ++c) statistic.AddToRow(r, c, zoneOf(r, c), valueOf(r, c, s), 1.0);
            }
            statistic.CloseStep(2000, 1, 1, s);
        }
        statistic.Close();
        files[k] = ReadFile(name);
    }
    const auto serial = Lines(files[0]);
    const auto rowwise = Lines(files[1]);
    ASSERT_EQ(serial.size(), 6u);
    ASSERT_EQ(rowwise.size(), serial.size());
    // Cell by cell and row by row differ at most in the last digits.
    for (size_t line = 3; line < serial.size(); ++line) {
        std::istringstream a(serial[line]), b(rowwise[line]);
        double x, y;
        int fields = 0;
        while (a >> x && b >> y) {
            EXPECT_NEAR(x, y, 1e-12 * std::max(1.0, std::abs(x))) << serial[line];
            ++fields;
        }
        EXPECT_EQ(fields, 8);
    }
    EXPECT_EQ(files[2], files[1]);
    EXPECT_EQ(files[3], files[1]);
}

// A zone out of range in the parallel loop is raised after it, for the
// lowest row, with the code of the cell-by-cell path.
TEST_F(ZonalStatisticTest, ZoneOutOfRangeInRowSumsIsFatalAfterTheLoop) {
    std::vector<ZoneRecord> zones = ThreeZones();
    auto statistic = Make(2001, zones);
    statistic->WriteHeader("Name", "Sub");
    statistic->ResetStep();
#pragma omp parallel for schedule(static) num_threads(2)
    for (int r = 1; r <= 2; ++r) statistic->AddToRow(r, 1, r == 1 ? 7 : -2, 1.0, 1.0);
    try {
        statistic->CloseStep(2000, 1, 1, 1);
        FAIL() << "no exception";
    } catch (int code) {
        EXPECT_EQ(code, 3);
    }
    Writer.Close();
    EXPECT_NE(ReadFile(Dir.file("diag.xml")).find("zone index 7 outside 0 to 3"), std::string::npos);
}

// Statistics folded together, one per thread, write what they write when each
// folds in its own CloseStep; a zone out of range is raised for the first
// failed statistic of the list.
TEST_F(ZonalStatisticTest, StatisticsFoldedTogetherEqualFoldedAlone) {
    setenv("RUVEX_PARALLEL_MIN_CELLS", "1", 1);
    constexpr int count = 4;
    const int threads = omp_get_max_threads();
    std::string files[2][count];
    for (int together = 0; together < 2; ++together) {
        std::vector<std::vector<ZoneRecord>> zones(count, ThreeZones());
        std::vector<std::unique_ptr<zonalstatistic>> owned;
        std::vector<zonalstatistic*> statistics;
        for (int k = 0; k < count; ++k) {
            const std::string name = "fold" + std::to_string(together) + std::to_string(k) + ".txt";
            owned.push_back(Make(2001, zones[static_cast<size_t>(k)], nullptr, {}, 4, name));
            owned.back()->WriteHeader("Name", "Sub");
            statistics.push_back(owned.back().get());
        }
        for (int s = 1; s <= 3; ++s) {
            for (zonalstatistic* statistic : statistics) statistic->ResetStep();
#pragma omp parallel for schedule(static, 1) num_threads(2)
            for (int r = 1; r <= 2; ++r)
                for (int k = 0; k < count; ++k)
                    for (int c = 1; c <= 3; ++c)
                        statistics[static_cast<size_t>(k)]->AddToRow(r, c, 1 + (r + c + k) % 3, 0.3 * s + r + 0.7 * c * k, 1.0);
            if (together) {
                omp_set_num_threads(3);
                zonalstatistic::FoldRowsOf(statistics.data(), count);
            }
            for (zonalstatistic* statistic : statistics) statistic->CloseStep(2000, 1, 1, s);
        }
        for (int k = 0; k < count; ++k) {
            statistics[static_cast<size_t>(k)]->Close();
            files[together][k] = ReadFile(Dir.file("fold" + std::to_string(together) + std::to_string(k) + ".txt"));
        }
    }
    omp_set_num_threads(threads);
    for (int k = 0; k < count; ++k) EXPECT_EQ(files[1][k], files[0][k]) << k;

    std::vector<std::vector<ZoneRecord>> zones(3, ThreeZones());
    std::vector<std::unique_ptr<zonalstatistic>> owned;
    std::vector<zonalstatistic*> statistics;
    for (int k = 0; k < 3; ++k) {
        owned.push_back(Make(2001, zones[static_cast<size_t>(k)], nullptr, {}, 4, "bad" + std::to_string(k) + ".txt"));
        owned.back()->ResetStep();
        statistics.push_back(owned.back().get());
    }
    statistics[1]->AddToRow(1, 1, 8, 1.0, 1.0);
    statistics[2]->AddToRow(1, 1, 9, 1.0, 1.0);
    try {
        zonalstatistic::FoldRowsOf(statistics.data(), 3);
        FAIL() << "no exception";
    } catch (int code) {
        EXPECT_EQ(code, 3);
    }
    Writer.Close();
    const std::string diagnostics = ReadFile(Dir.file("diag.xml"));
    EXPECT_NE(diagnostics.find("zone index 8 outside"), std::string::npos);
    EXPECT_EQ(diagnostics.find("zone index 9 outside"), std::string::npos);
}
