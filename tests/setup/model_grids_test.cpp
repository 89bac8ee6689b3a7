// The model grids of the set-up: the zone grid in its three file formats, the
// elevation model, standard grid definitions with their keywords, grids read
// or created from a default value and written by their write code, variable
// grids, and the periodic re-reading of dated grids.

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "framework/gridtable.h"
#include "framework/zonetable.h"
#include "setup/defltuzr.h"
#include "setup/model_time.h"
#include "setup_fixture.h"

using namespace testsupport;

namespace {

constexpr double ND = -9999;
using Cells = std::vector<std::vector<double>>;

// The zone grid of every test: 4 columns, 3 rows, codes 1 and 2.
const Cells ZoneCells = {{ND, 1, 1, ND}, {2, 2, 1, ND}, {ND, 2, 2, 2}};

struct Raster {
    double xll = 1000.5;
    double yll = 2000;
    double cellSize = 100;
};

std::string TextGrid(const Cells& cells, const Raster& r = {}, const std::string& first = "ncols") {
    std::ostringstream out;
    out << first << " " << cells[0].size() << "\nnrows " << cells.size() << "\nxllcorner " << r.xll
        << "\nyllcorner " << r.yll << "\ncellsize " << r.cellSize << "\nnodata_value -9999\n";
    for (const auto& row : cells) {
        for (double v : row) out << v << " ";
        out << "\n";
    }
    return out.str();
}

// A binary grid of doubles (width 8) or floats (width 4), little-endian.
std::string BinaryGrid(const Cells& cells, int width, const Raster& r = {}, double mark = -9999) {
    std::vector<double> values = {static_cast<double>(cells[0].size()), static_cast<double>(cells.size()),
                                  r.xll, r.yll, r.cellSize, mark, 0, 0, 0, 0, 0, 0};
    for (const auto& row : cells) values.insert(values.end(), row.begin(), row.end());
    std::string bytes;
    for (double v : values) {
        if (width == 8) {
            bytes.append(reinterpret_cast<const char*>(&v), 8);
        } else {
            const float f = static_cast<float>(v);
            bytes.append(reinterpret_cast<const char*>(&f), 4);
        }
    }
    return bytes;
}

// The cells of a text grid file.
Cells ReadTextCells(const std::string& text) {
    std::istringstream in(text);
    std::string word;
    double value = 0;
    int cols = 0, rows = 0;
    for (int k = 0; k < 6; ++k) {
        in >> word >> value;
        if (k == 0) cols = static_cast<int>(value);
        if (k == 1) rows = static_cast<int>(value);
    }
    Cells cells(static_cast<size_t>(rows), std::vector<double>(static_cast<size_t>(cols)));
    for (auto& row : cells) {
        for (double& v : row) in >> v;
    }
    return cells;
}

Cells Filled(double inside) {
    Cells cells = ZoneCells;
    for (auto& row : cells) {
        for (double& v : row) v = v == ND ? ND : inside;
    }
    return cells;
}

Cells Uniform(double value) { return Cells(3, std::vector<double>(4, value)); }

// One model run as far as the grids go: a grid table and a set-up object on
// a control file in the test directory.
class ModelGridsTest : public setuptest::SetupFixture {
protected:
    struct Pieces {
        std::string zone = "$zone";
        std::string elevation = "dem.asc";
        std::string standard = "0\n";
        std::string variable = "0\n";
        std::string modelTime = "1\n1\n1\n2001\n24\n31\n12\n2001\n";
    };

    ModelGridsTest() {
        Write("zone.asc", TextGrid(ZoneCells));
        Write("dem.asc", TextGrid({{9000, 100, 200, ND}, {300, 750, 400, ND}, {5000, 500, 600, 700}}));
    }
    ~ModelGridsTest() override { Reset(); }

    void Reset() {
        if (Setup) Setup->DeleteModule();
        Setup.reset();
        Table.reset();
    }

