#include "framework/teilmod.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/statistics_table.h"
#include "setup/tracer_ini.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

// A small model: a 3 x 4 grid with one zone and a control file.
struct SubModelFixture {
    TempDir dir;
    std::ostringstream console;
    DiagnosticsWriter writer{dir.file("d.xml"), DiagDebug, console};
    std::unique_ptr<MemoryGrid[]> table = CreateGridTable();
    ModelSettings settings;
    std::vector<ZoneRecord> zones{ZoneRecord{0, 0, 0, 0.12, 0}, ZoneRecord{12, 12, 7, 1, 12}};
    memory_handling memory;
    double** zoneGrid = memory.matrix(1, 3, 1, 4, 3);

    explicit SubModelFixture(const std::string& control, double minToIntEnd = 0) {
        WriteFile(dir.file("model.ctl"), control);
        settings.CompiledControlFile = dir.file("model.ctl");
        settings.NRows = 3;
        settings.NCols = 4;
        settings.CellSize = 100;
        settings.NoData = -9999;
        settings.MinToIntEnd = minToIntEnd;
        settings.LogInterval = 1;
        settings.Zones = zones.data();
        settings.ZoneCount = 1;
        for (int r = 1; r <= 3; ++r)
            for (int c = 1; c <= 4; ++c) zoneGrid[r][c] = (r == 2 && c == 2) ? -9999 : 7;
        table[1].Data = zoneGrid;
        table[1].InternalName = "zone_grid";
        table[1].FileName = "zones.asc";
        table[1].EverUsed = true;
    }
    ~SubModelFixture() { memory.free_matrix(zoneGrid, 1, 3, 1, 4); }
    std::string xml() {
        writer.Close();
        return ReadFile(dir.file("d.xml"));
    }
};

template <typename F> int ThrownCode(F f) {
    try {
        f();
    } catch (int code) {
        return code;
    }
    return 0;
}

}  // namespace

