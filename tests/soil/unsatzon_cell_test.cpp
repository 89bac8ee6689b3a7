// The soil-column cell step on a small grid: the water balance of every
// computed cell closes in every sub-step and every iteration step, over a
// table of starts, inputs and switches; glacier cells keep their column;
// the silting-up amount, the groundwater model's rate, the dump file and the
// iteration report.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/memory_handling.h"
#include "framework/statistics_table.h"
#include "parameters/landuse.h"
#include "parameters/soil.h"
#include "soil/unsatzon.h"
#include "soil/soil_model_fixture.h"
#include "soil/unsatzon_cell.h"
#include "support/test_support.h"
#include "support/water_balance.h"

using namespace testsupport;

namespace {

constexpr int Rows = 3, Cols = 4, Layers = 6;
constexpr double Dz = 0.2;

struct Section {
    std::string Head = "2 method\n0 surface water\n0 pond\n0 drainage\n0 clay\n1e-8 ksat clay\n2 ini_gw_level\n";
    std::string Parameters = "1 kelsqd\n3 kelsqi\n0.01 density\n2 kelsqlat\n0.05 Q0\n0.2 snow\n";
    std::string Tail = "0 readgrid\nstorage.txt\n";
    std::string Text() const {
        std::string stats, pairs;
        for (const char* s : {"qdrain", "gwstand", "gwn", "sb1", "sb2", "root", "infex", "pond", "qd", "qi", "qb",
                              "qg", "gwin", "gwex", "macro", "infilt"})
            stats += std::string(s) + ".sta 0\n";
        for (int k = 1; k <= 24; ++k) pairs += "grid" + std::to_string(k) + ".asc\n0\n";
        return Head + stats + pairs + "0 0 control point\nqb.txt\ntheta.txt\nhhyd.txt\nother.txt\netr.txt\n"
               "interflow.txt\n1 codes\n" + Parameters + Tail;
    }
};

// One subbasin; cell (3, 4) lies outside, cell (1, 1) under a glacier when
// asked. Elevation falls by 1 m per row.
struct CellFixture : soiltest::SoilGridFixture {
    std::string extraSections;
    std::unique_ptr<unsatzonmodellklasse> model;
    int status = -1;

    CellFixture() : SoilGridFixture(soiltest::Loam(Layers, Dz, 2e-5), 0.3, 0.1) {}
    int Make(const Section& section, int subSteps) {
        WriteFile(dir.file("model.ctl"), "[unsatzon_model]\n1 switch\n60 interval\n" + section.Text() + extraSections);
        settings.CompiledControlFile = dir.file("model.ctl");
        model = std::make_unique<unsatzonmodellklasse>(&status, &writer, statistics, StatisticsTableSize,
                                                       "unsatzon_model", settings, table.get(), nullptr, subSteps);
        return status;
    }
    double SoilWater(int r, int c) const {
        double sum = 0;
        for (int k = 1; k <= Layers; ++k) sum += model->Theta[r][c][k] * Dz;
        return 1000 * sum;
    }
};

// Runs the commands in `dir` and returns to the former working directory.
void InDirectory(const std::string& dir, const std::function<void()>& body) {
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    try {
        body();
    } catch (...) {
        std::filesystem::current_path(before);
        throw;
    }
    std::filesystem::current_path(before);
}

}  // namespace

