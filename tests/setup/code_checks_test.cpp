#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "framework/gridtable.h"
#include "framework/modelobject.h"
#include "setup/defltuzr_codes.h"
#include "setup/setup_fixture.h"

namespace {

constexpr double ND = -9999;
const std::string Rule(71, '-');

using Cells = std::vector<std::vector<double>>;

std::vector<LanduseType> LanduseTable(const std::vector<int>& codes) {
    std::vector<LanduseType> table(codes.size() + 1);
    table[0].Code = static_cast<int32_t>(codes.size());
    for (size_t k = 0; k < codes.size(); ++k) table[k + 1].Code = codes[k];
    return table;
}

std::vector<SoilType> SoilTable(const std::vector<int>& codes) {
    std::vector<SoilType> table;
    table.emplace_back(static_cast<int>(codes.size()));
    for (int code : codes) table.emplace_back(code);
    return table;
}

std::vector<IrrigationRule> IrrigationTable(const std::vector<int>& codes) {
    std::vector<IrrigationRule> table(codes.size() + 1);
    table[0].Code = static_cast<int32_t>(codes.size());
    for (size_t k = 0; k < codes.size(); ++k) table[k + 1].Code = codes[k];
    return table;
}

// Multilayer entries as (code, layer codes as read).
std::vector<MultilayerLanduseType> MultilayerTable(const std::vector<std::pair<int, std::vector<int32_t>>>& entries) {
    std::vector<MultilayerLanduseType> table(entries.size() + 1);
    table[0].Code = static_cast<int32_t>(entries.size());
    for (size_t j = 0; j < entries.size(); ++j) {
        MultilayerLanduseType& entry = table[j + 1];
        entry.Code = entries[j].first;
        entry.CodeCopy = entry.Code;
        entry.LayerCount = static_cast<int32_t>(entries[j].second.size());
        entry.LayerCodes.push_back(entry.LayerCount);
        for (int32_t code : entries[j].second) entry.LayerCodes.push_back(code);
        entry.LayerCodesAsRead = entry.LayerCodes;
    }
    return table;
}

// A set-up with a grid table of its own: the zone grid in entry 1 (the
// valid cells are the non-nodata cells of `zone`) and code grids stored after
// it as the set-up stores its standard grids.
class CodeChecks : public setuptest::SetupFixture {
protected:
    void Init(const Cells& zone) {
        Setup.ModuleName = "defaults";
        Setup.NRows = static_cast<int32_t>(zone.size());
        Setup.NCols = static_cast<int32_t>(zone[0].size());
        Setup.NoData = ND;
        Setup.GridTable = Table.get();
        Add("zonegrid", "zone.asc", zone);
    }

    ~CodeChecks() override { FreeGrids(); }

    // Every grid of the table is owned by the test.
    void FreeGrids() {
        for (int i = FirstGridIndex; i <= LastGridIndex; ++i) {
            if (Table[i].Data) Setup.free_matrix(Table[i].Data, 1, Setup.NRows, 1, Setup.NCols);
            Table[i].Data = nullptr;
        }
    }

    // A fresh grid table with only the zone grid.
    void Reset(const Cells& zone) {
        FreeGrids();
        Table = CreateGridTable();
        Init(zone);
    }

    int Add(const std::string& name, const std::string& fileName, const Cells& cells) {
        const int index = FindFreeGridEntry(Table.get());
        double** grid = Setup.matrix(1, Setup.NRows, 1, Setup.NCols, Setup.NRows);
        for (int r = 1; r <= Setup.NRows; ++r)
            for (int c = 1; c <= Setup.NCols; ++c) grid[r][c] = cells[r - 1][c - 1];
        Setup.StoreGrid(index, fileName, grid, nullptr, 1, name, 0, 1, Setup.NRows);
        return index;
    }

    Cells Values(int index) const {
        Cells cells(Setup.NRows, std::vector<double>(Setup.NCols));
        double** grid = Table[index].Data;
        for (int r = 1; r <= Setup.NRows; ++r)
            for (int c = 1; c <= Setup.NCols; ++c) cells[r - 1][c - 1] = grid[r][c];
        return cells;
    }

