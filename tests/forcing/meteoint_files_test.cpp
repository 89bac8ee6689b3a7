#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "forcing/meteoint_files.h"
#include "forcing/meteoint_files_gridlist.h"
#include "forcing/meteoint_files_regression.h"
#include "forcing/meteoint_files_set.h"
#include "forcing/meteoint_files_station.h"
#include "framework/diagnostics_writer.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

// A diagnostics writer into a temporary directory, with the console kept.
struct Diag {
    TempDir dir;
    std::ostringstream console;
    DiagnosticsWriter writer{dir.file("diag.xml"), DiagDebug, console};

    std::string path(const std::string& name) const { return dir.file(name); }
    std::string write(const std::string& name, const std::string& content) const {
        WriteFile(dir.file(name), content);
        return dir.file(name);
    }
    // Descriptions of the FATAL entries of the diagnostics file.
    std::vector<std::string> fatals() {
        writer.Close();
        std::vector<std::string> out;
        for (const auto& line : DiagLines(ReadFile(dir.file("diag.xml")))) {
            if (line.level == 0) out.push_back(line.description);
        }
        return out;
    }
};

template <typename F> int ThrownCode(F f) {
    try {
        f();
    } catch (int code) {
        return code;
    }
    return 0;
}

int DaysInMonth(int64_t year, int64_t month) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

// `count` daily dates from `first`, the hour kept.
std::vector<MeteoDate> DailyDates(MeteoDate first, int count) {
    std::vector<MeteoDate> dates;
    MeteoDate d = first;
    for (int i = 0; i < count; ++i) {
        dates.push_back(d);
        if (++d.Day > DaysInMonth(d.Year, d.Month)) {
            d.Day = 1;
            if (++d.Month > 12) {
                d.Month = 1;
                ++d.Year;
            }
        }
    }
    return dates;
}

std::string Number(double v) {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, v);
    return std::string(buffer, result.ptr);
}

// A distinct value per row and station.
double StationValue(size_t row, int station) { return static_cast<double>(row) * 0.25 + station * 100.0 - 50.0; }

std::string DateTokens(const MeteoDate& d) {
    return std::to_string(d.Year) + " " + std::to_string(d.Month) + " " + std::to_string(d.Day) + " " +
           std::to_string(d.Hour);
}

// The header of a station file with n stations and k additional columns.
std::string StationHeader(int n, int k = 0) {
    std::string labels = "YY MM DD HH";
    for (int c = 0; c < k; ++c) {
        labels += " add";
        labels += std::to_string(c);
    }
    std::string text = "station data, written for a test\n";
    const char* kinds[3] = {"altitude", "x", "y"};
    for (int line = 0; line < 3; ++line) {
        text += labels;
        for (int i = 1; i <= n; ++i) {
            text += ' ';
            text += Number(kinds[line][0] == 'a' ? 100.0 * i : (line + 1) * 1000.0 * i);
        }
        text += "\n";
    }
    text += labels;
    for (int i = 1; i <= n; ++i) {
        text += " St";
        text += std::to_string(i);
    }
    return text + "\n";
}

std::string StationFileText(int n, const std::vector<MeteoDate>& dates, int k = 0) {
    std::string text = StationHeader(n, k);
    for (size_t r = 0; r < dates.size(); ++r) {
        text += DateTokens(dates[r]);
        for (int c = 0; c < k; ++c) {
            text += " x";
            text += std::to_string(c);
        }
        for (int i = 1; i <= n; ++i) {
            text += '\t';
            text += Number(StationValue(r, i));
        }
        text += "\n";
    }
    return text;
}

int64_t BytesForCapacity(int64_t capacity, int64_t n) { return capacity * ((n + 1) * 8 + 32); }

struct StationSeries {
    std::vector<MeteoDate> dates;
    std::vector<std::vector<double>> values;
};

// Walks a station file from the start date until the end of its data.
StationSeries Walk(StationFileReader& reader, int64_t endKey) {
    StationSeries series;
    do {
        series.dates.push_back(reader.Date());
        series.values.push_back(reader.Values());
    } while (reader.NextStationRecord(endKey));
    return series;
}

const MeteoDate Start2001{2001, 1, 1, 24};

}  // namespace

TEST(StationFile, DescriptionGivesStationsAndCoordinates) {
    Diag d;
    const std::string file = d.write("st.txt", StationFileText(3, DailyDates(Start2001, 2), 2));
    const StationDescription s = ReadStationDescription(&d.writer, "temperature", file, 2);
    ASSERT_EQ(s.StationCount, 3);
    ASSERT_EQ(s.Altitude.size(), 4u);
    EXPECT_EQ(s.Altitude[1], 100);
    EXPECT_EQ(s.Altitude[3], 300);
    EXPECT_EQ(s.X[2], 4000);
    EXPECT_EQ(s.Y[3], 9000);
    EXPECT_NE(d.console.str().find("reading station description for temperature from " + file + " ..."),
              std::string::npos);
    EXPECT_NE(d.console.str().find(" (3) Stationen "), std::string::npos);
}