TEST(SoilCell, WaterBalanceClosesInEveryCellAndStep) {
    struct Case {
        const char* what;
        // start content of every layer (0: the cold start); 0.47 in layer 1
        // only, over a saturated column; 0.4705 in every layer
        double theta;
        double rain;        // [mm per model step]
        int subSteps, method;
        double pondMaximum; // [m]; 0: ponding off
        bool macropores;
        double rootDepth;   // [m]
        double silting;     // "DirectRunoffSiltingUp" [mm per model step]
        std::string q0;     // the baseflow constant
        bool glacier;
    };
    const Case cases[] = {
        {"cold start, no rain", 0, 0, 1, 2, 0, false, 0.5, 0, "0.05", false},
        {"dry start, rain", 0.12, 6, 1, 2, 0, false, 0.5, 0, "0.05", false},
        {"wet start, heavy rain, three sub-steps", 0.42, 30, 3, 2, 0, false, 0.5, 0, "0.05", true},
        {"over-saturated top layer pushes water up", 0.47, 0, 1, 2, 0, false, 0.5, 0, "0.05", false},
        {"over-saturated column keeps its bottom closed", 0.4705, 0, 1, 2, 0, false, 0.5, 0, "0.05", false},
        {"dynamic steps on a wet column", 0.40, 10, 1, 3, 0, false, 0.5, 0, "0.5", false},
        {"dynamic steps, three sub-steps", 0.30, 10, 3, 3, 0, false, 0.5, 0, "0.5", false},
        {"pond overflows", 0.44, 40, 1, 2, 0.002, false, 0.5, 0, "0.05", false},
        {"pond below its maximum", 0.2, 2, 2, 2, 0.05, false, 0.5, 0, "0.05", false},
        {"active macropores", 0.2, 20, 1, 2, 0, true, 0.5, 0, "0.05", false},
        {"roots below the table", 0.43, 0, 1, 2, 0, false, 1.2, 0, "0.05", false},
        {"silting-up amount", 0.3, 0, 2, 2, 0, false, 0.5, 4, "0.05", false},
        {"silting-up into the pond", 0.3, 1, 1, 2, 0.01, false, 0.5, 4, "0.05", false},
        {"supply from below", 0.2, 0, 1, 2, 0, false, 0.5, 0, "-2", false},
    };
    double largest = 0, largestStep = 0;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        CellFixture f;
        Section section;
        if (k.pondMaximum > 0) {
            section.Head.replace(section.Head.find("0 pond"), 1, "1");
            f.Add("max_ponding_storage", k.pondMaximum);
        }
        if (k.method == 3) {
            section.Head.replace(0, 1, "3");
            section.Tail += "20 min step\nsubsteps.sta 0\nsubsteps.asc\n0\n";
        }
        section.Parameters.replace(section.Parameters.find("0.05 Q0"), 4, k.q0);
        if (k.method == 3) {
            for (int l = 1; l <= 2; ++l) f.soils[1].ksat[static_cast<size_t>(l)] = 2e-4;
        }
        if (k.macropores) {
            f.soils[1].PMacroThresh = 1e-7;
            f.soils[1].MacroCapacity = 2e-6;
            f.soils[1].MacroDepth = 0.7;
            f.soils[1].CapacityRedu = 0.8;
        }
        if (k.silting > 0) f.Add("DirectRunoffSiltingUp", k.silting);
        if (k.glacier) {
            f.Add("ice_firn", 0)[1][1] = 1;
        }
        f.Grid("root_depth1")[2][2] = k.rootDepth;
        for (int c = 1; c <= Cols; ++c) f.Grid("root_depth1")[1][c] = k.rootDepth;
        ASSERT_EQ(f.Make(section, k.subSteps), 0) << f.console.str();
        unsatzonmodellklasse& m = *f.model;
        if (k.theta > 0) {
            for (int r = 1; r <= Rows; ++r)
                for (int c = 1; c <= Cols; ++c)
                    if (m.OwnModelCell(r, c))
                        for (int l = 0; l <= Layers; ++l) m.Theta[r][c][l] = l <= 1 || k.theta != 0.47 ? k.theta : 0.45;
        }
        // rain varies by column
        double** rain = f.Grid("precipitation");
        for (int r = 1; r <= Rows; ++r)
            for (int c = 1; c <= Cols; ++c) rain[r][c] = k.rain * c / Cols;

        // every iteration step of the soil column closes alone
        int records = 0;
        m.StepObserver = [&](const unsatzonmodellklasse::IterationStepRecord& s) {
            ++records;
            const double residual = s.Offered + s.PondStart -
                                    (s.Transpiration + s.DirectRunoff + s.Interflow + s.Baseflow + s.PondEnd +
                                     s.SoilEnd - s.SoilStart);
            largestStep = std::max(largestStep, std::fabs(residual));
            EXPECT_NEAR(residual, 0, 1e-9) << "row " << s.Row << ", column " << s.Column << ", step " << s.Step;
        };

        double** pond = f.Grid("ponding_storage");
        double** rt0 = f.Grid("real_transpiration0");
        double** silting = f.Grid("DirectRunoffSiltingUp");
        const double before11 = f.SoilWater(1, 1);
        WaterBalance wb(Rows, Cols);
        wb.Mask(f.Grid("zonegrid_soilmodel"));
        bool movedWater = false;
        for (int hour = 1; hour <= 3; ++hour) {
            for (int r = 1; r <= Rows; ++r)
                for (int c = 1; c <= Cols; ++c) rt0[r][c] = 0;  // evapotranspiration starts each step anew
            m.BeginTimeStep(hour, 1, 6, 2020);
            for (int s = 1; s <= k.subSteps; ++s) {
                wb.BeginStep();
                for (int r = 1; r <= Rows; ++r)
                    for (int c = 1; c <= Cols; ++c) {
                        if (!m.OwnModelCell(r, c)) continue;
                        wb.StorageCell(r, c, f.SoilWater(r, c) + rt0[r][c]);
                        if (pond) wb.StorageCell(r, c, pond[r][c]);
                    }
                m.RunTimeStep(hour, 1, 6, 2020);
                wb.In(rain, 1.0 / k.subSteps);
                if (silting) wb.In(silting, 1.0 / k.subSteps);
                for (const char* out : {"directflow", "interflow", "baseflow"}) wb.Out(f.Grid(out));
                for (int r = 1; r <= Rows; ++r)
                    for (int c = 1; c <= Cols; ++c) {
                        if (!m.OwnModelCell(r, c)) continue;
                        wb.EndStorageCell(r, c, f.SoilWater(r, c) + rt0[r][c]);
                        if (pond) wb.EndStorageCell(r, c, pond[r][c]);
                        if (f.Grid("directflow")[r][c] > 0 || f.Grid("interflow")[r][c] > 0) movedWater = true;
                    }
                if (k.glacier) {
                    // the glacier cell neither takes nor gives water
                    wb.OutCell(1, 1, rain[1][1] / k.subSteps);
                }
                EXPECT_EQ(wb.Check(1e-9), "");
            }
        }
        largest = std::max(largest, wb.LargestResidual());
        // the root zone's suction comes from its mean water content
        EXPECT_EQ(f.Grid("MeanThetaInRootZone")[2][2], f.soils[1].SuctionFromTheta(1, f.Grid("SB_1_grid")[2][2]));
        EXPECT_GT(f.Grid("SB_1_grid")[2][2], 0.05);
        EXPECT_LT(f.Grid("SB_1_grid")[2][2], 0.5);
        // every cell shows its surface flux, computed or not
        for (int r = 1; r <= Rows; ++r)
            for (int c = 1; c <= Cols; ++c) {
                if (r == Rows && c == Cols) continue;
                EXPECT_EQ(f.Grid("q_down")[r][c], m.QDown[r][c][0]);
                EXPECT_EQ(f.Grid("q_downext")[r][c], m.QDown[r][c][0]);
            }
        EXPECT_GT(records, 0);
        if (k.rain > 20 || k.theta == 0.47) {
            EXPECT_TRUE(movedWater);
        }
        if (k.glacier) {
            EXPECT_EQ(f.SoilWater(1, 1), before11);
            for (const char* out : {"directflow", "interflow", "baseflow", "real_transpiration0",
                                    "groundwater_recharge", "total_infiltration"})
                EXPECT_EQ(f.Grid(out)[1][1], 0) << out;
        }
        if (k.method == 3) {
            // wet top layers of 0.2 m at 2e-4 m/s: 1000 s through each
            EXPECT_EQ(f.Grid("number_of_substeps")[2][2], std::ceil(3600.0 / k.subSteps / 1000));
        }
        if (k.macropores) {
            EXPECT_GT(f.Grid("macropore_infiltration")[1][4], 0);
        }
        if (k.pondMaximum > 0) {
            EXPECT_LE(pond[1][4], k.pondMaximum * 1000 + 1e-12);
            if (k.rain > 20) {
                EXPECT_GT(f.Grid("directflow")[1][4], 0);
            }
            EXPECT_EQ(f.Grid("infiltration_excess")[1][4], 0);
        }
        if (k.q0[0] == '-') {
            EXPECT_LT(f.Grid("baseflow")[2][2], 0);
        }
    }
    std::printf("soil column balance: largest residual per sub-step %.3g mm, per iteration step %.3g mm\n", largest,
                largestStep);
}