    std::unique_ptr<MemoryGrid[]> Table = CreateGridTable();
    modelobject Setup{Writer.get(), ""};
};

// Two rows of three cells; the last cell of each row lies outside the zones.
const Cells Zone2x3 = {{1, 1, ND}, {2, 2, ND}};

TEST_F(CodeChecks, LandUseCodesBecomeTablePositions) {
    struct Case {
        std::vector<int> codes;
        Cells grid;
        Cells expected;
        std::vector<std::string> replacements;
    };
    const std::vector<Case> cases = {
        // codes 10, 20, 30 become 1, 2, 3; an outside cell with a table code is
        // renumbered as well, an outside code missing from the table stays
        {{10, 20, 30},
         {{10, 20, 30}, {30, 10, 99}},
         {{1, 2, 3}, {3, 1, 99}},
         {"10 replaced by 1 ...", "20 replaced by 2 ...", "30 replaced by 3 ..."}},
        // swapped codes: no chain through the other entry's position
        {{2, 1}, {{1, 2, ND}, {2, 2, 1}}, {{2, 1, ND}, {1, 1, 2}}, {"2 replaced by 1 ...", "1 replaced by 2 ..."}},
        // codes equal to their positions: nothing to replace
        {{1, 2, 3}, {{3, 2, ND}, {1, 1, ND}}, {{3, 2, ND}, {1, 1, ND}}, {}},
    };
    for (const Case& test : cases) {
        Reset(Zone2x3);
        const int index = Add("landuse", "landuse.asc", test.grid);
        std::vector<MultilayerLanduseType> none;
        EXPECT_EQ(CheckLanduseCodes(Setup, index, LanduseTable(test.codes), none), Table[index].Data);
        EXPECT_EQ(Values(index), test.expected);
    }
    const auto entries = Entries();
    std::vector<std::string> replacements;
    int checking = 0, replacing = 0;
    for (const auto& line : entries) {
        if (line.level != DiagInfo) {
            EXPECT_EQ(line.level, DiagDebug) << line.description;
        }
        if (line.description.find("replaced by") != std::string::npos) replacements.push_back(line.description);
        checking += line.description == "1.: checking codes in land use grid";
        replacing += line.description == "2.:replacing codes in land use grid landuse.asc";
    }
    EXPECT_EQ(checking, 3);
    EXPECT_EQ(replacing, 3);
    std::vector<std::string> expected;
    for (const Case& test : cases) expected.insert(expected.end(), test.replacements.begin(), test.replacements.end());
    EXPECT_EQ(replacements, expected);
}

TEST_F(CodeChecks, SoilAndIrrigationGridsAreRenumbered) {
    Init(Zone2x3);
    const int soil = Add("soil_types", "soil.asc", {{7, 3, ND}, {3, 7, 5}});
    // irrigation: 0 and below mark cells without irrigation, inside or not
    const int irrigation = Add("irrigation_codes", "irr.asc", {{0, -1, ND}, {12, 4, 4}});
    EXPECT_EQ(check_SOIL_Codes(Setup, soil, SoilTable({3, 7})), Table[soil].Data);
    EXPECT_EQ(check_irrig_Codes(Setup, irrigation, IrrigationTable({4, 12})), Table[irrigation].Data);
    EXPECT_EQ(Values(soil), (Cells{{2, 1, ND}, {1, 2, 5}}));
    EXPECT_EQ(Values(irrigation), (Cells{{0, -1, ND}, {2, 1, 1}}));
    EXPECT_EQ(CountEntries(DiagDebug, "2.:replacing soil type codes soil.asc"), 1);
}

TEST_F(CodeChecks, IrrigationCodeZeroOfTheTableIsRenumbered) {
    // a table code of 0 is a code like any other
    Init(Zone2x3);
    const int irrigation = Add("irrigation_codes", "irr.asc", {{0, -1, ND}, {0, 3, ND}});
    check_irrig_Codes(Setup, irrigation, IrrigationTable({3, 0}));
    EXPECT_EQ(Values(irrigation), (Cells{{2, -1, ND}, {2, 1, ND}}));
}

TEST_F(CodeChecks, CodeMissingFromItsTableIsFatal) {
    struct Case {
        const char* name;
        Cells grid;
        std::function<void(modelobject&, int)> check;
        std::string text;
        int code;
    };
    const std::vector<Case> cases = {
        {"landuse",
         {{10, 20, ND}, {40, 10, ND}},
         [](modelobject& s, int i) {
             std::vector<MultilayerLanduseType> none;
             CheckLanduseCodes(s, i, LanduseTable({10, 20}), none);
         },
         "land use 40 in grid grid.asc (landuse)\nis not present in the land use table in the control file \n",
         31},
        // a code with a fraction is no code, even though its whole part is
        {"landuse",
         {{10, 20.5, ND}, {10, 10, ND}},
         [](modelobject& s, int i) {
             std::vector<MultilayerLanduseType> none;
             CheckLanduseCodes(s, i, LanduseTable({10, 20}), none);
         },
         "land use 20.5 in grid grid.asc (landuse)\nis not present in the land use table in the control file \n",
         31},
        // nodata inside the zones is no land use
        {"landuse",
         {{10, 10, ND}, {ND, 10, ND}},
         [](modelobject& s, int i) {
             std::vector<MultilayerLanduseType> none;
             CheckLanduseCodes(s, i, LanduseTable({10}), none);
         },
         "land use -9999 in grid grid.asc (landuse)\nis not present in the land use table in the control file \n",
         31},
        // no land-use table at all
        {"landuse",
         {{10, 10, ND}, {10, 10, ND}},
         [](modelobject& s, int i) {
             std::vector<MultilayerLanduseType> none;
             CheckLanduseCodes(s, i, {}, none);
         },
         "land use 10 in grid grid.asc (landuse)\nis not present in the land use table in the control file \n",
         31},
        {"landuse",
         {{100, 300, ND}, {100, 100, ND}},
         [](modelobject& s, int i) {
             auto multilayer = MultilayerTable({{100, {10}}, {200, {10}}});
             CheckLanduseCodes(s, i, LanduseTable({10}), multilayer);
         },
         "land use 300 in grid grid.asc (landuse)\nis not present in the multilayer-landuse-table in the control "
         "file \n",
         311},
        {"soil_types",
         {{1, 2, ND}, {1, 9, ND}},
         [](modelobject& s, int i) {
             check_SOIL_Codes(s, i, SoilTable({1, 2}));
         },
         "soil type 9 in grid grid.asc (soil_types)\nis not present in the control file \n",
         32},
        {"irrigation_codes",
         {{0, 2, ND}, {-3, 0.5, ND}},
         [](modelobject& s, int i) { check_irrig_Codes(s, i, IrrigationTable({2})); },
         "irrigation type 0.5 in grid grid.asc (irrigation_codes)\nis not present in the irrigation table in the "
         "control file \n",
         31},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.text);
        Reset(Zone2x3);
        Console.str("");
        const int index = Add(test.name, "grid.asc", test.grid);
        EXPECT_EQ(ThrownCode([&] { test.check(Setup, index); }), test.code);
        EXPECT_NE(ConsoleText().find("\n" + Rule + "\n" + test.text + Rule + "\n\n\n"), std::string::npos)
            << ConsoleText();
    }
    EXPECT_EQ(CountEntries(DiagFatal, "is not present in the"), static_cast<int>(cases.size()));
}

