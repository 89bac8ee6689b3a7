#include "parameters/defltuzr_spinup.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/modelobject.h"
#include "framework/zonetable.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

constexpr double N = -9999;
using Rows = std::vector<std::vector<double>>;

// A set-up object on a small model grid: the zone grid in grid-table entry 1,
// its row extents, text grid output, and input and output in one temporary
// directory.
class SpinUpFixture {
public:
    explicit SpinUpFixture(const Rows& zone)
        : rows(static_cast<int>(zone.size())), cols(static_cast<int>(zone[0].size())) {
        setup.ModuleName = "defaults";
        setup.NRows = rows;
        setup.NCols = cols;
        setup.FirstRow = 1;
        setup.LastRow = rows;
        setup.CellSize = 100;
        setup.NoData = N;
        setup.GridTable = table.get();
        setup.WriteAsciiGrids = true;
        setup.InputDirectory = dir.path() + "/";
        setup.OutputDirectory = dir.path() + "/";
        double** zoneGrid = Matrix(zone);
        setup.StoreGrid(1, "zone.asc", zoneGrid, nullptr, 1, "zone", 0, 1, rows);
        extents = DeriveRowExtents(zoneGrid, rows, cols, N);
        setup.RowExtents = extents.data();
    }
    ~SpinUpFixture() {
        for (int i = FirstGridIndex; i <= LastGridIndex; ++i) {
            if (table[i].Data) setup.free_matrix(table[i].Data, 1, rows, 1, cols);
        }
    }

    double** Matrix(const Rows& values) {
        double** grid = setup.matrix(1, rows, 1, cols, rows);
        for (int r = 1; r <= rows; ++r)
            for (int c = 1; c <= cols; ++c) grid[r][c] = values[r - 1][c - 1];
        return grid;
    }
    // Stores a grid under `name` in the first free entry; returns the entry.
    int Store(const std::string& name, const Rows& values, const std::string& fileName = "") {
        const int index = FindFreeGridEntry(table.get());
        setup.StoreGrid(index, fileName.empty() ? name : fileName, Matrix(values), nullptr, 1, name, 0, 1, rows);
        return index;
    }
    void Control(const std::string& text) { WriteFile(setup.ControlFilePath, text); }

    // The thrown code, 0 when the call returns.
    int Run() {
        try {
            result = ReadSpinUpAndCreateHRUs(setup, &gridCount);
        } catch (int code) {
            return code;
        }
        return 0;
    }

    // A grid file in the directory, read back through the model's reader.
    Rows ReadBack(const std::string& name) {
        double** grid = nullptr;
        setup.ReadGrid(name, grid, 0, true, false, 0, false);
        Rows values = Cells(grid);
        setup.free_matrix(grid, 1, rows, 1, cols);
        return values;
    }
    Rows Cells(double** grid) const {
        Rows values(rows, std::vector<double>(cols));
        for (int r = 1; r <= rows; ++r)
            for (int c = 1; c <= cols; ++c) values[r - 1][c - 1] = grid[r][c];
        return values;
    }
    Rows Table(const std::string& name) {
        const int index = setup.FindGrid(name);
        EXPECT_GT(index, 0) << name;
        return index > 0 ? Cells(table[index].Data) : Rows{};
    }
    std::string Console() const { return console.str(); }

    TempDir dir;
    std::ostringstream console;
    DiagnosticsWriter writer{dir.file("diag.xml"), DiagDebug, console};
    std::unique_ptr<MemoryGrid[]> table = CreateGridTable();
    modelobject setup{&writer, dir.file("control.txt")};
    const int rows, cols;
    std::vector<RowExtent> extents;
    SpinUpSettings result;
    int gridCount = 10;
};

struct Unit {
    uint64_t id;
    std::string key;
    int row, col;
};