TEST(SoilCell, DirectRunoffSiltingUpEntersOncePerModelStep) {
    CellFixture f;
    f.Add("DirectRunoffSiltingUp", 4);
    f.Grid("pot_transpiration1")[2][2] = f.Grid("pot_transpiration0")[2][2] = 0;
    f.Grid("potential_evaporation")[2][2] = 0;
    Section section;
    ASSERT_EQ(f.Make(section, 2), 0) << f.console.str();
    for (int l = 0; l <= Layers; ++l) f.model->Theta[2][2][l] = 0.25;  // nothing runs off on its own
    f.model->BeginTimeStep(1, 1, 6, 2020);
    double direct = 0;
    for (int s = 1; s <= 2; ++s) {
        f.model->RunTimeStep(1, 1, 6, 2020);
        direct += f.Grid("directflow")[2][2];
    }
    EXPECT_NEAR(direct, 4, 1e-12);
}

TEST(SoilCell, SurfaceStorageSiltingUpOnlyWithSurfaceRouting) {
    for (int routing : {0, 1}) {
        SCOPED_TRACE(routing);
        CellFixture f;
        f.Add("SurfStorSiltingUp", 3);
        f.Grid("pot_transpiration1")[2][2] = f.Grid("pot_transpiration0")[2][2] = 0;
        f.Grid("potential_evaporation")[2][2] = 0;
        ASSERT_EQ(f.Make(Section(), 1), 0) << f.console.str();
        f.model->SetSurfaceRoutingActive(routing);
        for (int l = 0; l <= Layers; ++l) f.model->Theta[2][2][l] = 0.25;
        const double before = f.SoilWater(2, 2);
        f.model->BeginTimeStep(1, 1, 6, 2020);
        f.model->RunTimeStep(1, 1, 6, 2020);
        const double gained = f.SoilWater(2, 2) - before + f.Grid("directflow")[2][2] + f.Grid("interflow")[2][2] +
                              f.Grid("baseflow")[2][2];
        EXPECT_NEAR(gained, routing ? 3.0 : 0.0, 1e-9);
    }
}