// The start record and every later one, exactly once, in order, whatever the
// buffer size: refills across block boundaries, a refill that finds nothing
// left (729 rows follow the start row), and an end date in or after the data.
TEST(StationFile, WalksTwoDailyYearsRecordByRecordToTheEnd) {
    Diag d;
    const int n = 4;
    const auto dates = DailyDates(Start2001, 730);
    ASSERT_EQ(dates.back(), (MeteoDate{2002, 12, 31, 24}));
    const std::string file = d.write("st.txt", StationFileText(n, dates));

    StationFileReader reference(&d.writer, "temperature", file, 0, 9999);
    reference.ReadStationDescription();
    reference.FindStartDate(Start2001);
    EXPECT_EQ(reference.AllEqual(), 0);
    const StationSeries whole = Walk(reference, MeteoDate{2002, 12, 31, 24}.Key());
    ASSERT_EQ(whole.dates.size(), 730u);
    EXPECT_EQ(whole.dates, dates);
    for (size_t r = 0; r < whole.values.size(); ++r) {
        ASSERT_EQ(whole.values[r].size(), static_cast<size_t>(n) + 1);
        for (int i = 1; i <= n; ++i) ASSERT_EQ(whole.values[r][static_cast<size_t>(i)], StationValue(r, i));
    }
    EXPECT_FALSE(reference.NextStationRecord(MeteoDate{2002, 12, 31, 24}.Key()));
    EXPECT_EQ(reference.Date(), dates.back());

    for (int64_t capacity : {1, 2, 3, 243, 728, 729, 730, 5000}) {
        for (int64_t endKey : {MeteoDate{2002, 12, 31, 24}.Key(), MeteoDate{2010, 1, 1, 0}.Key(), NoEndKey}) {
            SCOPED_TRACE("capacity " + std::to_string(capacity) + ", end key " + std::to_string(endKey));
            StationFileReader reader(&d.writer, "temperature", file, 0, 9999, BytesForCapacity(capacity, n));
            reader.ReadStationDescription();
            reader.FindStartDate(Start2001);
            EXPECT_EQ(reader.Capacity(), capacity);
            const StationSeries series = Walk(reader, endKey);
            EXPECT_EQ(series.dates, whole.dates);
            EXPECT_EQ(series.values, whole.values);
            EXPECT_FALSE(reader.NextStationRecord(endKey));
            EXPECT_EQ(reader.Date(), dates.back());
            EXPECT_EQ(reader.Capacity(), capacity);
        }
    }
}

TEST(StationFile, BufferCapacityFollowsTheStationCount) {
    Diag d;
    const std::string file = d.write("st.txt", StationFileText(20, DailyDates(Start2001, 3)));
    StationFileReader reader(&d.writer, "precipitation", file, 0, 9999);
    reader.ReadStationDescription();
    reader.FindStartDate(Start2001);
    EXPECT_EQ(reader.Capacity(), 2097152 / 200);
    StationFileReader tiny(&d.writer, "precipitation", file, 0, 9999, 100);
    tiny.ReadStationDescription();
    tiny.FindStartDate(Start2001);
    EXPECT_EQ(tiny.Capacity(), 1);
}

// Spin-up: every rewind gives the start row again and then the same rows,
// also after a fill that reached the end of the file or an end date.
TEST(StationFile, RewindReproducesTheSameSequence) {
    Diag d;
    const int n = 2;
    const auto dates = DailyDates(Start2001, 40);
    const std::string file = d.write("st.txt", StationFileText(n, dates));
    for (int64_t capacity : {1, 3, 13, 39, 40, 100}) {
        for (int64_t endKey : {NoEndKey, MeteoDate{2001, 1, 10, 24}.Key()}) {
            SCOPED_TRACE("capacity " + std::to_string(capacity) + ", end key " + std::to_string(endKey));
            StationFileReader reader(&d.writer, "temperature", file, 0, 9999, BytesForCapacity(capacity, n));
            reader.ReadStationDescription();
            reader.FindStartDate(Start2001);
            const StationSeries first = Walk(reader, endKey);
            EXPECT_EQ(first.dates.size(), endKey == NoEndKey ? 40u : 10u);
            for (int repetition = 0; repetition < 3; ++repetition) {
                reader.ResetToStart();
                EXPECT_EQ(reader.Date(), Start2001);
                ASSERT_TRUE(reader.NextStationRecord(endKey));
                const StationSeries again = Walk(reader, endKey);
                EXPECT_EQ(again.dates, first.dates);
                EXPECT_EQ(again.values, first.values);
            }
            // A rewind in the middle of the data as well.
            reader.ResetToStart();
            for (int i = 0; i < 5; ++i) ASSERT_TRUE(reader.NextStationRecord(endKey));
            reader.ResetToStart();
            ASSERT_TRUE(reader.NextStationRecord(endKey));
            EXPECT_EQ(Walk(reader, endKey).dates, first.dates);
        }
    }
}

