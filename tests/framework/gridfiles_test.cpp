#include <gtest/gtest.h>
#include <omp.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <sstream>
#include <thread>
#include <tuple>
#include <vector>

#include "framework/diagnostics_writer.h"
#include "framework/gridfiles.h"
#include "framework/gridfiles_io.h"
#include "framework/gridtable.h"
#include "framework/modelobject.h"
#include "framework/signals.h"
#include "framework/zonetable.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

int ThrownCode(const std::function<void()>& call) {
    try {
        call();
    } catch (int code) {
        return code;
    }
    return 0;
}

enum class Format { Text, Double, Float };
const char* FormatName(Format f) { return f == Format::Text ? "text" : f == Format::Double ? "double" : "float"; }

std::string LittleEndian(const std::vector<double>& values, bool doubles) {
    std::string bytes;
    for (double v : values) {
        unsigned char b[8];
        if (doubles) {
            uint64_t bits;
            std::memcpy(&bits, &v, 8);
            for (int k = 0; k < 8; ++k) b[k] = static_cast<unsigned char>(bits >> (8 * k));
            bytes.append(reinterpret_cast<char*>(b), 8);
        } else {
            const float f = static_cast<float>(v);
            uint32_t bits;
            std::memcpy(&bits, &f, 4);
            for (int k = 0; k < 4; ++k) b[k] = static_cast<unsigned char>(bits >> (8 * k));
            bytes.append(reinterpret_cast<char*>(b), 4);
        }
    }
    return bytes;
}

// A model object on a 4 x 3 grid whose corner and cell size are not exact
// in single precision; the working directory is the test's own directory
// (the instance log lands there).
class GridFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        oldDirectory = std::filesystem::current_path();
        std::filesystem::current_path(dir.path());
        writer = std::make_unique<DiagnosticsWriter>(dir.file("diag.xml"), DiagDebug, console);
        table = CreateGridTable();
        model = std::make_unique<modelobject>(writer.get(), "", false, false, "", "");
        model->ModuleName = "gridcheck";
        model->GridTable = table.get();
        Geometry(4, 3);
    }
    void TearDown() override {
        for (auto& [g, rows, cols] : grids) model->free_matrix(g, 1, rows, 1, cols);
        for (auto& [s, rows] : stacks) model->free_matrix3d(s, 1, rows);
        std::filesystem::current_path(oldDirectory);
    }
    void Geometry(int cols, int rows) {
        model->NCols = cols;
        model->NRows = rows;
        model->XllCorner = 12345.678;
        model->YllCorner = 5234567.99;
        model->CellSize = 0.1;
        model->NoData = -9999;
    }
    double** NewGrid(double value = 0) {
        double** g = model->matrix(1, model->NRows, 1, model->NCols, model->NRows);
        for (int i = 1; i <= model->NRows; ++i)
            for (int j = 1; j <= model->NCols; ++j) g[i][j] = value;
        grids.push_back({g, model->NRows, model->NCols});
        return g;
    }
    double** GridOf(const std::vector<std::vector<double>>& rows) {
        double** g = NewGrid();
        for (size_t i = 0; i < rows.size(); ++i)
            for (size_t j = 0; j < rows[i].size(); ++j) g[i + 1][j + 1] = rows[i][j];
        return g;
    }
    double** Read(const std::string& name, int fillMode = 0, double fillValue = 0, bool neighbours = false) {
        double** g = nullptr;
        model->ReadGrid(name, g, fillMode, true, true, fillValue, neighbours);
        grids.push_back({g, model->NRows, model->NCols});
        return g;
    }
    GridStack NewStack(int levels) {
        GridStack s = model->matrix3d(1, model->NRows, 1, model->NCols, levels, model->NRows);
        stacks.push_back({s, model->NRows});
        return s;
    }
    int ReadStack(const std::string& name, GridStack* s) {
        *s = nullptr;
        const int n = model->ReadStack(name, *s);
        stacks.push_back({*s, model->NRows});
        return n;
    }
    void Write(Format f, const std::string& name, double** g, bool masked = false) {
        if (masked) model->WriteGridMasked(name, g, f == Format::Text, f == Format::Double);
        else model->WriteGrid(name, g, f == Format::Text, f == Format::Double);
    }
    void ExpectSameGrid(double** expected, double** actual) {
        for (int i = 1; i <= model->NRows; ++i)
            for (int j = 1; j <= model->NCols; ++j)
                EXPECT_EQ(std::memcmp(&expected[i][j], &actual[i][j], sizeof(double)), 0)
                    << "row " << i << " col " << j << ": " << expected[i][j] << " vs " << actual[i][j];
    }
    std::string TextHeader(const std::string& cols = "4", const std::string& rows = "3",
                           const std::string& xll = "12345.678", const std::string& yll = "5234567.99",
                           const std::string& cs = "0.1", const std::string& nodata = "-9999") {
        return "ncols " + cols + "\nnrows " + rows + "\nxllcorner " + xll + "\nyllcorner " + yll + "\ncellsize " +
               cs + "\nNODATA_value " + nodata + "\n";
    }
    std::string Console() const { return console.str(); }

    TempDir dir;
    std::filesystem::path oldDirectory;
    std::ostringstream console;
    std::unique_ptr<DiagnosticsWriter> writer;
    std::unique_ptr<MemoryGrid[]> table;
    std::unique_ptr<modelobject> model;
    std::vector<std::tuple<double**, int, int>> grids;
    std::vector<std::pair<GridStack, int>> stacks;
    RowExtent extents[4] = {{}, {2, 3}, {1, 4}, {0, -1}};
};