// With the groundwater model on, what it moved out of (or into) its first
// layer in the last sub-step, left as a rate in "baseflow", is drained from
// (or supplied to) the column in the next one. The groundwater model counts
// the rate over the whole cell: on a half-glacierized cell the ice-free
// column takes all of it, twice the depth.
TEST(SoilCell, GroundwaterModelRateDrainsAndFeedsTheColumn) {
    for (const double glacier : {0.0, 0.5}) {
        for (const double rate : {2e-8, -2e-8}) {  // [m/s]
            SCOPED_TRACE(testing::Message() << "rate " << rate << ", glacier " << glacier);
            CellFixture f;
            f.Grid("pot_transpiration1")[2][2] = f.Grid("pot_transpiration0")[2][2] = 0;
            f.Grid("potential_evaporation")[2][2] = 0;
            if (glacier > 0) f.Add("ice_firn", 0)[2][2] = glacier;
            ASSERT_EQ(f.Make(Section(), 1), 0) << f.console.str();
            f.model->GroundwaterActive = 1;
            for (int l = 0; l <= Layers; ++l) f.model->Theta[2][2][l] = 0.33;
            const double before = f.SoilWater(2, 2);
            f.model->BeginTimeStep(1, 1, 6, 2020);
            f.Grid("baseflow")[2][2] = rate;
            f.model->RunTimeStep(1, 1, 6, 2020);
            const double depth = rate * 3600 * 1000 / (1 - glacier);  // [mm] over the column
            const double change =
                f.SoilWater(2, 2) - before + f.Grid("directflow")[2][2] + f.Grid("interflow")[2][2];
            EXPECT_NEAR(change, -depth, 1e-9);
            EXPECT_NEAR(f.Grid("baseflow")[2][2], depth, 1e-9);
        }
    }
}