void ExpectUnits(const std::vector<HRUEntry>& list, const std::vector<Unit>& expected) {
    ASSERT_EQ(list.size(), expected.size() + 1);
    EXPECT_EQ(list[0].Id, 0u);
    EXPECT_EQ(list[0].Key, "");
    EXPECT_EQ(list[0].MasterRow, 0);
    EXPECT_EQ(list[0].MasterCol, 0);
    for (size_t i = 0; i < expected.size(); ++i) {
        const HRUEntry& unit = list[i + 1];
        EXPECT_EQ(unit.Id, expected[i].id) << "unit " << i + 1;
        EXPECT_EQ(unit.Key, expected[i].key) << "unit " << i + 1;
        EXPECT_EQ(unit.MasterRow, expected[i].row) << "unit " << i + 1;
        EXPECT_EQ(unit.MasterCol, expected[i].col) << "unit " << i + 1;
        EXPECT_FALSE(unit.Flag);
    }
}

const Rows ClassZone = {{N, 1, 1, 1}, {1, 1, N, 1}, {1, 1, 1, N}};

}  // namespace

// Elevation in classes of 100 m and soil types in classes of 1: units in scan
// order, each with its first cell as master. A cell without a soil value is
// classified by elevation alone; cells outside the zone grid, without an
// elevation, of another process or outside the row extents belong to no unit.
TEST(SpinUpUnits, ClassifiesByElevationAndSoil) {
    SpinUpFixture f(ClassZone);
    f.Store("elevation", {{500, 250, 299, 120}, {250, N, 777, 130}, {260, 299, 150, 999}});
    f.Store("[soil]", {{1, 1.2, 1.4, 2}, {1.5, 3, 4, N}, {N, 1.9, 2.5, 5}});
    f.Store("MPIRegions", {{N, 0, 0, 0}, {0, 0, N, 0}, {0, 0, 1, N}});
    f.Control("[model_time]\n0\n[SpinUp]\n1 spin up\n1 3\n2 grids\nelevation 100 linear\nsoil 1 lin\n[next]\n");

    ASSERT_EQ(f.Run(), 0) << f.Console();
    EXPECT_EQ(f.result.SpinUpSwitch, 1);
    EXPECT_EQ(f.result.doTemperaturePreSpinUp, 1);
    EXPECT_EQ(f.result.repeatCnt, 3);
    ExpectUnits(f.result.HRUList,
                {{1, "0002'0001'", 1, 2}, {2, "0001'0002'", 1, 4}, {3, "0001'", 2, 4}, {4, "0002'", 3, 1}});

    const Rows units = {{N, 1, 1, 2}, {1, N, N, 3}, {4, 1, N, N}};
    const Rows masters = {{N, 1, N, 2}, {N, N, N, 3}, {4, N, N, N}};
    EXPECT_EQ(f.Table("HydrologicResponseUnits"), units);
    EXPECT_EQ(f.Table("MasterHydrologicResponseUnits"), masters);
    EXPECT_EQ(f.ReadBack("All_HydrologicResponseUnits"), units);
    EXPECT_EQ(f.ReadBack("Master_HydrologicResponseUnits"), masters);

    EXPECT_EQ(f.gridCount, 12);
    EXPECT_EQ(f.result.UnitGridIndex, f.setup.FindGrid("HydrologicResponseUnits"));
    EXPECT_EQ(f.result.MasterGridIndex, f.result.UnitGridIndex + 1);
    const MemoryGrid& entry = f.table[f.result.UnitGridIndex];
    EXPECT_EQ(entry.FileName, "All_HydrologicResponseUnits");
    EXPECT_EQ(entry.FirstRow, 1);
    EXPECT_EQ(entry.LastRow, 3);
    EXPECT_EQ(entry.UnitsDigit + entry.TensDigit, 0);
    EXPECT_EQ(f.table[f.result.MasterGridIndex].FileName, "Master_HydrologicResponseUnits");
    EXPECT_NE(f.Console().find("Creating HRUs"), std::string::npos);
}