TEST_F(GridFilesTest, GridsReadBackIdenticallyInEveryFormat) {
    const double third = 1.0 / 3;
    for (Format f : {Format::Text, Format::Double, Format::Float}) {
        for (bool masked : {false, true}) {
            SCOPED_TRACE(std::string(FormatName(f)) + (masked ? " masked" : ""));
            double** g;
            if (f == Format::Float) {
                g = GridOf({{0.1f, static_cast<float>(third), -0.0, 1e-40f}, {3.4e38f, -9999, 7, 12345.5f}, {-1.5f, 2e-3f, 0, 1}});
            } else {
                g = GridOf({{0.1 + 0.2, third, -0.0, 1e-310},
                            {2.5e300, -9999, 7, 123456789.123456789},
                            {-1.5, 2e-3, std::nextafter(1.0, 2.0), 1}});
            }
            Write(f, "grid.out", g, masked);
            double** back = Read("grid.out");
            ExpectSameGrid(g, back);
            EXPECT_EQ(model->GridHeader[0], 4);
            EXPECT_EQ(model->GridHeader[1], 3);
            EXPECT_EQ(model->GridHeader[2], 12345);
            // In single precision the corner 5234567.99 becomes 5234568.
            EXPECT_EQ(model->GridHeader[3], f == Format::Float ? 5234568 : 5234567);
        }
    }
}

TEST_F(GridFilesTest, TextGridUsesTheShortestExactNumbers) {
    model->WriteGrid("g.asc", GridOf({{0.1, 1e21, -9999, 2.5}}), true, false);
    const std::string text = ReadFile(dir.file("g.asc"));
    EXPECT_EQ(text.substr(0, text.find("0.1\t")),
              "ncols\t4\nnrows\t3\nxllcorner\t12345.678\nyllcorner\t5234567.99\ncellsize\t0.1\nnodata_value\t-9999\n");
    EXPECT_NE(text.find("0.1\t1e+21\t-9999\t2.5\n"), std::string::npos) << text;
}

TEST_F(GridFilesTest, BinaryHeaderCarriesWeightedStatistics) {
    model->RowExtents = extents;
    model->RelCellArea = NewGrid(1);
    model->RelCellArea[2][4] = 2;
    double** g = GridOf({{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}});
    const double n = 7, sum = 39, squares = 251;
    const double expected[6] = {n, 2, 8, sum, sum / n, std::sqrt((squares - sum * sum / n) / (n - 1))};
    for (Format f : {Format::Double, Format::Float}) {
        SCOPED_TRACE(FormatName(f));
        Write(f, "stats.bin", g);
        const std::string bytes = ReadFile(dir.file("stats.bin"));
        const int width = f == Format::Double ? 8 : 4;
        ASSERT_EQ(bytes.size(), static_cast<size_t>(width) * (12 + 12));
        for (int k = 0; k < 6; ++k) {
            const std::string want = LittleEndian({expected[k]}, f == Format::Double);
            EXPECT_EQ(bytes.substr((6 + k) * width, width), want) << "header value " << k + 7;
        }
        // A row without valid cells is written as nodata, the caller's grid is left alone.
        EXPECT_EQ(bytes.substr((12 + 8) * width, width), LittleEndian({-9999}, f == Format::Double));
        EXPECT_EQ(g[3][1], 9);
        double** back = Read("stats.bin");
        EXPECT_EQ(back[3][1], -9999);
        EXPECT_EQ(back[1][1], 1);  // outside the valid columns, still written
    }
}

TEST_F(GridFilesTest, MaskedWriterClearsCellsOutsideTheRowExtents) {
    model->RowExtents = extents;
    for (Format f : {Format::Text, Format::Double}) {
        SCOPED_TRACE(FormatName(f));
        double** g = GridOf({{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}});
        Write(f, "masked.out", g, true);
        ExpectSameGrid(GridOf({{-9999, 2, 3, -9999}, {5, 6, 7, 8}, {-9999, -9999, -9999, -9999}}), g);
        ExpectSameGrid(g, Read("masked.out"));
    }
}