TEST_F(CodeChecks, FirstFailingCellInRowOrderIsReported) {
    Init({{1, 1, 1, 1}, {1, 1, 1, 1}, {1, 1, 1, 1}});
    const int index = Add("soil_types", "s.asc", {{1, 1, 1, 1}, {1, 1, 1, 77}, {55, 1, 1, 1}});
    EXPECT_EQ(ThrownCode([&] { check_SOIL_Codes(Setup, index, SoilTable({1})); }), 32);
    EXPECT_NE(ConsoleText().find("soil type 77 in grid"), std::string::npos);
}

TEST_F(CodeChecks, AbsentGridsAndBadIndices) {
    Init(Zone2x3);
    std::vector<MultilayerLanduseType> none;
    EXPECT_EQ(CheckLanduseCodes(Setup, 0, LanduseTable({1}), none), nullptr);
    EXPECT_EQ(check_SOIL_Codes(Setup, 0, SoilTable({1})), nullptr);
    EXPECT_EQ(check_irrig_Codes(Setup, 0, IrrigationTable({1})), nullptr);
    EXPECT_EQ(ConsoleText(), "");
    EXPECT_EQ(ThrownCode([&] { check_SOIL_Codes(Setup, 1000, SoilTable({1})); }), 12);
    EXPECT_EQ(ThrownCode([&] { CheckLanduseCodes(Setup, -4, LanduseTable({1}), none); }), 12);
    std::vector<double**> layers;
    EXPECT_EQ(ThrownCode([&] { MakeLanduseLayerGrids(Setup, 1001, none, layers, nullptr); }), 12);
}

TEST_F(CodeChecks, MissingZoneGridIsFatal) {
    Setup.NRows = 1;
    Setup.NCols = 1;
    Setup.GridTable = Table.get();
    Table[1].InternalName = "zonegrid";
    Table[1].EverUsed = true;
    const int index = Add("soil_types", "s.asc", {{1}});
    EXPECT_EQ(ThrownCode([&] { check_SOIL_Codes(Setup, index, SoilTable({1})); }), 33);
}

