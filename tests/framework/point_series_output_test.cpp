// Special output: point time series of grids and stacks of the grid table,
// from the brace blocks of "[special_output]" to the appended rows.

#include "framework/teilmod_pointseries.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/statistics_table.h"
#include "framework/teilmod_pointseries_text.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

using namespace testsupport;
namespace so = special_output;

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    std::string field;
    while (std::getline(in, field, '\t')) fields.push_back(field);
    return fields;
}

// True when the diagnostics hold an entry of that level containing `text`
// (without its level prefix).
bool HasEntry(const std::string& xml, int level, const std::string& text) {
    const std::string escaped = DiagnosticsWriter::Escape(text);
    for (const auto& line : DiagLines(xml)) {
        if (line.level == level && line.description.find(escaped) != std::string::npos) return true;
    }
    return false;
}

// A 3 x 4 model grid (corner 1000/2000, cells of 100) whose cell (1,1) lies
// outside the basin. The grid table holds the zone grid, the region grid of
// the one model instance, a grid "temperature" = 10 r + c, a stack "soil"
// (no 2-D grid) = 100 r + 10 c + level with levels 0..2, and a flux grid
// "q_down_total" whose cells the test sets per sub-step.
struct SpecialFixture {
    TempDir dir;
    std::ostringstream console;
    DiagnosticsWriter writer{dir.file("d.xml"), DiagDebug, console};
    std::unique_ptr<MemoryGrid[]> table = CreateGridTable();
    StatisticsTableEntry statistics[StatisticsTableSize + 1];
    ModelSettings settings;
    memory_handling memory;
    double** zones = memory.matrix(1, 3, 1, 4, 3);
    double** regions = memory.matrix(1, 3, 1, 4, 3);
    double** temperature = memory.matrix(1, 3, 1, 4, 3);
    double** flux = memory.matrix(1, 3, 1, 4, 3);
    GridStack soil = memory.matrix3d(1, 3, 1, 4, 2, 3);

    SpecialFixture() {
        settings.NRows = 3;
        settings.NCols = 4;
        settings.FirstRow = 1;
        settings.LastRow = 3;
        settings.XllCorner = 1000;
        settings.YllCorner = 2000;
        settings.CellSize = 100;
        settings.NoData = -9999;
        settings.LogInterval = 1;
        settings.DefaultOutputDirectory = dir.path() + "/";
        for (int r = 1; r <= 3; ++r) {
            for (int c = 1; c <= 4; ++c) {
                const bool outside = r == 1 && c == 1;
                zones[r][c] = outside ? -9999 : 1;
                regions[r][c] = outside ? -9999 : 0;
                temperature[r][c] = 10 * r + c;
                flux[r][c] = 0;
                for (int l = 0; l <= 2; ++l) soil[r][c][l] = 100 * r + 10 * c + l;
            }
        }
        Put(1, "[zone_grid]", zones, nullptr, 1);
        Put(2, "MPIRegions", regions, nullptr, 1);
        Put(3, "temperature", temperature, nullptr, 1);
        Put(4, "soil", nullptr, soil, 2);
        Put(5, "q_down_total", flux, nullptr, 1);
    }
    ~SpecialFixture() {
        memory.free_matrix(zones, 1, 3, 1, 4);
        memory.free_matrix(regions, 1, 3, 1, 4);
        memory.free_matrix(temperature, 1, 3, 1, 4);
        memory.free_matrix(flux, 1, 3, 1, 4);
        memory.free_matrix3d(soil, 1, 3);
    }
    void Put(int index, const std::string& name, double** data, GridStack stack, int levels) {
        MemoryGrid& entry = table[index];
        entry.EverUsed = true;
        entry.InternalName = name;
        entry.FileName = name;
        entry.Data = data;
        entry.Stack = stack;
        entry.NumLevels = levels;
        entry.FirstRow = 1;
        entry.LastRow = 3;
    }
    // Constructs special output from the section body; returns its status.
    std::unique_ptr<SpecialOutputClass> Make(const std::string& body, int* status, int subSteps = 1,
                                             int method = 1) {
        WriteFile(dir.file("model.ctl"),
                  "[special_output]\n" + std::to_string(method) + "\n60\n" + body + "[next_section]\n1\n");
        settings.CompiledControlFile = dir.file("model.ctl");
        return std::make_unique<SpecialOutputClass>(status, &writer, statistics, StatisticsTableSize,
                                                    "special_output", settings, table.get(), subSteps);
    }
    std::unique_ptr<SpecialOutputClass> MakeOk(const std::string& body, int subSteps = 1) {
        int status = -1;
        auto special = Make(body, &status, subSteps);
        EXPECT_EQ(status, 0) << console.str();
        return special;
    }
    std::string xml() {
        writer.Close();
        return ReadFile(dir.file("d.xml"));
    }
};

