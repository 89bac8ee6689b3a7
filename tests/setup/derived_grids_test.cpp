// The grids the set-up derives after reading the model grids: cell geometry,
// corner coordinates, slope and aspect, the region grid and its weights. Each
// must land in the grid table under its name and a file name taken from its
// source grid, be written exactly once, and leave a grid the user gave alone.

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "framework/gridtable.h"
#include "framework/zonetable.h"
#include "setup/defltuzr.h"
#include "setup_fixture.h"

using namespace testsupport;

namespace {

constexpr double ND = -9999;
using Cells = std::vector<std::vector<double>>;

// The zone grid of every test: 4 columns, 3 rows, codes 1 and 2.
const Cells ZoneCells = {{ND, 1, 1, ND}, {2, 2, 1, ND}, {ND, 2, 2, 2}};
constexpr double Xll = 1000.5, Yll = 2000, Cs = 100;

std::string TextGrid(const Cells& cells) {
    std::ostringstream out;
    out << "ncols " << cells[0].size() << "\nnrows " << cells.size() << "\nxllcorner " << Xll << "\nyllcorner "
        << Yll << "\ncellsize " << Cs << "\nnodata_value -9999\n";
    for (const auto& row : cells) {
        for (double v : row) out << v << " ";
        out << "\n";
    }
    return out.str();
}

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

// `inside` in the zone cells, nodata elsewhere.
Cells Filled(double inside) {
    Cells cells = ZoneCells;
    for (auto& row : cells) {
        for (double& v : row) v = v == ND ? ND : inside;
    }
    return cells;
}

Cells Uniform(double value) { return Cells(3, std::vector<double>(4, value)); }

// A weight grid of one region: 1 in the zone cells; every other cell of the
// zone grid lies outside its row's valid columns, where weights stay 0.
Cells OwnWeightOnly() {
    Cells cells = Filled(1);
    for (auto& row : cells) {
        for (double& v : row) v = v == ND ? 0 : v;
    }
    return cells;
}

bool Inside(size_t i, size_t j) { return ZoneCells[i][j] != ND; }

// A set-up on a control file in the test directory, driven through the
// steps that precede the derived grids and then through those steps.
class DerivedGridsTest : public setuptest::SetupFixture {
protected:
    struct Sections {
        std::string zone = "zone.asc";
        std::string elevation = "dem.asc";
        std::string standard = "0\n";
        std::string transition = "[region_transition_distance]\n150\n";
    };

    DerivedGridsTest() {
        Write("zone.asc", TextGrid(ZoneCells));
        Write("dem.asc", TextGrid({{9000, 100, 200, ND}, {300, 750, 400, ND}, {5000, 500, 600, 700}}));
    }
    ~DerivedGridsTest() override { Reset(); }

    void Reset() {
        if (Setup) Setup->DeleteModule();
        Setup.reset();
        Table.reset();
    }

    std::string ControlText(const Sections& p) const {
        const std::string dir = Dir.path() + "/";
        return "[output_interval]\n24\n0\n0\n0\nWriteAsciiGrids = 1\nInitialStateDirectory = " + dir +
               "\nDefaultOutputDirectory = " + dir +
               "\n\n[output_list]\n0\n[coordinates]\n47\n8\n15\n0\n[meteo_data_count]\n0\n[meteo_names]\n"
               "[model_time]\n1\n1\n1\n2001\n24\n31\n12\n2001\n[zone_grid]\n" +
               p.zone + "\n[elevation_model]\n" + p.elevation + "\n[standard_grids]\n" + p.standard +
               "[variable_grids]\n0\n[radiation_correction]\n" + p.transition;
    }