TEST_F(GridFilesTest, StacksReadBackIdenticallyInEveryFormat) {
    for (Format f : {Format::Text, Format::Double, Format::Float}) {
        SCOPED_TRACE(FormatName(f));
        GridStack s = NewStack(2);
        for (int i = 1; i <= 3; ++i)
            for (int j = 1; j <= 4; ++j)
                for (int l = 0; l <= 2; ++l) {
                    const double v = i * 100 + j * 10 + l + 0.1;
                    s[i][j][l] = f == Format::Float ? static_cast<float>(v) : v / 3;
                }
        model->WriteStack("stack.out", s, 2, f == Format::Text, f == Format::Double);
        GridStack back;
        ASSERT_EQ(ReadStack("stack.out", &back), 2);
        EXPECT_EQ(model->GridHeader[11], 2);
        for (int i = 1; i <= 3; ++i)
            for (int j = 1; j <= 4; ++j)
                for (int l = 0; l <= 2; ++l) EXPECT_EQ(back[i][j][l], s[i][j][l]) << i << "," << j << "," << l;
    }
    model->WriteStack("t.stk", NewStack(2), 2, true, false);
    const std::string text = ReadFile(dir.file("t.stk"));
    EXPECT_EQ(text.substr(0, text.find("average")), "stack_ncols\t4\nnrows\t3\nxll\t12345.678\nyll\t5234567.99\ncs\t"
                                                    "0.1\nnodata\t-9999\ncnt\t0\nmin\t0\nmax\t0\nsum\t0\n");
}

// Text grids and stacks are formatted on several threads in batches of rows:
// the files must be those of one thread, and read back exactly. The stack
// takes two batches, the last one short.
TEST_F(GridFilesTest, TextFilesAreTheSameOnAnyThreadCount) {
    Geometry(300, 250);
    double** g = NewGrid();
    GridStack s = NewStack(3);
    for (int i = 1; i <= 250; ++i)
        for (int j = 1; j <= 300; ++j) {
            g[i][j] = (i % 7 == 0 && j % 5 == 0) ? -9999 : i * 1.1 / j + j;
            for (int l = 0; l <= 3; ++l) s[i][j][l] = (i + l) / 3.0 - j * 0.01;
        }
    const int saved = omp_get_max_threads();
    std::string grid[2], stack[2];
    for (int k = 0; k < 2; ++k) {
        omp_set_num_threads(k == 0 ? 1 : 4);
        Write(Format::Text, "g" + std::to_string(k) + ".asc", g);
        model->WriteStack("s" + std::to_string(k) + ".stk", s, 3, true, false);
        grid[k] = ReadFile(dir.file("g" + std::to_string(k) + ".asc"));
        stack[k] = ReadFile(dir.file("s" + std::to_string(k) + ".stk"));
    }
    omp_set_num_threads(saved);
    ASSERT_FALSE(grid[0].empty());
    EXPECT_TRUE(grid[0] == grid[1]);
    EXPECT_TRUE(stack[0] == stack[1]);
    EXPECT_EQ(std::count(grid[0].begin(), grid[0].end(), '\n'), 6 + 250);
    ExpectSameGrid(g, Read("g1.asc"));
    GridStack back;
    ASSERT_EQ(ReadStack("s1.stk", &back), 3);
    for (int i = 1; i <= 250; i += 37)
        for (int j = 1; j <= 300; j += 41)
            for (int l = 0; l <= 3; ++l) ASSERT_EQ(back[i][j][l], s[i][j][l]) << i << "," << j << "," << l;
}

// Rows come out in order whichever thread formats them, one call of `put` a
// batch; a row that cannot be formatted stops the writing at its batch.
TEST(FormatRowsInOrder, KeepsRowOrderAndStopsAtAFailedBatch) {
    const int saved = omp_get_max_threads();
    omp_set_num_threads(4);
    std::string out, expected;
    int puts = 0;
    for (long i = 1; i <= 1000; ++i) expected += std::to_string(i) + "\n";
    gridio::FormatRowsInOrder(
        1000, 1000, [](long i, std::string& text) { text += std::to_string(i) + "\n"; },
        [&](const std::string& rows) {
            out += rows;
            ++puts;
        });
    EXPECT_EQ(out, expected);
    EXPECT_EQ(puts, 4);  // 262 rows a batch

    out.clear();
    EXPECT_THROW(gridio::FormatRowsInOrder(
                     1000, 1000,
                     [](long i, std::string& text) {
                         if (i == 300) throw std::bad_alloc();
                         text += std::to_string(i) + "\n";
                     },
                     [&](const std::string& rows) { out += rows; }),
                 std::bad_alloc);
    EXPECT_EQ(out, expected.substr(0, expected.find("\n263\n") + 1));
    omp_set_num_threads(saved);
}

TEST_F(GridFilesTest, SmallestFloatStackIsReadable) {
    Geometry(1, 1);
    GridStack s = NewStack(0);
    s[1][1][0] = 4.5;
    model->WriteStack("one.stk", s, 0, false, false);
    EXPECT_EQ(ReadFile(dir.file("one.stk")).size(), 52u);
    GridStack back;
    EXPECT_EQ(ReadStack("one.stk", &back), 0);
    EXPECT_EQ(back[1][1][0], 4.5);
}