std::string FileBlock(const std::string& fileName, const std::string& entities, const std::string& header = "h") {
    return "{\n  header = " + header + ";\n  filename = " + fileName + ";\n" + entities + "}\n";
}

std::string Entity(const std::string& id, const std::string& symbol, const std::string& x, const std::string& y,
                   const std::string& levels = "") {
    std::string text = "  entity {\n    ID = " + id + ";\n    Symbol = " + symbol + ";\n    Xcoords = " + x +
                       ";\n    Ycoords = " + y + ";\n";
    if (!levels.empty()) text += "    Level = " + levels + ";\n";
    return text + "  }\n";
}

}  // namespace

// ---------------------------------------------------------------- kernels

TEST(SpecialOutputText, BraceValues) {
    struct Case {
        const char* text;
        const char* key;
        so::Occurrence which;
        bool found, complete;
        const char* value;
    } cases[] = {
        {"ID = temp; Symbol = T;", "ID", so::Occurrence::First, true, true, " temp"},
        {"Level = 1; Level = 2 ;", "Level", so::Occurrence::Last, true, true, " 2 "},
        {"Level = 1; Level = 2 ;", "Level", so::Occurrence::First, true, true, " 1"},
        // a key inside a longer key matches the longer one
        {"ksat_topmodel = 3; ksat = 4;", "ksat", so::Occurrence::First, true, true, " 3"},
        {"ID temp;", "ID", so::Occurrence::First, true, false, ""},
        {"ID = temp", "ID", so::Occurrence::First, true, false, ""},
        {"Symbol = T;", "ID", so::Occurrence::First, false, false, ""},
        // case-sensitive
        {"id = temp;", "ID", so::Occurrence::First, false, false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto v = so::FindBraceValue(c.text, c.key, c.which);
        EXPECT_EQ(v.KeyFound, c.found);
        EXPECT_EQ(v.Complete, c.complete);
        EXPECT_EQ(v.Text, c.value);
    }
    EXPECT_EQ(so::FirstWord(" \t temp grid\n"), "temp");
    EXPECT_EQ(so::FirstWord("  \n"), "");
    EXPECT_EQ(so::ListItems(" 1050,1150;\t2000 ,,\n 3e2\r\n"),
              (std::vector<std::string>{"1050", "1150", "2000", "3e2"}));
    int i = 0;
    double d = 0;
    EXPECT_TRUE(so::ParseInt("-3", &i));
    EXPECT_EQ(i, -3);
    for (const char* bad : {"", "2.5", "x", "3x", "99999999999"}) EXPECT_FALSE(so::ParseInt(bad, &i)) << bad;
    EXPECT_TRUE(so::ParseDouble("1.5e3", &d));
    EXPECT_EQ(d, 1500);
    for (const char* bad : {"", "1,5", "nan", "inf", "1e999", "12abc"}) EXPECT_FALSE(so::ParseDouble(bad, &d)) << bad;
}

TEST(SpecialOutputText, PointToCell) {
    // 4 columns and 3 rows of 100 from the corner 1000/2000
    struct Case {
        double x, y;
        int column, row;
    } cases[] = {
        {1050, 2050, 1, 3},  {1150, 2150, 2, 2}, {1399, 2299, 4, 1},
        {1000, 2150, 0, 2},  // the western edge lies outside
        {1400, 2150, 4, 2},  // the eastern edge is the last column
        {1150, 2000, 2, 3},  // the southern edge is the last row
        {1150, 2300, 2, 0},  // the northern edge lies outside
        {999, 1999, 0, 0},   {1401, 2301, 0, 0},   {-1e300, 1e300, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.x) + " " + std::to_string(c.y));
        EXPECT_EQ(so::PointColumn(c.x, 1000, 100, 4), c.column);
        EXPECT_EQ(so::PointRow(c.y, 2000, 100, 3), c.row);
    }
    EXPECT_EQ(so::PointColumn(1000, 1000, 0, 4), 0);  // no cell size: 0/0
    EXPECT_EQ(so::PointRow(2000, 2000, 0, 3), 0);
}

