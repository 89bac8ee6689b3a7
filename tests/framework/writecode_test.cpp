#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/modelobject.h"
#include "framework/writecode.h"
#include "framework/zonetable.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

constexpr double NoData = -9999;

int ThrownCode(const std::function<void()>& call) {
    try {
        call();
    } catch (int code) {
        return code;
    }
    return 0;
}

struct Date {
    int64_t Year, Month, Day, Hour;
};

Date NextDay(Date d) {
    static const int days[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (++d.Day > LastDayOfMonth(d.Year, d.Month, days)) {
        d.Day = 1;
        if (++d.Month > 12) {
            d.Month = 1;
            ++d.Year;
        }
    }
    return d;
}

// A 3 x 3 model grid written as text into the test's directory. The zone grid
// (entry 1) has an invalid cell inside the row extents at (2,2), and cell
// (3,3) lies outside the extent of row 3.
class WriteCodeTest : public ::testing::Test {
protected:
    void SetUp() override {
        writer = std::make_unique<DiagnosticsWriter>(dir.file("diag.xml"), DiagDebug, console);
        table = CreateGridTable();
        model = std::make_unique<modelobject>(writer.get(), "", true, false, "", dir.path() + "/");
        model->ModuleName = "writecheck";
        model->GridTable = table.get();
        model->NCols = 3;
        model->NRows = 3;
        model->CellSize = 1;
        model->NoData = NoData;
        extents = {{0, -1}, {1, 3}, {1, 3}, {1, 2}};
        model->RowExtents = extents.data();
        double** zones = NewGrid(1);
        zones[2][2] = NoData;
        zones[3][3] = NoData;
        model->StoreGrid(1, "zones.asc", zones, nullptr, 1, "zones", 0, 1, 3);
    }
    void TearDown() override {
        for (int i = 1; i <= LastGridIndex; ++i) {
            if (table[i].SumGrid || table[i].MinGrid || table[i].MaxGrid || table[i].VegGrid) model->ReleaseGrid(i);
        }
        for (double** g : grids) model->free_matrix(g, 1, 3, 1, 3);
        for (GridStack s : stacks) model->free_matrix3d(s, 1, 3);
    }

    double** NewGrid(double value) {
        double** g = model->matrix(1, 3, 1, 3, 3);
        Fill(g, value);
        grids.push_back(g);
        return g;
    }
    static void Fill(double** g, double value) {
        for (int i = 1; i <= 3; ++i)
            for (int j = 1; j <= 3; ++j) g[i][j] = value;
    }
    // Stores a grid without output under an internal name.
    void StoreNamed(const std::string& name, double** data) {
        model->StoreGrid(FindFreeGridEntry(table.get()), "", data, nullptr, 1, name, 0, 1, 3);
    }
    // Stores a grid under the next entry and returns its index.
    int Store(const std::string& fileName, double** data, int writeCode) {
        const int index = FindFreeGridEntry(table.get());
        model->StoreGrid(index, fileName, data, nullptr, 1, fileName, writeCode, 1, 3);
        return index;
    }
    void At(const Date& d) {
        model->StepYear = d.Year;
        model->StepMonth = d.Month;
        model->StepDay = d.Day;
        model->StepHour = d.Hour;
    }
    // Reads a written grid back; the test keeps ownership.
    double** Read(const std::string& name) {
        double** g = nullptr;
        model->ReadGrid(dir.file(name), g, 0, true, false, 0, false);
        grids.push_back(g);
        return g;
    }
    bool Exists(const std::string& name) const { return FileExists(dir.file(name)); }

    TempDir dir;
    std::ostringstream console;
    std::unique_ptr<DiagnosticsWriter> writer;
    std::unique_ptr<MemoryGrid[]> table;
    std::unique_ptr<modelobject> model;
    std::vector<RowExtent> extents;
    std::vector<double**> grids;
    std::vector<GridStack> stacks;
};

TEST(WriteCodeCalendar, LastDayOfMonthFollowsTheStepsOwnYear) {
    int adjusted[13] = {0, 31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};  // as adjusted for a leap end year
    struct Case {
        int64_t year, month, last;
    } cases[] = {{2016, 2, 29}, {2015, 2, 28}, {2000, 2, 29}, {1900, 2, 28}, {2016, 4, 30},
                 {2016, 12, 31}, {2016, 0, 0}, {2016, 13, 0}};
    for (const Case& c : cases) {
        EXPECT_EQ(LastDayOfMonth(c.year, c.month, adjusted), c.last) << c.year << "-" << c.month;
    }
}

TEST(WriteCodeCalendar, MomentsOfAStep) {
    const int days[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const int64_t end = DateKey(2016, 12, 31, 24);
    struct Case {
        Date date;
        double shift;
        bool day, month, year, run;
    } cases[] = {
        {{2016, 1, 1, 24}, 0, true, false, false, false},
        {{2016, 1, 1, 23}, 0, false, false, false, false},
        {{2016, 1, 1, 18}, 6, true, false, false, false},
        {{2016, 1, 1, 18}, 6.9, true, false, false, false},  // the shift counts in whole hours
        {{2016, 1, 1, 24}, 6, false, false, false, false},
        {{2016, 1, 31, 24}, 0, true, true, false, false},
        {{2016, 2, 28, 24}, 0, true, false, false, false},
        {{2016, 2, 29, 24}, 0, true, true, false, false},
        {{2015, 2, 28, 24}, 0, true, true, false, false},
        {{2016, 12, 31, 23}, 0, false, false, false, false},
        {{2016, 12, 31, 24}, 0, true, true, true, true},
        {{2017, 1, 1, 1}, 0, false, false, false, true},
        {{0, 0, 0, 0}, 24, false, false, false, false},  // no date yet
    };
    for (const Case& c : cases) {
        const WriteMoments at =
            WriteMomentsAt(c.date.Year, c.date.Month, c.date.Day, c.date.Hour, c.shift, end, days);
        const std::string label = std::to_string(c.date.Year) + "-" + std::to_string(c.date.Month) + "-" +
                                  std::to_string(c.date.Day) + " " + std::to_string(c.date.Hour);
        EXPECT_EQ(at.DayEnd, c.day) << label;
        EXPECT_EQ(at.MonthEnd, c.month) << label;
        EXPECT_EQ(at.YearEnd, c.year) << label;
        EXPECT_EQ(at.RunEnd, c.run) << label;
    }
}

TEST(WriteCodeNames, OutputNamesFromFileNames) {
    struct Case {
        std::string fileName, tail, expected;
    } cases[] = {
        {"snow.asc", DatedTail(2016, 1, 1, 24, 0), "snow_20160101.024"},
        {"snow.asc", DatedTail(2016, 1, 1, 24, 1), "snow_20160101.024_001"},
        {"out/temp", DatedTail(2016, 1, 1, 24, 0), "out/temp_20160101.024"},
        {"out/temp", SumTail(1, 2016, 1, 1), "out/temp.sum"},
        {"out/temp.asc", SumTail(5, 2016, 1, 1), "out/temp.mit"},
        {"out/temp.asc", SumTail(6, 2016, 3, 15), "out/temp_1600.mit"},
        {"out/temp.asc", SumTail(2, 2003, 3, 15), "out/temp_0300.sum"},
        {"out/temp.asc", SumTail(3, 2016, 3, 15), "out/temp_1603.sum"},
        {"out/temp.asc", SumTail(7, 2016, 3, 15), "out/temp_1603.mit"},
        {"out/temp.asc", SumTail(4, 2016, 3, 15), "out/temp_1603.15s"},
        {"out/temp.asc", SumTail(8, 2016, 3, 5), "out/temp_1603.05m"},
        {"run.day.asc", SumTail(1, 2016, 1, 1), "run.sum"},
        {"run.day.asc", DatedTail(2016, 1, 1, 24, 0), "run_20160101.024"},
        {"a.b/run", ".min", "a.b/run.min"},
        {"/x/y.z/et.asc", ".max", "/x/y.z/et.max"},
        {"veg.asc", VegetationTail(false, 2016), "veg_0016_vegper.sum"},
        {"veg.asc", VegetationTail(true, 2016), "veg_0016_vegper.mit"},
    };
    for (const Case& c : cases) EXPECT_EQ(PrefixedName(c.fileName, c.tail), c.expected) << c.fileName;
    EXPECT_EQ(SumTail(9, 2016, 1, 1), "");
    // A long name is kept whole.
    const std::string longName = std::string(1500, 'd') + "/" + std::string(1300, 'n') + ".asc";
    EXPECT_EQ(PrefixedName(longName, ".sum"), longName.substr(0, longName.size() - 4) + ".sum");
}

// Daily steps through 2016 with the day of the year as data. Cell (1,1) has no
// value on 1 January and through February.
TEST_F(WriteCodeTest, SumsMeansMinimaAndMaximaOfALeapYear) {
    double** data = NewGrid(0);
    const int runSum = Store("sum.asc", data, 310);
    const std::vector<int> entries = {runSum,
                                      Store("mean.asc", data, 50),
                                      Store("ysum.asc", data, 20),
                                      Store("ymean.asc", data, 60),
                                      Store("msum.asc", data, 30),
                                      Store("mmean.asc", data, 70),
                                      Store("dsum.asc", data, 40),
                                      Store("dmean.asc", data, 80),
                                      Store("hidden.asc", data, 90)};
    model->SetEndDate(2016, 12, 31, 24);

    Date d{2016, 1, 1, 24};
    for (int doy = 1; doy <= 366; ++doy, d = NextDay(d)) {
        At(d);
        Fill(data, doy);
        if (doy == 1 || d.Month == 2) data[1][1] = NoData;
        for (int index : entries) model->WriteGridByCode(index, true, false);
        if (d.Month == 2 && d.Day == 28) {
            EXPECT_FALSE(Exists("mmean_1602.mit"));
        }
        if (d.Month == 2 && d.Day == 29) {
            EXPECT_TRUE(Exists("mmean_1602.mit"));
        }
    }
    EXPECT_EQ(d.Year, 2017);

    const double total = 366.0 * 367.0 / 2;           // days 1 to 366
    const double february = 29.0 * (32 + 60) / 2;     // days 32 to 60
    const double cell11 = total - 1 - february;        // without 1 January and February
    struct Expect {
        std::string file;
        double cell11, cell12;
    } expected[] = {
        {"sum.sum", cell11, total},
        {"mean.mit", cell11 / (366 - 1 - 29), total / 366},
        {"sum.min", 2, 1},
        {"sum.max", 366, 366},
        {"ysum_1600.sum", cell11, total},
        {"ymean_1600.mit", cell11 / 336, total / 366},
        {"msum_1601.sum", 31.0 * 32 / 2 - 1, 31.0 * 32 / 2},
        {"mmean_1601.mit", (31.0 * 32 / 2 - 1) / 30, 16},
        {"msum_1602.sum", NoData, february},
        {"mmean_1602.mit", NoData, 46},  // 29 days of February
        {"msum_1603.sum", 31.0 * 76, 31.0 * 76},
        {"mmean_1612.mit", 351, 351},
        {"dsum_1601.01s", NoData, 1},
        {"dsum_1603.15s", 75, 75},
        {"dmean_1602.29m", NoData, 60},
        {"dmean_1612.31m", 366, 366},
    };
    for (const Expect& e : expected) {
        double** g = Read(e.file);
        EXPECT_DOUBLE_EQ(g[1][1], e.cell11) << e.file;
        EXPECT_DOUBLE_EQ(g[1][2], e.cell12) << e.file;
        EXPECT_EQ(g[2][2], NoData) << e.file << ": cell outside the zone grid";
        EXPECT_EQ(g[3][3], NoData) << e.file << ": cell outside the row extent";
        EXPECT_DOUBLE_EQ(g[3][2], e.cell12) << e.file;
    }
    EXPECT_FALSE(Exists("mmean_1602.mit_001"));
    EXPECT_FALSE(Exists("hidden.sum"));
    EXPECT_FALSE(Exists("hidden.mit"));
    EXPECT_FALSE(Exists("dsum_1602.30s"));
    // Every sum restarts after it was written; the accumulated one never does.
    EXPECT_EQ(table[runSum].StepCount, 0.0);
    EXPECT_EQ(table[entries.back()].StepCount, 366.0);
}

TEST_F(WriteCodeTest, FebruaryOfACommonYearEndsOnThe28thWhateverTheTable) {
    model->DaysPerMonth[2] = 29;  // as the set-up adjusts it for a run that ends in a leap year
    double** data = NewGrid(0);
    const int mean = Store("mmean.asc", data, 70);
    const int snap = Store("month.asc", data, 6);
    model->SetEndDate(2015, 3, 31, 24);
    for (Date d{2015, 2, 1, 24}; d.Month == 2; d = NextDay(d)) {
        At(d);
        Fill(data, static_cast<double>(d.Day));
        model->WriteGridByCode(mean, true, false);
        model->WriteGridByCode(snap, true, false);
    }
    EXPECT_DOUBLE_EQ(Read("mmean_1502.mit")[1][1], 14.5);  // days 1 to 28
    EXPECT_DOUBLE_EQ(Read("month_20150228.024")[1][1], 28);
    EXPECT_EQ(table[mean].StepCount, 0.0);
}

// Hourly steps over two days with a time shift of 6 hours: days end at hour 18.
TEST_F(WriteCodeTest, HourlyStepsWithATimeShift) {
    model->TimeShiftMinutes = 360;
    model->TimeShiftHours = 6;
    double** data = NewGrid(0);
    const std::vector<int> entries = {Store("dmean.asc", data, 80), Store("day.asc", data, 4),
                                      Store("dated.asc", data, 5)};
    model->SetEndDate(2016, 1, 2, 24);
    int step = 0;
    for (int64_t day = 1; day <= 2; ++day) {
        for (int64_t hour = 1; hour <= 24; ++hour) {
            At({2016, 1, day, hour});
            Fill(data, ++step);
            for (int index : entries) model->WriteGridByCode(index, true, false);
        }
    }
    EXPECT_DOUBLE_EQ(Read("dmean_1601.01m")[1][1], 9.5);   // steps 1 to 18
    EXPECT_DOUBLE_EQ(Read("dmean_1601.02m")[1][1], 30.5);  // steps 19 to 42
    EXPECT_DOUBLE_EQ(Read("day.asc")[1][1], 42);
    EXPECT_DOUBLE_EQ(Read("dated_20160101.018")[1][1], 18);
    EXPECT_DOUBLE_EQ(Read("dated_20160102.018")[1][1], 42);
    EXPECT_FALSE(Exists("dated_20160101.024"));
    // The run ended between two day ends: no daily snapshot, so no plain copy.
    EXPECT_FALSE(Exists("dated.asc"));
}

TEST_F(WriteCodeTest, SnapshotsByUnitsDigit) {
    double** data = NewGrid(0);
    const int dated = Store("snow.asc", data, 2);
    const std::vector<int> entries = {Store("every.asc", data, 1), Store("end.asc", data, 3),
                                      Store("month.asc", data, 6), Store("year.asc", data, 7),
                                      Store("none.asc", data, 9)};
    model->SetEndDate(2016, 12, 31, 24);

    At({2016, 1, 1, 24});
    Fill(data, 1);
    model->WriteGridByCode(dated, true, false);
    Fill(data, 2);
    model->WriteGridByCode(dated, true, false);
    At({2016, 1, 2, 1});
    Fill(data, 3);
    model->WriteGridByCode(dated, true, false);
    At({2016, 1, 2, 2});
    Fill(data, 4);
    model->WriteGridByCode(dated, true, false);
    EXPECT_DOUBLE_EQ(Read("snow_20160101.024")[1][1], 1);
    EXPECT_DOUBLE_EQ(Read("snow_20160101.024_001")[1][1], 2);
    EXPECT_DOUBLE_EQ(Read("snow_20160102.001")[1][1], 3);
    EXPECT_DOUBLE_EQ(Read("snow_20160102.002")[1][1], 4);
    EXPECT_FALSE(Exists("snow_20160102.001_001"));
    EXPECT_FALSE(Exists("snow.asc"));

    const Date dates[] = {{2016, 2, 28, 24}, {2016, 2, 29, 24}, {2016, 3, 1, 24}, {2016, 12, 30, 24},
                          {2016, 12, 31, 24}};
    double value = 10;
    for (const Date& d : dates) {
        At(d);
        Fill(data, ++value);
        for (int index : entries) model->WriteGridByCode(index, true, false);
    }
    model->WriteGridByCode(dated, true, false);
    EXPECT_DOUBLE_EQ(Read("every.asc")[1][1], 15);
    EXPECT_DOUBLE_EQ(Read("end.asc")[1][1], 15);
    EXPECT_FALSE(Exists("month_20160228.024"));
    EXPECT_DOUBLE_EQ(Read("month_20160229.024")[1][1], 12);
    EXPECT_DOUBLE_EQ(Read("month_20161231.024")[1][1], 15);
    EXPECT_DOUBLE_EQ(Read("month.asc")[1][1], 15);  // the run's end writes the plain name too
    EXPECT_DOUBLE_EQ(Read("year_20161231.024")[1][1], 15);
    EXPECT_DOUBLE_EQ(Read("year.asc")[1][1], 15);
    EXPECT_DOUBLE_EQ(Read("snow_20161231.024")[1][1], 15);
    EXPECT_DOUBLE_EQ(Read("snow.asc")[1][1], 15);
    EXPECT_FALSE(Exists("none.asc"));
    EXPECT_FALSE(Exists("none_20161231.024"));
    // A snapshot writes the data grid as it is, cells outside the basin too.
    EXPECT_DOUBLE_EQ(Read("every.asc")[3][3], 15);
}

TEST_F(WriteCodeTest, FilledSnapshot) {
    double** data = NewGrid(5);
    model->SetEndDate(2016, 1, 2, 24);
    const int index = Store("f.asc", data, 8);  // written at once, before any date
    EXPECT_DOUBLE_EQ(Read("f.asc.filled")[1][1], 5);
    EXPECT_FALSE(Exists("f.asc"));
    At({2016, 1, 1, 24});
    Fill(data, 6);
    model->WriteGridByCode(index, true, false);
    EXPECT_DOUBLE_EQ(Read("f.asc.filled")[1][1], 6);
    EXPECT_FALSE(Exists("f.asc"));
    At({2016, 1, 2, 24});
    Fill(data, 7);
    model->WriteGridByCode(index, true, false);
    EXPECT_DOUBLE_EQ(Read("f.asc.filled")[1][1], 7);
    EXPECT_DOUBLE_EQ(Read("f.asc")[1][1], 7);
}

TEST_F(WriteCodeTest, SuppressedAggregatesKeepAccumulating) {
    double** data = NewGrid(0);
    const int index = Store("sum.asc", data, 310);
    model->SetEndDate(2016, 1, 2, 24);
    At({2016, 1, 1, 24});
    Fill(data, 1);
    model->WriteGridByCode(index, true, false);
    At({2016, 1, 2, 24});
    Fill(data, 3);
    model->WriteGridByCode(index, true, true);
    EXPECT_FALSE(Exists("sum.sum"));
    EXPECT_FALSE(Exists("sum.min"));
    EXPECT_FALSE(Exists("sum.max"));
    // A second call in the same step counts the step twice.
    Fill(data, 5);
    model->WriteGridByCode(index, true, false);
    EXPECT_DOUBLE_EQ(Read("sum.sum")[1][1], 9);
    EXPECT_DOUBLE_EQ(Read("sum.min")[1][1], 1);
    EXPECT_DOUBLE_EQ(Read("sum.max")[1][1], 5);
}

// Cells that "MPIRegions" gives to another process take no part with the
// region filter.
TEST_F(WriteCodeTest, RegionFilter) {
    double** regions = NewGrid(0);
    regions[1][3] = 1;
    StoreNamed("MPIRegions", regions);
    double** data = NewGrid(4);
    const int filtered = Store("a.asc", data, 10);
    const int unfiltered = Store("b.asc", data, 10);
    model->SetEndDate(2016, 1, 1, 24);
    At({2016, 1, 1, 24});
    model->WriteGridByCode(filtered, true, false);
    model->WriteGridByCode(unfiltered, false, false);
    EXPECT_EQ(Read("a.sum")[1][3], NoData);
    EXPECT_DOUBLE_EQ(Read("a.sum")[1][2], 4);
    EXPECT_DOUBLE_EQ(Read("b.sum")[1][3], 4);
}

TEST_F(WriteCodeTest, VegetationPeriodSumAndMean) {
    double** start = NewGrid(100);
    double** stop = NewGrid(-1);
    double** duration = NewGrid(3);
    start[1][2] = -1;   // the period has not begun
    duration[1][3] = 0;  // inside the period, but no step counted yet
    stop[3][1] = 200;   // the period has ended
    StoreNamed("VegetationStart1", start);
    StoreNamed("VegetationStop1", stop);
    StoreNamed("VegetationDuration1", duration);

    double** data = NewGrid(2);
    const int sum = Store("veg.asc", data, 1000);
    const int mean = Store("vegm.asc", data, 2000);
    model->SetEndDate(2016, 12, 31, 24);
    auto step = [&](int day) {
        At({2016, 6, day, 24});
        for (int index : {sum, mean}) model->WriteGridByCode(index, true, false);
    };
    auto due = [&] {
        table[sum].VegOutputDue = 1;
        table[mean].VegOutputDue = 1;
    };
    step(1);
    data[3][2] = NoData;  // left out
    step(2);
    data[3][2] = 2;
    due();
    step(3);
    EXPECT_EQ(table[sum].VegOutputDue, 0);
    double** s = Read("veg_0016_vegper.sum");
    double** m = Read("vegm_0016_vegper.mit");
    EXPECT_DOUBLE_EQ(s[1][1], 6);
    EXPECT_DOUBLE_EQ(s[1][2], 0);
    EXPECT_DOUBLE_EQ(s[1][3], 6);
    EXPECT_DOUBLE_EQ(s[3][1], 0);
    EXPECT_DOUBLE_EQ(s[3][2], 4);
    EXPECT_EQ(s[2][2], NoData);
    EXPECT_EQ(s[3][3], NoData);
    EXPECT_DOUBLE_EQ(m[1][1], 2);
    EXPECT_DOUBLE_EQ(m[1][2], 0);
    EXPECT_EQ(m[1][3], NoData);  // a duration of 0 has no mean
    EXPECT_EQ(m[2][2], NoData);

    // The mean was written from a copy: the running sum goes on.
    Fill(duration, 4);
    due();
    step(4);
    EXPECT_DOUBLE_EQ(Read("vegm_0016_vegper.mit")[1][1], 2);
    EXPECT_DOUBLE_EQ(Read("veg_0016_vegper.sum")[1][1], 8);

    table[sum].VegResetDue = 1;
    step(5);
    EXPECT_EQ(table[sum].VegResetDue, 0);
    due();
    step(6);
    EXPECT_DOUBLE_EQ(Read("veg_0016_vegper.sum")[1][1], 2);
    EXPECT_EQ(Read("veg_0016_vegper.sum")[2][2], NoData);
}

TEST_F(WriteCodeTest, VegetationPeriodOfAMissingLayerEndsTheRun) {
    double** data = NewGrid(2);
    const int index = Store("et_Layer_2.asc", data, 1000);
    At({2016, 6, 1, 24});
    EXPECT_EQ(ThrownCode([&] { model->WriteGridByCode(index, true, false); }), 33);
    EXPECT_NE(console.str().find("VegetationStart2 not found in memory"), std::string::npos) << console.str();
}

TEST_F(WriteCodeTest, StackSnapshots) {
    GridStack stack = model->matrix3d(1, 3, 1, 3, 2, 3);
    stacks.push_back(stack);
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j)
            for (int l = 0; l <= 2; ++l) stack[i][j][l] = 100 * i + 10 * j + l;
    auto storeStack = [&](const std::string& name, int code) {
        const int index = FindFreeGridEntry(table.get());
        model->StoreGrid(index, name, nullptr, stack, 2, name, code, 1, 3);
        return index;
    };
    const int dated = storeStack("soilmoist.stk", 2);
    const int daily = storeStack("soiltemp.stk", 5);
    const int plain = storeStack("plain.stk", 1);
    model->SetEndDate(2016, 1, 2, 24);
    auto readStack = [&](const std::string& name) {
        GridStack read = nullptr;
        EXPECT_EQ(model->ReadStack(dir.file(name), read), 2);
        stacks.push_back(read);
        return read;
    };

    At({2016, 1, 1, 24});
    for (int index : {dated, daily, plain}) model->WriteStackByCode(index);
    GridStack back = readStack("soilmoist_20160101.024");
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j)
            for (int l = 0; l <= 2; ++l) EXPECT_EQ(back[i][j][l], stack[i][j][l]);
    EXPECT_EQ(readStack("soiltemp_20160101.024")[2][3][1], 231);
    EXPECT_EQ(readStack("plain.stk")[3][3][2], 332);
    EXPECT_FALSE(Exists("soilmoist.stk"));

    stack[1][1][0] = -5;
    At({2016, 1, 2, 24});
    for (int index : {dated, daily, plain}) model->WriteStackByCode(index);
    EXPECT_EQ(readStack("soilmoist.stk")[1][1][0], -5);
    EXPECT_EQ(readStack("soiltemp.stk")[1][1][0], -5);
    EXPECT_EQ(readStack("soiltemp_20160102.024")[1][1][0], -5);
}