    // Everything up to the elevation model: compile, output control, grid
    // definitions, model time, zone grid and its ranking, standard grids.
    int Prepare(const Sections& p) {
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
            std::fclose(Setup->ControlFile);
            Setup->ControlFile = nullptr;

            Setup->ReadZoneGrid();
            Setup->ModelZones = RankZoneGrid(ZoneRankingKind::SetUp, Setup->ZoneGrid, Setup->NRows, Setup->NCols,
                                             nullptr, Setup->NoData, Setup->CellSize, nullptr, Writer.get(),
                                             p.zone, "defaults");
            Setup->Zones = Setup->ModelZones.Records.data();
            Setup->RowExtents = Setup->ModelZones.RowExtents.data();
            Setup->ReadOrCreateStandardGrids();
            Setup->ReadVariableGrids();
        });
    }

    // The derived grids in the order of the initialisation.
    int Derive() {
        return ThrownCode([&] {
            const int given = Setup->FindGrid("RelCellArea");
            Setup->RelCellArea = given > 0 ? Table[given].Data : nullptr;
            Setup->CheckCellSizes();
            Setup->MakeCoordinateGrids();
            Setup->TakeElevationModel();
            Setup->make_Slope_and_Aspect();
            Setup->MakeRegionWeightGrids();
        });
    }

    int Run(const Sections& p) {
        const int code = Prepare(p);
        return code != 0 ? code : Derive();
    }

    Cells GridCells(const std::string& name) {
        const int index = Setup->FindGrid(name);
        EXPECT_GT(index, 0) << name;
        Cells cells(3, std::vector<double>(4));
        if (index <= 0) return cells;
        for (int i = 1; i <= 3; ++i) {
            for (int j = 1; j <= 4; ++j) cells[i - 1][j - 1] = Table[index].Data[i][j];
        }
        return cells;
    }

    Cells WrittenCells(const std::string& file) { return ReadTextCells(ReadFile(Dir.file(file))); }

    // Entries that hold a grid of that name.
    int EntriesNamed(const std::string& name) const {
        int count = 0;
        for (int i = FirstGridIndex; i <= LastGridIndex; ++i) count += Table[i].Data && Table[i].InternalName == name;
        return count;
    }

    int Status = -1;
    std::unique_ptr<MemoryGrid[]> Table;
    std::unique_ptr<defaultini> Setup;
};

TEST_F(DerivedGridsTest, WithoutGivenGridsEveryDerivedGridIsMadeStoredAndWrittenOnce) {
    ASSERT_EQ(Run(Sections{}), 0) << ConsoleText();

    struct Made {
        const char* name;
        int index;
        const char* file;
        bool written;
    };
    const std::vector<Made> made = {
        {"CellSizeX", 3, "zone.$csx", true},         {"CellSizeY", 4, "zone.$csy", true},
        {"RelCellArea", 5, "zone.$rca", true},       {"CoordX", 6, "zone.$cx", true},
        {"CoordY", 7, "zone.$cy", true},             {"slope_angle", 8, "dem.$sl", true},
        {"slope_aspect", 9, "dem.$ex", true},        {"regression_regions", 10, "zone.$r1", false},
        {"regression_weights1", 11, "zone.$w1", true},
    };
    for (const Made& m : made) {
        EXPECT_EQ(Setup->FindGrid(m.name), m.index) << m.name;
        const MemoryGrid& entry = Table[m.index];
        EXPECT_EQ(entry.FileName, m.file) << m.name;
        EXPECT_EQ(entry.UnitsDigit, 0) << m.name;
        EXPECT_EQ(entry.TensDigit, 0) << m.name;
        EXPECT_EQ(entry.Stack, nullptr) << m.name;
        EXPECT_EQ(entry.FirstRow, 1) << m.name;
        EXPECT_EQ(entry.LastRow, 3) << m.name;
        EXPECT_EQ(FileExists(Dir.file(m.file)), m.written) << m.name;
        if (m.written) {
            EXPECT_EQ(WrittenCells(m.file), GridCells(m.name)) << m.name;
        }
    }
    EXPECT_EQ(Setup->Settings.SetupGridCount, 9);
    EXPECT_EQ(EntriesNamed("regression_regions2"), 0);

    // The raster's own geometry.
    EXPECT_EQ(GridCells("CellSizeX"), Filled(Cs));
    EXPECT_EQ(GridCells("CellSizeY"), Filled(Cs));
    EXPECT_EQ(GridCells("RelCellArea"), Filled(1));
    EXPECT_EQ(Setup->RelCellArea, Table[5].Data);
    EXPECT_EQ(Setup->CellSizeXGrid, Table[3].Data);
    EXPECT_EQ(Setup->CoordYIndex, 7);
    EXPECT_FALSE(Setup->CellSizeXGiven || Setup->CellSizeYGiven || Setup->RelCellAreaGiven);
    const Cells x = GridCells("CoordX"), y = GridCells("CoordY");
    for (size_t i = 0; i < 3; ++i) {
        for (size_t j = 0; j < 4; ++j) {
            EXPECT_EQ(x[i][j], Inside(i, j) ? Xll + static_cast<double>(j) * Cs : ND) << i << "," << j;
            EXPECT_EQ(y[i][j], Inside(i, j) ? Yll + static_cast<double>(2 - i) * Cs : ND) << i << "," << j;
        }
    }

    // One region over the zone grid: its own weight everywhere.
    EXPECT_EQ(GridCells("regression_regions"), Filled(1));
    EXPECT_EQ(GridCells("regression_weights1"), OwnWeightOnly());
    EXPECT_EQ(Setup->Regions.Count, 1);
    EXPECT_EQ(Setup->Settings.RegionCount, 1);
    EXPECT_EQ(Setup->RegionTransitionDistance, 150);

    // Never written again in later steps.
    for (const Made& m : made) std::filesystem::remove(Dir.file(m.file));
    Setup->WriteStandardGrids(24, 31, 12, 2001);
    for (const Made& m : made) EXPECT_FALSE(FileExists(Dir.file(m.file))) << m.name;
}