TEST(SpecialOutputText, FluxesAndBuffer) {
    EXPECT_TRUE(so::IsFluxName("q_down"));
    EXPECT_TRUE(so::IsFluxName("layer3_groundwater_recharge"));
    EXPECT_TRUE(so::IsFluxName("gw_flow_x_2"));
    EXPECT_FALSE(so::IsFluxName("gw_flow_z"));
    EXPECT_FALSE(so::IsFluxName("Baseflow"));  // case-sensitive
    EXPECT_FALSE(so::IsFluxName("temperature"));

    EXPECT_EQ(so::AddFlux(1.5, 2, -9999), 3.5);
    EXPECT_EQ(so::AddFlux(-9999, 2, -9999), -9999);
    EXPECT_EQ(so::AddFlux(2, -9999, -9999), -9999);
    EXPECT_EQ(so::AddFlux(2, -1, -1), -1);  // the grid's own nodata value

    EXPECT_EQ(so::RowCapacity(0), 52428);
    EXPECT_EQ(so::RowCapacity(5), 2097152 / 80);
    EXPECT_EQ(so::RowCapacity(87378), 2);
    EXPECT_EQ(so::RowCapacity(1000000), 1);
}

// ---------------------------------------------------------------- one file

TEST(SpecialOutput, HeaderAndRowsOfGridsAndStacks) {
    SpecialFixture f;
    const std::string body =
        "numfiles = 1;\n" +
        FileBlock("points.txt", Entity("temperature", "T", "1150, 1350, 1050", "2150 2250 2250") +
                                    Entity("soil", "S", "1250\t1250", "2050, 2050", "0, 2") +
                                    Entity("no_such_grid", "N", "1150", "2150"),
                  "station_IDs");
    auto special = f.MakeOk(body);
    ASSERT_EQ(special->FileCount, 1);

    // the header exists right after construction
    const std::string file = f.dir.file("points.txt");
    auto lines = Lines(ReadFile(file));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "YY\tMM\tDD\tHH\tT/2/2\tT/4/1\tT/1/1\tS/3/3/0\tS/3/3/2\tN/2/2");
    EXPECT_EQ(lines[1], "station_IDs");
    EXPECT_EQ(lines[2], "YY\tMM\tDD\tHH\tT/1150/2150\tT/1350/2250\tT/1050/2250\tS/1250/2050/0\tS/1250/2050/2\tN/1150/2150");

    special->Step(24, 1, 1, 2020, true, 1);
    special->Step(24, 1, 1, 2020, false, 0);
    f.temperature[2][2] = 0.125;
    special->Step(24, 2, 1, 2020, true, 1);
    special->Step(24, 2, 1, 2020, false, 0);
    EXPECT_EQ(Lines(ReadFile(file)).size(), 3u);  // rows stay in the buffer until the flush
    special->Flush();
    lines = Lines(ReadFile(file));
    ASSERT_EQ(lines.size(), 5u);
    // cell (1,1) lies outside the basin; the unknown grid has no value
    EXPECT_EQ(lines[3], "2020\t1\t1\t24\t22\t14\t-9999\t330\t332\t-9999");
    EXPECT_EQ(lines[4], "2020\t1\t2\t24\t0.125\t14\t-9999\t330\t332\t-9999");

    // a second flush appends nothing; later rows are appended
    special->Flush();
    special->Step(24, 3, 1, 2020, true, 1);
    special->Step(24, 3, 1, 2020, false, 0);
    special->Flush();
    lines = Lines(ReadFile(file));
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(Fields(lines[5])[2], "3");

    const std::string xml = f.xml();
    EXPECT_TRUE(HasEntry(xml, DiagDebug, "file teilmod, compiled at "));
    EXPECT_TRUE(HasEntry(xml, DiagDebug, "write " + file));
    const std::string bufferLine =
        std::string("(").append(std::to_string((6 * 8 + 32) * 2)).append(" of 2097152 buffer-bytes)");
    EXPECT_TRUE(HasEntry(xml, DiagDebug, bufferLine));
}

