// The soil model's section of the storage content file: written at the end
// of a run, read back by a warm start (read mode 1), and every stored value
// that does not fit the new run refused with code 71.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "runoff_fixture.h"

using namespace runofftest;
using testsupport::FileExists;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

// Runoff that differs by step, sub-step and cell.
void Runoff(Fixture& f, int step, int j) {
    double** direct = f.Grid("directflow");
    double** inter = f.Grid("interflow");
    for (int r = 1; r <= Rows; ++r) {
        for (int c = 1; c <= Cols; ++c) {
            direct[r][c] = 0.1 * (step + 1) + 0.01 * r + 0.003 * c + 0.07 * j;
            inter[r][c] = 0.02 * (step + 2) * c / 7.0;
        }
    }
}

// Travel times that put the cells of each subbasin into three zones.
// The model turns them into zone numbers in place: every model gets them anew.
void AddFlowTimes(Fixture& f) {
    double** times = f.Grid("flow_times");
    if (!times) times = f.Add("flow_times", 0);
    for (int r = 1; r <= Rows; ++r)
        for (int c = 1; c <= Cols; ++c) times[r][c] = 600 + ((c - 1) % 3) * 3600;
}

// The state grids and stacks a warm start reads, as the model holds them.
void WriteStateGrids(Fixture& f) {
    unsatzonmodellklasse& m = *f.model;
    m.WriteStack("theta.stk", m.Theta, Layers, true, true);
    m.WriteStack("hh.stk", m.HydraulicHeads, Layers, true, true);
    m.WriteStack("hgeo.stk", m.GeodeticHeads, Layers, true, true);
    m.WriteGrid("gwstand.asc", m.GroundwaterDistance, true, true);
    m.WriteGrid("gwtheta.asc", m.ThetaInGwLevel, true, true);
    m.WriteGrid("gwlevel.asc", m.GroundwaterLevel, true, true);
    m.WriteGrid("deltagw.asc", m.Baseflow, true, true);
}

struct SavedRunoff {
    std::vector<unsatzon::FlowTimeZone> Zones;  // QD then QI, subbasins 1, 2, zones 1..3
    std::vector<double> Storages;               // QDd, QIi of subbasins 1, 2
};

SavedRunoff Save(unsatzonmodellklasse& m) {
    SavedRunoff saved;
    for (unsatzon::FlowTimeQueues* q : {&m.zoneFZT_QD, &m.zoneFZT_QI})
        for (int s = 1; s <= 2; ++s)
            for (int z = 1; z <= 3; ++z) saved.Zones.push_back(q->Zones(0, s)[z]);
    for (int s = 1; s <= 2; ++s) {
        saved.Storages.push_back(m.QDd.Rows()[0][s]);
        saved.Storages.push_back(m.QIi.Rows()[0][s]);
    }
    return saved;
}

bool Same(const unsatzon::FlowTimeZone& a, const unsatzon::FlowTimeZone& b) {
    return a.n == b.n && a.sx == b.sx && a.zonenwert == b.zonenwert && a.rel == b.rel && a.RelCellSum == b.RelCellSum;
}

// A cold run of five steps that ends by writing its state; the text of the
// section and what the model held at its end.
std::string ColdRun(Fixture& f, const Section& section, SavedRunoff* saved, const std::string& file = "storage.txt_0") {
    AddFlowTimes(f);
    EXPECT_EQ(f.Make(section, 2), 0) << f.Diagnostics();
    for (int step = 0; step < 5; ++step) f.Step([&](int j) { Runoff(f, step, j); });
    if (saved) *saved = Save(*f.model);
    WriteStateGrids(f);
    f.model->FinishRun(0);
    f.model.reset();
    return FileExists(file) ? ReadFile(file) : std::string();
}

Section WarmSection() {
    Section section;
    section.Tail = "1 readgrid\nstorage.txt\n";
    return section;
}