// Land-use codes 5, 7, 9 at positions 1, 2, 3; multilayer entries 100 (5 and
// no second layer), 200 (7, 9) and 300 (9 and a second layer below nodata).
class MultilayerCodes : public CodeChecks {
protected:
    void SetUp() override {
        Init({{1, 1, 1, ND}, {1, 1, 1, ND}});
        Landuse = Add("landuse", "lu.asc", {{100, 200, 300, ND}, {200, 100, 200, 100}});
    }
    std::vector<LanduseType> LanduseCodes = LanduseTable({5, 7, 9});
    std::vector<MultilayerLanduseType> Multilayer =
        MultilayerTable({{100, {5, -9999}}, {200, {7, 9}}, {300, {9, -20000}}});
    int Landuse = 0;
    std::vector<double**> Layers;
    int GridCount = 0;
};

TEST_F(MultilayerCodes, LayerGridsHoldTheLandUsePositionsOfEachLayer) {
    EXPECT_EQ(SetUpLanduseLayers(Setup, Landuse, LanduseCodes, Multilayer, Layers, &GridCount), 2);
    // the grid holds multilayer positions, outside the zones too
    EXPECT_EQ(Values(Landuse), (Cells{{1, 2, 3, ND}, {2, 1, 2, 1}}));
    EXPECT_EQ(Table[Landuse].InternalName, "landuse");
    EXPECT_EQ(Multilayer[1].LayerCodes, (std::vector<int32_t>{2, 1, -9999}));
    EXPECT_EQ(Multilayer[2].LayerCodes, (std::vector<int32_t>{2, 2, 3}));
    EXPECT_EQ(Multilayer[3].LayerCodes, (std::vector<int32_t>{2, 3, -20000}));
    EXPECT_EQ(Multilayer[2].LayerCodesAsRead, (std::vector<int32_t>{2, 7, 9}));

    ASSERT_EQ(Layers.size(), 3u);
    EXPECT_EQ(Layers[0], Table[Landuse].Data);
    EXPECT_EQ(GridCount, 2);
    const int first = Setup.FindGrid("landuse1");
    const int second = Setup.FindGrid("landuse2");
    ASSERT_GT(first, 0);
    EXPECT_EQ(second, first + 1);
    EXPECT_EQ(Table[first].FileName, "landuse1");
    EXPECT_EQ(Table[second].FileName, "landuse2");
    EXPECT_EQ(Table[first].UnitsDigit, 0);
    EXPECT_EQ(Table[first].Data, Layers[1]);
    EXPECT_EQ(Table[second].Data, Layers[2]);
    EXPECT_EQ(Values(first), (Cells{{1, 2, 3, ND}, {2, 1, 2, ND}}));
    // absent layers are nodata, also a layer code below nodata
    EXPECT_EQ(Values(second), (Cells{{ND, 3, ND, ND}, {3, ND, 3, ND}}));

    int changed = 0;
    for (const auto& line : Entries()) {
        changed += line.description.rfind("Code replacement in MultiLayer-Landuse ", 0) == 0;
    }
    EXPECT_EQ(changed, 4);  // 5 -> 1, 7 -> 2 and 9 -> 3 twice
    EXPECT_NE(ConsoleText().find("Code replacement in MultiLayer-Landuse 2: changed Layer-Code #2 from 9 to 3"),
              std::string::npos);
}

TEST_F(MultilayerCodes, CellsOfOtherProcessesAreNodata) {
    Add("MPIRegions", "", {{0, 0, 1, ND}, {1, 0, 0, ND}});
    SetUpLanduseLayers(Setup, Landuse, LanduseCodes, Multilayer, Layers, &GridCount);
    ASSERT_EQ(Layers.size(), 3u);
    EXPECT_EQ(Values(Setup.FindGrid("landuse1")), (Cells{{1, 2, ND, ND}, {ND, 1, 2, ND}}));
}

TEST_F(MultilayerCodes, LayerGridsSkipTakenEntries) {
    // the entry after the first free one holds a grid, which is not overwritten
    const int free = FindFreeGridEntry(Table.get());
    Add("other", "other.asc", {{0, 0, 0, 0}, {0, 0, 0, 0}});
    const int taken = Add("taken", "taken.asc", {{0, 0, 0, 0}, {0, 0, 0, 0}});
    ASSERT_EQ(taken, free + 1);
    double** takenData = Table[taken].Data;
    Setup.free_matrix(Table[free].Data, 1, Setup.NRows, 1, Setup.NCols);
    Table[free] = MemoryGrid();  // a fresh entry again
    SetUpLanduseLayers(Setup, Landuse, LanduseCodes, Multilayer, Layers, &GridCount);
    EXPECT_EQ(Setup.FindGrid("landuse1"), free);
    EXPECT_EQ(Setup.FindGrid("landuse2"), taken + 1);
    EXPECT_EQ(Table[taken].InternalName, "taken");
    EXPECT_EQ(Table[taken].Data, takenData);
}