TEST_F(GridFilesTest, MeasuresMustMatchTheModel) {
    const std::string body = "1 2 3 4\n5 6 7 8\n9 10 11 12\n";
    struct Case {
        std::string header;
        int code;
    };
    const Case cases[] = {
        {TextHeader("5"), 24},
        {TextHeader("4", "2"), 24},
        {TextHeader("4.9"), 0},  // the floor of the counts is compared
        {TextHeader("4", "3", "12346.1"), 24},
        {TextHeader("4", "3", "12345.001"), 0},  // only the floor of the corner counts
        {TextHeader("4", "3", "12345.678", "5234566.99"), 24},
        {TextHeader("4", "3", "12345.678", "5234567.99", "0.10000001"), 24},
        {TextHeader("4", "3", "12345.678", "5234567.99", "0.1", "0"), 24},
        {TextHeader("4", "3", "12345.678", "5234567.99", "0.1", "nan"), 22},  // no number: unreadable
        {TextHeader("4", "3", "12345.678", "5234567.99", "0.1", "-99999"), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.header);
        WriteFile(dir.file("m.asc"), c.header + body);
        EXPECT_EQ(ThrownCode([&] { Read("m.asc"); }), c.code) << Console();
    }
    EXPECT_NE(Console().find("m.asc has not the specified grid measures (in gridcheck)!\n"), std::string::npos);

    // A file nodata value below the model's is kept in the cells.
    WriteFile(dir.file("low.asc"), TextHeader("4", "3", "12345.678", "5234567.99", "0.1", "-99999") +
                                       "-99999 2 3 4\n5 6 7 8\n9 10 11 12\n");
    EXPECT_EQ(Read("low.asc")[1][1], -99999);

    // Binary grids and stacks are held to the same measures.
    model->WriteGrid("b.bin", GridOf({{1}}), false, true);
    model->WriteStack("s.stk", NewStack(1), 1, true, false);
    model->CellSize = 0.2;
    EXPECT_EQ(ThrownCode([&] { Read("b.bin"); }), 24);
    GridStack s;
    EXPECT_EQ(ThrownCode([&] { ReadStack("s.stk", &s); }), 24);
    model->CellSize = 0.1;
    model->XllCorner = 12345.6;  // a stack's corner must match exactly
    EXPECT_EQ(ThrownCode([&] { ReadStack("s.stk", &s); }), 24);
    EXPECT_NE(Console().find("s.stk has not the specified grid measures (in gridcheck)\n"), std::string::npos);
}

