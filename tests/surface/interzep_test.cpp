// Interception: the kernels against hand values, whole cells of one and three
// vegetation layers, the water and tracer balance of every cell and step, and
// the zone means of the statistics.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <sstream>
#include <utility>
#include <vector>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/statistics_table.h"
#include "parameters/landuse.h"
#include "parameters/multilayer_landuse.h"
#include "setup/tracer_ini.h"
#include "support/test_support.h"
#include "support/water_balance.h"
#include "surface/interzep.h"
#include "surface/interzep_physics.h"

using namespace testsupport;

namespace {

TEST(InterceptionKernels, HandValues) {
    EXPECT_DOUBLE_EQ(interzep::Capacity(-1, 0.3, 2), 0.6);  // no IntercepCap: SIdicke
    EXPECT_DOUBLE_EQ(interzep::Capacity(0.3, 0.5, 4), 1.2);
    EXPECT_DOUBLE_EQ(interzep::Capacity(0, 0.5, 4), 0.0);    // an IntercepCap of 0 holds nothing
    EXPECT_DOUBLE_EQ(interzep::Capacity(0.3, 0.5, -9999), 0.0);

    struct Fill {
        double input, coverage, storage, capacity;
        double throughfall, stored, overflow;
    };
    const Fill fills[] = {
        {10, 1, 0, 0.6, 9.4, 0.6, 9.4},    // full cover: all beyond the capacity falls through
        {10, 0, 0.2, 0.6, 10, 0.2, 0},     // no cover: the storage never changes
        {2, 0.5, 0, 1.2, 1, 1, 0},         // below the capacity
        {10, 0.5, 0, 1.2, 8.8, 1.2, 3.8},  // half cover with overflow
        {1, 1, 0.6, 0.6, 1, 0.6, 1},       // full storage
        {4, 1.5, 0, 10, 0, 4, 0},          // a cover above 1 counts as 1
    };
    for (const Fill& f : fills) {
        const auto r = interzep::FillStorage(f.input, f.coverage, f.storage, f.capacity);
        EXPECT_NEAR(r.throughfall, f.throughfall, 1e-12) << f.input << " " << f.coverage;
        EXPECT_NEAR(r.storage, f.stored, 1e-12);
        EXPECT_NEAR(r.overflow, f.overflow, 1e-12);
        EXPECT_NEAR(f.input + f.storage, r.throughfall + r.storage, 1e-12);
    }

    struct Evaporation {
        int method;
        double storage, potInterception, potTranspiration;
        double evaporation, stored, potAfter, totalReduction;
    };
    const Evaporation rules[] = {
        {1, 0.6, 0, 0.25, 0.25, 0.35, 0, 0.25},   // the potential is smaller: the rest stays stored
        {1, 0.2, 0, 0.25, 0.2, 0, 0.05, 0.2},     // the storage is smaller: it empties
        {2, 0.6, 0.5, 0.3, 0.5, 0.1, 0, 0.3},     // transpiration lowered by at most E, never below 0
        {2, 0.6, 0.5, 1.0, 0.5, 0.1, 0.5, 0.5},
        {2, 0.2, 0.5, 1.0, 0.2, 0, 0.8, 0.2},
        {1, 0.4, 0, -1, 0, 0.4, 0, 0},            // a negative potential takes nothing
    };
    for (const Evaporation& e : rules) {
        const auto r = e.method == 1 ? interzep::EvaporateByTranspiration(e.storage, e.potTranspiration)
                                     : interzep::EvaporateByInterception(e.storage, e.potInterception,
                                                                         e.potTranspiration);
        SCOPED_TRACE(testing::Message() << "method " << e.method << ", storage " << e.storage);
        EXPECT_NEAR(r.evaporation, e.evaporation, 1e-12);
        EXPECT_NEAR(r.storage, e.stored, 1e-12);
        EXPECT_NEAR(r.potTranspiration, e.potAfter, 1e-12);
        EXPECT_NEAR(r.totalReduction, e.totalReduction, 1e-12);
    }
}

// A 3 x 4 grid, zones 7 (columns 1, 2) and 9 (columns 3, 4); cell (3, 4)
// lies outside the basin. The land-use table has entry 1 without
// IntercepCap and entry 2 with IntercepCap 0.3.
struct InterceptionFixture {
    TempDir dir;
    std::ostringstream console;
    DiagnosticsWriter writer{dir.file("d.xml"), DiagDebug, console};
    std::unique_ptr<MemoryGrid[]> table = CreateGridTable();
    StatisticsTableEntry statistics[StatisticsTableSize + 1] = {};
    ModelSettings settings;
    std::vector<ZoneRecord> zones{ZoneRecord{0, 0, 0, 0.11, 0}, ZoneRecord{6, 6, 7, 0.5, 6},
                                  ZoneRecord{5, 5, 9, 0.5, 5}};
    std::vector<int> zoneRank = std::vector<int>(10, 0);
    std::vector<LanduseType> landuse = std::vector<LanduseType>(3);
    std::vector<MultilayerLanduseType> multilayer;
    memory_handling memory;
    std::vector<double**> grids;
    int layers;

