// The irrigation step on a small grid with hand-filled soil grids and
// exchange tables: the demand per cell and rule, the statistics, the water
// added to precipitation, and the surface water delivered against what the
// routing is asked to withdraw.

#include <gtest/gtest.h>

#include <cmath>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/memory_handling.h"
#include "framework/model_settings.h"
#include "framework/statistics_table.h"
#include "framework/zonetable.h"
#include "lateral/irrigate.h"
#include "parameters/soil.h"
#include "setup/irrigation_table.h"
#include "support/test_support.h"
#include "support/test_grid_table.h"

using namespace testsupport;

namespace {

// One row of six cells: nodata, then zone 1 in columns 2 to 4 and zone 2 in
// columns 5 and 6. Rules by position: 1 dates from groundwater (12 mm on
// 1 June), 2 dates from surface water (6 mm on 1 June), 3 dates of another
// origin (4 mm on 1 June), 4 suction from surface water.
struct Fixture : TestGridTable {
    static constexpr int Rows = 1, Cols = 6;
    TempDir dir;
    std::ostringstream console;
    DiagnosticsWriter writer{dir.file("d.xml"), DiagDebug, console};
    StatisticsTableEntry statistics[StatisticsTableSize + 1] = {};
    ModelSettings settings;
    std::vector<SoilType> soils;
    std::vector<RowExtent> extents;
    std::vector<ZoneRecord> records;
    std::vector<int> codeToRank;
    SubbasinTable subbasins;
    std::vector<IrrigationRule> rules;
    std::unique_ptr<irrigationclass> model;
    // Exchange tables: rows 0 (water) and 1 (a tracer) of subbasins 0..2.
    double available[2][3] = {}, reservoir[2][3] = {};
    double* availableRows[2] = {available[0], available[1]};
    double* reservoirRows[2] = {reservoir[0], reservoir[1]};
    int list[5] = {}, target[3] = {}, outlet[3] = {};
    int* targetRows[3] = {list, target, outlet};
    double abfrel[2][3] = {};
    double* abfrelRows[2] = {abfrel[0], abfrel[1]};
    int status = -1;