// An entry with a stack and no data grid of its own aggregates level 1.
TEST_F(WriteCodeTest, StackEntryAggregatesItsFirstLevel) {
    GridStack stack = model->matrix3d(1, 3, 1, 3, 2, 3);
    stacks.push_back(stack);
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 3; ++j)
            for (int l = 0; l <= 2; ++l) stack[i][j][l] = l + 1;
    double** data = NewGrid(0);
    const int index = FindFreeGridEntry(table.get());
    model->StoreGrid(index, "layer.asc", data, stack, 2, "layer", 50, 1, 3);
    model->SetEndDate(2016, 1, 2, 24);
    At({2016, 1, 1, 24});
    model->WriteGridByCode(index, true, false);
    stack[1][1][1] = 4;
    At({2016, 1, 2, 24});
    model->WriteGridByCode(index, true, false);
    EXPECT_DOUBLE_EQ(Read("layer.mit")[1][1], 3);
    EXPECT_DOUBLE_EQ(Read("layer.mit")[1][2], 2);
}

// A grid large enough for a team of threads, with a ragged basin; the
// entries written one by one and in one pass over the rows.
TEST(WriteCodeThreads, OutputDoesNotDependOnTheThreadCountOrBatching) {
    setenv("RUVEX_PARALLEL_MIN_CELLS", "1", 1);
    constexpr int rows = 90, cols = 70;
    TempDir dir;
    std::ostringstream console;
    DiagnosticsWriter writer(dir.file("diag.xml"), DiagDebug, console);
    auto table = CreateGridTable();
    modelobject model(&writer, "", true, false, "", "");
    model.GridTable = table.get();
    model.NRows = rows;
    model.NCols = cols;
    model.CellSize = 1;
    double** zones = model.matrix(1, rows, 1, cols, rows);
    double** data = model.matrix(1, rows, 1, cols, rows);
    for (int i = 1; i <= rows; ++i)
        for (int j = 1; j <= cols; ++j) zones[i][j] = (i + 2 * j) % 7 == 0 || j > cols - i / 3 ? NoData : 1;
    std::vector<RowExtent> extents = DeriveRowExtents(zones, rows, cols, NoData);
    model.RowExtents = extents.data();
    model.StoreGrid(1, "zones.asc", zones, nullptr, 1, "zones", 0, 1, rows);
    model.SetEndDate(2016, 3, 1, 24);

    const int threads = omp_get_max_threads();
    std::vector<std::string> outputs;
    for (const auto& [count, batched] : {std::pair{1, false}, {4, false}, {4, true}}) {
        omp_set_num_threads(count);
        const std::string sub = dir.file("t" + std::to_string(count) + (batched ? "b" : ""));
        std::filesystem::create_directory(sub);
        model.OutputDirectory = sub + "/";
        std::vector<int> entries;
        for (const auto& [name, code] : {std::pair{"sum.asc", 310}, {"mean.asc", 70}, {"snap.asc", 7}}) {
            entries.push_back(FindFreeGridEntry(table.get()));
            model.StoreGrid(entries.back(), name, data, nullptr, 1, name, code, 1, rows);
        }
        int k = 0;
        for (Date d{2016, 1, 1, 24}; !(d.Month == 3 && d.Day == 2); d = NextDay(d)) {
            model.StepYear = d.Year;
            model.StepMonth = d.Month;
            model.StepDay = d.Day;
            model.StepHour = d.Hour;
            ++k;
            for (int i = 1; i <= rows; ++i)
                for (int j = 1; j <= cols; ++j) data[i][j] = (i + j + k) % 11 == 0 ? NoData : std::sin(0.1 * k * i + j);
            if (batched) model.WriteGridsByCode(entries.data(), static_cast<int>(entries.size()), true, false);
            else
                for (int index : entries) model.WriteGridByCode(index, true, false);
        }
        for (int index : entries) model.ReleaseGrid(index);
        outputs.push_back(ReadFile(sub + "/sum.sum") + ReadFile(sub + "/sum.min") + ReadFile(sub + "/sum.max") +
                          ReadFile(sub + "/mean_1602.mit"));
    }
    omp_set_num_threads(threads);
    model.free_matrix(zones, 1, rows, 1, cols);
    model.free_matrix(data, 1, rows, 1, cols);
    EXPECT_GT(outputs[0].size(), 4u * rows * cols);
    EXPECT_EQ(outputs[0], outputs[1]);
    EXPECT_EQ(outputs[0], outputs[2]);
}

}  // namespace