    std::string ControlText(const Pieces& p) const {
        const std::string dir = Dir.path() + "/";
        return "[output_interval]\n24\n0\n0\n0\nWriteAsciiGrids = 1\nInitialStateDirectory = " + dir +
               "\nDefaultOutputDirectory = " + dir +
               "\n\n[output_list]\n0\n[coordinates]\n47\n8\n15\n0\n[meteo_data_count]\n0\n[meteo_names]\n"
               "$set $zone = zone.asc\n[model_time]\n" +
               p.modelTime + "[zone_grid]\n" + p.zone + "\n[elevation_model]\n" + p.elevation +
               "\n[standard_grids]\n" + p.standard + "[variable_grids]\n" + p.variable + "[radiation_correction]\n";
    }

    // Compile and output control, the definitions (control file open, as in
    // the set-up), the model time; the code thrown, 0 on success.
    int Define(const Pieces& p) {
        Reset();
        Status = -1;
        Table = CreateGridTable();
        Setup = std::make_unique<defaultini>(&Status, Writer.get(), Write("run.ctl", ControlText(p)), nullptr, 200,
                                             2, Table.get());
        return ThrownCode([&] {
            Setup->CompileSymbols(Setup->ControlFilePath, Setup->ControlFilePath);
            Setup->ReadOutputControl(Setup->ControlFilePath, Setup->Settings);
            Setup->ControlFile = std::fopen(Setup->ControlFilePath.c_str(), "r");
            ASSERT_NE(Setup->ControlFile, nullptr);
            Setup->ReadStandardGrids();
            Setup->ReadModelTime();
            const ModelSettings& s = Setup->Settings;
            Setup->SetEndDate(s.EndYear, s.EndMonth, s.EndDay, s.EndHour);
            std::fclose(Setup->ControlFile);
            Setup->ControlFile = nullptr;
        });
    }

    // The zone grid, its ranking, the standard and variable grids and the
    // elevation maximum.
    int ReadGrids() {
        return ThrownCode([&] {
            Setup->ReadZoneGrid();
            Zones = RankZoneGrid(ZoneRankingKind::SetUp, Setup->ZoneGrid, Setup->NRows, Setup->NCols, nullptr,
                                 Setup->NoData, Setup->CellSize, nullptr, Writer.get(), "zone.asc", "defaults");
            Setup->Zones = Zones.Records.data();
            Setup->RowExtents = Zones.RowExtents.data();
            Setup->ReadOrCreateStandardGrids();
            Setup->ReadVariableGrids();
            Setup->TakeElevationModel();
        });
    }

    int Run(const Pieces& p) {
        const int code = Define(p);
        return code != 0 ? code : ReadGrids();
    }

    Cells GridCells(const std::string& name) {
        const int index = Setup->FindGrid(name);
        EXPECT_GT(index, 0) << name;
        Cells cells(3, std::vector<double>(4));
        if (index <= 0) return cells;
        double** grid = Table[index].Data;
        for (int i = 1; i <= 3; ++i) {
            for (int j = 1; j <= 4; ++j) cells[i - 1][j - 1] = grid[i][j];
        }
        return cells;
    }