    Fixture() : TestGridTable(Rows, Cols) {
        settings.NRows = Rows;
        settings.NCols = Cols;
        settings.FirstRow = 1;
        settings.LastRow = Rows;
        settings.CellSize = 1000;
        settings.NoData = -9999;
        settings.DefaultOutputDirectory = dir.path() + "/";
        soils.assign(2, SoilType());
        soils[1].TotalDepth = 2;
        settings.SoilTable = soils.data();
        settings.SoilCount = 1;
        double** zone = Add("zone_grid", 1);
        zone[1][1] = -9999;
        zone[1][5] = zone[1][6] = 2;
        extents = DeriveRowExtents(zone, Rows, Cols, -9999);
        settings.RowExtents = extents.data();
        // A basin of 5 km2: subbasin 1 holds 3 cells, subbasin 2 two.
        records.assign(3, ZoneRecord{});
        records[0].rel = 5;
        records[1].zonenwert = 1;
        records[1].rel = 0.6;
        records[2].zonenwert = 2;
        records[2].rel = 0.4;
        codeToRank = {0, 1, 2};
        subbasins.Records = records.data();
        subbasins.CodeToRank = codeToRank.data();
        subbasins.Count = 2;
        subbasins.LargestCode = 2;
        Add("precipitation", 10);
        Add("irrigation_codes", 0);
        Add("Max_Pumping", 5);
        Add("irrigation_amounts", 0);
        Add("SB_1_grid", 0.2);
        Add("SBLOW_grid", 0.25);
        Add("SBHIGH_grid", 0.30);
        Add("ETR2ETP", 1);
        Add("root_depth1", 0.5);
        Add("soil_types", 1);
        rules.resize(5);
        rules[0].Code = 4;
        const int origins[4] = {1, 2, 3, 2};
        const double amounts[3] = {12, 6, 4};
        for (int k = 1; k <= 4; ++k) {
            IrrigationRule& r = rules[static_cast<size_t>(k)];
            r.Code = 10 + k;
            r.Method = k <= 3 ? IrrigationRule::ScheduleList : IrrigationRule::DemandSuction;
            r.Origin = origins[k - 1];
            r.ClearSchedule();
            if (k <= 3) r.AddEvent(6, 1, amounts[k - 1]);
        }
        abfrel[0][0] = 5;
        abfrel[1][1] = abfrel[1][2] = 1;
    }
    ~Fixture() { model.reset(); }
    double* Row(const std::string& name) { return table[FindGridEntry(table.get(), name, true)].Data[1]; }
    void Make(int dt, int surfaceCode = 2001, int spinUp = 0) {
        WriteFile(dir.file("model.ctl"), "[irrigation]\n1 on\n" + std::to_string(dt) +
                                             " interval\nirr_gw.sta 2001 groundwater\nirr_sw.sta " +
                                             std::to_string(surfaceCode) + " surface water\n");
        settings.CompiledControlFile = dir.file("model.ctl");
        model = std::make_unique<irrigationclass>(&status, &writer, statistics, StatisticsTableSize, "irrigation",
                                                  settings, table.get(), rules.data(), subbasins, spinUp);
        ASSERT_EQ(status, 0) << console.str();
        model->SetMaxIrrigTables(availableRows, reservoirRows);
        model->SetRoutingTargetTable(targetRows);
        model->SetAbfrel(abfrelRows);
        model->SetStatus(1);
    }
    void Codes(std::vector<double> positions) {
        for (int c = 1; c <= Cols; ++c) Row("irrigation_codes")[c] = positions[static_cast<size_t>(c - 1)];
    }
    // The values of the last row of a statistics file: zone 1, zone 2, total.
    std::vector<double> LastRow(const std::string& name) {
        model->FlushStatistics();
        std::istringstream lines(ReadFile(dir.file(name)));
        std::string line, last;
        while (std::getline(lines, line))
            if (!line.empty()) last = line;
        std::istringstream fields(last);
        std::vector<double> values;
        double v = 0;
        while (fields >> v) values.push_back(v);
        return std::vector<double>(values.begin() + 4, values.end());
    }
    // The surface water delivered to subbasin k [mm over the subbasin] by
    // its cells, from "irrigation_amounts".
    double Delivered(int k) {
        const double* a = Row("irrigation_amounts");
        const double* codes = Row("irrigation_codes");
        const double* zone = Row("zone_grid");
        double sum = 0;
        int cells = 0;
        for (int c = 1; c <= Cols; ++c) {
            if (zone[c] != k) continue;
            ++cells;
            if (rules[static_cast<size_t>(codes[c])].Origin == 2 && codes[c] > 0) sum += a[c];
        }
        return sum / cells;
    }
};

}  // namespace