TEST(SpecialOutput, StackLevelsAndMissingValues) {
    SpecialFixture f;
    // a stack holds the levels 0 to its level count; other levels, a stack
    // named without levels and a grid given levels
    const std::string body =
        "numfiles = 1;\n" + FileBlock("levels.txt", Entity("soil", "S", "1150 1150 1150 1150", "2150 2150 2150 2150",
                                                           "-1 0 2 3") +
                                                        Entity("soil", "W", "1150", "2150") +
                                                        Entity("temperature", "T", "1150", "2150", "5"));
    auto special = f.MakeOk(body);
    special->Step(1, 1, 1, 2000, true, 1);
    special->Step(1, 1, 1, 2000, false, 0);
    special->Flush();
    const auto lines = Lines(ReadFile(f.dir.file("levels.txt")));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[3], "2000\t1\t1\t1\t-9999\t220\t222\t-9999\t-9999\t22");
    EXPECT_TRUE(HasEntry(f.xml(), DiagWarning, "the entity soil names a stack but gives no levels"));
}

TEST(SpecialOutput, GridReleasedAfterConstructionIsNeverRead) {
    SpecialFixture f;
    auto special = f.MakeOk("numfiles = 1;\n" + FileBlock("r.txt", Entity("temperature", "T", "1150", "2150")));
    // the entry is emptied and then given to another grid of another name
    f.table[3].Data = nullptr;
    f.table[3].InternalName.clear();
    special->Step(1, 1, 1, 2000, false, 0);
    f.Put(3, "other", f.flux, nullptr, 1);
    special->Step(1, 2, 1, 2000, false, 0);
    special->Flush();
    const auto lines = Lines(ReadFile(f.dir.file("r.txt")));
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(Fields(lines[3]).back(), "-9999");
    EXPECT_EQ(Fields(lines[4]).back(), "-9999");
}

TEST(SpecialOutput, FluxesAreSummedOverSubSteps) {
    for (const int subSteps : {1, 4}) {
        SCOPED_TRACE(subSteps);
        SpecialFixture f;
        const std::string body =
            "numfiles = 1;\n" + FileBlock("f.txt", Entity("q_down_total", "Q", "1150 1050", "2150 2250") +
                                                       Entity("temperature", "T", "1150", "2150") +
                                                       Entity("q_down_missing", "M", "1150", "2150"));
        auto special = f.MakeOk(body, subSteps);
        for (int step = 1; step <= 2; ++step) {
            for (int j = 1; j <= subSteps; ++j) {
                f.flux[2][2] = step * 10 + j;
                f.temperature[2][2] = 100 * step + j;
                special->Step(24, step, 1, 2020, true, j);
            }
            special->Step(24, step, 1, 2020, false, 0);
        }
        special->Flush();
        const auto lines = Lines(ReadFile(f.dir.file("f.txt")));
        ASSERT_EQ(lines.size(), 5u);
        if (subSteps == 1) {
            // no flux: every point is read at the end of the step
            EXPECT_EQ(lines[3], "2020\t1\t1\t24\t11\t-9999\t101\t-9999");
            EXPECT_EQ(lines[4], "2020\t1\t2\t24\t21\t-9999\t201\t-9999");
        } else {
            // 11 + 12 + 13 + 14 and 21 + ... + 24; a missing cell or grid stays -9999
            EXPECT_EQ(lines[3], "2020\t1\t1\t24\t50\t-9999\t104\t-9999");
            EXPECT_EQ(lines[4], "2020\t1\t2\t24\t90\t-9999\t204\t-9999");
        }
    }
}