    int Status = -1;
    std::unique_ptr<MemoryGrid[]> Table;
    std::unique_ptr<defaultini> Setup;
    ZoneTable Zones;
};

TEST_F(ModelGridsTest, ZoneGridInEveryFormatGivesTheSameRaster) {
    struct FormatCase {
        const char* what;
        std::string content;
    };
    const std::vector<FormatCase> cases = {
        {"text", TextGrid(ZoneCells)},
        {"binary double", BinaryGrid(ZoneCells, 8)},
        {"binary single", BinaryGrid(ZoneCells, 4)},
    };
    Pieces p;
    p.standard = "1\nland.asc landuse 0\n";
    Write("land.asc", TextGrid({{ND, 5, 6, ND}, {7, 8, 9, ND}, {ND, 1, 2, 3}}));
    for (const auto& c : cases) {
        Write("zone.asc", c.content);
        ASSERT_EQ(Run(p), 0) << c.what << "\n" << ConsoleText();
        EXPECT_EQ(Setup->NCols, 4) << c.what;
        EXPECT_EQ(Setup->NRows, 3) << c.what;
        EXPECT_EQ(Setup->XllCorner, 1000.5) << c.what;
        EXPECT_EQ(Setup->YllCorner, 2000) << c.what;
        EXPECT_EQ(Setup->CellSize, 100) << c.what;
        EXPECT_EQ(Setup->NoData, -9999) << c.what;
        EXPECT_EQ(Setup->FirstRow, 1) << c.what;
        EXPECT_EQ(Setup->LastRow, 3) << c.what;
        EXPECT_EQ(Setup->Settings.NCols, 4) << c.what;
        EXPECT_EQ(Setup->Settings.CellSize, 100) << c.what;
        EXPECT_EQ(Setup->Settings.SetupGridCount, 1) << c.what;

        // Entry 1 holds the zone grid, entry 2 the elevation model, entry 3 the standard grid.
        EXPECT_EQ(Table[1].InternalName, "[zone_grid]");
        EXPECT_EQ(Table[1].Data, Setup->ZoneGrid);
        EXPECT_EQ(Table[1].FirstRow, 1);
        EXPECT_EQ(Table[1].LastRow, 3);
        EXPECT_EQ(GridCells("[zone_grid]"), ZoneCells) << c.what;
        EXPECT_EQ(Table[2].InternalName, "[elevation_model]");
        EXPECT_EQ(Setup->FindGrid("landuse"), 3);
        EXPECT_EQ(GridCells("landuse"), (Cells{{ND, 5, 6, ND}, {7, 8, 9, ND}, {ND, 1, 2, 3}})) << c.what;

        // The elevation maximum counts only the valid columns of each row:
        // 9000 and 5000 lie left of their rows' first zone cell.
        EXPECT_EQ(Setup->ElevationModel, Table[2].Data);
        EXPECT_EQ(Setup->GetMaxElevation(), 750) << c.what;
    }
}

TEST_F(ModelGridsTest, BrokenZoneGridHeadersAreRefused) {
    std::string floatHeaderOnly = BinaryGrid(ZoneCells, 4).substr(0, 6 * 4);
    struct HeaderCase {
        const char* what;
        std::string content;  // empty: no file
        int code;
        const char* message;
    };
    const std::vector<HeaderCase> cases = {
        {"missing file", "", 21, "error opening "},
        {"upper-case header word", TextGrid(ZoneCells, {}, "NCOLS"), 22,
         "could not recognise file format (ascii, double or double) for "},
        {"binary without the -9999 mark", BinaryGrid(ZoneCells, 8, {}, -1), 22, "could not recognise file format"},
        {"text header value not a number", "ncols 4\nnrows three\n", 22, "error reading "},
        {"float header of six values", floatHeaderOnly, 22, "error reading double value #7 from the header of "},
        {"zero cell size", TextGrid(ZoneCells, {1000.5, 2000, 0}), 22, "is not positive"},
        {"more cells than the file holds", "ncols 100000\nnrows 100000\nxllcorner 0\nyllcorner 0\ncellsize 1\n"
                                           "nodata_value -9999\n1 2 3\n",
         22, "too short for a grid of 100000 columns and 100000 rows"},
        {"no rows", "ncols 4\nnrows 0\nxllcorner 0\nyllcorner 0\ncellsize 1\nnodata_value -9999\n", 22,
         "impossible grid size"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(Dir.file("zone.asc"));
        if (!c.content.empty()) Write("zone.asc", c.content);
        ASSERT_EQ(Define(Pieces{}), 0) << c.what;
        Console.str("");
        int32_t cols = 0, rows = 0;
        double xll = 0, yll = 0, cs = 0, nd = 0;
        EXPECT_EQ(ThrownCode([&] { Setup->ReadGridHeader(cols, rows, xll, yll, cs, nd); }), c.code) << c.what;
        EXPECT_NE(ConsoleText().find(c.message), std::string::npos) << c.what << "\n" << ConsoleText();
        EXPECT_NE(ConsoleText().find(Dir.file("zone.asc")), std::string::npos) << c.what;
    }
}

TEST_F(ModelGridsTest, StandardGridDefinitionsInOldAndNewStyle) {
    Pieces p;
    p.standard =
        "5\n"
        "f.asc landuse 0\n"
        "f.asc landuse2 fillcode = 0 writecode = 1000\n"
        "g.asc gid 1 fillcode=2 readcode = 0 defaultValue = 5.5 writecode = 8 outname = g_out.asc "
        "statfile = gstat.txt statcode = 2001 periodicity = 2 Months 3 persistent = 0 24\n"
        "h.asc hid 0 outname = my_writecode.asc statcode = 1001\n"
        "k.asc kid 0 persistent = 7 3\n";
    ASSERT_EQ(Define(p), 0) << ConsoleText();
    EXPECT_EQ(Setup->Settings.SetupGridCount, 5);
    EXPECT_EQ(Table[1].FileName, "zone.asc");  // through the symbol
    EXPECT_EQ(Table[2].FileName, "dem.asc");

    const MemoryGrid& old = Table[3];
    const MemoryGrid& neu = Table[4];
    EXPECT_EQ(old.FileName, "f.asc");
    EXPECT_EQ(old.InternalName, "landuse");
    EXPECT_EQ(neu.InternalName, "landuse2");
    for (const MemoryGrid* e : {&old, &neu}) {
        EXPECT_EQ(e->FillCode, 0);
        EXPECT_EQ(e->ReadCode, 1);
        EXPECT_EQ(e->DefaultValue, 0);
        EXPECT_EQ(e->OutputName, "");
        EXPECT_EQ(e->StatFileName, "");
        EXPECT_EQ(e->StatCode, 0);
        EXPECT_EQ(e->PeriodicityCount, -1);
        EXPECT_TRUE(e->Persistent);
    }
    EXPECT_EQ(old.UnitsDigit, 0);
    EXPECT_EQ(neu.UnitsDigit, 1000);

    const MemoryGrid& g = Table[5];
    EXPECT_EQ(g.FillCode, 2);  // the keyword overrides the third word
    EXPECT_EQ(g.ReadCode, 0);
    EXPECT_EQ(g.DefaultValue, 5.5);
    EXPECT_EQ(g.UnitsDigit, 8);
    EXPECT_EQ(g.OutputName, "g_out.asc");
    EXPECT_EQ(g.StatFileName, "gstat.txt");
    EXPECT_EQ(g.StatCode, 2001);
    EXPECT_EQ(g.PeriodicityCount, 2);
    EXPECT_EQ(g.PeriodicityUnit, "Months");
    EXPECT_EQ(g.PeriodicityOffset, 3);
    EXPECT_FALSE(g.Persistent);
    EXPECT_EQ(g.PersistenceSteps, 24);
    EXPECT_EQ(g.LastDateValue, 9999);
    EXPECT_EQ(g.PeriodCount, 0);
    EXPECT_EQ(g.SubUnitCount, 0);

    // A keyword inside a value is no keyword: the write code stays 0.
    EXPECT_EQ(Table[6].UnitsDigit, 0);
    EXPECT_EQ(Table[6].OutputName, "my_writecode.asc");
    EXPECT_EQ(Table[6].StatCode, 1001);
    EXPECT_TRUE(Table[7].Persistent);
    EXPECT_EQ(Table[7].PersistenceSteps, 3);
}

TEST_F(ModelGridsTest, DefinitionErrorsAreControlFileErrors) {
    struct DefinitionCase {
        std::string line;
        int code;
        const char* message;
    };
    const std::string longId(101, 'x');
    const std::vector<DefinitionCase> cases = {
        {"a.asc aid writecode = 1", 17, "error reading the fillcode for standard grid 1 (found neither"},
        {"", 17, "error reading a grid name or identifier 1 in"},
        {"onlyonename", 17, "error reading a grid name or identifier 1 in"},
        {"a.asc aid 0 writecode =", 17, "value of writecode for standard grid 1 (aid)"},
        {"a.asc aid 0 writecode = often", 17, "value of writecode for standard grid 1 (aid)"},
        {"a.asc aid 0 writecode 5", 17, "value of writecode for standard grid 1 (aid)"},
        {"a.asc aid fillcode = ", 17, "value of fillcode for standard grid 1 (aid)"},
        {"a.asc aid 0 readcode = yes", 17, "value of readcode for standard grid 1 (aid)"},
        {"a.asc aid 0 defaultValue = high", 17, "value of defaultValue for standard grid 1 (aid)"},
        {"a.asc aid 0 outname =", 17, "value of outname for standard grid 1 (aid)"},
        {"a.asc aid 0 periodicity = 1 D", 17, "value of periodicity for standard grid 1 (aid)"},
        {"a.asc aid 0 periodicity = D 1 1", 17, "value of periodicity for standard grid 1 (aid)"},
        {"a.asc aid 0 persistent = 0", 17, "value of persistent for standard grid 1 (aid)"},
        {"a.asc aid 0 statcode = 1001 statfile", 17, "value of statfile for standard grid 1 (aid)"},
        {"l.asc landuse 0 periodicity = 1 D 1", 17, "standard grid 1 (landuse) must not be periodic"},
        {"s.asc soil_types fillcode = 0 periodicity = 1 M 1", 17, "standard grid 1 (soil_types) must not be periodic"},
        {"i.asc irrigation_codes 0 periodicity = 2 Y 1", 17, "(irrigation_codes) must not be periodic"},
        {"a.asc " + longId + " 0", 17, "is longer than 100 characters"},
    };
    for (const auto& c : cases) {
        Pieces p;
        p.standard = "1\n" + c.line + "\n";
        Console.str("");
        EXPECT_EQ(Define(p), c.code) << c.line;
        EXPECT_NE(ConsoleText().find(c.message), std::string::npos) << c.line << "\n" << ConsoleText();
    }

    // The same code grids without a periodicity, and other grids with one, are fine.
    Pieces p;
    p.standard = "3\nl.asc landuse 0 writecode = 1\ns.asc soil_types 0\nx.asc landuse_extra 0 periodicity = 1 D 1\n";
    EXPECT_EQ(Define(p), 0) << ConsoleText();

    p.standard = "-1\n";
    EXPECT_EQ(Define(p), 17);
    p.standard = "998\n";
    EXPECT_EQ(Define(p), 12);
    p.standard = "2\na.asc aid 0\n";  // one line short
    EXPECT_EQ(Define(p), 17);
}

TEST_F(ModelGridsTest, CreatedGridHoldsTheDefaultInsideTheZonesAndIsWrittenByItsCode) {
    Pieces p;
    // Neither file exists: grids with read code 0 are created, not read.
    p.standard =
        "2\nnowhere.asc const 0 readcode = 0 defaultValue = 5 writecode = 8\n"
        "nothere.asc named 0 readcode = 0 defaultValue = -2.5 writecode = 8 outname = named_out.asc\n";
    ASSERT_EQ(Run(p), 0) << ConsoleText();
    EXPECT_EQ(GridCells("const"), Filled(5));
    EXPECT_EQ(GridCells("named"), Filled(-2.5));

    // Write code 8 writes the grid as it is stored...
    const std::string written = Dir.file("nowhere.asc.filled");
    ASSERT_TRUE(FileExists(written));
    EXPECT_EQ(ReadTextCells(ReadFile(written)), Filled(5));
    // ...under the output name when one is given, never over the input name.
    EXPECT_TRUE(FileExists(Dir.file("named_out.asc.filled")));
    EXPECT_FALSE(FileExists(Dir.file("nothere.asc.filled")));

    // ...and again in every step.
    Table[Setup->FindGrid("const")].Data[2][2] = 42;
    std::filesystem::remove(written);
    Setup->WriteStandardGrids(1, 2, 1, 2001);
    EXPECT_EQ(Setup->StepHour, 1);
    EXPECT_EQ(Setup->StepDay, 2);
    EXPECT_EQ(Setup->StepYear, 2001);
    Cells expected = Filled(5);
    expected[1][1] = 42;
    EXPECT_EQ(ReadTextCells(ReadFile(written)), expected);
}

TEST_F(ModelGridsTest, VariableGridsFollowTheStandardGrids) {
    Write("store.asc", TextGrid(Uniform(3)));
    Pieces p;
    p.standard = "1\nnowhere.asc const 0 readcode = 0 defaultValue = 1\n";
    p.variable =
        "2\nvar_out.asc soil_storage 0 7.5\n8\n0\n"
        "store.asc stored 0 99\n0\n1\n";
    ASSERT_EQ(Run(p), 0) << ConsoleText();
    EXPECT_EQ(Setup->FirstVariableEntry, 4);
    EXPECT_EQ(Setup->VariableGridCount, 2);
    EXPECT_EQ(Setup->Settings.SetupGridCount, 3);
    ASSERT_EQ(Setup->VariableGridReadFlags.size(), 3u);
    EXPECT_EQ(Setup->VariableGridReadFlags[1], 0);
    EXPECT_EQ(Setup->VariableGridReadFlags[2], 1);
    EXPECT_EQ(Setup->FindGrid("soil_storage"), 4);
    EXPECT_EQ(Setup->FindGrid("stored"), 5);
    EXPECT_EQ(Setup->SoilStorageGrid, Table[4].Data);
    EXPECT_EQ(GridCells("soil_storage"), Filled(7.5));
    EXPECT_EQ(GridCells("stored"), Uniform(3));  // read: the default value takes no part

    // The variable grid is written by the variable-grid writer only.
    const std::string written = Dir.file("var_out.asc.filled");
    std::filesystem::remove(written);
    Setup->WriteStandardGrids(1, 1, 1, 2001);
    EXPECT_FALSE(FileExists(written));
    Setup->WriteVariableGrids(1, 1, 1, 2001);
    EXPECT_EQ(ReadTextCells(ReadFile(written)), Filled(7.5));

    // Without standard grids the variable grids begin at entry 3.
    p.standard = "0\n";
    p.variable = "1\nv.asc only 0 4\n0\n0\n";
    ASSERT_EQ(Run(p), 0) << ConsoleText();
    EXPECT_EQ(Setup->FirstVariableEntry, 3);
    EXPECT_EQ(Setup->FindGrid("only"), 3);
    EXPECT_EQ(Setup->SoilStorageGrid, nullptr);

    struct VariableErrorCase {
        const char* section;
        int code;
        const char* message;
    };
    const std::vector<VariableErrorCase> cases = {
        {"1\nv.asc only x 4\n0\n0\n", 17, "file for vargrid 1 or the identifier or the fillcode or the defaultvalue"},
        {"1\nv.asc only 0 4\nnever\n0\n", 17, "Writegrid for a variable grid "},
        {"1\nv.asc only 0 4\n0\n", 17, "Readgrid for a variable grid "},
        {"-1\n", 17, " number of variable grids "},
        {"998\n", 12, "no free grid found in memory (an Position 1000)"},
    };
    for (const auto& c : cases) {
        p.variable = c.section;
        Console.str("");
        EXPECT_EQ(Run(p), c.code) << c.section;
        EXPECT_NE(ConsoleText().find(c.message), std::string::npos) << c.section << "\n" << ConsoleText();
    }
}

TEST_F(ModelGridsTest, StandardGridOfAnotherSizeIsRefusedByTheGridReader) {
    Write("wide.asc", TextGrid({{1, 2, 3, 4, 5}, {1, 2, 3, 4, 5}, {1, 2, 3, 4, 5}}));
    Pieces p;
    p.standard = "1\nwide.asc wide 0\n";
    EXPECT_EQ(Run(p), 24);
    EXPECT_NE(ConsoleText().find("wide.asc has not the specified grid measures (in defaults)!"), std::string::npos)
        << ConsoleText();

    // The elevation model likewise.
    Write("dem.asc", TextGrid(ZoneCells, {1000.5, 2000, 50}));
    p.standard = "0\n";
    EXPECT_EQ(Run(p), 24);
}

TEST_F(ModelGridsTest, IceFirnGridIsReportedWhenMissing) {
    Pieces p;
    p.standard = "1\nnowhere.asc const 0 readcode = 0\n";
    ASSERT_EQ(Run(p), 0) << ConsoleText();
    Console.str("");
    Setup->check_ice_firn_grid();
    EXPECT_NE(ConsoleText().find("ice-grid not found in memory (at position 4)"), std::string::npos)
        << ConsoleText();

    p.standard = "1\nnowhere.asc ice_firn 0 readcode = 0\n";
    ASSERT_EQ(Run(p), 0) << ConsoleText();
    Console.str("");
    Setup->check_ice_firn_grid();
    EXPECT_EQ(ConsoleText().find("ice-grid"), std::string::npos);
}

// ---- Periodic grids.

// The dates of a run of `steps` steps, each `hours` long, from a start.
std::vector<ModelDate> Steps(ModelDate date, int hours, int steps) {
    std::vector<ModelDate> dates;
    for (int s = 0; s < steps; ++s) {
        dates.push_back(date);
        date.hour += hours;
        while (date.hour > 24) {
            date.hour -= 24;
            if (++date.day > DaysInMonth(date.year, date.month)) {
                date.day = 1;
                if (++date.month > 12) {
                    date.month = 1;
                    ++date.year;
                }
            }
        }
    }
    return dates;
}

// One step a month, on the first day at hour 24.
std::vector<ModelDate> Months(int64_t year, int count) {
    std::vector<ModelDate> dates;
    for (int s = 0; s < count; ++s) dates.push_back({24, 1, 1 + s % 12, year + s / 12});
    return dates;
}

std::string DatedFile(const std::string& name, const ModelDate& d) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "_%04ld%02ld%02ld%02ld", static_cast<long>(d.year),
                  static_cast<long>(d.month), static_cast<long>(d.day), static_cast<long>(d.hour));
    return name + buffer;
}