TEST_F(GridFilesTest, DamagedFilesEndTheRunWithCode22) {
    model->SetGifGeoreference(nullptr, 12345, 5234567, 0.1);  // so that a broken GIF reaches the decoder
    const std::string body = "1 2 3 4\n5 6 7 8\n9 10 11 12\n";
    model->WriteGrid("whole.bin", GridOf({{1, 2, 3, 4}}), false, true);
    const std::string whole = ReadFile(dir.file("whole.bin"));
    model->WriteStack("whole.stk", NewStack(2), 2, false, true);
    const std::string wholeStack = ReadFile(dir.file("whole.stk"));
    std::vector<double> stackHeader = {4, 3, 12345.678, 5234567.99, 0.1, -9999, 0, 0, 0, 0, 0, 1e12};

    struct Case {
        const char* what;
        std::string content;
        bool stack;
    };
    const Case cases[] = {
        {"empty file", "", false},
        {"shorter than any header", "\x01\x02\x03\x04\x05", false},
        {"binary mark other than -9999",
         LittleEndian({4, 3, 12345.678, 5234567.99, 0.1, -9998, 0, 0, 0, 0, 0, 0}, true) + std::string(96, '\0'),
         false},
        {"upper-case text header", "NCOLS 4\n" + TextHeader().substr(8) + body, false},
        {"truncated binary rows", whole.substr(0, whole.size() - 8), false},
        {"float header cut after six values", LittleEndian({4, 3, 12345.678, 5234567.99, 0.1, -9999}, false), false},
        {"absurd column count", TextHeader("1e30") + body, false},
        {"negative row count", TextHeader("4", "-3") + body, false},
        {"column count not a number", TextHeader("nan") + body, false},
        {"letters among the values", TextHeader() + "1 2 3 4\n5 x 7 8\n9 10 11 12\n", false},
        {"too few values", TextHeader() + "1 2 3 4\n5 6\n", false},
        {"value out of range", TextHeader() + "1 2 3 4\n5 6 7 8\n9 10 11 1e999\n", false},
        {"GIF image cut after its signature", "GIF89a" + std::string(20, '\0'), false},
        {"absurd level count", LittleEndian(stackHeader, true) + std::string(96, '\0'), true},
        {"negative level count", "stack_ncols 4\nnrows 3\nxll 12345.678\nyll 5234567.99\ncs 0.1\nnodata -9999\n"
                                 "cnt 0\nmin 0\nmax 0\nsum 0\naverage 0\nnumlevels -1\n",
         true},
        {"text stack cut short", "stack_ncols 4\nnrows 3\nxll 12345.678\nyll 5234567.99\ncs 0.1\nnodata -9999\n"
                                 "cnt 0\nmin 0\nmax 0\nsum 0\naverage 0\nnumlevels 0\n1 2 3 4 5 6 7 8 9 10 11 x\n",
         true},
        {"truncated binary stack", wholeStack.substr(0, wholeStack.size() - 1), true},
        {"stack of unknown format", std::string(200, 'z'), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(dir.file("bad"), c.content);
        GridStack s;
        EXPECT_EQ(ThrownCode([&] {
                      if (c.stack) ReadStack("bad", &s);
                      else Read("bad");
                  }),
                  22);
    }
    const std::string out = Console();
    for (const char* text : {"could not recognise file format (neither ascii, nor single, double, or GIF) for ",
                             "error reading double grid ", "error reading double value #7 from the header of ",
                             "in ASCII-Format in row 2, col 2", "error reading GIF file ",
                             "error reading ascii stack ", "at row 3, column 4, level 0"}) {
        EXPECT_NE(out.find(text), std::string::npos) << text;
    }

    double** none = nullptr;
    WriteFile(dir.file("ok.asc"), TextHeader() + body);
    EXPECT_EQ(ThrownCode([&] { model->ReadGrid("ok.asc", none, 0, false, false, 0, false); }), 22);
    EXPECT_NE(Console().find("no memory allocated (pointer given to function is NULL)"), std::string::npos);
}

// A value that is not a finite number is never read as a cell value: it
// would end up in every statistic and output. Every grid and stack format
// refuses it with code 22 and names the file, the cell and the value.
TEST_F(GridFilesTest, NonFiniteValuesEndTheRunWithCode22) {
    const std::string before = "1 2 3 4\n5 6 7 8\n9 10 ";
    const std::vector<double> header = {4, 3, 12345.678, 5234567.99, 0.1, -9999, 0, 0, 0, 0, 0, 0};
    auto binaryGrid = [&](double value, bool doubles) {
        std::vector<double> values = header;
        for (double v : {1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0, 9.0, 10.0}) values.push_back(v);
        values.push_back(value);
        values.push_back(12);
        return LittleEndian(values, doubles);
    };
    std::vector<double> stackHeader = header;
    stackHeader[11] = 0;
    auto binaryStack = [&](double value) {
        std::vector<double> values = stackHeader;
        for (int k = 1; k <= 12; ++k) values.push_back(k == 7 ? value : k);
        return LittleEndian(values, true);
    };
    const std::string textStack = "stack_ncols 4\nnrows 3\nxll 12345.678\nyll 5234567.99\ncs 0.1\nnodata -9999\n"
                                  "cnt 0\nmin 0\nmax 0\nsum 0\naverage 0\nnumlevels 0\n";
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* what;
        std::string content;
        bool stack;
        const char* message;
    };
    const Case cases[] = {
        {"text nan", TextHeader() + before + "nan 12\n", false, "in row 3, col 3: \"nan\" is no finite number"},
        {"text inf", TextHeader() + before + "inf 12\n", false, "in row 3, col 3: \"inf\" is no finite number"},
        {"text -inf", TextHeader() + before + "-inf 12\n", false, "\"-inf\" is no finite number"},
        {"text Infinity", TextHeader() + before + "Infinity 12\n", false, "\"Infinity\" is no finite number"},
        {"text NAN", TextHeader() + before + "NAN 12\n", false, "\"NAN\" is no finite number"},
        {"double nan", binaryGrid(nan, true), false, "in row 3, col 3 is no finite number"},
        {"double -inf", binaryGrid(-inf, true), false, "the value -inf in row 3, col 3"},
        {"float inf", binaryGrid(inf, false), false, "the value inf in row 3, col 3"},
        {"text stack nan", textStack + "1 2 3 4 5 6 nan 8 9 10 11 12\n", true,
         "at row 2, column 3, level 0: \"nan\" is no finite number"},
        {"binary stack inf", binaryStack(inf), true, "at row 2, column 3, level 0: the value inf"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(dir.file("odd"), c.content);
        console.str("");
        GridStack st;
        EXPECT_EQ(ThrownCode([&] {
                      if (c.stack) ReadStack("odd", &st);
                      else Read("odd");
                  }),
                  22);
        EXPECT_NE(Console().find("odd"), std::string::npos) << Console();
        EXPECT_NE(Console().find(c.message), std::string::npos) << Console();
    }
}

// Lines ended by a carriage return alone are refused as every other reader
// of the model refuses them; CR LF line ends read as LF ones.
TEST_F(GridFilesTest, CarriageReturnLineEnds) {
    std::string text = TextHeader() + "1 2 3 4\n5 6 7 8\n9 10 11 12\n";
    std::string crlf, cr;
    for (char ch : text) {
        crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
        cr += ch == '\n' ? '\r' : ch;
    }
    WriteFile(dir.file("crlf.asc"), crlf);
    ExpectSameGrid(GridOf({{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}}), Read("crlf.asc"));

    WriteFile(dir.file("cr.asc"), cr);
    EXPECT_EQ(ThrownCode([&] { Read("cr.asc"); }), 22);
    EXPECT_NE(Console().find("cr.asc: lines ended by a carriage return alone are not read"), std::string::npos)
        << Console();
    // One such line end among proper ones is refused as well.
    WriteFile(dir.file("mixed.asc"), TextHeader() + "1 2 3 4\n5 6 7 8\r9 10 11 12\n");
    EXPECT_EQ(ThrownCode([&] { Read("mixed.asc"); }), 22);

    std::string stack = "stack_ncols 4\rnrows 3\rxll 12345.678\ryll 5234567.99\rcs 0.1\rnodata -9999\r"
                        "cnt 0\rmin 0\rmax 0\rsum 0\raverage 0\rnumlevels 0\r1 2 3 4 5 6 7 8 9 10 11 12\r";
    WriteFile(dir.file("cr.stk"), stack);
    GridStack st;
    EXPECT_EQ(ThrownCode([&] { ReadStack("cr.stk", &st); }), 22);
}

// A large text grid or stack is cut into pieces that threads parse at once.
// Whatever the thread count, the values are those of the file and a damaged
// file names the same first bad cell (not a later one that another thread
// met first), or the carriage return that a reader going cell by cell would
// have met before it.
TEST_F(GridFilesTest, LargeTextFilesReportTheFirstBadCellOnAnyThreadCount) {
    Geometry(300, 250);
    std::string body;
    for (int i = 1; i <= 250; ++i) {
        for (int j = 1; j <= 300; ++j) body += std::to_string(i * 1000 + j) + (j < 300 ? " " : "\n");
    }
    const std::string header = TextHeader("300", "250");
    // Offset of cell (row, col) in the body.
    auto at = [&](int row, int col) {
        size_t p = 0;
        for (int k = 1; k < (row - 1) * 300 + col; ++k) p = body.find_first_of(" \n", p) + 1;
        return p;
    };
    auto replaced = [&](std::string text, int row, int col, const std::string& token) {
        const size_t p = at(row, col);
        return text.replace(p, text.find_first_of(" \n", p) - p, token);
    };
    auto crAfter = [&](std::string text, int row) {
        const size_t p = at(row, 300);
        text[text.find('\n', p)] = '\r';
        return text;
    };
    const std::string lone = "lines ended by a carriage return alone are not read";
    struct Case {
        const char* what;
        std::string body;
        const char* message;  // nullptr: the grid reads
    };
    const Case cases[] = {
        {"whole", body, nullptr},
        {"two bad cells far apart", replaced(replaced(body, 231, 7, "oops"), 17, 250, "1.5.5"),
         "in ASCII-Format in row 17, col 250: \"1.5.5\" is no finite number"},
        {"bad cell in the last row", replaced(body, 250, 300, "inf"),
         "in ASCII-Format in row 250, col 300: \"inf\" is no finite number"},
        {"cut in the middle of row 180", body.substr(0, at(180, 42)), "in ASCII-Format in row 180, col 42"},
        {"lone carriage return before the bad cell", replaced(crAfter(body, 12), 200, 3, "x"), lone.c_str()},
        {"lone carriage return after the bad cell", replaced(crAfter(body, 220), 200, 3, "x"),
         "in ASCII-Format in row 200, col 3: \"x\" is no finite number"},
        {"carriage return at the end, after the last cell", body.substr(0, body.size() - 1) + "\r", nullptr},
        {"carriage return at the end of a short file", body.substr(0, at(250, 299)) + "\r", lone.c_str()},
        {"more values than cells", body + "1 2 3 x\n", nullptr},
    };
    const int saved = omp_get_max_threads();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(dir.file("big.asc"), header + c.body);
        std::string messages[2];
        for (int k = 0; k < 2; ++k) {
            omp_set_num_threads(k == 0 ? 1 : 4);
            console.str("");
            double** g = nullptr;
            EXPECT_EQ(ThrownCode([&] { g = Read("big.asc"); }), c.message ? 22 : 0);
            messages[k] = Console();
            if (!c.message) {
                ASSERT_NE(g, nullptr);
                for (int i = 1; i <= 250; ++i)
                    for (int j = 1; j <= 300; ++j) ASSERT_EQ(g[i][j], i * 1000 + j) << i << "," << j;
            }
        }
        if (c.message) {
            EXPECT_NE(messages[1].find(c.message), std::string::npos) << messages[1];
        }
        EXPECT_EQ(messages[0], messages[1]);
    }

    // A text stack of 2 levels: values cell by cell, the levels of a cell
    // in a row.
    std::string stack = "stack_ncols 300\nnrows 250\nxll 12345.678\nyll 5234567.99\ncs 0.1\nnodata -9999\n"
                        "cnt 0\nmin 0\nmax 0\nsum 0\naverage 0\nnumlevels 1\n";
    for (int i = 1; i <= 250; ++i)
        for (int j = 1; j <= 300; ++j) stack += std::to_string(i * 1000 + j) + " " + std::to_string(-j) + "\n";
    WriteFile(dir.file("big.stk"), stack);
    omp_set_num_threads(4);
    GridStack st;
    ASSERT_EQ(ReadStack("big.stk", &st), 1);
    for (int i = 1; i <= 250; i += 13)
        for (int j = 1; j <= 300; j += 7) {
            ASSERT_EQ(st[i][j][0], i * 1000 + j);
            ASSERT_EQ(st[i][j][1], -j);
        }
    const size_t cell = stack.find("\n201077 ") + 1;
    stack.replace(stack.find(' ', cell) + 1, 3, "nan");
    stack.replace(stack.find("\n240001 ") + 1, 6, "-nan()");
    WriteFile(dir.file("big.stk"), stack);
    console.str("");
    EXPECT_EQ(ThrownCode([&] { ReadStack("big.stk", &st); }), 22);
    EXPECT_NE(Console().find("at row 201, column 77, level 1: \"nan\" is no finite number"), std::string::npos)
        << Console();
    omp_set_num_threads(saved);
}