TEST(SpecialOutput, FullBufferIsAppendedAtTheEndOfTheStep) {
    SpecialFixture f;
    // 87378 points leave room for two rows in the buffer
    std::string xs, ys;
    for (int i = 0; i < 87378; ++i) {
        xs += "1150,";
        ys += "2150,";
    }
    auto special = f.MakeOk("numfiles = 1;\n" + FileBlock("big.txt", Entity("temperature", "T", xs, ys)));
    ASSERT_EQ(special->Files[0]->Capacity, 2);
    const std::string file = f.dir.file("big.txt");
    auto rowCount = [&] { return Lines(ReadFile(file)).size() - 3; };
    for (int step = 1; step <= 3; ++step) {
        f.temperature[2][2] = step;
        special->Step(24, step, 1, 2020, true, 1);
        special->Step(24, step, 1, 2020, false, 0);
        EXPECT_EQ(rowCount(), step < 2 ? 0u : 2u) << step;
    }
    special->Flush();
    const auto lines = Lines(ReadFile(file));
    ASSERT_EQ(lines.size(), 6u);
    for (int step = 1; step <= 3; ++step) {
        const auto fields = Fields(lines[static_cast<size_t>(step) + 2]);
        ASSERT_EQ(fields.size(), 4u + 87378u);
        EXPECT_EQ(fields[2], std::to_string(step));
        EXPECT_EQ(fields.back(), std::to_string(step));
    }
}

// ---------------------------------------------------------------- section

