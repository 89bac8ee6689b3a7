#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <vector>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/modelobject.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

// The code thrown by the call, or 0.
int ThrownCode(const std::function<void()>& call) {
    try {
        call();
    } catch (int code) {
        return code;
    }
    return 0;
}

class GridTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        writer = std::make_unique<DiagnosticsWriter>(dir.file("diag.xml"), DiagDebug, console);
        table = CreateGridTable();
        model = std::make_unique<modelobject>(writer.get(), "", true, false, "", dir.path() + "/");
        model->ModuleName = "tablecheck";
        model->GridTable = table.get();
        model->NCols = 3;
        model->NRows = 2;
    }
    void TearDown() override {
        for (int i = 1; i <= LastGridIndex; ++i) {
            if (table[i].SumGrid || table[i].MinGrid || table[i].MaxGrid || table[i].VegGrid) model->ReleaseGrid(i);
        }
        for (double** g : grids) model->free_matrix(g, 1, 2, 1, 3);
    }
    double** NewGrid(double value = 1) {
        double** g = model->matrix(1, 2, 1, 3, 2);
        for (int i = 1; i <= 2; ++i)
            for (int j = 1; j <= 3; ++j) g[i][j] = value;
        grids.push_back(g);
        return g;
    }
    void Store(int index, const std::string& name, int writeCode = 0) {
        model->StoreGrid(index, name + ".asc", NewGrid(), nullptr, 1, name, writeCode, 1, 2);
    }

    TempDir dir;
    std::ostringstream console;
    std::unique_ptr<DiagnosticsWriter> writer;
    std::unique_ptr<MemoryGrid[]> table;
    std::unique_ptr<modelobject> model;
    std::vector<double**> grids;
};

TEST_F(GridTableTest, FreshTableHoldsPresetEntries) {
    for (int i : {0, 1, 500, 1000}) {
        const MemoryGrid& e = table[i];
        EXPECT_EQ(e.Data, nullptr);
        EXPECT_EQ(e.NumLevels, 1);
        EXPECT_EQ(e.StepCount, 1.0);
        EXPECT_EQ(e.PeriodicityCount, -1);
        EXPECT_EQ(e.PeriodicityOffset, -1);
        EXPECT_TRUE(e.Persistent);
        EXPECT_EQ(e.ReadCode, 1);
        EXPECT_EQ(e.UnitsDigit, 0);
        EXPECT_TRUE(e.InternalName.empty());
        EXPECT_TRUE(GridEntryFree(e));
    }
    EXPECT_EQ(FindFreeGridEntry(table.get()), 1);
}

TEST_F(GridTableTest, StoreSplitsWriteCodeAndReleaseFreesAggregates) {
    struct Case {
        int code, units, tens, minFlag, maxFlag, thousands;
    };
    const Case cases[] = {{1315, 5, 1, 1, 1, 1}, {100, 0, 0, 1, 0, 0}, {200, 0, 0, 0, 1, 0},
                          {460, 0, 6, 0, 0, 0},  {9999, 9, 9, 0, 0, 9}, {2, 2, 0, 0, 0, 0}};
    int index = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        Store(index, "g" + std::to_string(index), c.code);
        const MemoryGrid& e = table[index];
        EXPECT_EQ(e.UnitsDigit, c.units);
        EXPECT_EQ(e.TensDigit, c.tens);
        EXPECT_EQ(e.MinFlag, c.minFlag);
        EXPECT_EQ(e.MaxFlag, c.maxFlag);
        EXPECT_EQ(e.ThousandsDigit, c.thousands);
        EXPECT_EQ(e.SumGrid != nullptr, c.tens != 0);
        EXPECT_EQ(e.MinGrid != nullptr, c.minFlag == 1);
        EXPECT_EQ(e.MaxGrid != nullptr, c.maxFlag == 1);
        EXPECT_EQ(e.VegGrid != nullptr, c.thousands != 0);
        EXPECT_EQ(e.StepCount, 0.0);
        EXPECT_EQ(e.OutputName, e.FileName);
        EXPECT_EQ(e.OutputNameOwned, 1);
        if (e.SumGrid) {
            EXPECT_EQ(e.SumFileName, e.FileName);
        }
        ++index;
    }

    model->ReleaseGrid(1);
    const MemoryGrid& e = table[1];
    EXPECT_EQ(e.SumGrid, nullptr);
    EXPECT_EQ(e.MinGrid, nullptr);
    EXPECT_EQ(e.MaxGrid, nullptr);
    EXPECT_EQ(e.VegGrid, nullptr);
    EXPECT_EQ(e.Data, nullptr);
    EXPECT_TRUE(e.FileName.empty());
    EXPECT_TRUE(e.InternalName.empty());
    EXPECT_TRUE(e.OutputName.empty());
    EXPECT_EQ(e.TensDigit, 1);  // the digits stay
    EXPECT_FALSE(GridEntryFree(e));
    model->ReleaseGrid(1);  // a second release finds nothing to free
}