std::string Replace(std::string text, const std::string& what, const std::string& with) {
    const size_t at = text.find(what);
    EXPECT_NE(at, std::string::npos) << what;
    if (at != std::string::npos) text.replace(at, what.size(), with);
    return text;
}

// The section up to the second value of its first zone record.
std::string TwoValuesOfFirstRecord(const std::string& stored) {
    const size_t line = stored.find("(zone 1 and maxzeit)\n") + 21;
    const size_t first = stored.find(' ', line);
    return stored.substr(0, stored.find(' ', first + 1));
}

}  // namespace

// The section holds every zone and storage in a form that reads back to the
// same double: a warm start continues with exactly the state the run ended
// with, and its own next section equals the continuous run's.
TEST(SoilStorageContent, WarmStartLoadsTheStateExactly) {
    Fixture f;
    SavedRunoff atEnd;
    const std::string text = ColdRun(f, Section(), &atEnd);
    ASSERT_EQ(text.rfind("[unsatzon_model]\n2 (number of subasins)\n1\t2\t(code)\n120 120 (kelsqd in min)\n", 0), 0u)
        << text;
    EXPECT_NE(text.find("\ninf inf (inverse recession constant for baseflow [needed when using no groundwater "
                        "model])\n0 0 (max. baseflow [needed when using no groundwater model])\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("0 (number of tracers)\n0 (0=runoff, 1...9 = tracers)\n1 3 (zone 1 and maxzeit)\n"),
              std::string::npos);
    EXPECT_NE(text.find(" (zoneFZT_QI.n/.sx/.zonenwert/.rel/.RelCellSum)\n"), std::string::npos);
    EXPECT_NE(text.find(" (QIi[0][2])\n0 0 (baseflow deficit [mm])\n"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 3), ")\n\n");
    // Something travels: the storages and later zones are not empty.
    EXPECT_GT(atEnd.Storages[0], 0);
    EXPECT_GT(atEnd.Zones[2].sx, 0);

    AddFlowTimes(f);
    ASSERT_EQ(f.Make(WarmSection(), 2), 0) << f.Diagnostics();
    const SavedRunoff loaded = Save(*f.model);
    ASSERT_EQ(loaded.Zones.size(), atEnd.Zones.size());
    for (size_t i = 0; i < loaded.Zones.size(); ++i) EXPECT_TRUE(Same(loaded.Zones[i], atEnd.Zones[i])) << i;
    EXPECT_EQ(loaded.Storages, atEnd.Storages);

    // Two more steps after the warm start equal steps 6 and 7 of one run.
    for (int step = 5; step < 7; ++step) f.Step([&](int j) { Runoff(f, step, j); });
    const SavedRunoff warm = Save(*f.model);
    const std::vector<double> warmQg = {f.Qg(1), f.Qg(2)};
    f.model->FinishRun(0);
    f.model.reset();

    Fixture g;
    AddFlowTimes(g);
    ASSERT_EQ(g.Make(Section(), 2), 0) << g.Diagnostics();
    for (int step = 0; step < 7; ++step) g.Step([&](int j) { Runoff(g, step, j); });
    const SavedRunoff continuous = Save(*g.model);
    EXPECT_EQ(warmQg, (std::vector<double>{g.Qg(1), g.Qg(2)}));
    EXPECT_EQ(warm.Storages, continuous.Storages);
    for (size_t i = 0; i < warm.Zones.size(); ++i) EXPECT_TRUE(Same(warm.Zones[i], continuous.Zones[i])) << i;
}

// Every stored value that does not belong to this run ends the warm start
// with its label; values within the tolerance pass.
TEST(SoilStorageContent, MismatchesEndTheRunWithTheirLabel) {
    Fixture f;
    const std::string stored = ColdRun(f, Section(), nullptr);
    ASSERT_FALSE(stored.empty());
    struct Case {
        const char* name;
        std::string parameters;  // the current run's parameter lines; empty: as stored
        std::string file;        // the stored section; empty: as written
        int code;
        std::vector<std::string> texts;
    };
    const Section base;
    const Case cases[] = {
        {"kelsqd 1e-6 relative", "2.000002 2 kelsqd\n2 2 kelsqi\n5 6 density\n0 0 kelsqlat\n0 0 Q0\n0 0 snow\n", "",
         0, {}},
        {"kelsqd 1e-4 relative", "2.0002 2 kelsqd\n2 2 kelsqi\n5 6 density\n0 0 kelsqlat\n0 0 Q0\n0 0 snow\n", "", 71,
         {"error in storage file content reading m:\nvalue in actual control is:   120.012\nbut value in "
          "storage file is: 120\nRuvex throws..."}},
        {"stored 0, current 1", "2 2 kelsqd\n2 2 kelsqi\n5 6 density\n0 0 kelsqlat\n1 0 Q0\n0 0 snow\n", "", 71,
         {"reading Q0:\nvalue in actual control is:   1\nbut value in storage file is: 0\n"}},
        {"stored infinity, current finite", "2 2 kelsqd\n2 2 kelsqi\n5 6 density\n4 0 kelsqlat\n0 0 Q0\n0 0 snow\n",
         "", 71, {"reading kelsqlat:\nvalue in actual control is:   0.25\nbut value in storage file is: inf\n"}},
        {"tracer count", "", Replace(stored, "0 (number of tracers)", "1 (number of tracers)"), 71,
         {"reading number of tracers:\nvalue in actual control is:   0\nbut value in storage file is: 1\n"}},
        {"parameters are compared before the tracer count",
         "2 2 kelsqd\n2 2 kelsqi\n5 7 density\n0 0 kelsqlat\n0 0 Q0\n0 0 snow\n",
         Replace(stored, "0 (number of tracers)", "1 (number of tracers)"), 71,
         {"reading flussdichte:\nvalue in actual control is:   7\nbut value in storage file is: 6\n"}},
        {"flow-time zones", "", Replace(stored, "2 3 (zone 2 and maxzeit)", "2 4 (zone 2 and maxzeit)"), 71,
         {"reading maxzeit of actual subbasin:\nvalue in actual control is:   3\nbut value in storage file is: 4\n"}},
        {"subbasin code", "", Replace(stored, "1\t2\t(code)", "1\t3\t(code)"), 71,
         {"reading subbasin code:\nvalue in actual control is:   2\nbut value in storage file is: 3\n"}},
        {"no section", "", Replace(stored, "[unsatzon_model]", "[routing_model]"), 71,
         {"error locking for the section [unsatzon_model] in "}},
        {"cut after the tracer count", "", stored.substr(0, stored.find("0 (0=runoff")), 71,
         {"reading actual tracers(0=runoff):\n", "(missing or unreadable)"}},
        {"cut inside a zone record", "", TwoValuesOfFirstRecord(stored), 71,
         {"reading number of fields for zonal statistics QD:\nvalue in actual control is:   5\nbut value in "
          "storage file is: 2\n"}},
        {"cut before the last storage", "", stored.substr(0, stored.rfind("(QDd[0][2])\n") + 12), 71,
         {"reading QIi[0][2]:\n", "(missing or unreadable)"}},
        {"unreadable parameter", "", Replace(stored, "5 6 (drainage density)", "5 x (drainage density)"), 71,
         {"reading flussdichte:\nvalue in actual control is:   6\nbut value in storage file is: (missing or "
          "unreadable)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile("storage.txt_0", c.file.empty() ? stored : c.file);
        Section section = WarmSection();
        if (!c.parameters.empty()) section.Parameters = c.parameters;
        f.console.str("");
        AddFlowTimes(f);
        EXPECT_EQ(f.Make(section, 2), c.code) << f.Diagnostics();
        for (const std::string& text : c.texts) EXPECT_NE(f.Diagnostics().find(text), std::string::npos) << text;
        if (c.code == 0) f.model->FinishRun(0);
        f.model.reset();
    }

    // Without the file the warm start ends with code 64.
    std::filesystem::remove("storage.txt_0");
    f.console.str("");
    AddFlowTimes(f);
    EXPECT_EQ(f.Make(WarmSection(), 2), 64);
    EXPECT_NE(f.Diagnostics().find("error opening storage content file " + f.dir.path() + "/storage.txt_0"),
              std::string::npos)
        << f.Diagnostics();
}

// The baseflow a subbasin still owes goes into the section's last line and
// comes back exactly. A section written before that line existed loads with
// nothing owed and a warning; a line that is there but unreadable is refused.
TEST(SoilStorageContent, BaseflowDeficitIsCarriedOver) {
    Fixture f;
    AddFlowTimes(f);
    ASSERT_EQ(f.Make(Section(), 2), 0) << f.Diagnostics();
    for (int step = 0; step < 2; ++step) f.Step([&](int j) { Runoff(f, step, j); });
    const double owed[] = {0.125, 1.0 / 3.0};
    f.model->BaseflowDeficit[1] = owed[0];
    f.model->BaseflowDeficit[2] = owed[1];
    WriteStateGrids(f);
    f.model->FinishRun(0);
    f.model.reset();
    const std::string stored = ReadFile("storage.txt_0");
    const std::string line = "\n0.125 0.3333333333333333 (baseflow deficit [mm])\n";
    ASSERT_NE(stored.find(line), std::string::npos);

    struct Case {
        const char* name;
        std::string file;
        int code;
        std::vector<double> loaded;  // subbasins 1, 2
        const char* text;
    };
    // Written before the deficits: the section ends after the storages.
    const std::string older = stored.substr(0, stored.find(line)) + "\n\n";
    const Case cases[] = {
        {"as written", stored, 0, {owed[0], owed[1]}, "storage content of unsatzon_model read from"},
        {"older section, end of file", older, 0, {0, 0}, "no baseflow deficit in the section [unsatzon_model]"},
        {"older section, another follows", older + "[snow_model]\n2 (number of subasins)\n", 0, {0, 0},
         "no baseflow deficit in the section [unsatzon_model]"},
        {"unreadable", Replace(stored, "0.125 0.3333333333333333 (", "0.125 x ("), 71, {},
         "error in storage file content reading baseflow deficit:"},
        {"one value short", Replace(stored, "0.125 0.3333333333333333 (", "0.125 ("), 71, {},
         "error in storage file content reading baseflow deficit:"},
        {"negative", Replace(stored, "0.125 0.3333333333333333 (", "0.125 -1 ("), 71, {},
         "error in storage file content reading baseflow deficit:"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile("storage.txt_0", c.file);
        f.console.str("");
        AddFlowTimes(f);
        ASSERT_EQ(f.Make(WarmSection(), 2), c.code) << f.Diagnostics();
        EXPECT_NE(f.Diagnostics().find(c.text), std::string::npos) << f.Diagnostics();
        if (c.code == 0) {
            EXPECT_EQ(f.model->BaseflowDeficit[1], c.loaded[0]);
            EXPECT_EQ(f.model->BaseflowDeficit[2], c.loaded[1]);
            f.model->FinishRun(0);
        }
        f.model.reset();
    }
}

// Only read mode 1 reads the section; a name beginning with "/" is used as
// it stands for writing and reading.
TEST(SoilStorageContent, ReadModesAndAbsoluteNames) {
    Fixture f;
    const std::string absolute = f.dir.file("state/store");
    std::filesystem::create_directories(f.dir.file("state"));
    Section section;
    section.Tail = "0 readgrid\n" + absolute + "\n";
    SavedRunoff atEnd;
    const std::string text = ColdRun(f, section, &atEnd, absolute + "_0");
    ASSERT_EQ(text.rfind("[unsatzon_model]\n", 0), 0u);
    EXPECT_FALSE(FileExists("storage.txt_0"));
    EXPECT_FALSE(FileExists(f.dir.file("state/store_0.$tmp")));

    section.Tail = "1 readgrid\n" + absolute + "\n";
    AddFlowTimes(f);
    ASSERT_EQ(f.Make(section, 2), 0) << f.Diagnostics();
    EXPECT_EQ(Save(*f.model).Storages, atEnd.Storages);
    f.model.reset();

    // Modes 0, 2 and 3 start from the cold runoff state, with or without a file.
    std::filesystem::remove(absolute + "_0");
    for (const char* mode : {"0", "2", "3"}) {
        SCOPED_TRACE(mode);
        section.Tail = std::string(mode) + " readgrid\n" + absolute + "\n";
        AddFlowTimes(f);
        ASSERT_EQ(f.Make(section, 2), 0) << f.Diagnostics();
        EXPECT_EQ(Save(*f.model).Storages, std::vector<double>(4, 0.0));
        f.model.reset();
    }
}

namespace {

// Lake cells: code 0 at (1,1), 5 at (1,3) and 3 at (2,1); the code -1 at
// (1,2) marks no lake.
void AddLakes(Fixture& f) {
    double** lakes = f.Add("lake_codes", -9999);
    lakes[1][1] = 0;
    lakes[1][2] = -1;
    lakes[1][3] = 5;
    lakes[2][1] = 3;
}

Section PondSection(const std::string& readMode) {
    Section section;
    // The cold start puts the table below the profile: no layer is saturated.
    section.Head = "2 method\n0 surface water\n1 pond\n0 drainage\n0 clay\n1e-8 ksat clay\n0.5 ini_gw_level\n";
    section.Tail = readMode + " readgrid\nstorage.txt\n";
    return section;
}

bool Saturated(Fixture& f, int r, int c) {
    unsatzonmodellklasse& m = *f.model;
    return m.Theta[r][c][1] == 0.45 && m.Theta[r][c][2] == 0.45 && m.GroundwaterDistance[r][c] == 0 &&
           m.GroundwaterLevel[r][c] == 1;
}

}  // namespace

// The lake switch and method of "[lake_model]" and what they do to the
// start state of lake cells.
TEST(SoilLakes, LakeCellsStartSaturated) {
    struct Case {
        const char* name;
        bool lakeGrid;
        bool pond;
        const char* readMode;
        double ponding;       // "ponding_storage" of the warm start [mm]
        std::string section;  // "[lake_model]" and its lines; empty: none
        int code;
        const char* text;
        bool saturated;       // lake cells
        bool lowered;         // elevation of lake cells by 0.2 m
        bool units = false;   // hydrologic response units: every cell its own
    };
    const Case cases[] = {
        {"no lake grid", false, false, "0", 0, "", 0, "no LAKE-grid was found in unsatzon_model\nLake modelling is switched off for unsatzon_model.", false,
         false},
        {"lakes off", true, true, "0", 0, "[lake_model]\n0 off\n", 0, nullptr, false, false},
        {"pond switch off", true, false, "0", 0, "[lake_model]\n1 on\n", 215,
         "Error in initialization method for [lake_model].\npond_use must be set in unsatzon_model\nfor using the "
         "[lake_model]",
         false, false},
        {"method 3", true, true, "0", 0, "[lake_model]\n1 on\n3 method\n", 215,
         "Allowed values are 1 (no change of grids) or 2 (adjust DEM, SLOPE, DRAIN).", false, false},
        {"method 1 cold", true, true, "0", 0, "[lake_model]\n1 on\n1 method\n", 0, nullptr, true, false},
        {"method 2 cold", true, true, "0", 0, "[lake_model]\n1 on\n2 method\n", 0, nullptr, true, true},
        {"method 1 warm, ponding 0.5", true, true, "1", 0.5, "[lake_model]\n1 on\n1 method\n", 0, nullptr, false,
         false},
        {"method 1 warm, ponding 1.0", true, true, "1", 1.0, "[lake_model]\n1 on\n1 method\n", 0, nullptr, false,
         false},
        {"method 2, response units", true, true, "0", 0, "[lake_model]\n1 on\n2 method\n", 0, nullptr, false, false,
         true},
        {"method 1 warm, ponding 1.5", true, true, "1", 1.5, "[lake_model]\n1 on\n1 method\n", 0, nullptr, true,
         false},
        {"method 2 warm, ponding 0.5", true, true, "1", 0.5, "[lake_model]\n1 on\n2 method\n", 0, nullptr, true,
         true},
        {"method 2 warm, ponding 0.1", true, true, "1", 0.1, "[lake_model]\n1 on\n2 method\n", 0, nullptr, false,
         true},
        {"method 2, negative read mode", true, true, "-1", 0.5, "[lake_model]\n1 on\n2 method\n", 0, nullptr, false,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.Add("max_ponding_storage", 0.2);  // [m]
        Section section = c.pond ? PondSection(c.readMode) : Section();
        if (!c.pond) section.Tail = std::string(c.readMode) + " readgrid\nstorage.txt\n";
        if (std::string(c.readMode) == "1") {
            // The state of an earlier run, with the ponding of the case.
            ColdRun(f, PondSection("0"), nullptr);
            double** pond = nullptr;
            f.model.reset();
            AddFlowTimes(f);
            ASSERT_EQ(f.Make(PondSection("0"), 2), 0) << f.Diagnostics();
            pond = f.model->PondingStorage;
            for (int r = 1; r <= Rows; ++r)
                for (int col = 1; col <= Cols; ++col) pond[r][col] = c.ponding;
            f.model->WriteGrid("pond.asc", pond, true, true);
            f.model.reset();
        }
        // Each construction turns the shared grid from m into mm.
        f.SetAll(f.Grid("max_ponding_storage"), 0.2);
        if (c.lakeGrid) AddLakes(f);
        if (c.units) {
            double** units = f.Add("HydrologicResponseUnits", 0);
            double** masters = f.Add("MasterHydrologicResponseUnits", 0);
            for (int r = 1; r <= Rows; ++r)
                for (int col = 1; col <= Cols; ++col) units[r][col] = masters[r][col] = (r - 1) * Cols + col;
        }
        f.ExtraSections = c.section.empty() ? "" : "\n" + c.section;
        AddFlowTimes(f);
        ASSERT_EQ(f.Make(section, 2), c.code) << f.Diagnostics();
        if (c.text) {
            EXPECT_NE(f.Diagnostics().find(c.text), std::string::npos) << f.Diagnostics();
        }
        if (c.code != 0) continue;
        double** dem = f.Grid("[elevation_model]");
        for (auto [r, col] : {std::pair{1, 1}, {1, 3}, {2, 1}}) {
            EXPECT_EQ(Saturated(f, r, col), c.saturated) << r << " " << col;
            EXPECT_DOUBLE_EQ(dem[r][col], c.lowered ? 600 - r - 0.2 : 600 - r) << r << " " << col;
            EXPECT_EQ(f.Grid("slope_angle")[r][col], c.lowered && c.saturated ? 0 : 45);
            if (c.saturated) {
                EXPECT_LT(f.model->Theta[r][col][3], 0.45);  // the bottom layer keeps its value
            }
        }
        // A negative lake code is no lake.
        EXPECT_FALSE(Saturated(f, 1, 2));
        EXPECT_EQ(dem[1][2], 599);
        EXPECT_EQ(f.model->LakesActive, c.section.find("1 on") != std::string::npos && !c.units ? 1 : 0);
    }
}