TEST_F(MultilayerCodes, LayerCodeErrors) {
    struct Case {
        std::vector<std::pair<int, std::vector<int32_t>>> entries;
        std::string text;
    };
    const std::vector<Case> cases = {
        {{{100, {5, 6}}, {200, {7, 9}}, {300, {9, 5}}},
         "\n" + Rule +
             "\nError: not all layer codes from landuse 100 from MultiLayer_Landuse-Table\nare present in the "
             "landuse-table in the control file: Here, code 6 is missing.\n" +
             Rule + "\n\n"},
        {{{100, {5, 7}}, {200, {-9999, 9}}, {300, {9, 5}}},
         "\n\n" + Rule +
             "\nError: the first Layer code of each MultiLayer-Landuse Entry \nmust be a valid entry (not 9999 or "
             "larger):\nHere, line 2 contains -9999 as first layer code.\n" +
             Rule + "\n\n"},
    };
    for (const Case& test : cases) {
        Console.str("");
        auto multilayer = MultilayerTable(test.entries);
        EXPECT_EQ(ThrownCode([&] { CheckLanduseCodes(Setup, Landuse, LanduseCodes, multilayer); }), 312);
        EXPECT_NE(ConsoleText().find(test.text), std::string::npos) << ConsoleText();
        // the grid is renumbered again from scratch for the next case
        double** grid = Table[Landuse].Data;
        grid[1][1] = 100, grid[1][2] = 200, grid[1][3] = 300, grid[2][1] = 200, grid[2][2] = 100, grid[2][3] = 200;
    }
}

TEST_F(MultilayerCodes, FullGridTableIsFatal) {
    for (int i = FindFreeGridEntry(Table.get()) + 1; i <= LastGridIndex; ++i) {
        Table[i].InternalName = "x";
        Table[i].EverUsed = true;
    }
    // one free entry left, two layers needed: nothing is stored
    EXPECT_EQ(ThrownCode([&] { SetUpLanduseLayers(Setup, Landuse, LanduseCodes, Multilayer, Layers, &GridCount); }),
              12);
    EXPECT_NE(ConsoleText().find("no free grid found in memory (at position 1000)\n"), std::string::npos);
    EXPECT_EQ(GridCount, 0);
    EXPECT_EQ(Setup.FindGrid("landuse1"), 0);
}

TEST_F(MultilayerCodes, UncheckedGridIsRefusedByTheLayerGrids) {
    // layer grids made from a grid still holding codes instead of positions
    EXPECT_EQ(ThrownCode([&] { MakeLanduseLayerGrids(Setup, Landuse, Multilayer, Layers, &GridCount); }), 311);
    EXPECT_NE(ConsoleText().find("land use 100 in grid lu.asc (landuse)"), std::string::npos);
}

TEST_F(CodeChecks, SingleLayerIsTheLandUseGridItself) {
    Init(Zone2x3);
    const int index = Add("landuse", "lu.asc", {{10, 20, ND}, {20, 10, ND}});
    std::vector<MultilayerLanduseType> none;
    std::vector<double**> layers;
    int count = 0;
    EXPECT_EQ(SetUpLanduseLayers(Setup, index, LanduseTable({20, 10}), none, layers, &count), 1);
    EXPECT_EQ(layers, (std::vector<double**>{Table[index].Data, Table[index].Data}));
    EXPECT_EQ(Table[index].InternalName, "landuse1");
    EXPECT_EQ(Setup.FindGrid("landuse"), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(Values(index), (Cells{{2, 1, ND}, {1, 2, ND}}));

    layers.assign(3, nullptr);
    EXPECT_EQ(SetUpLanduseLayers(Setup, 0, LanduseTable({20, 10}), none, layers, &count), 0);
    EXPECT_TRUE(layers.empty());
}

TEST(CellCodes, OnlyWholeNumbersAreCodes) {
    int32_t code = 0;
    EXPECT_TRUE(CellCode(-3, &code));
    EXPECT_EQ(code, -3);
    EXPECT_TRUE(CellCode(2147483647.0, &code));
    EXPECT_FALSE(CellCode(2147483648.0, &code));
    EXPECT_FALSE(CellCode(4.5, &code));
    EXPECT_FALSE(CellCode(std::nan(""), &code));
    EXPECT_FALSE(CellCode(INFINITY, &code));
}

}  // namespace
