#include "framework/timeseries_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/test_support.h"

using namespace testsupport;

namespace {

using Reader = TimeSeriesTableReader;

struct Date {
    int year, month, day, hour;
    bool operator==(const Date&) const = default;
};

// Date and values of row i (from 0) of a generated hourly table.
Date RowDate(int64_t i) {
    return {static_cast<int>(1990 + i / (24 * 28 * 12)), static_cast<int>(1 + (i / (24 * 28)) % 12),
            static_cast<int>(1 + (i / 24) % 28), static_cast<int>(i % 24)};
}
double RowValue(int64_t i, int column) { return column == 0 ? i * 0.25 : (column == 1 ? -1.5 * i : i % 7); }

// A table with two header lines and `rows` rows of three values.
std::string LongTable(int64_t rows) {
    std::string text = "observed discharge\nYY MM DD HH q1 q2 q3\n";
    char line[160];
    for (int64_t i = 0; i < rows; ++i) {
        const Date d = RowDate(i);
        std::snprintf(line, sizeof line, "%d %d %d %d %.17g %.17g %.17g\n", d.year, d.month, d.day, d.hour,
                      RowValue(i, 0), RowValue(i, 1), RowValue(i, 2));
        text += line;
    }
    return text;
}

Date CurrentDate(const Reader& r) {
    Date d{};
    r.GetDate(d.year, d.month, d.day, d.hour);
    return d;
}

void ExpectRow(const Reader& r, int64_t i) {
    ASSERT_EQ(CurrentDate(r), RowDate(i)) << "row " << i;
    for (int c = 0; c < 3; ++c) ASSERT_EQ(r.GetValue(c), RowValue(i, c)) << "row " << i << " column " << c;
}

void ExpectNoRow(const Reader& r) {
    EXPECT_EQ(CurrentDate(r), (Date{-9999, -9999, -9999, -9999}));
    for (int64_t c = -1; c <= r.GetColumnCount(); ++c) EXPECT_EQ(r.GetValue(c), -9999);
    EXPECT_TRUE(r.CurrentRow().Values.empty());
}

class TableReader : public ::testing::Test {
protected:
    std::string Write(const std::string& text, const std::string& name = "table.txt") {
        const std::string path = Dir.file(name);
        WriteFile(path, text);
        return path;
    }
    TempDir Dir;
};

TEST_F(TableReader, OpenCountsHeaderLinesAndColumns) {
    struct Case {
        std::string text;
        int64_t returned;
        int32_t status;
        int64_t columns;
    };
    const Case cases[] = {
        {"2001 1 1 0 1.5 2.5 3.5\n", 0, Reader::EndOfFile, 3},
        {"Header\nYY MM DD HH a b c\n2001 1 1 0 1 2 3\n2001 1 1 1 4 5 6\n", 2, Reader::EndOfFile, 3},
        {" 2001 1 1 0 1\n-x\n\n2001 1 1 1 2\n", 3, Reader::EndOfFile, 1},
        {"2001 1 1 0 7 8 q 9\n", 0, Reader::BadData, 2},  // values counted up to the first non-number
        {"\xEF\xBB\xBF" "2001 1 1 0 4\n", 0, Reader::EndOfFile, 1},
        {"2001\r\n1 1 0 5 6\r\n2001 1 1 1 7 8\r\n", 0, Reader::EndOfFile, 2},
        // No data line, or a data line without values: refused.
        {"only\nheaders\n", 5, Reader::BadData, 0},
        {"", 5, Reader::BadData, 0},
        {"head\n2001", 5, Reader::BadData, 0},
        {"head\n2001 1 1 0\n2001 1 1 1\n", 5, Reader::BadData, 0},
    };
    for (const Case& c : cases) {
        Reader r(Write(c.text), 0, 100000);
        Reader opened;
        EXPECT_EQ(opened.Open(Write(c.text), 0, 100000), c.returned) << c.text;
        EXPECT_EQ(r.GetStatus(), c.status) << c.text;
        EXPECT_EQ(opened.GetStatus(), c.status) << c.text;
        EXPECT_EQ(r.GetColumnCount(), c.columns) << c.text;
        EXPECT_EQ(r.GetFileName(), Dir.file("table.txt"));
        // A reader is opened once.
        EXPECT_EQ(opened.Open(Write("x\n2001 1 1 0 1\n", "other.txt"), 0, 100000), 0);
        EXPECT_EQ(opened.GetFileName(), Dir.file("table.txt"));
    }

    Reader missing;
    EXPECT_EQ(missing.Open(Dir.file("missing.txt"), 0, 100000), 3);
    EXPECT_EQ(missing.GetStatus(), Reader::CannotOpen);
    ExpectNoRow(missing);
    Reader directory(Dir.path(), 0, 100000);
    EXPECT_EQ(directory.GetStatus(), Reader::CannotOpen);
}

TEST_F(TableReader, ReadsALongTableBlockByBlock) {
    const std::string path = Write(LongTable(6000));
    Reader r(path, 0, 100000);
    ASSERT_EQ(r.GetColumnCount(), 3);
    EXPECT_EQ(r.GetCapacity(), 2500);  // 100000 / (8 * 3 + 16)
    std::vector<std::pair<int64_t, int32_t>> blocks = {{r.GetRowCount(), r.GetStatus()}};
    EXPECT_EQ(r.GetCursor(), 0);

    r.MoveRow(-1);
    for (int64_t i = 0; i < 6000; ++i) {
        const int64_t before = r.GetRowCount();
        r.NextRow();
        if (i > 0 && r.GetCursor() == 0) blocks.push_back({r.GetRowCount(), r.GetStatus()});
        ASSERT_NE(r.GetStatus(), Reader::PastLastRow) << "row " << i << " of a block of " << before;
        ExpectRow(r, i);
    }
    EXPECT_EQ(blocks, (std::vector<std::pair<int64_t, int32_t>>{
                          {2500, Reader::MoreRows}, {2500, Reader::MoreRows}, {1000, Reader::EndOfFile}}));

    // Past the last row the status becomes 4 and the last row stays current.
    r.NextRow();
    EXPECT_EQ(r.GetStatus(), Reader::PastLastRow);
    ExpectRow(r, 5999);
    r.NextRow();
    EXPECT_EQ(r.GetStatus(), Reader::PastLastRow);
    ExpectRow(r, 5999);
}

TEST_F(TableReader, TableThatFillsItsLastBlockExactly) {
    Reader r(Write(LongTable(5000)), 0, 100000);
    for (int64_t i = 1; i < 5000; ++i) r.NextRow();
    EXPECT_EQ(r.GetStatus(), Reader::MoreRows);
    ExpectRow(r, 4999);
    // The third load finds no row: no row is offered, the last one stays current.
    r.NextRow();
    EXPECT_EQ(r.GetStatus(), Reader::PastLastRow);
    ExpectRow(r, 4999);
}

TEST_F(TableReader, SearchesAStartDateAndStepsAcrossBlocks) {
    Reader r(Write(LongTable(6000)), 0, 100000);
    // The walk of the discharge routing: before the first row, then row by row
    // until the start date.
    const int64_t start = 4990;
    const Date wanted = RowDate(start);
    r.MoveRow(-1);
    int64_t steps = 0;
    do {
        r.NextRow();
        ++steps;
    } while (CurrentDate(r) != wanted && r.GetStatus() != Reader::PastLastRow);
    ASSERT_EQ(CurrentDate(r), wanted);
    EXPECT_EQ(steps, start + 1);
    EXPECT_EQ(r.GetCursor(), start - 2500);
    for (int64_t i = start + 1; i < start + 30; ++i) {
        r.NextRow();
        ExpectRow(r, i);
    }
    // Moving back within a block, and not before it.
    r.MoveRow(-3);
    ExpectRow(r, start + 26);
    r.SetRow(0);
    ExpectRow(r, 5000);
    r.MoveRow(-2);
    ExpectRow(r, 5000);

    // A date that is not in the table ends the search with status 4.
    Reader other(Write(LongTable(3000), "short.txt"), 0, 100000);
    other.MoveRow(-1);
    do other.NextRow();
    while (CurrentDate(other) != wanted && other.GetStatus() != Reader::PastLastRow);
    EXPECT_EQ(other.GetStatus(), Reader::PastLastRow);
    ExpectRow(other, 2999);
}

TEST_F(TableReader, CursorNeverLeavesTheLoadedRows) {
    Reader r(Write("2001 1 1 0 10 11\n2001 1 1 1 20 21\n2001 1 1 2 30 31\n"), 0, 100000);
    ASSERT_EQ(r.GetRowCount(), 3);
    EXPECT_EQ(r.GetValue(-1), -9999);
    EXPECT_EQ(r.GetValue(2), -9999);
    EXPECT_EQ(r.GetValue(1), 11);

    r.SetRow(-1);  // before the first row
    EXPECT_EQ(r.GetCursor(), -1);
    ExpectNoRow(r);
    r.SetRow(3);  // one past the last row: allowed, but holds nothing
    EXPECT_EQ(r.GetCursor(), 3);
    ExpectNoRow(r);
    r.SetRow(4);
    r.SetRow(-2);
    EXPECT_EQ(r.GetCursor(), 3);
    r.SetRow(1);
    r.MoveRow(INT64_MAX);
    r.MoveRow(INT64_MIN);
    r.MoveRow(3);
    EXPECT_EQ(r.GetCursor(), 1);
    EXPECT_EQ(r.GetValue(0), 20);
    const TimeSeriesRow row = r.CurrentRow();
    EXPECT_EQ(row.Hour, 1);
    ASSERT_EQ(row.Values.size(), 2u);
    EXPECT_EQ(row.Values[1], 21);

    r.FreeBuffers();
    ExpectNoRow(r);
    EXPECT_EQ(r.GetStatus(), Reader::EndOfFile);
    EXPECT_EQ(r.GetFileName(), Dir.file("table.txt"));
    r.NextRow();
    EXPECT_EQ(r.GetStatus(), Reader::PastLastRow);
    ExpectNoRow(r);

    Reader unopened;
    EXPECT_EQ(unopened.GetStatus(), Reader::NotOpened);
    ExpectNoRow(unopened);
}

TEST_F(TableReader, EndOfTheTable) {
    struct Case {
        std::string text;
        int64_t rows;
        int32_t status;
    };
    const Case cases[] = {
        // A last row without a line end, even a short one, is kept.
        {"1 1 1 0 5\n1 1 1 1 6", 2, Reader::EndOfFile},
        {"2001 1 1 0 5\n2001 1 1 1 6.25", 2, Reader::EndOfFile},
        // White space after the last row is no bad data.
        {"2001 1 1 0 5\n2001 1 1 1 6\n\n\n   \n\t\n\r\n          \n", 2, Reader::EndOfFile},
        // A row cut short, or text after the rows, is.
        {"2001 1 1 0 5 1\n2001 1 1 1 6\n", 1, Reader::BadData},
        {"2001 1 1 0 5\n2001 1 1 1 6\nend of table\n", 2, Reader::BadData},
    };
    for (const Case& c : cases) {
        Reader r(Write(c.text), 0, 100000);
        EXPECT_EQ(r.GetRowCount(), c.rows) << c.text;
        EXPECT_EQ(r.GetStatus(), c.status) << c.text;
        EXPECT_EQ(r.GetBadRow(), c.status == Reader::BadData ? c.rows + 1 : 0) << c.text;
    }
    Reader r(Write("2001 1 1 0 5\n2001 1 1 1 6.25"), 0, 100000);
    r.NextRow();
    EXPECT_EQ(r.GetValue(0), 6.25);
}

TEST_F(TableReader, BadRowsEndTheTableWithStatus5) {
    const std::string good = "2001 1 1 0 1 2\n2001 12 31 24 3 4\n";
    struct Case {
        std::string row;
        std::string why;
    };
    const Case cases[] = {
        {"2001 0 1 0 5 6", "month 0"},
        {"2001 13 1 0 5 6", "month 13"},
        {"2001 1 0 0 5 6", "day 0"},
        {"2001 1 32 0 5 6", "day 32"},
        {"2001 1 1 -1 5 6", "hour -1"},
        {"2001 1 1 25 5 6", "hour 25"},
        {"99999999999 1 1 0 5 6", "year beyond int"},
        {"2001.0 1 1 0 5 6", "date field not an integer"},
        {"2001 1 1 0 5 nan", "value not finite"},
        {"2001 1 1 0 5 1e999", "value out of range"},
        {"2001 1 1 0 5 6x", "value with trailing text"},
        {"2001 1 1 0 5 " + std::string(500, '1'), "value too long"},
    };
    for (const Case& c : cases) {
        Reader r(Write(good + c.row + "\n2001 1 2 0 7 8\n"), 0, 100000);
        EXPECT_EQ(r.GetStatus(), Reader::BadData) << c.why;
        EXPECT_EQ(r.GetRowCount(), 2) << c.why;
        EXPECT_EQ(r.GetBadRow(), 3) << c.why;
        r.SetRow(1);
        EXPECT_EQ(r.GetValue(1), 4) << c.why;
        r.NextRow();
        EXPECT_EQ(r.GetStatus(), Reader::PastLastRow) << c.why;
        EXPECT_EQ(r.GetValue(1), 4) << c.why;
    }

    // A row with one value too many: the next row would begin with that value
    // and shift everything after it; its date shows it.
    Reader r(Write("2001 1 1 0 1 2\n2001 1 1 1 3 4 99\n2001 1 1 2 5 6\n"), 0, 100000);
    EXPECT_EQ(r.GetStatus(), Reader::BadData);
    EXPECT_EQ(r.GetRowCount(), 2);
    EXPECT_EQ(r.GetBadRow(), 3);

    // Numbers in other spellings.
    Reader spelled(Write("2001 1 1 1 1e3 2.\n+2001 +1 01 0 +1.5 -.5\n"), 0, 100000);
    ASSERT_EQ(spelled.GetRowCount(), 2);
    EXPECT_EQ(spelled.GetValue(0), 1000);
    EXPECT_EQ(spelled.GetValue(1), 2);
    spelled.NextRow();
    EXPECT_EQ(CurrentDate(spelled), (Date{2001, 1, 1, 0}));
    EXPECT_EQ(spelled.GetValue(0), 1.5);
    EXPECT_EQ(spelled.GetValue(1), -0.5);
}

TEST_F(TableReader, BadRowInALaterBlock) {
    // One value per row: a budget of 48 bytes holds two rows.
    Reader r(Write("h\n2001 1 1 0 1\n2001 1 1 1 2\n2001 1 1 2 3\n2001 1 1 3 x\n2001 1 1 4 5\n"), 0, 48);
    ASSERT_EQ(r.GetCapacity(), 2);
    EXPECT_EQ(r.GetStatus(), Reader::MoreRows);
    r.NextRow();
    r.NextRow();
    EXPECT_EQ(r.GetValue(0), 3);
    EXPECT_EQ(r.GetStatus(), Reader::BadData);
    EXPECT_EQ(r.GetRowCount(), 1);
    EXPECT_EQ(r.GetBadRow(), 4);
    r.NextRow();
    EXPECT_EQ(r.GetStatus(), Reader::PastLastRow);
    EXPECT_EQ(r.GetValue(0), 3);
}

TEST_F(TableReader, BudgetTooSmallForOneRowIsRefused) {
    const std::string path = Write("2001 1 1 0 1 2 3\n2001 1 1 1 4 5 6\n2001 1 1 2 7 8 9\n");
    Reader refused;
    EXPECT_EQ(refused.Open(path, 0, 39), 5);
    EXPECT_EQ(refused.GetStatus(), Reader::BadData);
    EXPECT_EQ(refused.GetCapacity(), 0);
    ExpectNoRow(refused);
    refused.NextRow();
    EXPECT_EQ(refused.GetStatus(), Reader::PastLastRow);
    ExpectNoRow(refused);

    // One row per block still walks the whole table.
    Reader single(path, 0, 40);
    ASSERT_EQ(single.GetCapacity(), 1);
    std::vector<double> seen = {single.GetValue(2)};
    std::vector<int32_t> statuses = {single.GetStatus()};
    for (int k = 0; k < 3; ++k) {
        single.NextRow();
        seen.push_back(single.GetValue(2));
        statuses.push_back(single.GetStatus());
    }
    EXPECT_EQ(seen, (std::vector<double>{3, 6, 9, 9}));
    EXPECT_EQ(statuses, (std::vector<int32_t>{Reader::MoreRows, Reader::MoreRows, Reader::MoreRows,
                                               Reader::PastLastRow}));
}

}  // namespace