TEST(SoilCell, DumpFileAndCloseAfterDump) {
    for (int close : {0, 1}) {
        SCOPED_TRACE(close);
        CellFixture f;
        Section section;
        // Q0 = -10.5 m/s expressed in mm per hour
        section.Parameters.replace(section.Parameters.find("0.05 Q0"), 4, "-3.78e7");
        section.Parameters.replace(section.Parameters.find("2 kelsqlat"), 1, "0");
        ASSERT_EQ(f.Make(section, 1), 0) << f.console.str();
        f.model->SetDumpMode(1, close);
        for (int r = 1; r <= Rows; ++r)
            for (int c = 1; c <= Cols; ++c) f.model->GroundwaterDistance[r][c] = 0;  // the table at the surface
        int code = 0;
        InDirectory(f.dir.path(), [&] {
            f.model->BeginTimeStep(7, 2, 3, 2021);
            try {
                f.model->RunTimeStep(7, 2, 3, 2021);
            } catch (int c) {
                code = c;
            }
        });
        const std::string name = f.dir.file("dgw_dump_row_1_col_1_substep_1_2021030207.dmp");
        ASSERT_TRUE(FileExists(name));
        EXPECT_EQ(std::filesystem::file_size(name), static_cast<uintmax_t>(unsatzon::DumpFileSize(Layers, 1)));
        if (close) {
            EXPECT_EQ(code, 199);
            EXPECT_NE(f.console.str().find(" a dumpfile has been written and Ruvex aborts now.\n"), std::string::npos);
            // the run stops at the first cell
            EXPECT_FALSE(FileExists(f.dir.file("dgw_dump_row_1_col_2_substep_1_2021030207.dmp")));
        } else {
            EXPECT_EQ(code, 0);
            EXPECT_TRUE(FileExists(f.dir.file("dgw_dump_row_2_col_3_substep_1_2021030207.dmp")));
        }
    }
    EXPECT_EQ(unsatzon::DumpFileName(true, true, true, 3, 14, 2, 2020, 1, 5, 0),
              "h_th_dgw_dump_row_3_col_14_substep_2_2020010500.dmp");
}

TEST(SoilCell, IterationReportAboveOneHundredPasses) {
    for (int passes : {100, 101}) {
        SCOPED_TRACE(passes);
        CellFixture f;
        f.extraSections = "[unsatzon_tuning]\nmax_error = 1e-300\nmax_iterations = " + std::to_string(passes) + "\n\n";
        ASSERT_EQ(f.Make(Section(), 1), 0) << f.console.str();
        InDirectory(f.dir.path(), [&] {
            f.model->BeginTimeStep(5, 9, 4, 2020);
            f.model->RunTimeStep(5, 9, 4, 2020);
        });
        const std::string log = FileExists(f.dir.file("modell_0.log")) ? ReadFile(f.dir.file("modell_0.log")) : "";
        if (passes == 100) {
            EXPECT_EQ(log.find("ziter="), std::string::npos);
        } else {
            // one line per computed cell, in row order
            EXPECT_EQ(log.rfind(" 9. 4.,  5 h r=  1, c=  1 : ziter=101, max_err = ", 0), 0u) << log;
            EXPECT_NE(log.find("r=  3, c=  3 : ziter=101"), std::string::npos);
        }
    }
}