    explicit InterceptionFixture(int layerCount) : layers(layerCount) {
        settings.NRows = 3;
        settings.NCols = 4;
        settings.FirstRow = 1;
        settings.LastRow = 3;
        settings.CellSize = 100;
        settings.NoData = -9999;
        settings.Zones = zones.data();
        settings.ZoneCount = 2;
        settings.ZoneRank = zoneRank.data();
        settings.MaxZoneCode = 9;
        zoneRank[7] = 1;
        zoneRank[9] = 2;
        const std::string lists =
            "  RootDist = 1; TReduWet = 0.95; HReduDry = 3.45;\n  JulDays = 15 300; LAI = 1 1; AltDep = 0 0; Albedo = 0.2 0.2; rsc = 50 50; Z0 = 0.1 0.1;\n"
            "  VCF = 1 1; RootDepth = 0.5 0.5;\n";
        landuse[1].ParseEntry(nullptr, "11 meadow method = VariableDayCount {\n" + lists + "}\n", "VariableDayCount");
        landuse[2].ParseEntry(nullptr, "21 forest method = VariableDayCount {\n" + lists + "  IntercepCap = 0.3;\n}\n",
                              "VariableDayCount");
        settings.LanduseTable = landuse.data();
        settings.LanduseCount = 2;
        if (layers > 1) {
            multilayer.resize(2);
            multilayer[1].Code = 1;
            multilayer[1].LayerCount = layers;
            settings.MultilayerLanduseTable = multilayer.data();
            settings.MultilayerLanduseCount = 1;
        }
        double** zone = Add("zone_grid", 7);
        for (int r = 1; r <= 3; ++r)
            for (int c = 3; c <= 4; ++c) zone[r][c] = 9;
        zone[3][4] = -9999;
        Add("[elevation_model]", 500);
        Add("precipitation", 0);
        for (int k = 1; k <= layers; ++k) {
            const std::string n = std::to_string(k);
            Add("landuse" + n, 1);
            Add("leaf_area_index" + n, 2);
            Add("vegetation_coverage_degree" + n, 1);
        }
        for (int k = 0; k <= layers; ++k) {
            const std::string n = std::to_string(k);
            Add("pot_transpiration" + n, 0);
            Add("potential_InterceptionEvap" + n, 0);
            Add("real_transpiration" + n, 0);
        }
    }
    ~InterceptionFixture() {
        for (double** grid : grids) memory.free_matrix(grid, 1, 3, 1, 4);
    }
    double** Add(const std::string& name, double value) {
        double** grid = memory.matrix(1, 3, 1, 4, 3);
        for (int r = 1; r <= 3; ++r)
            for (int c = 1; c <= 4; ++c) grid[r][c] = value;
        grids.push_back(grid);
        MemoryGrid& entry = table[FindFreeGridEntry(table.get())];
        entry.Data = grid;
        entry.InternalName = name;
        entry.EverUsed = true;
        return grid;
    }
    double** Grid(const std::string& name) {
        const int index = FindGridEntry(table.get(), name, true);
        return index > 0 ? table[index].Data : nullptr;
    }
    double** Grid(const std::string& stem, int k) { return Grid(stem + std::to_string(k)); }
    // `statCode` switches the statistics of throughfall, evaporation and
    // storage on, written to the fixture's directory.
    std::unique_ptr<interzeptionsmodellklasse> Make(int method, double siDicke = 0.3, int statCode = 0) {
        std::ostringstream text;
        const std::string at = statCode > 0 ? dir.path() + "/" : "";
        text << "[interception_model]\n1 switch\n60 interval\n" << method << " method\ntf.grd\n0\n"
             << at << "tf.sta " << statCode << "\nei.grd\n0\n" << at << "ei.sta " << statCode << "\nsi.grd\n0\n"
             << at << "si.sta " << statCode << "\n" << siDicke << " SIdicke\n0 read mode\n";
        WriteFile(dir.file("model.ctl"), text.str());
        settings.CompiledControlFile = dir.file("model.ctl");
        int status = -1;
        auto model = std::make_unique<interzeptionsmodellklasse>(&status, &writer, statistics, StatisticsTableSize,
                                                                 "interception_model", settings, table.get());
        EXPECT_EQ(status, 0);
        return model;
    }
    // Sets a whole grid to `value` in the active cells.
    void Fill(double** grid, double value) {
        for (int r = 1; r <= 3; ++r)
            for (int c = 1; c <= 4; ++c)
                if (!(r == 3 && c == 4)) grid[r][c] = value;
    }
};

// The cases computed by hand, on cell (2, 2).
TEST(Interception, HandCases) {
    struct Layer {
        double landuse, lai, cover, potTranspiration, potInterception;
    };
    struct Case {
        const char* what;
        int method;
        std::vector<Layer> layers;  // index 0 unused
        double throughfall0, storage0, evaporation0;
        double potTranspiration1;     // afterwards
        double potTranspiration0Drop; // what layer 0's potential lost
    };
    const double absent = -9999;
    const Case cases[] = {
        {"method 1, no IntercepCap", 1, {{}, {1, 2, 1, 0.25, 0}}, 9.4, 0.35, 0.25, 0, 0.25},
        {"method 2", 2, {{}, {1, 2, 1, 0.3, 0.5}}, 9.4, 0.1, 0.5, 0, 0.3},
        {"no cover", 1, {{}, {1, 2, 0, 0.25, 0}}, 10, 0, 0, 0.25, 0},
        {"three layers, the middle one absent", 1,
         {{}, {2, 4, 0.5, 0.2, 0}, {absent, 3, 1, 0.5, 0}, {2, 1, 1, 0, 0}}, 8.5, 1.3, 0.2, 0, 0.2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const int layers = static_cast<int>(c.layers.size()) - 1;
        InterceptionFixture f(layers);
        f.Fill(f.Grid("precipitation"), 10);
        double tp0 = 0;
        for (int k = 1; k <= layers; ++k) {
            f.Fill(f.Grid("landuse", k), c.layers[k].landuse);
            f.Fill(f.Grid("leaf_area_index", k), c.layers[k].lai);
            f.Fill(f.Grid("vegetation_coverage_degree", k), c.layers[k].cover);
            f.Fill(f.Grid("pot_transpiration", k), c.layers[k].potTranspiration);
            f.Fill(f.Grid("potential_InterceptionEvap", k), c.layers[k].potInterception);
            tp0 += c.layers[k].potTranspiration;
        }
        tp0 += 0.7;  // a soil evaporation share in the total
        f.Fill(f.Grid("pot_transpiration0"), tp0);
        auto model = f.Make(c.method);
        model->RunTimeStep(1, 2, 6, 2020);
        EXPECT_NEAR(f.Grid("throughfall0")[2][2], c.throughfall0, 1e-12);
        EXPECT_NEAR(f.Grid("interception_storage0")[2][2], c.storage0, 1e-12);
        EXPECT_NEAR(f.Grid("interception_evaporation0")[2][2], c.evaporation0, 1e-12);
        EXPECT_NEAR(f.Grid("pot_transpiration1")[2][2], c.potTranspiration1, 1e-12);
        EXPECT_NEAR(f.Grid("pot_transpiration0")[2][2], tp0 - c.potTranspiration0Drop, 1e-12);
        if (layers == 1) {
            EXPECT_DOUBLE_EQ(f.Grid("throughfall1")[2][2], c.throughfall0);
        }
        // outside the basin the fluxes are nodata
        EXPECT_EQ(f.Grid("throughfall0")[3][4], -9999);
        EXPECT_EQ(f.Grid("interception_evaporation0")[3][4], -9999);
    }
}

// A glacier fraction of 1 holds nothing and lets nothing through; a fraction
// of 0.5 leaves the cell's water to interception.
TEST(Interception, GlacierCells) {
    InterceptionFixture f(1);
    f.Fill(f.Grid("precipitation"), 4);
    f.Fill(f.Grid("pot_transpiration1"), 0.1);
    double** glacier = f.Add("GlacierizedCells", 0);
    glacier[1][1] = 1;
    glacier[1][2] = 0.5;
    auto model = f.Make(1);
    model->RunTimeStep(1, 2, 6, 2020);
    EXPECT_EQ(f.Grid("throughfall0")[1][1], 0);
    EXPECT_EQ(f.Grid("interception_storage0")[1][1], 0);
    EXPECT_EQ(f.Grid("interception_evaporation1")[1][1], 0);
    EXPECT_NEAR(f.Grid("throughfall0")[1][2], 3.4, 1e-12);
    EXPECT_NEAR(f.Grid("interception_storage0")[1][2], 0.5, 1e-12);
}

// Thirty steps of changing input and potentials: every cell closes its
// balance in every step, and a conservative tracer keeps its load.
TEST(Interception, WaterBalanceOfEveryCellAndStep) {
    struct Variant {
        int layers;
        int method;
    };
    double largest = 0;
    for (const Variant v : {Variant{1, 1}, Variant{1, 2}, Variant{3, 1}, Variant{3, 2}}) {
        SCOPED_TRACE(testing::Message() << v.layers << " layers, method " << v.method);
        InterceptionFixture f(v.layers);
        double** precipitation = f.Grid("precipitation");
        for (int k = 1; k <= v.layers; ++k) {
            double** lai = f.Grid("leaf_area_index", k);
            double** cover = f.Grid("vegetation_coverage_degree", k);
            double** landuse = f.Grid("landuse", k);
            for (int r = 1; r <= 3; ++r)
                for (int c = 1; c <= 4; ++c) {
                    lai[r][c] = 0.5 + 0.7 * r + 0.3 * c + k;
                    cover[r][c] = 0.2 * c + 0.05 * k;
                    landuse[r][c] = (r + c + k) % 2 + 1;
                }
            if (k == 2) f.Fill(landuse, -9999);  // the middle layer is absent
        }
        double** conc = f.Add("concflux_tracer_1_input", 0);
        auto model = f.Make(v.method, 0.25);
        std::vector<TracerInfo> tracers(2);
        tracers[1].name = "cl_";
        tracers[1].path = f.dir.path() + "/";
        tracers[1].statext = "sta";
        tracers[1].gridext = "grd";
        tracers[1].max_conc = 1e9;
        int status = -1;
        model->InitTracers(&status, 1, tracers.data(), f.statistics, StatisticsTableSize);
        ASSERT_EQ(status, 0);
        double** storage0 = f.Grid("interception_storage0");
        double** throughfall0 = f.Grid("throughfall0");
        double** evaporation0 = f.Grid("interception_evaporation0");
        // the layers of a canopy keep one load between them
        double** load = f.Grid("concstor_tracer_1_interception_model");
        double** outflow = f.Grid("concflux_tracer_1_interception_model");
        WaterBalance water(3, 4), tracer(3, 4);
        water.Mask(f.Grid("zone_grid"));
        tracer.Mask(f.Grid("zone_grid"));
        for (int step = 1; step <= 30; ++step) {
            for (int r = 1; r <= 3; ++r)
                for (int c = 1; c <= 4; ++c) {
                    if (r == 3 && c == 4) continue;
                    const int phase = (step * 7 + r * 3 + c) % 11;
                    precipitation[r][c] = phase < 4 ? 0 : 0.37 * phase * (1 + 0.1 * r);
                    if (step % 9 == 0) precipitation[r][c] = 25 + r;  // a heavy shower
                    if (conc) conc[r][c] = 0.5 + 0.1 * ((step + c) % 5);
                    for (int k = 0; k <= v.layers; ++k) {
                        f.Grid("pot_transpiration", k)[r][c] = 0.05 * ((step + k + r) % 6);
                        f.Grid("potential_InterceptionEvap", k)[r][c] = 0.04 * ((step + 2 * k + c) % 7);
                    }
                }
            water.BeginStep();
            water.Storage(storage0);
            water.In(precipitation);
            tracer.BeginStep();
            if (load) {
                tracer.Storage(load);
                for (int r = 1; r <= 3; ++r)
                    for (int c = 1; c <= 4; ++c)
                        if (!(r == 3 && c == 4)) tracer.InCell(r, c, conc[r][c] * precipitation[r][c]);
            }
            model->RunTimeStep(step % 24 + 1, 3, 6, 2020);
            water.Out(throughfall0);
            water.Out(evaporation0);
            water.EndStorage(storage0);
            const std::string report = water.Check(1e-12);
            ASSERT_EQ(report, "");
            largest = std::max(largest, water.LargestResidual());
            if (load) {
                for (int r = 1; r <= 3; ++r)
                    for (int c = 1; c <= 4; ++c)
                        if (!(r == 3 && c == 4)) tracer.OutCell(r, c, outflow[r][c] * throughfall0[r][c]);
                tracer.EndStorage(load);
                ASSERT_EQ(tracer.Check(1e-12), "");
            }
            // the storage never exceeds the capacity of its cell and layer
            for (int k = 1; k <= v.layers; ++k)
                for (int r = 1; r <= 3; ++r)
                    for (int c = 1; c <= 4; ++c) {
                        if (r == 3 && c == 4) continue;
                        const double position = f.Grid("landuse", k)[r][c];
                        const double perLai = position == 2 ? 0.3 : 0.25;
                        const double cap = position == -9999 ? 0 : perLai * f.Grid("leaf_area_index", k)[r][c];
                        ASSERT_LE(f.Grid("interception_storage", k)[r][c], cap + 1e-12);
                    }
        }
        // the run held water: storage, evaporation and overflow all happened
        EXPECT_GT(water.TotalOut(2, 2), 0);
        model->ReleaseTracers();
        model->DeleteModule();
        EXPECT_EQ(f.Grid("throughfall0"), nullptr);
    }
    std::printf("largest interception balance residual: %.3g mm\n", largest);
}

// The zone means of every statistic, layers and tracers, over rows that mix
// zones, glacier shares of 0, 0.5 and 1 and a cell outside the basin: each
// cell counts its value with the ice-free weight 1 - e (a tracer with 1, or
// with the storage when it evaporates) and 0 with the glacier weight e.
TEST(Interception, ZoneMeansOfEveryStatistic) {
    InterceptionFixture f(2);
    double** glacier = f.Add("GlacierizedCells", 0);
    glacier[1][2] = 0.5;
    glacier[2][3] = 1;
    glacier[3][1] = 0.25;
    double** conc[3] = {nullptr, f.Add("concflux_tracer_1_input", 0), f.Add("concflux_tracer_2_input", 0)};
    auto model = f.Make(1, 0.25, 2001);
    std::vector<TracerInfo> tracers(3);
    for (int n = 1; n <= 2; ++n) {
        tracers[n].name = n == 1 ? "cl_" : "o18";
        tracers[n].evaporating = n == 2;
        tracers[n].path = f.dir.path() + "/";
        tracers[n].statext = "sta";
        tracers[n].gridext = "grd";
        tracers[n].max_conc = 1e9;
        tracers[n].statcode = 2001;
    }
    int status = -1;
    model->InitTracers(&status, 2, tracers.data(), f.statistics, StatisticsTableSize);
    ASSERT_EQ(status, 0);
    auto entry = [&](const std::string& name) -> const StatisticsTableEntry* {
        for (int i = 0; i < StatisticsTableSize; ++i)
            if (f.statistics[i].NameText && std::string(f.statistics[i].NameText).rfind(name, 0) == 0)
                return &f.statistics[i];
        return nullptr;
    };
    for (int step = 1; step <= 3; ++step) {
        for (int r = 1; r <= 3; ++r)
            for (int c = 1; c <= 4; ++c) {
                f.Grid("precipitation")[r][c] = 0.3 * ((step + r * c) % 5);
                f.Grid("pot_transpiration1")[r][c] = 0.02 * ((step + r + 2 * c) % 4);
                f.Grid("landuse2")[r][c] = (r + c) % 3 == 0 ? -9999 : 2;
                for (int n = 1; n <= 2; ++n) conc[n][r][c] = 0.5 * n + 0.1 * ((step + r + c) % 3);
            }
        model->RunTimeStep(step, 3, 6, 2020);
        // value and weight per cell, in row order, for zones 1 and 2
        auto check = [&](const std::string& name, auto valueAndWeights) {
            SCOPED_TRACE(name);
            const StatisticsTableEntry* e = entry(name);
            ASSERT_NE(e, nullptr);
            double sx[3] = {}, weight[3] = {};
            for (int r = 1; r <= 3; ++r)
                for (int c = 1; c <= 4; ++c) {
                    if (r == 3 && c == 4) continue;
                    const int zone = c <= 2 ? 1 : 2;
                    for (const auto& [value, w] : valueAndWeights(r, c, glacier[r][c])) {
                        sx[zone] += value * w;
                        weight[zone] += w;
                    }
                }
            for (int zone = 1; zone <= 2; ++zone)
                EXPECT_NEAR(e->CurrentValues[zone], sx[zone] / weight[zone], 1e-12) << "zone " << zone;
            EXPECT_NEAR(e->CurrentValues[3], (sx[1] + sx[2]) / (weight[1] + weight[2]), 1e-12);
        };
        using Pairs = std::vector<std::pair<double, double>>;
        const char* stems[3][2] = {{"interception_evaporation", "interception_evaporation_in_mm_layer_"},
                                   {"interception_storage", "interception_storage_in_mm_layer_"},
                                   {"throughfall", "throughfall_in_mm_layer_"}};
        for (const auto& stem : stems) {
            for (int k = 0; k <= 2; ++k) {
                double** grid = f.Grid(stem[0], k);
                check(stem[1] + std::to_string(k) + "_", [&](int r, int c, double e) {
                    Pairs pairs;
                    if (e < 1 || k == 0) pairs.push_back({grid[r][c], 1 - e});
                    if (e > 0) pairs.push_back({0.0, e});
                    return pairs;
                });
            }
        }
        double** storage0 = f.Grid("interception_storage0");
        for (int n = 1; n <= 2; ++n) {
            double** load = f.Grid("concstor_tracer_" + std::to_string(n) + "_interception_model");
            check("tracer concentration for tracer " + std::to_string(n), [&](int r, int c, double e) {
                Pairs pairs;
                if (e < 1) pairs.push_back({load[r][c], n == 2 ? storage0[r][c] : 1.0});
                if (e > 0) pairs.push_back({load[r][c], storage0[r][c]});
                return pairs;
            });
        }
    }
    model->ReleaseTracers();
}

// Read mode 1 starts every layer's storage from its own file.
TEST(Interception, StoragesReadFromFiles) {
    InterceptionFixture f(1);
    const std::string header = "ncols 4\nnrows 3\nxllcorner 0\nyllcorner 0\ncellsize 100\nnodata_value -9999\n";
    WriteFile(f.dir.file("si.asc"), header + "0.1 0.2 0.3 0.4\n0.5 0.6 0.7 0.8\n0.9 1.0 1.1 -9999\n");
    WriteFile(f.dir.file("si_Layer_1.asc"), header + "1 2 3 4\n5 6 7 8\n9 10 11 -9999\n");
    WriteFile(f.dir.file("model.ctl"), "[interception_model]\n1\n60\n1\ntf.grd\n0\ntf.sta 0\nei.grd\n0\nei.sta 0\n" +
                                           f.dir.file("si.asc") + "\n0\nsi.sta 0\n0.3\n1 read mode\n");
    f.settings.CompiledControlFile = f.dir.file("model.ctl");
    int status = -1;
    interzeptionsmodellklasse model(&status, &f.writer, f.statistics, StatisticsTableSize, "interception_model",
                                    f.settings, f.table.get());
    EXPECT_DOUBLE_EQ(f.Grid("interception_storage0")[2][3], 0.7);
    EXPECT_DOUBLE_EQ(f.Grid("interception_storage1")[2][3], 7);
}

// The section: twelve lines, each with its own description when it is missing.
TEST(Interception, SectionErrors) {
    InterceptionFixture f(1);
    WriteFile(f.dir.file("model.ctl"),
              "[interception_model]\n1\n60\n1 method\ntf.grd\n0\ntf.sta 0\nei.grd\n0\nei.sta 0\nsi.grd\n0\nsi.sta 0\n"
              "x SIdicke\n");
    f.settings.CompiledControlFile = f.dir.file("model.ctl");
    int status = 0, code = 0;
    try {
        interzeptionsmodellklasse model(&status, &f.writer, f.statistics, StatisticsTableSize, "interception_model",
                                        f.settings, f.table.get());
    } catch (int thrown) {
        code = thrown;
    }
    EXPECT_EQ(code, 17);
    EXPECT_NE(f.console.str().find("SIdicke fuer "), std::string::npos) << f.console.str();
    EXPECT_EQ(f.Grid("throughfall0"), nullptr);
}

}  // namespace