TEST_F(GridFilesTest, ReadIntoAGivenMatrix) {
    WriteFile(dir.file("ok.asc"), TextHeader() + "1 2 3 4\n5 6 7 8\n9 10 11 12\n99 99\n");
    double** g = NewGrid(-1);
    model->ReadGrid("ok.asc", g, 0, false, false, 0, false);
    ExpectSameGrid(GridOf({{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}}), g);
}

class FillTest : public GridFilesTest {
protected:
    void SetUp() override {
        GridFilesTest::SetUp();
        Geometry(5, 5);
        double** zone = NewGrid(1);
        zone[1][1] = -9999;
        model->StoreGrid(1, "basin/zones.asc", zone, nullptr, 1, "[zone_grid]", 0, 1, 5);
    }
    std::string Body(const std::vector<std::string>& rows) {
        std::string text = TextHeader("5", "5");
        for (const auto& r : rows) text += r + "\n";
        return text;
    }
};

TEST_F(FillTest, HolesInsideTheZoneGridAreFilledFromNeighbours) {
    WriteFile(dir.file("holes.asc"), Body({"9 -9999 2 3 4", "5 -9999 6 7 8", "1 1 1 1 1", "1 1 1 1 1", "1 1 1 1 1"}));
    double** g = Read("holes.asc", 1, 0, true);
    // (1,1) lies outside the zone grid; (1,2) takes the rightmost value of row
    // 1 around it; (2,2) finds nothing above it in the grid as read and takes
    // the rightmost value of its own row.
    EXPECT_EQ(g[1][1], -9999);
    EXPECT_EQ(g[1][2], 2);
    EXPECT_EQ(g[2][2], 6);
    EXPECT_EQ(g[3][3], 1);
    const std::string out = Console();
    EXPECT_NE(out.find("y: 1 x: 2in holes.asc: -9999 replaced by 2\n"), std::string::npos) << out;
    EXPECT_NE(out.find("In holes.asc: 2 nodata values replaced!"), std::string::npos) << out;
    const std::string log = ReadFile(dir.file("modell_0.log"));
    EXPECT_NE(log.find("y: 1 x: 2  in holes.asc -9999.000000 replaced by 2.000000!\n"
                       "y: 2 x: 2  in holes.asc -9999.000000 replaced by 6.000000!\n"
                       "in holes.asc: 2 nodata values replaced!\n\n"),
              std::string::npos)
        << log;
}