TEST_F(ModelGridsTest, PeriodicGridsAreReadAgainOnTheirDates) {
    struct PeriodicCase {
        const char* periodicity;
        std::vector<ModelDate> dates;
        std::vector<int> rereads;  // steps (from 0) that read a dated file
    };
    const std::vector<PeriodicCase> cases = {
        {"1 D 1", Steps({1, 1, 1, 2001}, 1, 50), {0, 24, 48}},
        {"1 Hours 1", Steps({1, 1, 1, 2001}, 1, 30), {0, 24}},
        {"1 D 3", Steps({1, 1, 1, 2001}, 1, 30), {2, 26}},
        {"2 D 1", Steps({1, 1, 1, 2001}, 6, 20), {4, 12}},
        {"1 D 1", Steps({24, 30, 12, 2000}, 24, 5), {0}},  // daily steps: the hour never falls
        {"1 Months 1", Steps({24, 30, 1, 2001}, 24, 32), {0, 2, 30}},
        {"1 months 1", Steps({24, 30, 1, 2001}, 24, 32), {}},
        {"1 M 0", Steps({24, 30, 1, 2001}, 24, 32), {}},
        {"2 Y 3", Months(2001, 48), {14, 38}},
    };
    for (const auto& c : cases) {
        Write("p.asc", TextGrid(Uniform(-1)));
        // Every step has its dated file, holding the step's number.
        for (size_t s = 0; s < c.dates.size(); ++s) {
            Write(DatedFile("p.asc", c.dates[s]), TextGrid(Uniform(static_cast<double>(s))));
        }
        Pieces p;
        p.standard = std::string("1\np.asc periodic 0 periodicity = ") + c.periodicity + "\n";
        ASSERT_EQ(Run(p), 0) << c.periodicity << "\n" << ConsoleText();
        double** grid = Table[Setup->FindGrid("periodic")].Data;
        std::vector<int> rereads;
        double last = -1;
        for (size_t s = 0; s < c.dates.size(); ++s) {
            const ModelDate& d = c.dates[s];
            ASSERT_EQ(ThrownCode([&] { Setup->UpdatePeriodicGrids(d.hour, d.day, d.month, d.year); }), 0)
                << c.periodicity << " step " << s;
            if (grid[2][2] != last) rereads.push_back(static_cast<int>(s));
            last = grid[2][2];
            // The whole grid comes from the one file, outside the zones too.
            EXPECT_EQ(grid[1][1], last) << c.periodicity << " step " << s;
        }
        EXPECT_EQ(rereads, c.rereads) << c.periodicity;
        for (auto& f : std::filesystem::directory_iterator(Dir.path())) {
            if (f.path().filename().string().rfind("p.asc_", 0) == 0) std::filesystem::remove(f.path());
        }
    }
}