// The start row is the last row of the file: the first refill finds nothing
// and the data end; no stale row is taken, and a rewind still works.
TEST(StationFile, StartRowAsLastRowEndsAfterIt) {
    Diag d;
    const auto dates = DailyDates(MeteoDate{2000, 12, 30, 24}, 3);
    const std::string file = d.write("st.txt", StationFileText(2, dates));
    for (const std::string& text : {StationFileText(2, dates), StationFileText(2, dates) + "\n  \n",
                                    StationFileText(2, dates) + "0 0 0 0 1 2\n2001 1 2 24 5 5\n"}) {
        d.write("st.txt", text);
        StationFileReader reader(&d.writer, "temperature", file, 0, 9999, BytesForCapacity(1, 2));
        reader.ReadStationDescription();
        reader.FindStartDate(dates.back());
        const std::vector<double> values = reader.Values();
        for (int repetition = 0; repetition < 2; ++repetition) {
            EXPECT_FALSE(reader.NextStationRecord(NoEndKey));
            EXPECT_FALSE(reader.NextStationRecord(NoEndKey));
            EXPECT_EQ(reader.Date(), dates.back());
            EXPECT_EQ(reader.Values(), values);
            reader.ResetToStart();
            ASSERT_TRUE(reader.NextStationRecord(NoEndKey));
            EXPECT_EQ(reader.Values(), values);
        }
    }
}

TEST(StationFile, ValuesFlagsYearsAndAdditionalColumns) {
    Diag d;
    std::string text = StationHeader(3, 1);
    text += "98 12 31 24 a 1 1 1\n";          // 2-digit year: 1998
    text += "99 1 1 24 b 10000 -9999 -10000.5\n";
    text += "99 1 2 24 c 0 0 0\r\n";          // all equal, carriage return
    text += "\n";                              // blank line between rows
    text += "99 1 3 24 d 1 2 nan\n";           // two different valid values
    text += "99 1 4 24 e -20000 20000 -10000\n";  // no valid value
    text += "99 1 5 24 f -12000 7.5 -12000 trailing text\n";
    text += "0 0 0 0 g 5 5 5\n";               // end of the data
    text += "99 1 6 24 h 5 5 5\n";
    const std::string file = d.write("st.txt", text);
    StationFileReader reader(&d.writer, "temperature", file, 1, 9999, BytesForCapacity(2, 3));
    reader.ReadStationDescription();
    EXPECT_EQ(reader.StationCount(), 3);
    reader.FindStartDate(MeteoDate{1999, 1, 1, 24});
    EXPECT_EQ(reader.Values(), (std::vector<double>{-10000, -10000, -9999, -10000}));
    EXPECT_EQ(reader.AllEqual(), 0);

    struct Expected {
        MeteoDate date;
        std::vector<double> values;
        int16_t allEqual;
    };
    const std::vector<Expected> rows = {
        {{1999, 1, 2, 24}, {-10000, 0, 0, 0}, 1},
        {{1999, 1, 3, 24}, {-10000, 1, 2, -10000}, 0},
        {{1999, 1, 4, 24}, {-10000, -10000, -10000, -10000}, 1},
        {{1999, 1, 5, 24}, {-10000, -10000, 7.5, -10000}, 1},
    };
    for (const auto& row : rows) {
        ASSERT_TRUE(reader.NextStationRecord(NoEndKey));
        EXPECT_EQ(reader.Date(), row.date);
        EXPECT_EQ(reader.Values()[1], row.values[1]);
        EXPECT_EQ(reader.Values()[2], row.values[2]);
        EXPECT_EQ(reader.Values()[3], row.values[3]);
        EXPECT_EQ(reader.AllEqual(), row.allEqual);
    }
    EXPECT_FALSE(reader.NextStationRecord(NoEndKey));
    EXPECT_EQ(reader.Date(), (MeteoDate{1999, 1, 5, 24}));
}