TEST_F(GridTableTest, StoreKeepsAnOutputNameGivenBefore) {
    table[3].OutputName = "given.out";
    Store(3, "x");
    EXPECT_EQ(table[3].OutputName, "given.out");
    EXPECT_EQ(table[3].OutputNameOwned, 0);
    model->ReleaseGrid(3);
    EXPECT_EQ(table[3].OutputName, "given.out");
}

TEST_F(GridTableTest, NothingIsFoundBeforeEntryOne) {
    Store(2, "elevation");
    EXPECT_EQ(model->FindGrid("elevation"), 0);
    EXPECT_EQ(ThrownCode([&] { model->GetGridIndex("elevation"); }), 33);
    EXPECT_EQ(ThrownCode([&] { model->FindOneOfThreeGrids("a", "b", "elevation"); }), 33);
}

TEST_F(GridTableTest, ReleasedEntryDoesNotHideLaterEntries) {
    Store(1, "zones");
    Store(2, "precipitation");
    Store(3, "temperature");
    model->ReleaseGrid(2);
    EXPECT_EQ(model->FindGrid("temperature"), 3);
    EXPECT_EQ(model->GetGridIndex("temperature"), 3);
    EXPECT_EQ(model->FindOneOfThreeGrids("precipitation", "x", "temperature"), 3);
    EXPECT_EQ(model->FindGrid("precipitation"), 0);
    // A released entry is not handed out again as free.
    EXPECT_EQ(FindFreeGridEntry(table.get()), 4);
}

TEST_F(GridTableTest, EntryWithoutDataIsSkippedByFindGridOnly) {
    Store(1, "zones");
    model->StoreGrid(2, "firn.stk", nullptr, nullptr, 3, "firn_stack", 0, 1, 2);
    Store(3, "snow");
    EXPECT_EQ(model->FindGrid("firn_stack"), 0);
    EXPECT_EQ(model->FindGrid("snow"), 3);
    EXPECT_EQ(model->GetGridIndex("firn_stack"), 2);
}

TEST_F(GridTableTest, SetUpEntriesNamedDirectlyAreNotFree) {
    // The set-up fills file names and identifiers before it reads the grids.
    table[1].FileName = "zone.asc";
    table[1].InternalName = "[zone_grid]";
    table[2].FileName = "dem.asc";
    EXPECT_EQ(FindFreeGridEntry(table.get()), 3);
    EXPECT_EQ(model->GetGridIndex("[zone_grid]"), 1);
}

TEST_F(GridTableTest, LastUsableEntryAndIndexLimits) {
    for (int i = 1; i <= LastGridIndex; ++i) table[i].EverUsed = true;
    Store(999, "last");
    EXPECT_EQ(model->FindGrid("last"), 999);
    EXPECT_EQ(model->GetGridIndex("last"), 999);
    EXPECT_EQ(FindFreeGridEntry(table.get()), NoFreeGridEntry);

    table[1000].InternalName = "beyond";
    table[1000].Data = NewGrid();
    EXPECT_EQ(model->FindGrid("beyond"), 0);

    for (int index : {1000, 1001, 0, -1}) {
        SCOPED_TRACE(index);
        EXPECT_EQ(ThrownCode([&] { Store(index, "x"); }), 12);
        EXPECT_EQ(ThrownCode([&] { model->ReleaseGrid(index); }), 12);
    }
    EXPECT_NE(console.str().find("no free grid in memory,(max. 1000)!"), std::string::npos);
}

TEST_F(GridTableTest, MissingGridMessages) {
    Store(1, "zones");
    EXPECT_EQ(ThrownCode([&] { model->GetGridIndex("radiation"); }), 33);
    EXPECT_NE(console.str().find("\n---------------- !!! ERROR !!!  --------------------------\nradiation not found "
                                 "in memory,\nThese data are needed within tablecheck \nif they are interpolated "
                                 "data, please specify an interpolator for\nradiation in the control file or read it "
                                 "in as a standardfile,\n"),
              std::string::npos)
        << console.str();

    console.str("");
    EXPECT_EQ(ThrownCode([&] { model->FindOneOfFourGrids("a", "b", "c", "d"); }), 33);
    EXPECT_NE(console.str().find("Wether a, b, c or d \nwhere found in memory,\nOne of these data sets has to be "
                                 "present within tablecheck \nIf the data are to be interpolated, please specify an "
                                 "interpolatior for\na, b, c or d in the control file,\nor read it as a standard grid "
                                 "\n"),
              std::string::npos)
        << console.str();

    Store(2, "b");
    Store(3, "a");
    EXPECT_EQ(model->FindOneOfThreeGrids("a", "b", "zones"), 3);
    EXPECT_EQ(model->FindOneOfFourGrids("x", "y", "b", "a"), 2);
}

TEST_F(GridTableTest, UnitsDigitEightWritesTheFilledSnapshotAtOnce) {
    Store(1, "zones");
    Store(2, "filled", 8);
    EXPECT_TRUE(FileExists(dir.file("filled.asc.filled")));
    EXPECT_FALSE(FileExists(dir.file("filled.asc")));
}

}  // namespace