TEST_F(FillTest, FileNodataBecomesTheModelsAndConstantsFillHoles) {
    WriteFile(dir.file("low.asc"), TextHeader("5", "5", "12345.678", "5234567.99", "0.1", "-99999") +
                                       "7 -99999 1 1 1\n1 1 1 1 1\n1 1 1 1 1\n1 1 1 1 1\n1 1 1 1 -99999\n");
    for (int mode : {1, 2}) {
        SCOPED_TRACE(mode);
        double** g = Read("low.asc", mode, 42.5, mode == 2);
        EXPECT_EQ(g[1][1], -9999);
        EXPECT_EQ(g[1][2], 42.5);
        EXPECT_EQ(g[5][5], 42.5);
    }
    double** unfilled = Read("low.asc");
    EXPECT_EQ(unfilled[1][1], 7);
    EXPECT_EQ(unfilled[1][2], -99999);
}

TEST_F(FillTest, TooBigHoleEndsTheRunWithCode25) {
    const std::string empty = "-9999 -9999 -9999 -9999 -9999";
    WriteFile(dir.file("void.asc"), Body({empty, empty, empty, empty, empty}));
    EXPECT_EQ(ThrownCode([&] { Read("void.asc", 1, 0, true); }), 25);
    EXPECT_NE(Console().find("In void.asc is a too big hole at x/y = 1/2!"), std::string::npos) << Console();
    EXPECT_NE(ReadFile(dir.file("modell_0.log")).find("In void.asc is a too big hole at x/y = 1/2\n!\n"),
              std::string::npos);
    // Without the neighbour search the fill value closes it.
    EXPECT_EQ(Read("void.asc", 1, 3, false)[4][4], 3);
}

TEST_F(GridFilesTest, MissingFileIsRetriedThenCode21) {
    EXPECT_EQ(ThrownCode([&] { Read("absent.asc"); }), 21);
    const std::string out = Console();
    for (int n = 5; n >= 1; --n) {
        EXPECT_NE(out.find("error opening absent.asc. Will try again in 200 ms... (retriesleft = " +
                           std::to_string(n) + ")"),
                  std::string::npos);
    }
    EXPECT_NE(out.find("still error opening absent.asc - no retry."), std::string::npos);
    GridStack s;
    EXPECT_EQ(ThrownCode([&] { ReadStack("absent.stk", &s); }), 21);
}

