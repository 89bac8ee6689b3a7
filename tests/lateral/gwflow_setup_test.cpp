// Groundwater set-up: the section with its Use-Pond-Flag, the grids in their
// order, start heads, the control point file, "[lake_model]", the set-up
// errors, tracers, the warm start and the teardown.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "framework/tracer_info.h"
#include "gwflow_fixture.h"

using namespace gwtest;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

TEST(GroundwaterSetup, GridsInOrderAndStartState) {
    Fixture f(3, 4, 2);
    f.Grid("aquifer_thickness_1")[1][1] = -9999;  // no thickness given: none in layer 1
    f.Grid("groundwater_distance")[2][2] = -0.5;
    ASSERT_EQ(f.Make(Section{}), 0) << f.Diagnostics();
    gwflowclass& m = *f.model;
    EXPECT_EQ(m.Layers, 2);
    EXPECT_EQ(m.MaxSweeps, 10000);
    EXPECT_FALSE(m.AdaptiveRelaxation);
    EXPECT_EQ(m.OldHeadFileName[1], "head1_old.asc");

    const int first = FindGridEntry(f.table.get(), "gw_head_1", true);
    ASSERT_GT(first, 0);
    const std::vector<std::string> expected = {
        "gw_head_1", "gw_head_old_1", "gw_head_2", "gw_head_old_2",
        "gw_head_old_old_1", "gw_head_old_old_1", "gw_transmissivity_x_1", "gw_transmissivity_y_1",
        "gw_flow_x_1", "gw_flow_y_1", "gw_balance1", "gw_leakage_1", "aquifer_upper_limit1",
        "gw_head_old_old_2", "gw_head_old_old_2", "gw_transmissivity_x_2", "gw_transmissivity_y_2",
        "gw_flow_x_2", "gw_flow_y_2", "gw_balance2", "gw_leakage_2", "aquifer_upper_limit2"};
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(f.table[first + static_cast<int>(i)].InternalName, expected[i]) << "entry " << first + i;
    }
    EXPECT_EQ(f.table[first].FileName, "head1.asc");
    EXPECT_EQ(f.table[first + 1].FileName, "head1_old.asc");
    EXPECT_EQ(f.table[first + 6].FileName, "gw_transmissivity_x_1");

    // Layer 1 takes the soil depth; the same start head in every layer.
    EXPECT_EQ(f.Grid("aquifer_thickness_1")[2][3], Fixture::SoilDepth);
    EXPECT_EQ(f.Grid("aquifer_thickness_1")[1][1], -9999);
    for (int k = 1; k <= 2; ++k) {
        EXPECT_EQ(m.Head[k][1][2], Fixture::Surface - Fixture::Depth);
        EXPECT_EQ(m.Head[k][2][2], Fixture::Surface - 0.5);
        EXPECT_EQ(m.HeadStart[k][2][2], Fixture::Surface - 0.5);
        EXPECT_EQ(m.HeadPrevious[k][2][2], Fixture::Surface - 0.5);
    }
    EXPECT_EQ(m.Top[1][2][2], Fixture::Surface);
    EXPECT_EQ(m.Top[2][2][2], Fixture::Surface - Fixture::SoilDepth);
    EXPECT_NE(f.Diagnostics().find("in modul groundwater_flow: no POND-Grid will be used because "
                                   "Use-Pond-Flag is not present"),
              std::string::npos);
    EXPECT_NE(f.Diagnostics().find("no LAKE-grid was found in groundwater_flow\nLake modelling is switched "
                                   "off for groundwater_flow.\n"),
              std::string::npos);

    // Teardown gives every entry back.
    f.model->DeleteModule();
    EXPECT_EQ(FindGridEntry(f.table.get(), "gw_head_1", true), 0);
    EXPECT_EQ(FindGridEntry(f.table.get(), "aquifer_upper_limit2", true), 0);
}