TEST_F(DerivedGridsTest, NamesWithoutAnExtensionGetTheSuffixAppended) {
    Write("zonegrid", TextGrid(ZoneCells));
    Write("elevation", TextGrid(Uniform(10)));
    Sections p;
    p.zone = "zonegrid";
    p.elevation = "elevation";
    ASSERT_EQ(Run(p), 0) << ConsoleText();
    for (const char* file : {"zonegrid.$csx", "zonegrid.$csy", "zonegrid.$rca", "zonegrid.$cx", "zonegrid.$cy",
                             "elevation.$sl", "elevation.$ex", "zonegrid.$w1"}) {
        EXPECT_TRUE(FileExists(Dir.file(file))) << file;
    }
    EXPECT_EQ(Table[Setup->FindGrid("regression_regions")].FileName, "zonegrid.$r1");
}

TEST_F(DerivedGridsTest, GivenCellGeometryIsUsedAndOnlyTheMissingGridsAreMade) {
    Write("x.asc", TextGrid(Uniform(50)));
    Write("y.asc", TextGrid(Uniform(300)));
    Write("r.asc", TextGrid(Uniform(1.5)));
    Write("r_off.asc", TextGrid(Uniform(1.5001)));
    Write("x_zero.asc", TextGrid({{ND, 50, 50, ND}, {50, 0, 50, ND}, {ND, 50, 50, 50}}));
    Write("r4.asc", TextGrid(Uniform(4)));

    struct GeometryCase {
        const char* what;
        std::string standard;
        int code;
        Cells x, y, r;            // expected, when the case succeeds
        std::vector<std::string> created;  // derived files written
    };
    const std::vector<GeometryCase> cases = {
        {"both sizes", "2\nx.asc CellSizeX 0\ny.asc CellSizeY 0\n", 0, Filled(50), Filled(300), Filled(1.5),
         {"zone.$rca"}},
        {"all three agreeing", "3\nx.asc CellSizeX 0\ny.asc CellSizeY 0\nr.asc RelCellArea 0\n", 0, Filled(50),
         Filled(300), Filled(1.5), {}},
        {"relative area only", "1\nr4.asc RelCellArea 0\n", 0, Filled(200), Filled(200), Filled(4),
         {"zone.$csx", "zone.$csy"}},
        {"all three disagreeing", "3\nx.asc CellSizeX 0\ny.asc CellSizeY 0\nr_off.asc RelCellArea 0\n", 66, {}, {},
         {}, {}},
        {"zero width", "1\nx_zero.asc CellSizeX 0\n", 66, {}, {}, {}, {}},
    };
    for (const auto& c : cases) {
        for (const char* f : {"zone.$csx", "zone.$csy", "zone.$rca"}) std::filesystem::remove(Dir.file(f));
        Sections p;
        p.standard = c.standard;
        Console.str("");
        ASSERT_EQ(Prepare(p), 0) << c.what << "\n" << ConsoleText();
        const int before = Setup->Settings.SetupGridCount;
        EXPECT_EQ(ThrownCode([&] { Setup->CheckCellSizes(); }), c.code) << c.what << "\n" << ConsoleText();
        if (c.code != 0) continue;

        for (const char* name : {"CellSizeX", "CellSizeY", "RelCellArea"}) EXPECT_EQ(EntriesNamed(name), 1) << c.what;
        EXPECT_EQ(GridCells("CellSizeX"), c.x) << c.what;
        EXPECT_EQ(GridCells("CellSizeY"), c.y) << c.what;
        EXPECT_EQ(GridCells("RelCellArea"), c.r) << c.what;
        EXPECT_EQ(Setup->RelCellArea, Table[Setup->FindGrid("RelCellArea")].Data) << c.what;
        EXPECT_EQ(Setup->Settings.SetupGridCount, before + static_cast<int>(c.created.size())) << c.what;
        for (const char* f : {"zone.$csx", "zone.$csy", "zone.$rca"}) {
            const bool expected = std::find(c.created.begin(), c.created.end(), f) != c.created.end();
            EXPECT_EQ(FileExists(Dir.file(f)), expected) << c.what << " " << f;
        }
    }
    // The given files themselves are never written over.
    EXPECT_EQ(ReadTextCells(ReadFile(Dir.file("x.asc"))), Uniform(50));
    EXPECT_NE(ConsoleText().find("cell size in x direction is zero at row 2, column 2"), std::string::npos)
        << ConsoleText();

    // Coordinates follow the given widths and heights: in the rows above the
    // last one a cell's x corner is the sum of the widths to its left (a cell
    // outside the zones counts the raster's cell size), its y corner the
    // y corner of the cell below plus that cell's height.
    Sections p;
    p.standard = "2\nx.asc CellSizeX 0\ny.asc CellSizeY 0\n";
    ASSERT_EQ(Run(p), 0) << ConsoleText();
    const Cells x = GridCells("CoordX"), y = GridCells("CoordY");
    EXPECT_EQ(x, (Cells{{ND, Xll + 100, Xll + 150, ND}, {Xll, Xll + 50, Xll + 100, ND}, {ND, Xll + 100, Xll + 150,
                                                                                        Xll + 200}}));
    EXPECT_EQ(y, (Cells{{ND, Yll + 600, Yll + 600, ND}, {Yll + 100, Yll + 300, Yll + 300, ND}, {ND, Yll, Yll, Yll}}));
    EXPECT_EQ(WrittenCells("zone.$cx"), x);
    EXPECT_EQ(WrittenCells("zone.$cy"), y);
}