// A console that runs an action once the text written to it holds a marker.
class ConsoleTrigger : public std::streambuf {
public:
    ConsoleTrigger(std::string marker, std::function<void()> action)
        : Marker(std::move(marker)), Action(std::move(action)) {}
    std::string Text;

protected:
    int overflow(int c) override {
        if (c != traits_type::eof()) Text += static_cast<char>(c);
        Check();
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        Text.append(s, static_cast<size_t>(n));
        Check();
        return n;
    }

private:
    void Check() {
        if (!Done && Text.find(Marker) != std::string::npos) {
            Done = true;
            Action();
        }
    }
    std::string Marker;
    std::function<void()> Action;
    bool Done = false;
};

TEST_F(GridFilesTest, FileThatAppearsDuringTheRetriesIsRead) {
    const std::string content = TextHeader() + "1 2 3 4\n5 6 7 8\n9 10 11 12\n";
    // The file appears when the reader announces its first retry.
    ConsoleTrigger trigger("(retriesleft = 5)", [&] {
        WriteFile(dir.file("late.tmp"), content);
        std::filesystem::rename(dir.file("late.tmp"), dir.file("late.asc"));
    });
    std::ostream lateConsole(&trigger);
    DiagnosticsWriter lateWriter(dir.file("late.xml"), DiagDebug, lateConsole);
    model->Writer = &lateWriter;
    double** g = nullptr;
    const int code = ThrownCode([&] { g = Read("late.asc"); });
    model->Writer = writer.get();
    ASSERT_EQ(code, 0) << trigger.Text;
    EXPECT_EQ(g[3][4], 12);
    EXPECT_NE(trigger.Text.find("(retriesleft = 5)"), std::string::npos);
    EXPECT_EQ(trigger.Text.find("(retriesleft = 4)"), std::string::npos);
}

TEST_F(GridFilesTest, RelativeNamesGetTheConfiguredDirectories) {
    std::filesystem::create_directory(dir.file("in"));
    // Directory names far beyond any fixed name buffer.
    std::string out = dir.path();
    for (int k = 0; k < 6; ++k) {
        out += "/" + std::string(250, static_cast<char>('a' + k));
        std::filesystem::create_directory(out);
    }
    out += "/";
    ASSERT_GT(out.size(), 1500u);
    model->InputDirectory = dir.file("in/");
    model->OutputDirectory = out;

    double** g = GridOf({{1, 2, 3, 4}});
    model->WriteGrid("g.asc", g, true, false);
    model->WriteStack("s.stk", NewStack(1), 1, false, true);
    ASSERT_TRUE(FileExists(out + "g.asc"));
    ASSERT_TRUE(FileExists(out + "s.stk"));
    std::filesystem::copy_file(out + "g.asc", dir.file("in/g.asc"));
    ExpectSameGrid(g, Read("g.asc"));
    ExpectSameGrid(g, Read(out + "g.asc"));  // absolute names stay as they are
    GridStack s;
    EXPECT_EQ(ReadStack(out + "s.stk", &s), 1);

    std::string name = "x.asc";
    PrefixDirectory("", name);
    EXPECT_EQ(name, "x.asc");
    name = "~/x.asc";
    PrefixDirectory("/data/", name);
    EXPECT_EQ(name, "~/x.asc");
}

TEST_F(GridFilesTest, WriteFailuresAreReported) {
    EXPECT_EQ(ThrownCode([&] { model->WriteGrid(dir.file("no/such/dir/g.asc"), NewGrid(), true, false); }), 26);
    EXPECT_NE(Console().find(" for writing in text mode."), std::string::npos);
    EXPECT_EQ(ThrownCode([&] { model->WriteStack(dir.file("no/such/s.stk"), NewStack(0), 0, false, true); }), 26);
    if (FileExists("/dev/full")) {
        const int code = ThrownCode([&] { model->WriteGrid("/dev/full", NewGrid(), false, true); });
        EXPECT_TRUE(code == 18 || code == 27) << code;
        EXPECT_NE(ThrownCode([&] { model->WriteGrid("/dev/full", NewGrid(), true, false); }), 0);
        EXPECT_NE(ThrownCode([&] { model->WriteStack("/dev/full", NewStack(1), 1, true, false); }), 0);
    }
}

void MarkerHandler(int) {}

TEST_F(GridFilesTest, ReadersRestoreSigintAndWritersArmTheHandler) {
    struct sigaction marker {}, now {};
    marker.sa_handler = MarkerHandler;
    sigemptyset(&marker.sa_mask);
    sigaction(SIGINT, &marker, nullptr);

    WriteFile(dir.file("ok.asc"), TextHeader() + "1 2 3 4\n5 6 7 8\n9 10 11 12\n");
    Read("ok.asc");
    WriteFile(dir.file("bad.asc"), "zzzz");
    EXPECT_EQ(ThrownCode([&] { Read("bad.asc"); }), 22);
    sigaction(SIGINT, nullptr, &now);
    EXPECT_EQ(now.sa_handler, &MarkerHandler);

    model->WriteGrid("w.asc", NewGrid(), true, false);
    sigaction(SIGINT, nullptr, &now);
    EXPECT_EQ(now.sa_handler, &OnCtrlC);

    signal(SIGINT, SIG_DFL);
}

}  // namespace