TEST(SubModelBase, SectionSwitchAndInterval) {
    struct Case {
        const char* what;
        std::string control;
        const char* section;
        bool required;
        double minToIntEnd;
        int code;  // 0: constructed
        int method;
    } cases[] = {
        {"on", "[snow_model]\n1 method\n60 minutes\nmore\n", "snow_model", true, 0, 0, 1},
        {"off, interval still read", "[snow_model]\n0\n1440\n", "snow_model", true, 0, 0, 0},
        {"missing required section", "[other]\n1\n60\n", "snow_model", true, 0, 17, 0},
        {"missing optional section", "[other]\n1\n60\n", "special_output", false, 0, 0, 0},
        {"unreadable method", "[snow_model]\nx\n60\n", "snow_model", true, 0, 17, 0},
        {"missing interval", "[snow_model]\n1\n", "snow_model", true, 0, 17, 0},
        {"interval shorter than the time shift", "[snow_model]\n1\n60\n", "snow_model", true, 1440, 63, 0},
        {"off is still checked against the shift", "[snow_model]\n0\n60\n", "snow_model", true, 1440, 63, 0},
        {"equal to the shift", "[snow_model]\n1\n1440\n", "snow_model", true, 1440, 0, 1},
        {"on with interval 0", "[snow_model]\n1\n0\n", "snow_model", true, 0, 17, 0},
        {"on with negative interval", "[snow_model]\n1\n-60\n", "snow_model", true, 0, 17, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SubModelFixture f(c.control, c.minToIntEnd);
        std::unique_ptr<teilmodellklasse> model;
        const int code = ThrownCode([&] {
            model = std::make_unique<teilmodellklasse>(&f.writer, c.section, f.settings, f.table.get(), 1, c.required);
        });
        EXPECT_EQ(code, c.code);
        if (code != 0) continue;
        EXPECT_EQ(model->GetMethod(), c.method);
        // an off sub-model has closed its control file; an on one stands after its interval line
        EXPECT_EQ(model->ControlFile != nullptr, c.method != 0);
        if (c.control.find("more") != std::string::npos) {
            std::string word;
            modelobject::ReadWord(model->ControlFile, &word);
            EXPECT_EQ(word, "more");
            EXPECT_EQ(model->GetTimeStep(), 60);
            EXPECT_DOUBLE_EQ(model->StepsPerDay, 24);
        }
    }
}

TEST(SubModelBase, TimeShiftMessageAndMissingSectionEntry) {
    {
        SubModelFixture f("[snow_model]\n1\n60\n", 1440);
        EXPECT_EQ(ThrownCode([&] { teilmodellklasse m(&f.writer, "snow_model", f.settings, f.table.get(), 1); }), 63);
        const auto xml = f.xml();
        EXPECT_NE(xml.find("the time step 60 minutes as given in the section for the module snow_model"),
                  std::string::npos);
        EXPECT_NE(xml.find("is shorter than the parameter min_to_int_end with 1440 minutes"), std::string::npos);
    }
    {
        SubModelFixture f("[snow_model]\n1\n60\n");
        teilmodellklasse m(&f.writer, "special_output", f.settings, f.table.get(), 1, false);
        EXPECT_EQ(m.GetMethod(), 0);
        const auto lines = DiagLines(f.xml());
        bool found = false;
        for (const auto& l : lines) found |= l.level == 0 && l.description == "error in control file, [special_output]; (EOF)not found!";
        EXPECT_TRUE(found);
    }
}

TEST(SubModelBase, ProgressLineFollowsTheLogInterval) {
    SubModelFixture f("[interception_model]\n1\n60\n");
    f.settings.LogInterval = 24;
    teilmodellklasse m(&f.writer, "interception_model", f.settings, f.table.get(), 1);
    for (int hour = 1; hour <= 24; ++hour) m.RunTimeStep(hour, 1, 1, 1990);
    EXPECT_EQ(m.StepHour, 24);
    EXPECT_EQ(m.StepYear, 1990);
    const std::string console = f.console.str();
    const std::string line = "  interception_model 1.1.1990 24. h (time of meteo data)\n";
    EXPECT_NE(console.find(line), std::string::npos) << console;
    EXPECT_EQ(console.find("1.1.1990 23. h"), std::string::npos);

    // a log interval below 1 is never divided by: every step logs
    m.LogInterval = 0;
    m.RunTimeStep(5, 2, 1, 1990);
    EXPECT_NE(f.console.str().find("2.1.1990 5. h"), std::string::npos);
}

TEST(SubModelBase, TracerArithmetic) {
    EXPECT_EQ(teilmodellklasse::MixConcentration(2, 4, 0, 0), 0);
    EXPECT_DOUBLE_EQ(teilmodellklasse::MixConcentration(2, 4, 1, 3), 3.5);
    EXPECT_EQ(teilmodellklasse::ConcentrateByLoss(3, 5, 5), 0);
    EXPECT_DOUBLE_EQ(teilmodellklasse::ConcentrateByLoss(3, 5, 1), 3.75);
    EXPECT_EQ(teilmodellklasse::ScaleValue(3, 4), 12);
}

TEST(SubModelBase, ReportFpeCycle) {
    SubModelFixture f("[unsatzon_model]\n1\n60\n");
    teilmodellklasse m(&f.writer, "unsatzon_model", f.settings, f.table.get(), 1);
    m.ReportFpe(1, 2, 3, 4, 1, 2, 3, 4, 5);
    EXPECT_EQ(m.FpeFlag, 0);
    m.FpeFlag = 1;
    m.ReportFpe(1, 2, 3, 4, 1.5, 2, 3, 4, 5);
    EXPECT_EQ(m.FpeFlag, 2);
    m.ReportFpe(1, 2, 3, 4, 1, 2, 3, 4, 5);
    EXPECT_EQ(m.FpeFlag, 0);
    EXPECT_NE(f.xml().find("fpe in i1: 1, i2: 2, i3: 3, i4: 4;a1: 1.5 a2: 2"), std::string::npos);
}

TEST(SubModelBase, TracerStorageGridsAndDecay) {
    SubModelFixture f("[snow_model]\n1\n60\n");
    teilmodellklasse m(&f.writer, "snow_model", f.settings, f.table.get(), 1);
    std::vector<StatisticsTableEntry> statistics(201);
    int status = -1;
    m.InitTracers(&status, 0, nullptr, statistics.data(), 200);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(FindFreeGridEntry(f.table.get()), 2);

    // entry 3 already holds a grid: the flux grid must not replace it
    f.table[3].InternalName = "taken";
    f.table[3].EverUsed = true;
    std::vector<TracerInfo> tracers(2);
    tracers[1].name = "cl_";
    tracers[1].radioactive = 1;
    tracers[1].half_time = 1;
    tracers[1].path = f.dir.path() + "/";
    tracers[1].statext = "sta";
    tracers[1].gridext = "grd";
    tracers[1].statcode = 0;
    m.InitTracers(&status, 1, tracers.data(), statistics.data(), 200);
    ASSERT_EQ(status, 0);
    EXPECT_NEAR(std::pow(tracers[1].decay_factor, 24), 0.5, 1e-9);
    const auto& record = m.TracerStorage[1];
    EXPECT_EQ(record.StorageGridIndex, 2);
    EXPECT_EQ(record.FluxGridIndex, 4);
    EXPECT_EQ(f.table[2].InternalName, "concstor_tracer_1_snow_model");
    EXPECT_EQ(f.table[4].InternalName, "concflux_tracer_1_snow_model");
    EXPECT_EQ(f.table[3].InternalName, "taken");
    EXPECT_EQ(record.GridFileName, f.dir.path() + "/cl_snow_.grd");
    EXPECT_EQ(record.StorageGrid[2][2], -9999);
    EXPECT_EQ(record.StorageGrid[1][1], 0);
    m.ReleaseTracers();
    EXPECT_EQ(m.FindGrid("concstor_tracer_1_snow_model"), 0);
}

TEST(SubModelBase, RelCellAreaFromTheGridTable) {
    SubModelFixture f("[snow_model]\n1\n60\n");
    {
        teilmodellklasse m(&f.writer, "snow_model", f.settings, f.table.get(), 1);
        EXPECT_EQ(m.RelCellArea, nullptr);
        EXPECT_EQ(m.ZoneGrid, f.zoneGrid);
    }
    double** rel = f.memory.matrix(1, 3, 1, 4, 3);
    f.table[2].Data = rel;
    f.table[2].InternalName = "RelCellArea";
    f.table[2].EverUsed = true;
    teilmodellklasse m(&f.writer, "snow_model", f.settings, f.table.get(), 1);
    EXPECT_EQ(m.RelCellArea, rel);
    f.memory.free_matrix(rel, 1, 3, 1, 4);
}

// The ranks found at construction answer as the zone table does, and a zone
// grid or table swapped in later is looked up directly until they are found
// anew.
TEST(SubModelBase, ZoneRankOfEveryCell) {
    SubModelFixture f("[snow_model]\n1\n60\n");
    // Codes 0..9: 7 ranks 1, 3 ranks 2, the others outside the table.
    std::vector<int> ranks(10, 0);
    ranks[7] = 1;
    ranks[3] = 2;
    f.settings.ZoneRank = ranks.data();
    f.settings.MaxZoneCode = 9;
    f.zoneGrid[1][1] = 3.4;   // rounds to 3
    f.zoneGrid[1][2] = 2.6;   // rounds to 3
    f.zoneGrid[3][4] = 12;    // above the largest code
    f.zoneGrid[3][3] = -0.4;  // rounds to 0, no rank
    teilmodellklasse m(&f.writer, "snow_model", f.settings, f.table.get(), 1);
    struct Case {
        int row, col, rank;
    } cases[] = {{1, 1, 2}, {1, 2, 2}, {1, 3, 1}, {2, 2, 0}, {3, 4, 0}, {3, 3, 0}, {3, 1, 1}};
    for (const Case& c : cases) EXPECT_EQ(m.ZoneRankOfCell(c.row, c.col), c.rank) << c.row << "," << c.col;

    // Another zone grid: read directly, then from the ranks found anew.
    double** other = f.memory.matrix(1, 3, 1, 4, 3);
    for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 4; ++c) other[r][c] = 3;
    m.ZoneGrid = other;
    EXPECT_EQ(m.ZoneRankOfCell(1, 3), 2);
    m.FindZoneRanks();
    EXPECT_EQ(m.ZoneRankOfCell(2, 2), 2);
    // Without a table every cell has rank 0.
    m.Settings.ZoneRank = nullptr;
    EXPECT_EQ(m.ZoneRankOfCell(2, 2), 0);
    f.memory.free_matrix(other, 1, 3, 1, 4);
}