TEST_F(DerivedGridsTest, SlopeAndAspectAreDerivedOnlyWhereNotGiven) {
    // A plane rising by 10 per column: dx = 0.1, dy = 0 everywhere.
    Write("plane.asc", TextGrid({{10, 20, 30, 40}, {10, 20, 30, 40}, {10, 20, 30, 40}}));
    Write("given.asc", TextGrid(Uniform(7)));
    const double slope = std::atan(0.1) * 57.29577951307855;

    Sections p;
    p.elevation = "plane.asc";
    ASSERT_EQ(Run(p), 0) << ConsoleText();
    // Border cells take the mean of their derived neighbours, so the whole
    // plane has one slope and faces away from larger columns.
    for (const auto& [name, file, value] : {std::tuple{"slope_angle", "plane.$sl", slope},
                                            std::tuple{"slope_aspect", "plane.$ex", 270.0}}) {
        const Cells cells = GridCells(name);
        for (const auto& row : cells) {
            for (double v : row) EXPECT_NEAR(v, value, 1e-12) << name;
        }
        EXPECT_EQ(Table[Setup->FindGrid(name)].FileName, file);
        const Cells written = WrittenCells(file);
        for (size_t i = 0; i < 3; ++i) {
            for (size_t j = 0; j < 4; ++j) EXPECT_DOUBLE_EQ(written[i][j], cells[i][j]) << name;
        }
    }

    // One given: the other is derived, the given one stays as read.
    p.standard = "1\ngiven.asc slope_angle 0\n";
    ASSERT_EQ(Run(p), 0) << ConsoleText();
    EXPECT_EQ(EntriesNamed("slope_angle"), 1);
    EXPECT_EQ(GridCells("slope_angle"), Uniform(7));
    EXPECT_NEAR(GridCells("slope_aspect")[1][1], 270, 1e-12);
    EXPECT_FALSE(FileExists(Dir.file("given.$sl")));

    // Both given: nothing computed, logged or written.
    for (const char* f : {"plane.$sl", "plane.$ex"}) std::filesystem::remove(Dir.file(f));
    p.standard = "2\ngiven.asc slope_angle 0\ngiven.asc slope_aspect 0\n";
    ASSERT_EQ(Prepare(p), 0) << ConsoleText();
    Console.str("");
    const int count = Setup->Settings.SetupGridCount;
    ASSERT_EQ(ThrownCode([&] { Setup->make_Slope_and_Aspect(); }), 0);
    EXPECT_EQ(Setup->Settings.SetupGridCount, count);
    EXPECT_EQ(GridCells("slope_aspect"), Uniform(7));
    EXPECT_EQ(ConsoleText().find("calculating the lokal topography"), std::string::npos);
    EXPECT_FALSE(FileExists(Dir.file("plane.$sl")) || FileExists(Dir.file("plane.$ex")));
}