TEST(IrrigationStep, RulesStatisticsAndPrecipitation) {
    Fixture f;
    f.Make(1440);
    // nodata | gw 12 mm | none | other origin 4 mm | surface 6 mm | gw 12 mm
    f.Codes({0, 1, 0, 3, 2, 1});
    f.available[0][2] = 1e6;  // the river carries plenty
    f.model->RunTimeStep(24, 1, 6, 2020);
    const double* a = f.Row("irrigation_amounts");
    const double* p = f.Row("precipitation");
    // outside the basin nothing changes; groundwater capped by Max_Pumping
    const double expected[] = {0, 5, 0, 4, 6, 5};
    for (int c = 1; c <= Fixture::Cols; ++c) {
        SCOPED_TRACE(c);
        EXPECT_DOUBLE_EQ(a[c], expected[c - 1]);
        EXPECT_DOUBLE_EQ(p[c], c == 1 ? 10 : 10 + expected[c - 1]);
    }
    // Groundwater: zone 1 counts the 5 mm cell and the cell without a rule
    // (the other origin gives no value), zone 2 its 5 mm cell and its
    // surface-water cell as 0.
    const auto gw = f.LastRow("irr_gw.sta");
    ASSERT_EQ(gw.size(), 3u);
    EXPECT_DOUBLE_EQ(gw[0], 2.5);
    EXPECT_DOUBLE_EQ(gw[1], 2.5);
    // Surface water: a mean over the whole subbasin.
    const auto sw = f.LastRow("irr_sw.sta");
    EXPECT_DOUBLE_EQ(sw[0], 0);
    EXPECT_DOUBLE_EQ(sw[1], 3);
    // The demand records hand the routing the mean over the subbasin.
    const ZoneRecord* demand = f.model->GetIrrigationDemand();
    EXPECT_DOUBLE_EQ(demand[2].sx / demand[2].RelCellSum, 3);
    EXPECT_EQ(f.available[0][2], 1);  // supplied fraction

    // another day: the dates give nothing, the precipitation stays
    f.model->RunTimeStep(24, 2, 6, 2020);
    for (int c = 2; c <= Fixture::Cols; ++c) EXPECT_DOUBLE_EQ(a[c], 0);
}

TEST(IrrigationStep, HourlyStepsKeepTheRefill) {
    Fixture f;
    f.Make(60);
    f.Codes({0, 1, 1, 1, 1, 1});
    f.rules[1].Method = IrrigationRule::DemandSuction;
    f.Row("Max_Pumping")[2] = 100;
    double* sb1 = f.Row("SB_1_grid");
    double* a = f.Row("irrigation_amounts");
    const double refill = 0.1 * 0.5 * 1000 / 24;
    const double sb[] = {0.2, 0.22, 0.27, 0.29, 0.30, 0.31};
    const double expected[] = {refill, refill, refill, refill, 0, 0};
    for (int h = 0; h < 6; ++h) {
        SCOPED_TRACE(h);
        sb1[2] = sb[h];
        f.model->RunTimeStep(h + 1, 1, 6, 2020);
        EXPECT_NEAR(a[2], expected[h], 1e-12);
    }
}

TEST(IrrigationStep, SurfaceWaterDeliveredIsWhatTheRoutingTakes) {
    // Per case: the availability in the river and the reservoir of subbasin
    // 2; its cells ask for 6 mm (surface water) and one cell for nothing.
    struct Case {
        const char* what;
        double river, reservoirWater;
        double delivered;  // mean over subbasin 2 [mm]
    } cases[] = {
        {"first step: nothing available", 0, 0, 0},
        {"river plenty", 100, 0, 3},
        {"river short", 1, 0, 1},
        {"reservoir covers all", 0, 10, 3},
        {"reservoir part, river part", 0.5, 2, 2.5},
    };
    // The second cell of subbasin 2 has no rule, or a rule of another
    // origin (4 mm that no river gives): either way it dilutes the mean
    // demand over the subbasin, whose area the routing withdraws it over.
    for (const Case& c : cases) {
        for (int code : {2001, 0}) {
            for (double other : {0.0, 3.0}) {
                SCOPED_TRACE(std::string(c.what) + (code ? "" : ", statistic off") +
                             (other > 0 ? ", other origin" : ""));
                Fixture f;
                f.Make(1440, code);
                f.Codes({0, 2, 2, 0, 2, other});
                f.available[0][1] = 0;  // subbasin 1 is always short
                f.available[0][2] = c.river;
                f.reservoir[0][2] = c.reservoirWater;
                f.model->RunTimeStep(24, 1, 6, 2020);
                EXPECT_NEAR(f.Delivered(2), c.delivered, 1e-12);
                EXPECT_EQ(f.Delivered(1), 0);
                // What the routing withdraws from the demand records: the mean
                // over the subbasin, of which the reservoir gives its share.
                const ZoneRecord* demand = f.model->GetIrrigationDemand();
                const double mean = demand[2].sx / demand[2].RelCellSum;
                EXPECT_NEAR(mean, f.Delivered(2), 1e-12);
                const double fromReservoir = std::min(f.reservoir[0][2], mean);
                EXPECT_LE(fromReservoir, c.reservoirWater);
                EXPECT_LE(mean - fromReservoir, c.river + 1e-12);
                // the water delivered reached the precipitation
                double* p = f.Row("precipitation");
                EXPECT_NEAR(p[5] - 10, 2 * c.delivered, 1e-12);
            }
        }
    }
}