TEST(SpecialOutput, SectionLayouts) {
    struct Case {
        const char* what;
        std::string body;
        int files;
        std::string firstLine;  // of the first file
    } cases[] = {
        {"no files: on, nothing written", "numfiles = 0;\n", 0, ""},
        {"a file block on one line",
         "numfiles = 2;\n{ header = a; filename = one.txt; entity { ID = temperature; Symbol = A; Xcoords = 1150; "
         "Ycoords = 2150; } }\n{ header = b; filename = two.txt; }\n",
         2, "YY\tMM\tDD\tHH\tA/2/2"},
        {"blank lines and a closing line holding two braces",
         "numfiles = 1;\n\n{\nheader = a;\nfilename = one.txt;\nentity\n{\nID = temperature;\nSymbol = A;\n"
         "Xcoords = 1150,\n   1250;\nYcoords = 2150,\n   2150;\n} }\n",
         1, "YY\tMM\tDD\tHH\tA/2/2\tA/3/2"},
        {"key names inside the header and file name",
         "numfiles = 1;\n" + FileBlock("Symbol_ID.txt", Entity("temperature", "A", "1150", "2150"), "ID_Symbol"), 1,
         "YY\tMM\tDD\tHH\tA/2/2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SpecialFixture f;
        auto special = f.MakeOk(c.body);
        ASSERT_EQ(special->FileCount, c.files);
        ASSERT_EQ(special->Files.size(), static_cast<size_t>(c.files));
        if (c.files == 0) continue;
        EXPECT_EQ(Lines(ReadFile(special->Files[0]->FileName))[0], c.firstLine);
        EXPECT_EQ(special->Files[0]->FileName.rfind(f.dir.path() + "/", 0), 0u);
    }
}

TEST(SpecialOutput, AbsoluteFileNamesKeepTheirDirectory) {
    SpecialFixture f;
    std::filesystem::create_directories(f.dir.file("elsewhere"));
    const std::string name = f.dir.file("elsewhere/p.txt");
    auto special = f.MakeOk("numfiles = 1;\n" + FileBlock(name, Entity("temperature", "T", "1150", "2150")));
    EXPECT_EQ(special->Files[0]->FileName, name);
    EXPECT_TRUE(FileExists(name));
}

TEST(SpecialOutput, OffWithoutSectionOrMethod) {
    SpecialFixture f;
    int status = -1;
    auto special = f.Make("numfiles = 1;\n" + FileBlock("x.txt", ""), &status, 1, 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(special->GetMethod(), 0);
    special->Step(1, 1, 1, 2000, false, 0);
    special->Flush();
    EXPECT_FALSE(FileExists(f.dir.file("x.txt")));
}

TEST(SpecialOutput, SectionErrors) {
    const std::string good = Entity("temperature", "T", "1150", "2150");
    struct Case {
        const char* what;
        std::string body;
        int code;
        std::string message;
    } cases[] = {
        {"x and y counts differ",
         "numfiles = 1;\n" + FileBlock("e.txt", good + Entity("temperature", "U", "1150 1250", "2150")), 1006,
         "Error in section [special_output]: count of X coordinates dos not match the number of Y "
         "coordinates for entity temperature"},
        {"levels not one per point",
         "numfiles = 1;\n" + FileBlock("e.txt", Entity("soil", "S", "1150 1250", "2150 2150", "1")), 1007,
         "number of levels dos not match the number of X and Y coordinates for entity soil. EIther each point has "
         "a level or none has."},
        {"second point on the western edge",
         "numfiles = 1;\n" + FileBlock("e.txt", Entity("temperature", "T", "1150 1000", "2150 2150")), 1008,
         "Error in section [special_output]: x-coordinate 1000, defined as point 1 for entity temperature, "
         "is located outside the actual grid."},
        {"point north of the grid",
         "numfiles = 1;\n" + FileBlock("e.txt", Entity("temperature", "T", "1150", "2300")), 1008,
         "y-coordinate 2300, defined as point 0 for entity temperature, is located outside the actual grid."},
        {"file cannot be created", "numfiles = 1;\n" + FileBlock("no_dir/e.txt", good), 1007,
         "error opening file for special output of file\n"},
        {"numfiles missing", "files = 1;\n" + FileBlock("e.txt", good), 104, "numfiles"},
        {"numfiles negative", "numfiles = -1;\n", 104, "numfiles"},
        {"numfiles larger than the blocks", "numfiles = 2;\n" + FileBlock("e.txt", good), 104,
         "file block 2 of \"numfiles\" is missing before the section [next_section]"},
        {"section ends after the interval", "", 104, "numfiles"},
        {"block not closed", "numfiles = 1;\n{ header = a; filename = e.txt;\n", 104, "ends inside file block 1"},
        {"no file name", "numfiles = 1;\n{ header = a; \n" + good + "}\n", 104, "\"filename\""},
        {"empty header", "numfiles = 1;\n{ header = ; filename = e.txt;\n" + good + "}\n", 104, "\"header\""},
        {"no symbol", "numfiles = 1;\n" + FileBlock("e.txt", "entity { ID = temperature; Xcoords = 1150; }\n"), 104,
         "\"Symbol\""},
        {"entity without braces", "numfiles = 1;\n{ header = a; filename = e.txt; entity }\n", 104, "no block"},
        {"coordinate no number", "numfiles = 1;\n" + FileBlock("e.txt", Entity("temperature", "T", "1150 x", "1 2")),
         104, "\"x\" in \"Xcoords\" of entity temperature is no number"},
        {"level no whole number",
         "numfiles = 1;\n" + FileBlock("e.txt", Entity("soil", "S", "1150", "2150", "1.5")), 104, "\"1.5\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SpecialFixture f;
        int status = 0;
        auto special = f.Make(c.body, &status);
        EXPECT_EQ(status, c.code);
        EXPECT_TRUE(HasEntry(f.xml(), DiagFatal, c.message)) << f.console.str();
    }
}

// ---------------------------------------------------------------- output failures and teardown

TEST(SpecialOutput, AppendFailureEndsTheRun) {
    SpecialFixture f;
    std::filesystem::create_directories(f.dir.file("gone"));
    auto special = f.MakeOk("numfiles = 1;\n" + FileBlock("gone/p.txt", Entity("temperature", "T", "1150", "2150")));
    std::filesystem::remove_all(f.dir.file("gone"));
    special->Step(1, 1, 1, 2000, false, 0);
    int code = 0;
    try {
        special->Flush();
    } catch (int thrown) {
        code = thrown;
    }
    EXPECT_EQ(code, 65);
    EXPECT_TRUE(HasEntry(f.xml(), DiagFatal, "\nerror opening file " + f.dir.file("gone/p.txt")));
}

TEST(SpecialOutput, WriteFailureIsFatal) {
    if (!FileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    SpecialFixture f;
    int status = 0;
    auto special = f.Make("numfiles = 1;\n" + FileBlock("/dev/full", Entity("temperature", "T", "1150", "2150")),
                          &status);
    EXPECT_EQ(status, 18);
    EXPECT_TRUE(HasEntry(f.xml(), DiagFatal, "write error /dev/full"));
}

TEST(SpecialOutput, DeleteModuleDropsTheFiles) {
    SpecialFixture f;
    auto special = f.MakeOk("numfiles = 1;\n" + FileBlock("d.txt", Entity("temperature", "T", "1150", "2150")));
    special->Step(1, 1, 1, 2000, false, 0);
    special->DeleteModule();
    EXPECT_EQ(special->FileCount, 0);
    EXPECT_TRUE(special->Files.empty());
    special->Step(1, 2, 1, 2000, false, 0);
    special->Flush();
    EXPECT_EQ(Lines(ReadFile(f.dir.file("d.txt"))).size(), 3u);
}

// ---------------------------------------------------------------- whole runs

namespace {

// A second grid on the model grid, read as the standard grid "soil_temp".
const char* const SoilTemperatureGrid =
    "ncols 4\nnrows 3\nxllcorner 1000\nyllcorner 2000\ncellsize 100\nnodata_value -9999\n"
    "-9999 1.5 2.5 3.5\n4.5 5.5 6.5 7.5\n-9999 8.5 9.5 -9999\n";

ModelFiles SpecialRun(const std::string& body) {
    ModelFiles files;
    files.Methods["special_output"] = 1;
    files.SectionBodies["special_output"] = body;
    files.InputFiles["soiltemp.asc"] = SoilTemperatureGrid;
    files.StandardGrids =
        "2\ndem.asc elevation 0 writecode = 0\nsoiltemp.asc soil_temp 0 writecode = 0\n";
    return files;
}

}  // namespace

TEST(SpecialOutputRun, PointsOfTheElevationModelAndAStandardGrid) {
    TempDir dir;
    const std::string body =
        "numfiles = 1;\n" +
        FileBlock("points.txt", Entity("[elevation_model]", "Z", "1150 1350", "2150 2250") +
                                    Entity("soil_temp", "ST", "1150, 1350", "2150, 2250") +
                                    Entity("no_such_grid", "N", "1250", "2050"),
                  "two_points");
    auto r = RunRuvex(dir.path(), {SpecialRun(body).Write(dir)});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const auto lines = Lines(ReadFile(dir.file("output/points.txt")));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "YY\tMM\tDD\tHH\tZ/2/2\tZ/4/1\tST/2/2\tST/4/1\tN/3/3");
    EXPECT_EQ(lines[1], "two_points");
    EXPECT_EQ(lines[2], "YY\tMM\tDD\tHH\tZ/1150/2150\tZ/1350/2250\tST/1150/2150\tST/1350/2250\tN/1250/2050");
    // one step; without meteorological inputs its date is -9999
    EXPECT_EQ(lines[3], "-9999\t-9999\t-9999\t-9999\t505\t610\t5.5\t3.5\t-9999");
}

TEST(SpecialOutputRun, BadPointsEndTheRun) {
    struct Case {
        const char* what;
        std::string entity;
        int code;
        std::string message;
    } cases[] = {
        {"point outside the grid", Entity("soil_temp", "ST", "1150 1450", "2150 2150"), 1008,
         "x-coordinate 1450, defined as point 1 for entity soil_temp, is located outside the actual grid."},
        {"unequal coordinate counts", Entity("soil_temp", "ST", "1150 1250", "2150"), 1006,
         "count of X coordinates dos not match the number of Y coordinates for entity soil_temp"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        auto r = RunRuvex(dir.path(), {SpecialRun("numfiles = 1;\n" + FileBlock("p.txt", c.entity)).Write(dir)});
        EXPECT_EQ(r.exitCode, c.code & 0xff) << r.output;
        const std::string xml = ReadFile(dir.file("Ruvex_Diag.xml"));
        EXPECT_EQ(XmlProblem(xml), "");
        EXPECT_TRUE(HasEntry(xml, DiagFatal, c.message)) << xml;
        EXPECT_TRUE(HasEntry(xml, DiagFatal, "Program aborted with exit code " + std::to_string(c.code)));
    }
}