TEST_F(DerivedGridsTest, RegionWeightsOfTwoAndThreeRegionsAddUpToOne) {
    struct RegionCase {
        const char* what;
        Cells regions;
        std::vector<std::string> files;  // the grids made from the region file, in the order of their entries
    };
    const std::vector<RegionCase> cases = {
        {"two regions", {{ND, 1, 1, ND}, {2, 2, 1, ND}, {ND, 2, 2, 2}}, {"reg.$w1", "reg.$r2", "reg.$w2"}},
        {"three regions",
         {{ND, 1, 1, ND}, {2, 2, 3, ND}, {ND, 2, 3, 3}},
         {"reg.$w1", "reg.$r2", "reg.$w2", "reg.$r3", "reg.$w3"}},
    };
    const std::vector<std::string> names = {"regression_weights1", "regression_regions2", "regression_weights2",
                                            "regression_regions3", "regression_weights3"};
    for (const auto& c : cases) {
        Write("reg.asc", TextGrid(c.regions));
        Sections p;
        p.standard = "1\nreg.asc regression_regions 0\n";
        ASSERT_EQ(Run(p), 0) << c.what << "\n" << ConsoleText();
        EXPECT_EQ(EntriesNamed("regression_regions"), 1) << c.what;
        EXPECT_EQ(Setup->Regions.Count, static_cast<int>(c.files.size() + 1) / 2) << c.what;
        EXPECT_EQ(Setup->Settings.RegionCount, Setup->Regions.Count) << c.what;

        const int first = Setup->FindGrid("regression_weights1");
        for (size_t k = 0; k < names.size(); ++k) {
            const int index = Setup->FindGrid(names[k]);
            if (k >= c.files.size()) {
                EXPECT_EQ(index, 0) << c.what << " " << names[k];
                continue;
            }
            EXPECT_EQ(index, first + static_cast<int>(k)) << c.what << " " << names[k];
            EXPECT_EQ(Table[index].FileName, c.files[k]) << c.what;
            EXPECT_EQ(Table[index].UnitsDigit, 0) << c.what;
            EXPECT_EQ(WrittenCells(c.files[k]), GridCells(names[k])) << c.what << " " << names[k];
        }
        EXPECT_FALSE(FileExists(Dir.file("reg.$r1")));

        const Cells w1 = GridCells("regression_weights1"), w2 = GridCells("regression_weights2");
        const Cells w3 = c.files.size() > 3 ? GridCells("regression_weights3") : Uniform(0);
        for (size_t i = 0; i < 3; ++i) {
            for (size_t j = 0; j < 4; ++j) {
                if (!Inside(i, j)) continue;
                EXPECT_NEAR(w1[i][j] + w2[i][j] + w3[i][j], 1, 1e-12) << c.what << " " << i << "," << j;
            }
        }
        if (c.files.size() == 3) {
            // Radius 1.5 cells; the nearest cell of region 2 is 1 cell away:
            // weight 1 / (2 * 1.5) + 0.5 of the own region.
            EXPECT_NEAR(w1[0][1], 1 / 3.0 + 0.5, 1e-12);
            EXPECT_EQ(GridCells("regression_regions2")[0][1], 2);
        }
    }
}