TEST(SoilCell, LandUseOutsideTheTableEndsTheStep) {
    CellFixture f;
    f.Grid("landuse1")[2][3] = 4;
    ASSERT_EQ(f.Make(Section(), 1), 0) << f.console.str();
    f.model->BeginTimeStep(1, 1, 6, 2020);
    int code = 0;
    try {
        f.model->RunTimeStep(1, 1, 6, 2020);
    } catch (int c) {
        code = c;
    }
    EXPECT_EQ(code, 22);
    EXPECT_NE(f.console.str().find("vegetation layer 1 in row 2, column 3 is not in the land-use table"),
              std::string::npos)
        << f.console.str();
}

// Under a lake that holds at least 1 mm of water (with the step's 0.2 mm of
// rain) the surface water does not bypass the soil through macropores; a
// drier lake cell and the other cells keep them.
TEST(SoilCell, NoMacroporesUnderAFilledLake) {
    struct Case {
        double ponding;  // [mm] at the start of the step
        bool macropores;
    };
    for (const Case& k : {Case{2.0, false}, Case{0.8, false}, Case{0.5, true}}) {
        SCOPED_TRACE(k.ponding);
        CellFixture f;
        Section section;
        section.Head.replace(section.Head.find("0 pond"), 1, "1");
        f.Add("max_ponding_storage", 0.05);
        f.soils[1].PMacroThresh = 1e-7;
        f.soils[1].MacroCapacity = 2e-6;
        f.soils[1].MacroDepth = 0.7;
        f.soils[1].CapacityRedu = 0.8;
        double** lakes = f.Add("lake_codes", -9999);
        lakes[1][4] = 1;
        f.extraSections = "\n[lake_model]\n1 on\n1 method\n";
        ASSERT_EQ(f.Make(section, 1), 0) << f.console.str();
        unsatzonmodellklasse& m = *f.model;
        ASSERT_EQ(m.LakesActive, 1);
        // The lake cell gets the state of its neighbour, so that only the
        // lake tells the two apart.
        for (int l = 0; l <= Layers; ++l) {
            m.Theta[1][4][l] = m.Theta[1][3][l];
            m.HydraulicHeads[1][4][l] = m.HydraulicHeads[1][3][l] - (m.GeodeticHeads[1][3][0] - m.GeodeticHeads[1][4][0]);
        }
        m.GroundwaterDistance[1][4] = m.GroundwaterDistance[1][3];
        m.GroundwaterLevel[1][4] = m.GroundwaterLevel[1][3];
        m.ThetaInGwLevel[1][4] = m.ThetaInGwLevel[1][3];
        f.Grid("ponding_storage")[1][4] = f.Grid("ponding_storage")[1][3] = k.ponding;
        double** rain = f.Grid("precipitation");
        for (int r = 1; r <= Rows; ++r)
            for (int c = 1; c <= Cols; ++c) rain[r][c] = 0.2;
        for (const char* name : {"pot_transpiration0", "pot_transpiration1", "potential_evaporation"})
            for (int r = 1; r <= Rows; ++r)
                for (int c = 1; c <= Cols; ++c) f.Grid(name)[r][c] = 0;
        m.BeginTimeStep(1, 1, 6, 2020);
        m.RunTimeStep(1, 1, 6, 2020);
        double** macro = f.Grid("macropore_infiltration");
        EXPECT_GT(macro[1][3], 0);
        EXPECT_EQ(macro[1][4] > 0, k.macropores) << macro[1][4];
    }
}