TEST_F(ModelGridsTest, NonPersistentGridReturnsToItsSetUpValues) {
    Write("r.asc", TextGrid({{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}}));
    const std::vector<ModelDate> dates = Steps({1, 1, 1, 2001}, 1, 30);
    Write(DatedFile("r.asc", dates[0]), TextGrid(Uniform(70)));
    Write(DatedFile("r.asc", dates[24]), TextGrid(Uniform(80)));
    Write(DatedFile("q.asc", dates[0]), TextGrid(Uniform(70)));
    Write(DatedFile("q.asc", dates[24]), TextGrid(Uniform(80)));
    Write("q.asc", TextGrid(Uniform(1)));
    Pieces p;
    p.standard =
        "2\nr.asc temporary 0 periodicity = 1 D 1 persistent = 0 3\n"
        "q.asc lasting 0 periodicity = 1 D 1 persistent = 1 3\n";
    ASSERT_EQ(Run(p), 0) << ConsoleText();
    double** temporary = Table[Setup->FindGrid("temporary")].Data;
    double** lasting = Table[Setup->FindGrid("lasting")].Data;

    std::vector<double> seen, kept;
    for (int s = 0; s < 30; ++s) {
        const ModelDate& d = dates[static_cast<size_t>(s)];
        Setup->UpdatePeriodicGrids(d.hour, d.day, d.month, d.year);
        seen.push_back(temporary[2][2]);
        kept.push_back(lasting[2][2]);
        // Back to the set-up values: inside the row's valid columns; the cell
        // left of row 1's first zone cell keeps the re-read value.
        if (s == 3) {
            EXPECT_EQ(temporary[1][2], 2);
            EXPECT_EQ(temporary[3][4], 12);
            EXPECT_EQ(temporary[1][1], 70);
        }
    }
    std::vector<double> expected(30, 6);
    expected[0] = expected[1] = expected[2] = 70;
    expected[24] = expected[25] = expected[26] = 80;
    EXPECT_EQ(seen, expected);
    std::vector<double> expectedKept(30, 70);
    for (int s = 24; s < 30; ++s) expectedKept[static_cast<size_t>(s)] = 80;
    EXPECT_EQ(kept, expectedKept);
}

}  // namespace