TEST_F(DerivedGridsTest, TransitionDistanceIsRequiredAndKeptAtItsFloor) {
    Sections p;
    p.transition = "[region_transition_distance]\n0\n";
    ASSERT_EQ(Run(p), 0) << ConsoleText();
    EXPECT_EQ(Setup->RegionTransitionDistance, 0.01);
    EXPECT_EQ(GridCells("regression_weights1"), OwnWeightOnly());

    for (const std::string& broken : {std::string(), std::string("[region_transition_distance]\nfar\n")}) {
        p.transition = broken;
        ASSERT_EQ(Prepare(p), 0) << ConsoleText();
        Console.str("");
        EXPECT_EQ(ThrownCode([&] { Setup->MakeRegionWeightGrids(); }), 17) << broken;
        EXPECT_NE(ConsoleText().find(broken.empty() ? "[region_transition_distance]; (EOF)"
                                                    : "transition distance (if or if not using a region grid) "),
                  std::string::npos)
            << ConsoleText();
    }
}

TEST_F(DerivedGridsTest, FullGridTableEndsTheRunWithCode12) {
    Write("x.asc", TextGrid(Uniform(50)));
    Write("y.asc", TextGrid(Uniform(300)));
    Write("r.asc", TextGrid(Uniform(1.5)));
    Write("given.asc", TextGrid(Uniform(7)));
    struct FullCase {
        const char* what;
        std::string standard;
        std::function<void(defaultini&)> step;
        int code;
        const char* message;
    };
    const std::vector<FullCase> cases = {
        {"cell sizes", "0\n", [](defaultini& s) { s.CheckCellSizes(); }, 12,
         "no free grid found in memory (at position 1000)"},
        // Nothing to create, so nothing to fail.
        {"cell sizes all given", "3\nx.asc CellSizeX 0\ny.asc CellSizeY 0\nr.asc RelCellArea 0\n",
         [](defaultini& s) { s.CheckCellSizes(); }, 0, ""},
        {"coordinates", "0\n", [](defaultini& s) { s.MakeCoordinateGrids(); }, 12,
         "no free grid found in memory (at position 1000)"},
        {"slope angle", "0\n", [](defaultini& s) { s.make_Slope_and_Aspect(); }, 12,
         "no free grid found in memeory (at position 1000)"},
        {"slope aspect", "1\ngiven.asc slope_angle 0\n", [](defaultini& s) { s.make_Slope_and_Aspect(); }, 12,
         "no free grid left (at position 1000)"},
        {"region grid", "0\n", [](defaultini& s) { s.MakeRegionWeightGrids(); }, 12,
         "no free grid found in memory (at position 1000)"},
        {"weights", "1\ngiven.asc regression_regions 0\n", [](defaultini& s) { s.MakeRegionWeightGrids(); }, 12,
         "no free grid found in memory (at position 1000)"},
    };
    for (const auto& c : cases) {
        Sections p;
        p.standard = c.standard;
        ASSERT_EQ(Prepare(p), 0) << c.what << "\n" << ConsoleText();
        for (int i = FindFreeGridEntry(Table.get()); i <= LastGridIndex; ++i) Table[i].EverUsed = true;
        Console.str("");
        EXPECT_EQ(ThrownCode([&] { c.step(*Setup); }), c.code) << c.what << "\n" << ConsoleText();
        EXPECT_NE(ConsoleText().find(c.message), std::string::npos) << c.what << "\n" << ConsoleText();
    }
}

}  // namespace
