// The regional superposition: the blend of one cell, the entity blocks and
// their checks, the superposed grid of two regions against hand-computed
// values, thread-count invariance, and whole runs of the executable.

#include <gtest/gtest.h>
#include <omp.h>

#include <cstring>
#include <filesystem>
#include <memory>

#include "forcing/meteoint_fixture.h"
#include "forcing/meteoint_superposition.h"
#include "forcing/meteoint_superposition_kernels.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

using namespace testsupport;
using meteotest::G;
using meteotest::InputFixture;
using meteotest::ThrownCode;
namespace sp = superposition;

// The blend of one cell: layers without a region add nothing, every other
// layer adds each input times its weight for the layer's region times the
// layer's transition weight.
TEST(SuperpositionKernel, BlendOfOneCell) {
    const double w1[] = {0.25, 1.0};  // input 1, ranks 1 and 2
    const double w2[] = {0.75, 0.0};  // input 2
    const double* weights[] = {w1, w2};
    struct Case {
        const char* what;
        std::vector<double> inputs;
        std::vector<sp::LayerSample> layers;
        double expected;
    } cases[] = {
        {"own region only", {12, 102}, {{1, 1.0}, {0, 0.0}}, 0.25 * 12 + 0.75 * 102},
        {"two regions", {13, 103}, {{2, 0.8}, {1, 0.2}}, 0.8 * 13 + 0.2 * (0.25 * 13 + 0.75 * 103)},
        {"second layer without region ignores its weight", {24, 108}, {{2, 0.5}, {0, 0.5}}, 12},
        {"three layers", {2, 4}, {{1, 0.5}, {2, 0.3}, {1, 0.2}}, 0.7 * (0.5 + 3) + 0.3 * 2},
        {"no layer", {5, 6}, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_NEAR(sp::SuperposedValue(c.inputs, weights, c.layers), c.expected, 1e-12);
    }
}

TEST(SuperpositionKernel, KeysListsAndChecks) {
    // Values sit between the first "=" after the key and the next ";".
    const sp::KeyValue v = sp::FindKeyValue("x entityinputgrid = temp one ; regions = 1", "entityinputgrid");
    EXPECT_TRUE(v.HasValue);
    EXPECT_EQ(sp::FirstWord(v.Value), "temp");
    EXPECT_FALSE(sp::FindKeyValue("regions = 1, 2", "regions").HasValue);
    EXPECT_FALSE(sp::FindKeyValue("weights = 1;", "regions").KeyFound);
    EXPECT_EQ(sp::ListItems(" 1,2;\t3\n 4 ,, 5"), (std::vector<std::string>{"1", "2", "3", "4", "5"}));

    int i = 0;
    double d = 0;
    EXPECT_TRUE(sp::ParseInt("-12", &i));
    EXPECT_EQ(i, -12);
    EXPECT_FALSE(sp::ParseInt("1.5", &i));
    EXPECT_FALSE(sp::ParseInt("99999999999", &i));
    EXPECT_TRUE(sp::ParseDouble("2.5e-1", &d));
    EXPECT_EQ(d, 0.25);
    EXPECT_FALSE(sp::ParseDouble("0.5x", &d));
    EXPECT_FALSE(sp::ParseDouble("nan", &d));

    // Regions 3 and 5 with ranks 1 and 2.
    const int rank[] = {0, 0, 0, 1, 0, 2};
    EXPECT_EQ(sp::FirstMisplacedRegion({3, 5}, rank, 5), 0);
    EXPECT_EQ(sp::FirstMisplacedRegion({5, 3}, rank, 5), 1);
    EXPECT_EQ(sp::FirstMisplacedRegion({3, 7}, rank, 5), 2);
    EXPECT_EQ(sp::FirstMisplacedRegion({3, -1}, rank, 5), 2);
    EXPECT_EQ(sp::CodeOfRank(2, rank, 5), 5);
    EXPECT_EQ(sp::RankOfCode(sp::RegionCodeOf(4.6), rank, 5), 2);
    EXPECT_EQ(sp::RankOfCode(sp::RegionCodeOf(1e300), rank, 5), 0);

    struct SumCase {
        std::vector<std::vector<double>> weights;
        int rank;
    } sums[] = {
        {{{0.5, 1}, {0.5, 0}}, 0},
        {{{0.49995, 1}, {0.5, 0}}, 0},    // 0.99995 lies within the tolerance
        {{{0.5, 0.9998}, {0.5, 0}}, 2},   // 0.9998 does not
        {{}, 1},                          // no input: rank 1 with sum 0
    };
    for (const SumCase& c : sums) {
        std::vector<const std::vector<double>*> lists;
        for (const auto& w : c.weights) lists.push_back(&w);
        double sum = -1;
        EXPECT_EQ(sp::FirstUnbalancedRank(lists, 2, &sum), c.rank);
    }
}

namespace {

const char* const Mix =
    "mix {\tentityinputgrid = a; regions = 3, 5; weights = 0.25, 1;\n"
    "  entityinputgrid = b; regions = 3 5; weights = 0.75 0;\n"
    "  statcode = 2001; outputgrid = mixed; outputtable = mixed.txt; writecode = 0; }\n";

// The 3 x 4 grid of the meteorological fixture with two regions, codes 3
// (columns 1, 2) and 5 (columns 3, 4), their transition grids and two input
// grids a = 10 row + column and b = 100 + row column.
struct SuperpositionFixture : InputFixture {
    setuptest::Grid a{3, 4, 0.0}, b{3, 4, 0.0};
    setuptest::Grid regions1{{G, 3, 5, 5}, {3, 3, 5, 5}, {G, 3, 5, G}};
    setuptest::Grid weights1{{G, 1, 0.8, 0.6}, {0.9, 0.7, 0.6, 0.5}, {G, 1, 0.7, G}};
    setuptest::Grid regions2{{G, 0, 3, 3}, {5, 5, 3, 0}, {G, 0, 3, G}};
    setuptest::Grid weights2{{G, 0, 0.2, 0.4}, {0.1, 0.3, 0.4, 0.5}, {G, 0, 0.3, G}};
    std::vector<int> regionRank{0, 0, 0, 1, 0, 2};

    explicit SuperpositionFixture(bool weightGrids = true) {
        for (int r = 1; r <= 3; ++r) {
            for (int c = 1; c <= 4; ++c) {
                a.at(r, c) = 10.0 * r + c;
                b.at(r, c) = 100.0 + r * c;
            }
        }
        AddGrid("a", a);
        AddGrid("b", b);
        AddGrid("regression_regions", regions1);
        AddGrid("regression_weights1", weights1);
        AddGrid("regression_regions2", regions2);
        if (weightGrids) AddGrid("regression_weights2", weights2);
        settings.RegionCount = 2;
        settings.MaxRegionCode = 5;
        settings.RegionRank = regionRank.data();
    }
    void Section(const std::string& entities, int count = 1, int method = 1) {
        Control("[RegionalSuperposition]\n" + std::to_string(method) + "\n1440\nNumberOfEntities = " +
                std::to_string(count) + ";\n" + entities);
    }
    std::unique_ptr<RegionalSuperposition> Make() {
        int status = -1;
        auto s = std::make_unique<RegionalSuperposition>(&status, &writer, statistics, StatisticsTableSize,
                                                         "RegionalSuperposition", settings, table.get());
        EXPECT_EQ(status, 0);
        return s;
    }
    int Code() {
        return ThrownCode([&] { Make(); });
    }
    bool Fatal(const std::string& text) const { return Console().find(text) != std::string::npos; }
};

}  // namespace

// The superposed grid equals the hand-computed blend: region 3 mixes a and b
// by 0.25 and 0.75, region 5 takes a; cells outside the basin keep nodata.
TEST(Superposition, TwoRegionsBlendByTheirWeights) {
    SuperpositionFixture f;
    f.Section(Mix);
    auto s = f.Make();
    ASSERT_EQ(s->Entities.size(), 1u);
    cSuperposition& e = *s->Entities[0];
    EXPECT_EQ(e.Name, "mix");
    EXPECT_EQ(e.OutputTable, "mixed.txt");
    EXPECT_EQ(e.StatisticsCode, 2001);
    const int index = FindGridEntry(f.table.get(), "mixed", true);
    ASSERT_GT(index, 0);
    double** out = f.table[index].Data;
    EXPECT_EQ(out[2][3], 0.0);  // inside the basin the grid starts at 0

    s->RunTimeStep(24, 1, 1, 2020);
    const double expected[3][4] = {
        {G, 79.5, 26.5, 41.0},
        {75.675, 65.05, 47.9, 12.0},  // (2,4): no second region, so only half of a
        {G, 87.5, 50.1, G},
    };
    for (int r = 1; r <= 3; ++r) {
        for (int c = 1; c <= 4; ++c) EXPECT_NEAR(out[r][c], expected[r - 1][c - 1], 1e-12) << r << "," << c;
    }
    // Each step starts again from the inputs.
    f.a.at(2, 4) = 0;
    s->RunTimeStep(24, 2, 1, 2020);
    EXPECT_EQ(out[2][4], 0.0);

    s->WriteOutputs();
    s->FlushStatistics();
    const auto rows = meteotest::StatisticsRows(f.dir.file("out/mixed.txt"));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(std::vector<double>(rows[0].begin(), rows[0].begin() + 4), (std::vector<double>{2020, 1, 2, 24}));

    s->DeleteModule();
    EXPECT_EQ(FindGridEntry(f.table.get(), "mixed", true), 0);
    EXPECT_FALSE(f.Fatal("FATAL"));
}

// The cell loop gives the same bits on one thread and on four.
TEST(Superposition, OneThreadEqualsFour) {
    SuperpositionFixture f;
    f.Section(Mix);
    auto s = f.Make();
    double** out = s->Entities[0]->OutputGrid;
    const int saved = omp_get_max_threads();
    omp_set_num_threads(1);
    s->RunTimeStep(24, 1, 1, 2020);
    std::vector<double> one;
    for (int r = 1; r <= 3; ++r) one.insert(one.end(), out[r] + 1, out[r] + 5);
    std::fill(out[2] + 1, out[2] + 5, 0.0);  // a row of valid cells
    omp_set_num_threads(4);
    s->RunTimeStep(24, 1, 1, 2020);
    omp_set_num_threads(saved);
    std::vector<double> four;
    for (int r = 1; r <= 3; ++r) four.insert(four.end(), out[r] + 1, out[r] + 5);
    EXPECT_EQ(std::memcmp(one.data(), four.data(), one.size() * sizeof(double)), 0);
}

// Bad blocks end the run with the code of their kind.
TEST(Superposition, FaultyBlocksEndTheRun) {
    const std::string tail = "outputgrid = o; writecode = 0; outputtable = o.txt; statcode = 0; }\n";
    auto block = [&](const std::string& inputs) { return "e { " + inputs + tail; };
    struct Case {
        const char* what;
        std::string section;
        int code;
        const char* message;
    } cases[] = {
        {"too few region codes", block("entityinputgrid = a; regions = 3; weights = 1, 1;"), 134,
         "The number of regions here (1) does not equal the number of\nregions in the regiongrid (2)"},
        {"regions not ascending", block("entityinputgrid = a; regions = 5, 3; weights = 1, 1;"), 134,
         "region on position 1 in the region list should have value 3\nbut was read as 5"},
        {"code that is no region", block("entityinputgrid = a; regions = 3, 7; weights = 1, 1;"), 134,
         "region on position 2 was read as 7\nThere is now region with this code in the region grid"},
        {"region code not a number", block("entityinputgrid = a; regions = 3, x; weights = 1, 1;"), 134,
         "the region code \"x\" is no whole number"},
        {"missing regions key", block("entityinputgrid = a; weights = 1, 1;"), 134,
         "The number of regions here (0)"},
        {"too few weights", block("entityinputgrid = a; regions = 3, 5; weights = 1;"), 135,
         "The number of regions (2) does not equal the number of weights (1)"},
        {"weights off by 2e-4",
         block("entityinputgrid = a; regions = 3, 5; weights = 0.5, 1; entityinputgrid = b; regions = 3, 5; "
               "weights = 0.4998, 0;"),
         135, "entity: e\nregion 1: The sum of all weights is not 1.0 but 0.9998"},
        {"no input at all", block(""), 135, "region 1: The sum of all weights is not 1.0 but 0"},
        {"unknown input grid", block("entityinputgrid = nothere; regions = 3, 5; weights = 1, 1;"), 33,
         "nothere not found in memory"},
        {"missing output key", "e { entityinputgrid = a; regions = 3, 5; weights = 1, 1; writecode = 0; }\n", 17,
         "\"outputgrid\" = grid name; of entity e"},
        {"write code not a number",
         "e { entityinputgrid = a; regions = 3, 5; weights = 1, 1; outputgrid = o; writecode = x; "
         "outputtable = o.txt; statcode = 0; }\n",
         17, "\"writecode\" = integer; of entity e (read \"x\")"},
        {"no brace", "e entityinputgrid = a; }\n", 17, "must begin with the entity's name and \"{\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SuperpositionFixture f;
        f.Section(c.section);
        EXPECT_EQ(f.Code(), c.code);
        EXPECT_TRUE(f.Fatal(c.message)) << f.Console();
    }

    {
        SCOPED_TRACE("missing entity count");
        SuperpositionFixture f;
        f.Control("[RegionalSuperposition]\n1\n1440\nEntities = 1;\n");
        EXPECT_EQ(f.Code(), 133);
        EXPECT_TRUE(f.Fatal("could not read \"NumberOfEntities\" keyword in section [RegionalSuperposition]"));
    }
    {
        SCOPED_TRACE("weights within the tolerance");
        SuperpositionFixture f;
        f.Section(block("entityinputgrid = a; regions = 3, 5; weights = 0.5, 1; entityinputgrid = b; "
                        "regions = 3, 5; weights = 0.49995, 0;"));
        EXPECT_EQ(f.Code(), 0) << f.Console();
    }
    {
        SCOPED_TRACE("a region layer without its weight grid");
        SuperpositionFixture f(false);
        f.Section(Mix);
        EXPECT_EQ(f.Code(), 33);
        EXPECT_TRUE(f.Fatal("regression_weights2 not found in memory"));
    }
    {
        SCOPED_TRACE("grid table full");
        SuperpositionFixture f;
        for (int i = FindFreeGridEntry(f.table.get()); i <= LastGridIndex; ++i) {
            f.table[i].InternalName = "filler" + std::to_string(i);
            f.table[i].EverUsed = true;
        }
        f.Section(Mix);
        EXPECT_EQ(f.Code(), 12);
        EXPECT_TRUE(f.Fatal("no free grid anymore, allowed number of grids is 1000!"));
    }
    {
        SCOPED_TRACE("method 0 ignores the rest of the section");
        SuperpositionFixture f;
        f.Section("garbage\n", 3, 0);
        auto s = f.Make();
        EXPECT_TRUE(s->Entities.empty());
        s->RunTimeStep(24, 1, 1, 2020);
        s->WriteOutputs();
        s->DeleteModule();
    }
    {
        SCOPED_TRACE("a region code without a region in a region grid");
        SuperpositionFixture f;
        f.Section(Mix);
        auto s = f.Make();
        f.regions2.at(3, 3) = 4;
        EXPECT_EQ(ThrownCode([&] { s->RunTimeStep(24, 1, 1, 2020); }), 134);
        EXPECT_TRUE(f.Fatal("a region code without a region at row 3, column 3"));
    }
}

namespace {

// A run over ten days with the temperature interpolated from three stations,
// two regions (columns 1 and 2: region 1, columns 3 and 4: region 2) and one
// entity that takes the temperature in both regions.
ModelFiles SuperpositionRun() {
    ModelFiles files;
    files.MeteoInputs = "[meteo_data_count]\n1\n[meteo_names]\ntemperature\n";
    meteotest::Section temperature;
    temperature.StationLine = "temperature.txt";
    temperature.ResultName = "temperature.asc";
    temperature.WriteCode = 1;
    files.Extra = temperature.Text("temperature");
    files.StandardGrids =
        "2\ndem.asc elevation 0 writecode = 0 statfile = elevation.sta statcode = 0\n"
        "regions.asc regression_regions 0 writecode = 0 statfile = regions.sta statcode = 0\n";
    files.InputFiles["regions.asc"] =
        "ncols 4\nnrows 3\nxllcorner 1000\nyllcorner 2000\ncellsize 100\nnodata_value -9999\n"
        "-9999 1 2 2\n1 1 2 2\n-9999 1 2 -9999\n";
    files.InputFiles["temperature.txt"] = meteotest::StationText(
        {{1100, 2200, 500}, {1300, 2000, 650}, {1000, 2000, 450}},
        meteotest::DailyRows({2020, 1, 1, 24}, 12, 3, [](int day, int s) { return 3.0 * s - day; }));
    files.Methods["RegionalSuperposition"] = 1;
    files.SectionBodies["RegionalSuperposition"] =
        "NumberOfEntities = 1;\n"
        "same {\n  entityinputgrid = temperature;\n  regions = 1, 2;\n  weights = 1, 1;\n"
        "  outputgrid = mixed; writecode = 1;\n  outputtable = mixed.sta; statcode = 2001;\n}\n";
    return files;
}

}  // namespace

// A whole run writes the entity's grid and statistics; weights of 1 in both
// regions give back the input wherever the transition weights add up to 1.
TEST(SuperpositionRun, WritesItsGridAndStatistics) {
    TempDir dir;
    const auto control = SuperpositionRun().Write(dir);
    const auto run = RunRuvex(dir.path(), {control});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const auto mixed = meteotest::ReadTextGrid(dir.file("output/mixed"));
    const auto input = meteotest::ReadTextGrid(dir.file("output/temperature.asc"));
    for (int r = 1; r <= 3; ++r) {
        for (int c = 1; c <= 4; ++c) EXPECT_NEAR(mixed.at(r, c), input.at(r, c), 1e-9) << r << "," << c;
    }
    EXPECT_EQ(mixed.at(1, 1), -9999);
    // Both regions took part: the set-up made the second layer's weights.
    bool secondLayer = false;
    for (const auto& entry : std::filesystem::directory_iterator(dir.file("output"))) {
        const std::string name = entry.path().filename().string();
        secondLayer = secondLayer || (name.size() > 4 && name.substr(name.size() - 4) == ".$w2");
    }
    EXPECT_TRUE(secondLayer);
    const auto rows = meteotest::StatisticsRows(dir.file("output/mixed.sta"));
    ASSERT_EQ(rows.size(), 10u);
    EXPECT_EQ(std::vector<double>(rows.back().begin(), rows.back().begin() + 4),
              (std::vector<double>{2020, 1, 10, 24}));
}

// Every output file is the same byte for byte on one thread and on four.
TEST(SuperpositionRun, SameFilesOnOneAndFourThreads) {
    TempDir one, four;
    const ModelFiles files = SuperpositionRun();
    const auto a = RunRuvex(one.path(), {files.Write(one)}, "OMP_NUM_THREADS=1");
    const auto b = RunRuvex(four.path(), {files.Write(four)}, "RUVEX_PARALLEL_MIN_CELLS=1 OMP_NUM_THREADS=4");
    ASSERT_EQ(a.exitCode, 0) << a.output;
    ASSERT_EQ(b.exitCode, 0) << b.output;
    for (const char* name : {"output/mixed", "output/mixed.sta"}) {
        ASSERT_TRUE(std::filesystem::exists(one.file(name))) << name;
        EXPECT_EQ(ReadFile(one.file(name)), ReadFile(four.file(name))) << name;
    }
}
