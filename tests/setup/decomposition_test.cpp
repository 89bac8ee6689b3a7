#include "setup/defltuzr_decomposition.h"

#include <gtest/gtest.h>

#include <sstream>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/modelobject.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

struct DecompositionFixture {
    TempDir dir;
    std::ostringstream console;
    DiagnosticsWriter writer{dir.file("d.xml"), DiagDebug, console};
    std::unique_ptr<MemoryGrid[]> table = CreateGridTable();
    modelobject setup{&writer, ""};
    double** zone = nullptr;
    RegionDecomposition d;
    int gridCount = 0;

    DecompositionFixture(int rows, int cols) {
        setup.NRows = rows;
        setup.NCols = cols;
        setup.NoData = -9999;
        setup.GridTable = table.get();
        zone = setup.matrix(1, rows, 1, cols, rows);
        table[1].Data = zone;
        table[1].InternalName = "zone";
        table[1].EverUsed = true;
    }
    ~DecompositionFixture() {
        FreeMPIRegions(setup, d);
        setup.free_matrix(zone, 1, setup.NRows, 1, setup.NCols);
    }
};

}  // namespace

TEST(RegionDecomposition, LeadingNodataColumns) {
    DecompositionFixture f(3, 4);
    for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 4; ++c) f.zone[r][c] = c <= 2 ? -9999 : 5;
    MakeMPIRegions(f.setup, f.zone, f.d, &f.gridCount);
    EXPECT_EQ(f.gridCount, 3);
    EXPECT_EQ(f.setup.FindGrid("MPIRegions"), 2);
    EXPECT_EQ(f.setup.FindGrid("MPIHelper"), 3);
    EXPECT_EQ(f.setup.FindGrid("MPIHalo"), 4);
    for (int r = 1; r <= 3; ++r) {
        EXPECT_EQ(f.d.Regions[r][1], -9999);
        EXPECT_EQ(f.d.Regions[r][3], 0);
        EXPECT_EQ(f.d.Helper[r][0], 2);
        EXPECT_EQ(f.d.Helper[r][1], 0);
        EXPECT_EQ(f.d.Helper[r][2], 2);
        for (int c = 1; c <= 4; ++c) EXPECT_EQ(f.d.Halo[r][c], -9999);
    }
    EXPECT_EQ(f.d.CellsPerProcess[0], 6);
    EXPECT_EQ(f.d.FirstRow, 1);
    EXPECT_EQ(f.d.LastRow, 3);
}

TEST(RegionDecomposition, CheckerboardRunsFitTheirRows) {
    // every cell starts a new run: 2 x columns + 1 elements per row
    DecompositionFixture f(4, 9);
    for (int r = 1; r <= 4; ++r)
        for (int c = 1; c <= 9; ++c) f.zone[r][c] = (r + c) % 2 ? 1 : -9999;
    MakeMPIRegions(f.setup, f.zone, f.d, &f.gridCount);
    double row[32];
    EXPECT_EQ(RunLengthRow(f.d.Regions[2], 9, -9999, row), 19);  // nine runs of one cell each
    EXPECT_EQ(row[0], 0);
    EXPECT_EQ(f.d.Helper[1][0], 1);
    for (int k = 1; k < 17; k += 2) EXPECT_EQ(f.d.Helper[1][k + 1], 1);
    EXPECT_EQ(f.d.CellsPerProcess[0], 18);
}

TEST(RegionDecomposition, NoValidCells) {
    DecompositionFixture f(2, 3);
    for (int r = 1; r <= 2; ++r)
        for (int c = 1; c <= 3; ++c) f.zone[r][c] = -9999;
    MakeMPIRegions(f.setup, f.zone, f.d, &f.gridCount);
    EXPECT_EQ(f.d.CellsPerProcess[0], 0);
    EXPECT_EQ(f.d.Helper[1][0], 3);
    EXPECT_EQ(f.d.Regions[2][3], -9999);
}

TEST(RegionDecomposition, FullTableGivesCode12) {
    DecompositionFixture f(2, 2);
    for (int i = 2; i <= 998; ++i) {
        f.table[i].InternalName = std::to_string(i) + "_taken";
        f.table[i].EverUsed = true;
    }
    try {
        MakeMPIRegions(f.setup, f.zone, f.d, &f.gridCount);
        ADD_FAILURE();
    } catch (int code) {
        EXPECT_EQ(code, 12);
    }
    EXPECT_NE(f.console.str().find("when trying to create MPI-Regions: no free grid found in memory (at position 1000)"),
              std::string::npos);
}