TEST(StationFile, MissingStartDateEndsWith51) {
    const std::string header = StationHeader(2);
    const std::string rows = StationFileText(2, DailyDates(MeteoDate{2001, 1, 2, 24}, 5)).substr(header.size());
    struct Case {
        const char* name;
        std::string text;
    } cases[] = {
        {"data begin after the start", header + rows},
        {"gap at the start date", header + "2000 12 31 24 1 1\n" + rows},
        {"data end before the start", header + "2000 12 30 24 1 1\n2000 12 31 24 1 1\n"},
        {"end marker before the start", header + "2000 12 31 24 1 1\n0 0 0 0\n2001 1 1 24 1 1\n"},
        {"header only", header},
        {"other hour", header + "2001 1 1 0 1 1\n2001 1 1 23 1 1\n2001 1 2 0 1 1\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Diag d;
        const std::string file = d.write("st.txt", c.text);
        StationFileReader reader(&d.writer, "temperature", file, 0, 9999);
        reader.ReadStationDescription();
        EXPECT_EQ(ThrownCode([&] { reader.FindStartDate(Start2001); }), 51);
        EXPECT_NE(d.console.str().find("\nfile " + file + " dosnt contain date 1.1.2001, hour 24(feof)!"),
                  std::string::npos)
            << d.console.str();
        EXPECT_EQ(d.fatals().size(), 1u);
    }
}

// A malformed line ends the run with code 49 and names the file and line,
// wherever it is: in the header, before the start row, in the start row or in
// a later buffer.
TEST(StationFile, MalformedLinesEndWith49) {
    const std::string header = StationHeader(2);
    const std::string good = "2001 1 1 24 1 2\n2001 1 2 24 1 2\n";
    struct Case {
        const char* name;
        std::string text;
        const char* where;
    } cases[] = {
        {"no station on line 2", "t\nYY MM DD HH alt\nYY MM DD HH 1\nYY MM DD HH 1\nnames\n" + good, "line 2"},
        {"file ends in the header", "text\nYY MM DD HH 100 200\n", "line 3"},
        {"x coordinate missing", "t\nYY MM DD HH 100 200\nYY MM DD HH 1\nYY MM DD HH 1 2\nn\n" + good, "line 3"},
        {"one altitude too few", "t\nYY MM DD HH 100\nYY MM DD HH 1 2\nYY MM DD HH 1 2\nn\n" + good, "line 3"},
        {"y coordinate not a number", "t\nYY MM DD HH 100 200\nYY MM DD HH 1 2\nYY MM DD HH 1 y2\nn\n" + good,
         "line 4"},
        {"bad month before the start", header + "2000 13 31 24 1 2\n" + good, "line 6"},
        {"hour not an integer", header + "2000 12 31 1.5 1 2\n" + good, "line 6"},
        {"date missing", header + "2000\n" + good, "line 6"},
        {"start row short", header + "2001 1 1 24 1\n2001 1 2 24 1 2\n", "line 6"},
        {"value not a number later", header + good + "2001 1 3 24 1 2\n2001 1 4 24 1 x\n", "line 9"},
        {"value with trailing letters", header + good + "2001 1 3 24 1 2mm\n", "line 8"},
        {"row short in a later buffer", header + good + "2001 1 3 24 1 2\n2001 1 4 24 1 2\n2001 1 5 24 7\n",
         "line 10"},
        {"date repeated", header + good + "2001 1 2 24 1 2\n", "line 8"},
        {"date going back", header + good + "2001 1 3 24 1 2\n2001 1 1 24 1 2\n", "line 9"},
        {"day 32", header + good + "2001 1 32 24 1 2\n", "line 8"},
        {"hour 25", header + good + "2001 1 3 25 1 2\n", "line 8"},
        {"negative year", header + good + "-2001 1 3 24 1 2\n", "line 8"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Diag d;
        const std::string file = d.write("st.txt", c.text);
        const int code = ThrownCode([&] {
            StationFileReader reader(&d.writer, "temperature", file, 0, 9999, BytesForCapacity(2, 2));
            reader.ReadStationDescription();
            reader.FindStartDate(Start2001);
            while (reader.NextStationRecord(NoEndKey)) {
            }
        });
        EXPECT_EQ(code, 49);
        const auto fatals = d.fatals();
        ASSERT_EQ(fatals.size(), 1u);
        EXPECT_NE(fatals[0].find("error reading " + file + ", " + c.where + ":"), std::string::npos) << fatals[0];
    }
}

// A bad row ends the reading only when it is due: every row before it is
// delivered first, whichever buffer it falls in.
TEST(StationFile, BadRowIsReportedWhenItIsDue) {
    const std::string header = StationHeader(2);
    std::string rows;
    for (int day = 1; day <= 6; ++day) rows += "2001 1 " + std::to_string(day) + " 24 1 2\n";
    const std::string bad[] = {"2001 1 7 24 1 x\n", "2001 1 7 24 1\n", "2001 1 6 24 1 2\n", "2001 13 7 24 1 2\n"};
    for (int64_t capacity : {1, 2, 4, 100}) {
        for (const std::string& row : bad) {
            SCOPED_TRACE("capacity " + std::to_string(capacity) + ", row " + row);
            Diag d;
            const std::string file = d.write("st.txt", header + rows + row + "2001 1 8 24 1 2\n");
            StationFileReader reader(&d.writer, "temperature", file, 0, 9999, BytesForCapacity(capacity, 2));
            reader.ReadStationDescription();
            reader.FindStartDate(Start2001);
            MeteoDate last = reader.Date();
            const int code = ThrownCode([&] {
                while (reader.NextStationRecord(NoEndKey)) last = reader.Date();
            });
            EXPECT_EQ(code, 49);
            EXPECT_EQ(last, (MeteoDate{2001, 1, 6, 24}));
            const auto fatals = d.fatals();
            ASSERT_EQ(fatals.size(), 1u);
            EXPECT_NE(fatals[0].find("error reading " + file + ", line 12:"), std::string::npos) << fatals[0];
        }
    }
}

TEST(StationFile, FileThatCannotBeOpenedEndsWith49) {
    Diag d;
    EXPECT_EQ(ThrownCode([&] { ReadStationDescription(&d.writer, "wind", d.path("missing.txt"), 0); }), 49);
    EXPECT_NE(d.console.str().find("\nerror opening " + d.path("missing.txt")), std::string::npos);

    // The file vanishes between two fills.
    const std::string file = d.write("st.txt", StationFileText(1, DailyDates(Start2001, 10)));
    StationFileReader reader(&d.writer, "wind", file, 0, 9999, BytesForCapacity(2, 1));
    reader.ReadStationDescription();
    reader.FindStartDate(Start2001);
    ASSERT_TRUE(reader.NextStationRecord(NoEndKey));
    ASSERT_TRUE(reader.NextStationRecord(NoEndKey));
    std::remove(file.c_str());
    EXPECT_EQ(ThrownCode([&] { reader.NextStationRecord(NoEndKey); }), 49);
    EXPECT_NE(d.console.str().find("\nerror opening file " + file), std::string::npos);
}

namespace {

struct RegressionRow {
    MeteoDate date;
    double c[11];
};

std::vector<RegressionRow> RegressionRows(const std::vector<MeteoDate>& dates) {
    std::vector<RegressionRow> rows;
    for (size_t r = 0; r < dates.size(); ++r) {
        RegressionRow row{dates[r], {}};
        for (int i = 0; i < 11; ++i) row.c[i] = (static_cast<double>(r) + 1) * 0.1 - i * 1.7e-3;
        row.c[5] = 4.9e-324 * static_cast<double>(r + 1);  // subnormal: must come back bit for bit
        rows.push_back(row);
    }
    return rows;
}

std::string RegressionText(const std::vector<RegressionRow>& rows) {
    std::string text = "jr mo tg st a1 b1 hl a2 b2 hu a3 b3 c0 cx cy\n";
    for (const auto& row : rows) {
        text += DateTokens(row.date);
        for (double v : row.c) {
            text += ' ';
            text += Number(v);
        }
        text += "\n";
    }
    return text;
}

void PutLittleEndian(std::string& out, uint64_t v) {
    for (int b = 0; b < 8; ++b) out.push_back(static_cast<char>((v >> (8 * b)) & 0xff));
}

std::string RegressionBinary(const std::vector<RegressionRow>& rows) {
    std::string bytes;
    for (const auto& row : rows) {
        for (int64_t v : {row.date.Year, row.date.Month, row.date.Day, row.date.Hour}) {
            PutLittleEndian(bytes, static_cast<uint64_t>(v));
        }
        for (double v : row.c) PutLittleEndian(bytes, std::bit_cast<uint64_t>(v));
    }
    return bytes;
}

std::vector<RegressionRow> Walk(RegressionFileReader& reader, int64_t endKey) {
    std::vector<RegressionRow> rows;
    do {
        const RegressionCoefficients& c = reader.Coefficients();
        rows.push_back({reader.Date(), {c.a1, c.b1, c.hl, c.a2, c.b2, c.hu, c.a3, c.b3, c.c0, c.cx, c.cy}});
    } while (reader.NextRegressionRecord(endKey));
    return rows;
}

bool SameRows(const std::vector<RegressionRow>& a, const std::vector<RegressionRow>& b) {
    if (a.size() != b.size()) return false;
    for (size_t r = 0; r < a.size(); ++r) {
        if (!(a[r].date == b[r].date) || std::memcmp(a[r].c, b[r].c, sizeof a[r].c) != 0) return false;
    }
    return true;
}

}  // namespace

// Text and binary forms of the same rows give the same series bit for bit,
// with any buffer size, from any start row, and again after a rewind.
TEST(RegressionFile, TextAndBinaryFormsGiveTheSameSeries) {
    Diag d;
    const auto dates = DailyDates(MeteoDate{2000, 12, 25, 0}, 30);
    const auto rows = RegressionRows(dates);
    const std::string text = d.write("reg.txt", RegressionText(rows));
    const std::string binary = d.write("reg.bin", RegressionBinary(rows));
    // A byte-order mark in front of the header line leaves a text file text.
    const std::string marked = d.write("reg-bom.txt", "\xEF\xBB\xBF" + RegressionText(rows));
    const std::vector<RegressionRow> expected(rows.begin() + 7, rows.end());
    ASSERT_EQ(expected.front().date, (MeteoDate{2001, 1, 1, 0}));
    for (const std::string& file : {text, binary, marked}) {
        for (int64_t capacity : {1, 4, 23, 16384}) {
            SCOPED_TRACE(file + ", capacity " + std::to_string(capacity));
            RegressionFileReader reader(&d.writer, "temperature", file, capacity);
            reader.FindStartDateRegression(MeteoDate{2001, 1, 1, 0});
            EXPECT_EQ(reader.IsBinary(), file == binary);
            EXPECT_TRUE(SameRows(Walk(reader, NoEndKey), expected));
            EXPECT_FALSE(reader.NextRegressionRecord(NoEndKey));
            for (int repetition = 0; repetition < 2; ++repetition) {
                reader.ResetToStart();
                ASSERT_TRUE(reader.NextRegressionRecord(NoEndKey));
                EXPECT_TRUE(SameRows(Walk(reader, NoEndKey), expected));
            }
            reader.ResetToStart();
            const MeteoDate end{2001, 1, 5, 0};
            ASSERT_TRUE(reader.NextRegressionRecord(end.Key()));
            const auto shortened = Walk(reader, end.Key());
            ASSERT_EQ(shortened.size(), 5u);
            EXPECT_EQ(shortened.back().date, end);
        }
    }
    EXPECT_NE(d.console.str().find("looking for starting date 1.1.2001 for temperature in " + binary),
              std::string::npos);
}

TEST(RegressionFile, YearsUpTo999CountFrom1900) {
    Diag d;
    std::vector<RegressionRow> rows = RegressionRows({{999, 1, 1, 0}, {999, 1, 2, 0}, {1000, 1, 3, 0}});
    std::vector<RegressionRow> more = RegressionRows({{1000, 1, 1, 0}, {1000, 1, 2, 0}});
    for (const std::string& file : {d.write("a.txt", RegressionText(rows)), d.write("b.bin", RegressionBinary(rows))}) {
        RegressionFileReader reader(&d.writer, "temperature", file, 1);
        reader.FindStartDateRegression(MeteoDate{2899, 1, 1, 0});
        ASSERT_TRUE(reader.NextRegressionRecord(NoEndKey));
        EXPECT_EQ(reader.Date(), (MeteoDate{2899, 1, 2, 0}));
        // Year 1000 stays 1000: it goes back in time.
        EXPECT_EQ(ThrownCode([&] { reader.NextRegressionRecord(NoEndKey); }), 49);
    }
    const std::string file = d.write("c.txt", RegressionText(more));
    RegressionFileReader reader(&d.writer, "temperature", file);
    reader.FindStartDateRegression(MeteoDate{1000, 1, 1, 0});
    ASSERT_TRUE(reader.NextRegressionRecord(NoEndKey));
    EXPECT_EQ(reader.Date(), (MeteoDate{1000, 1, 2, 0}));
}

TEST(RegressionFile, MissingStartDateAndMalformedRows) {
    const auto rows = RegressionRows(DailyDates(MeteoDate{2001, 1, 1, 0}, 4));
    const std::string text = RegressionText(rows);
    const std::string binary = RegressionBinary(rows);
    std::string badMonth = binary;
    badMonth[2 * 120 + 8] = 13;  // month of the third record
    std::string nanCoefficient = binary;
    std::string nanBytes;
    PutLittleEndian(nanBytes, std::bit_cast<uint64_t>(std::nan("")));
    nanCoefficient.replace(3 * 120 + 32 + 8 * 4, 8, nanBytes);  // coefficient 5 of the fourth record
    struct Case {
        const char* name;
        std::string content;
        int code;
        const char* message;
    } cases[] = {
        {"text without the start date", "jr mo\n2001 1 2 0 1 2 3 4 5 6 7 8 9 10 11\n", 51, "EOF reached: "},
        {"binary without the start date", RegressionBinary(RegressionRows({{2001, 1, 2, 0}})), 51, "EOF reached: "},
        {"empty file", "", 51, "EOF reached: "},
        {"text row short", text.substr(0, text.size() - 1) + "\n2001 1 5 0 1 2 3\n", 49, "line 6:"},
        {"text coefficient not a number", text + "2001 1 5 0 1 2 3 4 5 6 7 8 9 10 eleven\n", 49, "line 6:"},
        {"text coefficient nan", text + "2001 1 5 0 1 2 3 4 5 6 7 8 9 10 nan\n", 49, "line 6:"},
        {"text date before the start row malformed", "jrxmo\n2000 12 31 x 1 2 3 4 5 6 7 8 9 10 11\n", 49,
         "line 2:"},
        {"binary record cut short", binary + std::string(60, '\0'), 49, "record 5:"},
        {"binary month 13", badMonth, 49, "record 3:"},
        {"binary coefficient nan", nanCoefficient, 49, "record 4:"},
        {"binary dates not increasing", binary + RegressionBinary({rows[1]}), 49, "record 5:"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Diag d;
        const std::string file = d.write("reg", c.content);
        const int code = ThrownCode([&] {
            RegressionFileReader reader(&d.writer, "temperature", file, 2);
            reader.FindStartDateRegression(MeteoDate{2001, 1, 1, 0});
            while (reader.NextRegressionRecord(NoEndKey)) {
            }
        });
        EXPECT_EQ(code, c.code);
        const auto fatals = d.fatals();
        ASSERT_EQ(fatals.size(), 1u);
        EXPECT_NE(fatals[0].find(c.message), std::string::npos) << fatals[0];
    }
}

namespace {

// Station and regression files of method 3 on the given dates.
struct IdwRegression {
    Diag d;
    std::string station;
    std::string regression;
    IdwRegression(const std::vector<MeteoDate>& stationDates, const std::vector<MeteoDate>& regressionDates) {
        station = d.write("st.txt", StationFileText(2, stationDates));
        regression = d.write("reg.txt", RegressionText(RegressionRows(regressionDates)));
    }
    int Walk(MeteoFileSet& set, int64_t endKey, std::vector<MeteoDate>* dates) {
        return ThrownCode([&] {
            set.OpenStationFile(0, station, 0, BytesForCapacity(3, 2));
            set.OpenRegressionFile(regression, 4);
            do {
                dates->push_back(set.CurrentDate());
                EXPECT_EQ(set.Regression()->Date(), set.CurrentDate());
                set.ReadNextStep(endKey);
            } while (!set.EndOfData());
        });
    }
};

std::vector<MeteoDate> Without(std::vector<MeteoDate> dates, size_t index) {
    dates.erase(dates.begin() + static_cast<std::ptrdiff_t>(index));
    return dates;
}

}  // namespace

TEST(MeteoFileSet, IdwRegressionWalksStationAndRegressionTogether) {
    const auto dates = DailyDates(Start2001, 12);
    for (size_t regressionCount : {12u, 20u}) {
        IdwRegression files(dates, DailyDates(Start2001, static_cast<int>(regressionCount)));
        MeteoFileSet set(&files.d.writer, "temperature", 3, 9999, Start2001);
        std::vector<MeteoDate> seen;
        EXPECT_EQ(files.Walk(set, MeteoDate{2001, 12, 31, 24}.Key(), &seen), 0);
        EXPECT_EQ(seen, dates);
        set.ResetToStart();
        EXPECT_FALSE(set.EndOfData());
        set.ReadNextStep(NoEndKey);
        EXPECT_EQ(set.CurrentDate(), Start2001);
        EXPECT_EQ(set.Regression()->Date(), Start2001);
    }
}

// The regression row must stand on the stations' date: a regression file that
// lags behind (the station file skips a day) or ends early gives code 52.
TEST(MeteoFileSet, RegressionDateOffTheStationsDateEndsWith52) {
    const auto dates = DailyDates(Start2001, 12);
    struct Case {
        const char* name;
        std::vector<MeteoDate> station, regression;
        const char* stationDate;
        const char* regressionDate;
    } cases[] = {
        {"regression lags", Without(dates, 5), dates, "7.1.2001 24", "6.1.2001 24"},
        {"regression ahead", dates, Without(dates, 5), "6.1.2001 24", "7.1.2001 24"},
        {"regression ends early", dates, std::vector<MeteoDate>(dates.begin(), dates.begin() + 8), "9.1.2001 24",
         "8.1.2001 24"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        IdwRegression files(c.station, c.regression);
        MeteoFileSet set(&files.d.writer, "temperature", 3, 9999, Start2001);
        std::vector<MeteoDate> seen;
        EXPECT_EQ(files.Walk(set, NoEndKey, &seen), 52);
        const std::string expected = std::string(77, '-') + "\nerror in date column of temperature for IDW*Regress " +
                                     "\n\nDate from station/regress file " + files.station + ":\n" + c.stationDate +
                                     " h\n\nbut date from regres file " + files.regression + ":\n" +
                                     c.regressionDate + " h\n\n" + std::string(77, '-') + "\n";
        EXPECT_NE(files.d.console.str().find(expected), std::string::npos) << files.d.console.str();
        EXPECT_EQ(files.d.fatals().size(), 1u);
    }
}

TEST(MeteoFileSet, TwoStationFilesMustAgree) {
    const auto dates = DailyDates(Start2001, 10);
    struct Case {
        const char* name;
        std::string second;
        int code;
        const char* message;
    } cases[] = {
        {"same dates", StationFileText(2, dates), 0, ""},
        {"second skips a day", StationFileText(2, Without(dates, 4)), 73, ": YYYY=2001, MM=1, DD=6, HH=24"},
        {"second ends early", StationFileText(2, std::vector<MeteoDate>(dates.begin(), dates.begin() + 7)), 73,
         ": YYYY=2001, MM=1, DD=7, HH=24"},
        {"second runs longer", StationFileText(2, DailyDates(Start2001, 11)), 73, ": YYYY=2001, MM=1, DD=11, HH=24"},
        {"other station count", StationFileText(3, dates), 73,
         " contain a different number of stations \n(3 and 2, resp.)\n"},
        {"other coordinates", [&] {
             std::string text = StationFileText(2, dates);
             text.replace(text.find("6000"), 4, "6001");
             return text;
         }(),
         73, "Altitude and/or coordinates of station 2 are different in\nmeteorological station files "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Diag d;
        const std::string first = d.write("residuals.txt", StationFileText(2, dates));
        const std::string second = d.write("gradients.txt", c.second);
        MeteoFileSet set(&d.writer, "temperature", 6, 9999, Start2001);
        int steps = 0;
        const int code = ThrownCode([&] {
            set.OpenStationFile(0, first, 0, BytesForCapacity(3, 2));
            set.OpenStationFile(1, second, 0, BytesForCapacity(4, 2));
            while (!set.EndOfData()) {
                set.ReadNextStep(NoEndKey);
                ++steps;
            }
        });
        EXPECT_EQ(code, c.code);
        EXPECT_NE(d.console.str().find(c.message), std::string::npos) << d.console.str();
        if (c.code == 0) {
            EXPECT_EQ(steps, 10);
            EXPECT_EQ(set.Station(1)->Date(), dates.back());
        } else {
            EXPECT_EQ(d.fatals().size(), 1u);
        }
    }
}

TEST(MeteoFileSet, RegressionMethodTakesItsDateFromTheRegressionFile) {
    Diag d;
    const auto dates = DailyDates(MeteoDate{2001, 1, 1, 12}, 9);
    const std::string file = d.write("reg.bin", RegressionBinary(RegressionRows(dates)));
    MeteoFileSet set(&d.writer, "temperature", 2, 9999, dates[2]);
    EXPECT_EQ(MeteoFileSet::StationFileCount(2), 0);
    set.OpenRegressionFile(file, 2);
    EXPECT_EQ(set.CurrentDate(), dates[2]);
    std::vector<MeteoDate> seen;
    for (int spin = 0; spin < 2; ++spin) {
        seen.clear();
        if (spin == 1) {
            set.ResetToStart();
            set.ReadNextStep(dates[5].Key());
        }
        while (!set.EndOfData()) {
            seen.push_back(set.CurrentDate());
            set.ReadNextStep(dates[5].Key());
        }
        EXPECT_EQ(seen, std::vector<MeteoDate>(dates.begin() + 2, dates.begin() + 6));
    }
}

TEST(GridList, WalksNamesAndRewinds) {
    Diag d;
    std::string text = StationHeader(1, 1);
    const auto dates = DailyDates(MeteoDate{2000, 12, 30, 24}, 8);
    for (size_t r = 0; r < dates.size(); ++r) {
        const std::string name = r == 4 ? "-9999" : "grids/p_" + std::to_string(r) + ".asc";
        text += DateTokens(dates[r]) + " extra " + name + " rest of the line\n";
    }
    const std::string file = d.write("list.txt", text);
    MeteoFileSet set(&d.writer, "precipitation", 9, 9999, Start2001);
    GridListReader& list = set.OpenGridList(file, 1);
    EXPECT_EQ(list.Columns().StationCount, 1);
    EXPECT_EQ(list.Columns().X[1], 2000);
    EXPECT_EQ(list.Columns().Altitude[1], 100);
    EXPECT_EQ(set.CurrentDate(), Start2001);
    EXPECT_FALSE(list.IsOpen());
    std::vector<std::string> expected;
    for (size_t r = 2; r < dates.size(); ++r) expected.push_back(r == 4 ? "-9999" : "grids/p_" + std::to_string(r) + ".asc");
    for (int64_t endKey : {NoEndKey, dates[4].Key()}) {
        for (int spin = 0; spin < 2; ++spin) {
            std::vector<std::string> names;
            names.push_back(list.GridFileName());
            set.ReadNextStep(endKey);
            EXPECT_TRUE(list.IsOpen());
            while (!set.EndOfData()) {
                names.push_back(list.GridFileName());
                EXPECT_EQ(set.CurrentDate(), dates[names.size() + 1]);
                set.ReadNextStep(endKey);
            }
            EXPECT_FALSE(list.IsOpen());
            const size_t count = endKey == NoEndKey ? expected.size() : 3;
            EXPECT_EQ(names, std::vector<std::string>(expected.begin(), expected.begin() + count));
            set.ResetToStart();
            set.ReadNextStep(endKey);
            EXPECT_EQ(set.CurrentDate(), Start2001);
        }
    }
}

TEST(GridList, MissingDateAndMalformedRows) {
    const std::string header = StationHeader(1);
    struct Case {
        const char* name;
        std::string text;
        int code;
        const char* message;
    } cases[] = {
        {"start missing", header + "2001 1 2 24 a.asc\n", 51, "\nfile "},
        {"name missing at the start", header + "2001 1 1 24\n", 49, "line 6:"},
        {"name missing later", header + "2001 1 1 24 a.asc\n2001 1 2 24 b.asc\n2001 1 3 24\n", 49, "line 8:"},
        {"bad day later", header + "2001 1 1 24 a.asc\n2001 1 0 24 b.asc\n", 49, "line 7:"},
        {"no columns", "t\nYY MM DD HH\nYY MM DD HH\nYY MM DD HH\nn\n2001 1 1 24 a.asc\n", 49, "line 2:"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Diag d;
        const std::string file = d.write("list.txt", c.text);
        const int code = ThrownCode([&] {
            MeteoFileSet set(&d.writer, "precipitation", 9, 9999, Start2001);
            set.OpenGridList(file, 0);
            while (!set.EndOfData()) set.ReadNextStep(NoEndKey);
        });
        EXPECT_EQ(code, c.code);
        const auto fatals = d.fatals();
        ASSERT_EQ(fatals.size(), 1u);
        if (c.code == 51) {
            EXPECT_NE(d.console.str().find("\nfile " + file + " dosnt contain date 1.1.2001, hour 24(feof)!"),
                      std::string::npos);
        } else {
            EXPECT_NE(fatals[0].find(c.message), std::string::npos) << fatals[0];
        }
    }
}