TEST(GroundwaterSetup, UsePondFlag) {
    struct Case {
        const char* what;
        std::string line;
        bool pondGrid;
        int flag;
        bool ponds;
        const char* info;
    };
    const Case cases[] = {
        {"absent: the line is the first head file", "", false, 0, false,
         ": no POND-Grid will be used because Use-Pond-Flag is not present"},
        {"1 with a comment and the grid", "1 use ponds\n", true, 1, true,
         ": Use-Pond-Flag is 1\n POND-Grid was found --> PONDs will be used in GW-Model"},
        {"1 without the grid", "1\n", false, 1, false,
         ": Use-Pond-Flag is 1\n POND-Grid was not found --> no PONDs will be used in GW-Model"},
        {"0", "0 no ponds\n", true, 0, false, ": Use-Pond-Flag is 0; --> no PONDs will be used in GW-Model"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f(2, 2, 1);
        if (c.pondGrid) f.Add("ponding_storage", 30);
        f.Grid("groundwater_distance")[1][1] = 0;
        Section s;
        s.layers = 1;
        s.pondLine = c.line;
        ASSERT_EQ(f.Make(s), 0) << f.Diagnostics();
        EXPECT_EQ(f.model->UsePondFlag, c.flag);
        EXPECT_EQ(f.model->PondsUsed, c.ponds);
        EXPECT_EQ(f.model->HeadFileName[1], "head1.asc");
        EXPECT_NE(f.Diagnostics().find(std::string("in modul groundwater_flow") + c.info), std::string::npos);
        // A table at the surface carries the ponded water when ponds are used.
        EXPECT_DOUBLE_EQ(f.model->Head[1][1][1], Fixture::Surface + (c.ponds ? 0.03 : 0));
    }
}

TEST(GroundwaterSetup, Errors) {
    struct Case {
        const char* what;
        int rows;
        int controlRow, controlColumn, layers;
        std::string extra;  // further sections
        bool lakes, ponds;
        std::string pondLine;
        int code;
        const char* text;
    };
    const Case cases[] = {
        {"control row 3 on a 2-row grid", 2, 3, 1, 2, "", false, false, "", 8,
         "in modul groundwater_flow:\nrow index (3) for output-cell must be between 1 and 2 (Input as row col) "
         "or 0 0 "},
        {"row 5, column 0", 5, 5, 0, 2, "", false, false, "", 9,
         "in modul groundwater_flow:\ncolumn index (0) for output-cell must be between 1 and 4 (Input as row "
         "col) "},
        {"column beyond the grid", 5, 1, 5, 2, "", false, false, "", 9, "column index (5)"},
        {"no layer", 5, 0, 0, 0, "", false, false, "", 17, "number of layers in "},
        {"lakes with Use-Pond-Flag 0", 5, 0, 0, 1, "[lake_model]\n1 lakes on\n1 method\n", true, true, "", 214,
         "pond_use must be set in groundwater_flow\nfor using the [lake_model]"},
        {"lakes without a pond grid", 5, 0, 0, 1, "[lake_model]\n1 lakes on\n1 method\n", true, false, "1\n", 28,
         "LAKE-grid was found, but no POND-Grid."},
        {"lake initialization method 3", 5, 0, 0, 1, "[lake_model]\n1 lakes on\n3 method\n", true, true, "1\n", 214,
         "Lake initialization method (3) not valid."},
        {"lake section missing", 5, 0, 0, 1, "", true, true, "1\n", 17, "[lake_model]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f(c.rows, 4, std::max(c.layers, 1));
        if (c.lakes) f.Add("lake_codes", 1);
        if (c.ponds) f.Add("ponding_storage", 0);
        f.extraSections = c.extra;
        Section s;
        s.controlRow = c.controlRow;
        s.controlColumn = c.controlColumn;
        s.layers = c.layers;
        s.pondLine = c.pondLine;
        EXPECT_EQ(f.Make(s), c.code) << f.Diagnostics();
        EXPECT_NE(f.Diagnostics().find(c.text), std::string::npos) << f.Diagnostics();
        EXPECT_EQ(FindGridEntry(f.table.get(), "gw_head_1", true), 0);  // nothing left behind
    }
    {
        SCOPED_TRACE("lakes switched off in their section, or a valid method");
        for (const char* section : {"[lake_model]\n0 lakes off\n", "[lake_model]\n1 lakes on\n2 method\n"}) {
            Fixture f(2, 2, 1);
            f.Add("lake_codes", 1);
            f.Add("ponding_storage", 0);
            f.extraSections = section;
            Section s;
            s.layers = 1;
            s.pondLine = "1\n";
            EXPECT_EQ(f.Make(s), 0) << f.Diagnostics();
        }
    }
    {
        // The solver's controls within their ranges; a relaxation factor of
        // 0 or less selects the adaptive relaxation.
        struct Control {
            const char* what;
            void (*set)(Section&);
            const char* text;
        };
        const Control controls[] = {
            {"relaxation 1e300", [](Section& s) { s.sor = 1e300; },
             "sor-parameter in ; groundwater_flow: the value 1.0000000000000001e+300 lies outside 0 to "
             "1.9999999999999998"},
            {"relaxation 2", [](Section& s) { s.sor = 2; }, "sor-parameter in ; groundwater_flow: the value 2 lies"},
            {"alpha -1", [](Section& s) { s.alpha = -1; }, "alpha in ; groundwater_flow: the value -1 lies outside 0 to 1"},
            {"no sweep", [](Section& s) { s.maxSweeps = 0; }, "maxiter in ; groundwater_flow: the value 0 lies outside"},
            {"tolerance 0", [](Section& s) { s.tolerance = 0; }, "maxerror_allowed in ; groundwater_flow: the value 0"},
        };
        for (const Control& c : controls) {
            SCOPED_TRACE(c.what);
            Fixture f(2, 2, 1);
            Section s;
            s.layers = 1;
            c.set(s);
            EXPECT_EQ(f.Make(s), 17);
            EXPECT_NE(f.Diagnostics().find(c.text), std::string::npos) << f.Diagnostics();
        }
        for (double sor : {0.0, -1.0, 1.5}) {
            Fixture f(2, 2, 1);
            Section s;
            s.layers = 1;
            s.sor = sor;
            EXPECT_EQ(f.Make(s), 0) << sor << f.Diagnostics();
        }
    }
    {
        SCOPED_TRACE("a missing layer grid");
        Fixture f(2, 2, 1);
        Section s;
        s.layers = 2;
        EXPECT_EQ(f.Make(s), 33);
        EXPECT_NE(f.Diagnostics().find("gw_kolmation_1 not found in memory"), std::string::npos);
    }
}

TEST(GroundwaterSetup, OffAndSpinUp) {
    Fixture off(2, 2, 1);
    Section s;
    s.method = 0;
    ASSERT_EQ(off.Make(s), 0);
    EXPECT_EQ(off.model->GetMethod(), 0);
    off.model->RunTimeStep(1, 1, 1, 2020);
    EXPECT_EQ(FindGridEntry(off.table.get(), "gw_head_1", true), 0);

    Fixture spin(2, 2, 1);
    ASSERT_EQ(spin.Make(Section{}, 1, 1), 0);
    EXPECT_EQ(spin.model->GetMethod(), 0);
    EXPECT_EQ(spin.model->ControlFile, nullptr);
    EXPECT_EQ(FindGridEntry(spin.table.get(), "gw_head_1", true), 0);
}

TEST(GroundwaterSetup, ControlPointFile) {
    Fixture f(5, 20, 2);
    Section s;
    s.controlRow = 1;
    s.controlColumn = 20;
    ASSERT_EQ(f.Make(s, 2), 0) << f.Diagnostics();
    const std::string name = f.dir.file("cp.txt");
    EXPECT_EQ(f.model->ControlPointFileName, name);
    EXPECT_EQ(f.model->ControlCapacity, 15420);
    EXPECT_EQ(ReadFile(name),
              "YY\tMM\tDD\tHH\tcontrol_point_fluxes[1][20][lr: 1, 1]\t[lr: 1, 2]\t[lr: 1, 3]\t[lr: 1, 4]\t"
              "[lr: 1, up]\t[lr: 1, down]\t[lr: 2, 1]\t[lr: 2, 2]\t[lr: 2, 3]\t[lr: 2, 4]\t[lr: 2, up]\t"
              "[lr: 2, down]\t\n");
    f.model->SetStatus(1);
    f.model->BeginTimeStep(5, 3, 2, 2021);
    f.model->RunTimeStep(5, 3, 2, 2021);
    f.model->RunTimeStep(5, 3, 2, 2021);
    f.model->FlushOutputs();
    f.model->FlushOutputs();  // an empty buffer writes nothing
    const std::string text = ReadFile(name);
    const std::string row = "2021\t2\t3\t5\t84\t-8888\t-8888\t84\t84\t0\t84\t-8888\t-8888\t84\t84\t0\n";
    EXPECT_EQ(text.substr(text.find('\n') + 1), row + row);
    EXPECT_NE(f.Diagnostics().find("write " + name), std::string::npos);
    EXPECT_NE(f.Diagnostics().find("(272 of 2097152 buffer-bytes)"), std::string::npos);
}

TEST(GroundwaterSetup, TracersAndMixing) {
    Fixture f(1, 3, 1);
    Section s;
    s.layers = 1;
    ASSERT_EQ(f.Make(s, 4), 0) << f.Diagnostics();
    std::vector<TracerInfo> tracers(3);
    for (int t = 1; t <= 2; ++t) {
        tracers[t].name = t == 1 ? "cl_" : "tri";
        tracers[t].path = f.dir.path() + "/";
        tracers[t].statext = "sta";
        tracers[t].gridext = "asc";
        tracers[t].statcode = 1001;
        tracers[t].gwini = 2;
    }
    tracers[1].evaporating = 1;
    tracers[2].radioactive = 1;
    tracers[2].half_time = 1;
    int status = -1;
    f.model->InitTracers(&status, 2, tracers.data(), f.statistics, StatisticsTableSize);
    ASSERT_EQ(status, 0) << f.Diagnostics();
    double** c1 = f.Grid("concstor_tracer_1_layer_1_groundwater_flow");
    double** c2 = f.Grid("concstor_tracer_2_layer_1_groundwater_flow");
    ASSERT_TRUE(c1 && c2);
    EXPECT_NE(f.Grid("concflux_tracer_1_groundwater_flow"), nullptr);
    EXPECT_EQ(c1[1][1], 2);                                // evaporating: gwini
    EXPECT_DOUBLE_EQ(c2[1][1], Fixture::SoilDepth * 0.1 * 1000 * 2);  // thickness x S x 1000 x gwini
    EXPECT_TRUE(testsupport::FileExists(f.dir.file("cl_grou1.sta")));
    EXPECT_NE(ReadFile(f.dir.file("cl_grou1.sta")).find("tracer concentration for tracer 1 in layer 1 (cl_) "),
              std::string::npos);

    // Another sub-model's set-up overwrites the shared factor: decay keeps
    // the model's own one (an hour in four sub-steps, half-life one day).
    const double factor = std::exp(-(15.0 / 1440) / 1.442695041111);
    EXPECT_DOUBLE_EQ(tracers[2].decay_factor, factor);
    tracers[2].decay_factor = 0.5;

    // Water flows from the high west cell to the east: the east cell mixes.
    c1[1][1] = 10;
    c1[1][2] = 1;
    c1[1][3] = 1;
    f.Grid("groundwater_distance")[1][1] = -0.2;
    f.Fill("gw_k_x_1", 1e-3);
    const double before = c2[1][2];
    f.Step();
    gwflowclass& m = *f.model;
    EXPECT_DOUBLE_EQ(c2[1][2], before * factor);  // nothing flows between equal concentrations
    // The middle cell: V = S1 dx dy m_o, inflow from the west at 10, outflow east at its own.
    const double top = Fixture::Surface, h = m.Head[1][1][2], ho = m.HeadStart[1][1][2];
    const double volume = 0.1 * 1e4 * (ho - top + Fixture::SoilDepth);
    const double qw = (m.Head[1][1][1] - h) / 100 * m.TransX[1][1][1] * 100 * 3600 / 4;
    const double qe = (m.Head[1][1][3] - h) / 100 * m.TransX[1][1][2] * 100 * 3600 / 4;
    ASSERT_GT(qw, 0);
    EXPECT_NEAR(c1[1][2], (1 * volume + 10 * qw + 1 * qe) / (volume + qw + qe), 1e-12);
    EXPECT_GT(c1[1][2], 1);

    f.model->ReleaseTracers();
    EXPECT_EQ(FindGridEntry(f.table.get(), "concstor_tracer_1_layer_1_groundwater_flow", true), 0);
    EXPECT_EQ(FindGridEntry(f.table.get(), "concflux_tracer_2_groundwater_flow", true), 0);
    EXPECT_GT(FindGridEntry(f.table.get(), "gw_head_1", true), 0);
}

// Subbasin means of the mixed concentrations; a zone code the subbasin table
// does not hold adds to no subbasin.
TEST(GroundwaterSetup, TracerStatisticsPerSubbasin) {
    Fixture f(1, 5, 1, 4);
    f.Grid("zone_grid")[1][5] = 5;
    f.Fill("gw_k_x_1", 0);
    f.Fill("gw_k_y_1", 0);
    Section s;
    s.layers = 1;
    ASSERT_EQ(f.Make(s), 0) << f.Diagnostics();
    std::vector<TracerInfo> tracers(2);
    tracers[1].name = "cl_";
    tracers[1].path = f.dir.path() + "/";
    tracers[1].statext = "sta";
    tracers[1].gridext = "asc";
    tracers[1].statcode = 2001;
    tracers[1].evaporating = 1;
    int status = -1;
    f.model->InitTracers(&status, 1, tracers.data(), f.statistics, StatisticsTableSize);
    ASSERT_EQ(status, 0) << f.Diagnostics();
    double** c = f.Grid("concstor_tracer_1_layer_1_groundwater_flow");
    const double values[] = {0, 1, 2, 3, 10, 1000};
    for (int j = 1; j <= 5; ++j) c[1][j] = values[j];
    f.Step(24);
    f.model->WriteOutput(24, 1, 1, 2020);
    const double* reported = f.model->TracerStatistics[1][1]->GetCurrentValues();
    ASSERT_NE(reported, nullptr);
    EXPECT_NEAR(reported[1], 2, 1e-12);
    EXPECT_NEAR(reported[2], 10, 1e-12);
    EXPECT_EQ(c[1][5], 1000);  // mixed like any cell, counted nowhere
}

// Heads written by one run start the next with grid read code 1.
TEST(GroundwaterSetup, WarmStartFromWrittenHeads) {
    Fixture first(2, 3, 2);
    first.settings.WriteAsciiGrids = true;
    first.settings.WriteDoubleGrids = true;
    first.Grid("gw_boundary_fix_h_2")[1][1] = 90;
    Section s;
    s.headWriteCode = 1;
    ASSERT_EQ(first.Make(s), 0) << first.Diagnostics();
    first.model->SetStatus(1);
    first.Step(24);
    first.model->WriteOutput(24, 1, 1, 2020);
    ASSERT_TRUE(testsupport::FileExists(first.dir.file("head2.asc"))) << first.Diagnostics();
    ASSERT_TRUE(testsupport::FileExists(first.dir.file("head2_old.asc")));

    Fixture second(2, 3, 2);
    for (const char* name : {"head1.asc", "head1_old.asc", "head2.asc", "head2_old.asc"})
        WriteFile(second.dir.file(name), ReadFile(first.dir.file(name)));
    s.readCode = 1;
    ASSERT_EQ(second.Make(s), 0) << second.Diagnostics();
    for (int k = 1; k <= 2; ++k)
        for (int r = 1; r <= 2; ++r)
            for (int c = 1; c <= 3; ++c) {
                EXPECT_EQ(second.model->Head[k][r][c], first.model->Head[k][r][c]) << k << ": " << r << "," << c;
                EXPECT_EQ(second.model->HeadStart[k][r][c], first.model->HeadStart[k][r][c]);
            }
}

}  // namespace