TEST(IrrigationStep, SpinUpLeavesTheModelInert) {
    Fixture f;
    f.Make(1440, 2001, 1);
    f.Codes({0, 1, 1, 1, 1, 1});
    EXPECT_EQ(f.model->GetIrrigationDemand(), nullptr);
    f.model->RunTimeStep(24, 1, 6, 2020);
    EXPECT_EQ(f.Row("irrigation_amounts")[2], 0);
    EXPECT_EQ(f.Row("precipitation")[2], 10);
    EXPECT_FALSE(FileExists(f.dir.file("irr_gw.sta")));
    // the wiring still needs the routing's tables
    EXPECT_THROW(f.model->SetMaxIrrigTables(nullptr, nullptr), int);
    f.model->DeleteModule();
}

TEST(IrrigationStep, ConstructionFailures) {
    struct Case {
        const char* what;
        std::string section;
        const char* missingGrid;
        int code;
        std::string message;
    } cases[] = {
        {"no statistics lines", "[irrigation]\n1\n60\n", nullptr, 17, "Name des GWSTANDstatfiles fuer "},
        {"no surface-water line", "[irrigation]\n1\n60\ngw.sta 0\n", nullptr, 17, "Name des GWSTANDstatfiles fuer "},
        {"missing pumping grid", "[irrigation]\n1\n60\ngw.sta 0\nsw.sta 0\n", "Max_Pumping", 33, "Max_Pumping"},
        {"missing root depth", "[irrigation]\n1\n60\ngw.sta 0\nsw.sta 0\n", "root_depth1", 33, "root_depth1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f;
        if (c.missingGrid) f.table[FindGridEntry(f.table.get(), c.missingGrid, true)].InternalName = "gone";
        WriteFile(f.dir.file("model.ctl"), c.section);
        f.settings.CompiledControlFile = f.dir.file("model.ctl");
        int status = -1;
        irrigationclass m(&status, &f.writer, f.statistics, StatisticsTableSize, "irrigation", f.settings,
                          f.table.get(), f.rules.data(), f.subbasins);
        EXPECT_EQ(status, c.code);
        EXPECT_NE(f.console.str().find(c.message), std::string::npos) << f.console.str();
    }
    // An event amount is water per day from 0 to 10000 mm.
    for (const double amount : {-1e300, -1.0, 1e300, std::nan("")}) {
        SCOPED_TRACE(amount);
        Fixture f;
        f.rules[2].AddEvent(7, 15, amount);
        WriteFile(f.dir.file("model.ctl"), "[irrigation]\n1\n60\ngw.sta 0\nsw.sta 0\n");
        f.settings.CompiledControlFile = f.dir.file("model.ctl");
        int status = -1;
        irrigationclass m(&status, &f.writer, f.statistics, StatisticsTableSize, "irrigation", f.settings,
                          f.table.get(), f.rules.data(), f.subbasins);
        EXPECT_EQ(status, 29);
        EXPECT_NE(f.console.str().find("[irrigation_table] in " + f.dir.file("model.ctl") +
                                       ": irrigation code 12, event 2 (15.7.): the amount "),
                  std::string::npos)
            << f.console.str();
    }
}