// Keys of single cells: square-root spacing folds the sign away, linear
// spacing keeps negative classes unlimited, and -0 shares the class of 0.
TEST(SpinUpUnits, ClassKeysOfSpacings) {
    struct Case {
        const char* spacing;
        double width;
        std::vector<double> values;
        std::vector<double> ids;
        std::vector<std::string> keys;
    };
    const Case cases[] = {
        {"sqrt", 1, {16, -16, 0, -0.0, 3}, {1, 1, 2, 2, 3}, {"0004'", "0000'", "0001'"}},
        {"lin_sqrt_spacing", 2, {100, 1}, {1, 2}, {"0005'", "0000'"}},
        {"linear", 1, {-1, -0.5, -0.0, 0, -12345.5}, {1, 1, 2, 2, 3}, {"-001'", "0000'", "-12346'"}},
        {"linear", 0.5, {9999.5 * 0.5, 1e-300}, {1, 2}, {"9999'", "0000'"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.spacing);
        const int cols = static_cast<int>(c.values.size());
        SpinUpFixture f({std::vector<double>(cols, 1)});
        f.Store("v", {c.values});
        f.Control("[SpinUp]\n1\n0\n1\n1\nv " + std::to_string(c.width) + " " + c.spacing + "\n");
        ASSERT_EQ(f.Run(), 0) << f.Console();
        EXPECT_EQ(f.Table("HydrologicResponseUnits"), Rows{c.ids});
        ASSERT_EQ(f.result.HRUList.size(), c.keys.size() + 1);
        for (size_t k = 0; k < c.keys.size(); ++k) EXPECT_EQ(f.result.HRUList[k + 1].Key, c.keys[k]);
    }
}

// Where the pre-run flag and the repeat count stand; a switch of 0 reads
// nothing more.
TEST(SpinUpSettingsRead, SwitchPreRunAndRepeatCount) {
    struct Case {
        const char* section;
        int spinUp, preRun, repeat;
        size_t units;
    };
    const Case cases[] = {
        {"1\n1 3\n1\nv 1 linear\n", 1, 1, 3, 2},
        {"1 comment\n0\n5 comment 7\n1 grid\nv 1 linear\n", 1, 0, 5, 2},
        {"2\n1 4 more text 9\n1\nv 1 linear\n", 2, 1, 4, 2},
        {"0 no spin-up\nnot a number\n", 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.section);
        SpinUpFixture f({{1, 1}});
        f.Store("v", {{1, 2}});
        f.Control(std::string("[SpinUp]\n") + c.section);
        ASSERT_EQ(f.Run(), 0) << f.Console();
        EXPECT_EQ(f.result.SpinUpSwitch, c.spinUp);
        EXPECT_EQ(f.result.doTemperaturePreSpinUp, c.preRun);
        EXPECT_EQ(f.result.repeatCnt, c.repeat);
        EXPECT_EQ(f.result.HRUList.size(), c.units + 1);
        EXPECT_EQ(f.setup.FindGrid("HydrologicResponseUnits") > 0, c.units > 0);
    }
}

// Without "[SpinUp]" spin-up is off: no units, no grids, no files.
TEST(SpinUpSettingsRead, MissingSectionMeansNoSpinUp) {
    SpinUpFixture f({{1, 1}});
    f.Store("HydrologicResponseUnits", {{4, 4}});
    f.Control("[model_time]\n1\n[SpinUp_other]\n1\n");
    ASSERT_EQ(f.Run(), 0) << f.Console();
    EXPECT_EQ(f.result.SpinUpSwitch, 0);
    EXPECT_EQ(f.result.doTemperaturePreSpinUp, 0);
    EXPECT_EQ(f.result.repeatCnt, 0);
    ExpectUnits(f.result.HRUList, {});
    EXPECT_EQ(f.result.UnitGridIndex, 0);
    EXPECT_EQ(f.setup.FindGrid("MasterHydrologicResponseUnits"), 0);
    EXPECT_EQ(f.Table("HydrologicResponseUnits"), (Rows{{4, 4}}));
    EXPECT_FALSE(FileExists(f.dir.file("All_HydrologicResponseUnits")));
    EXPECT_EQ(f.gridCount, 10);
}

TEST(SpinUpSettingsRead, ControlFileErrors) {
    struct Case {
        const char* section;
        int code;
        const char* message;
    };
    const Case cases[] = {
        {"x\n", 17, "SpinUp-switch not found"},
        {"99999999999\n", 17, "SpinUp-switch not found"},
        {"1\nx\n", 17, "doTemperaturePreSpinUp not found"},
        {"1\n1 x\n", 17, "repeatCnt not found"},
        {"1\n1\n", 17, "repeatCnt not found"},
        {"1\n1 1\nmany\n", 17, "numGrids not found"},
        {"1\n1 1\n-1\n", 17, "numGrids in [SpinUp]"},
        {"1\n1 1\n1\nv 0 linear\n", 17, "class width of HRU grid v"},
        {"1\n1 1\n1\nv -100 linear\n", 17, "class width of HRU grid v"},
        {"1\n1 1\n1\nv nan linear\n", 17, "class width of HRU grid v"},
        {"1\n1 1\n1\nv inf linear\n", 17, "class width of HRU grid v"},
        {"1\n1 1\n1\nv wide linear\n", 17, "error reading HRU defintions"},
        {"1\n1 1\n1\nv 100", 17, "error reading HRU defintions"},
        {"1\n1 1\n2\nv 100 linear\n", 17, "error reading HRU defintions"},
        {"1\n1 1\n1\nnosuch 100 linear\n", 33, "nosuch"},
        {"1\n1 1\n1\nempty 100 linear\n", 33, "empty used to create HRUs holds no data"},
        {"1\n1 1\n1\nv 1 linear\n", 1031,
         "re-classify result of 10000 for grid v at row=1 and col=2. Only 10'000 Classes are allowed"},
        {"1\n1 1\n0\n", 1030,
         "standard grid with identifier HydrologicResponseUnits not found (Hydrologic Respond Units, HRU; used "
         "for SpinUp mode)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.section);
        SpinUpFixture f({{1, 1}});
        f.Store("v", {{9999.9, 10000}});
        f.setup.StoreGrid(FindFreeGridEntry(f.table.get()), "", nullptr, nullptr, 1, "empty", 0, 1, 1);
        f.Control(std::string("[SpinUp]\n") + c.section);
        EXPECT_EQ(f.Run(), c.code);
        EXPECT_NE(f.Console().find(c.message), std::string::npos) << f.Console();
    }
}

TEST(SpinUpSettingsRead, UnopenableControlFile) {
    SpinUpFixture f(Rows{{1}});
    EXPECT_EQ(f.Run(), 28);
    EXPECT_NE(f.Console().find("Error opening " + f.setup.ControlFilePath), std::string::npos);
}

// A supplied unit grid next to classification grids would be found first by
// every user of the units, with codes that do not match the list.
TEST(SpinUpSettingsRead, ClassificationBesideSuppliedUnitGridRefused) {
    SpinUpFixture f({{1, 1}});
    f.Store("HydrologicResponseUnits", {{4, 4}});
    f.Store("v", {{1, 2}});
    f.Control("[SpinUp]\n1\n0 1\n1\nv 1 linear\n");
    EXPECT_EQ(f.Run(), 17);
    EXPECT_NE(f.Console().find("standard grid HydrologicResponseUnits"), std::string::npos);
    EXPECT_EQ(f.Table("HydrologicResponseUnits"), (Rows{{4, 4}}));
}

TEST(SpinUpGrids, NoFreeGridTableEntry) {
    struct Case {
        bool supplied;
        int freeEntries;
        const char* message;
    };
    const Case cases[] = {
        {false, 0, "create HRU grid: no free grid found in memory (max position 1000)"},
        {false, 1, "create HRUMaster grid: no free grid found in memory (max position 1000)"},
        {true, 0, "create HRUMaster grid: no free grid found in memory (max position 1000)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        SpinUpFixture f({{1, 1}});
        f.Store(c.supplied ? "HydrologicResponseUnits" : "v", {{1, 2}});
        for (int i = FindFreeGridEntry(f.table.get()) + c.freeEntries; i <= LastGridIndex; ++i) {
            f.table[i].EverUsed = true;
        }
        f.Control(c.supplied ? "[SpinUp]\n1\n0 1\n0\n" : "[SpinUp]\n1\n0 1\n1\nv 1 linear\n");
        EXPECT_EQ(f.Run(), 12);
        EXPECT_NE(f.Console().find(c.message), std::string::npos) << f.Console();
    }
}

// The master grid never replaces a grid stored in the entry after the unit
// grid's.
TEST(SpinUpGrids, MasterGridTakesTheNextFreeEntry) {
    SpinUpFixture f({{1, 1}});
    f.Store("v", {{1, 2}});
    const int unitIndex = FindFreeGridEntry(f.table.get());
    f.setup.StoreGrid(unitIndex + 1, "kept", f.Matrix({{7, 8}}), nullptr, 1, "kept", 0, 1, 1);
    f.Control("[SpinUp]\n1\n0 1\n1\nv 1 linear\n");
    ASSERT_EQ(f.Run(), 0) << f.Console();
    EXPECT_EQ(f.result.UnitGridIndex, unitIndex);
    EXPECT_EQ(f.result.MasterGridIndex, unitIndex + 2);
    EXPECT_EQ(f.Table("kept"), (Rows{{7, 8}}));
    EXPECT_EQ(f.Table("MasterHydrologicResponseUnits"), (Rows{{1, 2}}));
}

// A supplied unit grid: its codes become the ids 1..U in scan order, written
// as "All_HydrologicResponseUnits" beside an untouched input file. A cell
// outside the zone grid belongs to no unit, even inside the row extents; a
// basin cell without a code is a unit of its own.
TEST(SpinUpGrids, SuppliedUnitGridRenumbered) {
    SpinUpFixture f({{N, 1, 1, 1}, {1, N, 1, N}});
    const std::string input = "ncols 4\nnrows 2\nxllcorner 0\nyllcorner 0\ncellsize 100\nnodata_value -9999\n"
                              "5 7 7 3\n3 8 -9999 7\n";
    WriteFile(f.dir.file("hru.asc"), input);
    double** supplied = nullptr;
    f.setup.ReadGrid("hru.asc", supplied, 0, true, false, 0, false);
    const int index = FindFreeGridEntry(f.table.get());
    f.setup.StoreGrid(index, "hru.asc", supplied, nullptr, 1, "HydrologicResponseUnits", 0, 1, 2);
    f.Control("[SpinUp]\n1\n0 2\n0 supplied grid\n");

    ASSERT_EQ(f.Run(), 0) << f.Console();
    EXPECT_EQ(f.result.repeatCnt, 2);
    ExpectUnits(f.result.HRUList, {{1, "7", 1, 2}, {2, "3", 1, 4}, {3, "-9999", 2, 3}});
    const Rows units = {{N, 1, 1, 2}, {2, N, 3, N}};
    const Rows masters = {{N, 1, N, 2}, {N, N, 3, N}};
    EXPECT_EQ(f.result.UnitGridIndex, index);
    EXPECT_EQ(f.Cells(supplied), units);
    EXPECT_EQ(f.Table("MasterHydrologicResponseUnits"), masters);
    EXPECT_EQ(f.ReadBack("All_HydrologicResponseUnits"), units);
    EXPECT_EQ(f.ReadBack("MasterHydrologicResponseUnits"), masters);
    EXPECT_EQ(ReadFile(f.dir.file("hru.asc")), input);
    EXPECT_EQ(f.table[index].FileName, "hru.asc");
    EXPECT_EQ(f.table[f.result.MasterGridIndex].FileName, "MasterHydrologicResponseUnits");
    EXPECT_EQ(f.gridCount, 11);
}

// Even a supplied grid read from "All_HydrologicResponseUnits" in the output
// directory is not written over.
TEST(SpinUpGrids, SuppliedUnitGridNamedLikeTheOutput) {
    SpinUpFixture f({{1, 1, 1}});
    const std::string input = "ncols 3\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 100\nnodata_value -9999\n"
                              "9 4 9\n";
    WriteFile(f.dir.file("All_HydrologicResponseUnits"), input);
    double** supplied = nullptr;
    f.setup.ReadGrid("All_HydrologicResponseUnits", supplied, 0, true, false, 0, false);
    f.setup.StoreGrid(FindFreeGridEntry(f.table.get()), "All_HydrologicResponseUnits", supplied, nullptr, 1,
                      "HydrologicResponseUnits", 0, 1, 1);
    f.Control("[SpinUp]\n1\n0 1\n0\n");
    ASSERT_EQ(f.Run(), 0) << f.Console();
    EXPECT_EQ(ReadFile(f.dir.file("All_HydrologicResponseUnits")), input);
    EXPECT_EQ(f.ReadBack("All_HydrologicResponseUnits_renumbered"), (Rows{{1, 2, 1}}));
}
