// The yearly change of dynamic glaciers: the volume-area law and the other
// kernels by hand, the distribution of an area change over the elevation
// bands by hand, the whole update by hand on a small glacier, ice mass and
// firn kept over several years of shrinking and growing glaciers, growth and
// its limits, the bands' elevations and the day the update runs on.

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>

#include "surface/glacier_geometry_physics.h"
#include "surface/glacierclass.h"
#include "surface/snow_fixture.h"

using namespace snowtest;

namespace {

// "[ice_firn]" of a dynamic glacier run (method 11): degree-day melt of
// `ddfIce` for ice, the evaluation date, the law and the bands.
std::string DynamicSection(double ddfIce, const std::string& evaluation, const std::string& law,
                           const std::string& firn = "3 2500 0.5") {
    const std::string lines[] = {"11", std::to_string(ddfIce), "5", "4", "2", "0.01", "0.02", "0.005", "0.01", "10",
                                 "0", "5", "0", "0", "0", "firnmelt.asc", "0", "qfirn.sta 0", "icemelt.asc", "0",
                                 "qice.sta 0", "qglac.sta 0", "qsgl.sta 0", "0", firn, evaluation, law, "firn.stack",
                                 "0", "firn.sta 0", "gmb.asc", "0", "ogmb.asc", "0", "gmb1.sta 0", "gmb2.sta 0", "1",
                                 "nog.sta 0", "gs.asc", "0", "gl.asc", "0", "gt.asc", "0", "gm.asc", "0", "gst.asc",
                                 "0", "gtt.asc", "0", "ge.asc", "0"};
    std::string text = "[ice_firn]\n";
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

// Glacier shares and codes from rows of text ("1 1 0"; codes "-9999 1 1").
void SetGlacier(SnowFixture& f, const std::vector<std::vector<double>>& fractions,
                const std::vector<std::vector<double>>& codes) {
    double** g = f.Add("GlacierizedCells", 0);
    double** q = f.Add("GlacierCodes", -9999);
    for (int r = 1; r <= f.rows; ++r)
        for (int c = 1; c <= f.cols; ++c) {
            g[r][c] = fractions[static_cast<size_t>(r - 1)][static_cast<size_t>(c - 1)];
            q[r][c] = codes[static_cast<size_t>(r - 1)][static_cast<size_t>(c - 1)];
        }
}

// Daily inputs: precipitation, temperature and the night temperature.
void AddDailyInputs(SnowFixture& f, double precipitation, double temperature) {
    f.AddInputs(precipitation, temperature);
    f.Add("temperature_night", temperature);
}

void SetWeather(SnowFixture& f, double precipitation, double temperature) {
    for (int r = 1; r <= f.rows; ++r)
        for (int c = 1; c <= f.cols; ++c) {
            f.Grid("precipitation")[r][c] = precipitation;
            f.Grid("temperature")[r][c] = temperature;
            f.Grid("temperature_night")[r][c] = temperature;
        }
}

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// The glacier area summed from its cells [km2].
double CellArea(SnowFixture& f, int code) {
    double sum = 0;
    for (int r = 1; r <= f.rows; ++r)
        for (int c = 1; c <= f.cols; ++c)
            if (f.Grid("GlacierCodes")[r][c] == code) sum += f.Grid("GlacierizedCells")[r][c] * 0.01;
    return sum;
}

// A band of cells held in plain arrays.
struct BandCells {
    std::vector<double> fraction, code;
    explicit BandCells(std::vector<double> f) : fraction(std::move(f)), code(fraction.size(), 1) {}
};

}  // namespace

// The kernels against hand values.
TEST(GlacierGeometryKernels, LawsAndChanges) {
    using namespace glaciergeom;
    struct Case {
        const char* name;
        double got, expected, tolerance;
    } cases[] = {
        {"volume of 0.04 km2", VolumeFromArea(0.04, 28.5, 1.36), 0.357805, 1e-6},
        {"volume of 0.005 km2: the area floor", VolumeFromArea(0.005, 28.5, 1.36), 0.0543056, 1e-7},
        {"area of 0.310746", AreaFromVolume(0.310746, 28.5, 1.36), 0.036060, 1e-6},
        {"area of 0.01: the volume floor", AreaFromVolume(0.01, 28.5, 1.36), std::pow(0.0543 / 28.5, 1 / 1.36), 1e-15},
        {"area of the floor with scaling 10", AreaFromVolume(0.0543, 10, 1.36), 0.02160, 1e-5},
        {"law there and back", AreaFromVolume(VolumeFromArea(1.7, 28.5, 1.36), 28.5, 1.36), 1.7, 1e-13},
        {"-1000 mm on a whole cell of 100 m", VolumeChange(-1000, 1, 100, 0.85), -0.0117647, 1e-7},
        {"+850 mm on half a cell of 200 m", VolumeChange(850, 0.5, 200, 0.85), 0.02, 1e-15},
        {"0.036060 from 0.04 km2 in cells of 100 m", CellsToChange(0.036060, 0.04, 100), -0.3940, 1e-12},
        {"three bands of one cell, -0.6", CellsPerIteration(-0.6, {1, 1, 1}, 0), -0.1, 1e-15},
        {"extra weight 1 on band 0", CellsPerIteration(-0.9, {1, 1, 1}, 1), -0.1, 1e-15},
        {"bands of 4, 0, 2 cells", CellsPerIteration(2.2, {4, 0, 2}, 0), 2.2 / 14, 1e-15},
        {"no changeable cell", CellsPerIteration(1.5, {0, 0}, 2), 0, 0},
    };
    for (const Case& c : cases) EXPECT_NEAR(c.got, c.expected, c.tolerance) << c.name;
}

// The firn shift by hand: levels 10, 20, 30 under a glacier pack of 40 give
// 40, 10, 20 and a total of 70; a single level takes the pack's 40. A cell
// joining a glacier beside 0.3 mm of firn gets 0.1 in each of three levels.
TEST(GlacierGeometryKernels, FirnLevels) {
    double firn[4] = {60, 10, 20, 30};
    glaciergeom::ShiftFirnLevels(firn, 3, 40, -9999);
    EXPECT_EQ(firn[1], 40);
    EXPECT_EQ(firn[2], 10);
    EXPECT_EQ(firn[3], 20);
    EXPECT_EQ(firn[0], 70);
    double one[2] = {25, 25};
    glaciergeom::ShiftFirnLevels(one, 1, 40, -9999);
    EXPECT_EQ(one[1], 40);
    EXPECT_EQ(one[0], 40);
    double holes[4] = {-9999, -9999, -9999, -9999};
    glaciergeom::ShiftFirnLevels(holes, 3, 5, -9999);
    EXPECT_EQ(holes[0], 5);
    EXPECT_EQ(holes[2], 0);
    EXPECT_EQ(holes[3], 0);
    double joined[4] = {-9999, -9999, -9999, -9999};
    glaciergeom::ShareFirnLevels(joined, 3, 0.3);
    EXPECT_NEAR(joined[1], 0.1, 1e-16);
    EXPECT_EQ(joined[3], joined[1]);
    EXPECT_EQ(joined[0], joined[1] + joined[2] + joined[3]);
    EXPECT_NEAR(joined[0], 0.3, 1e-15);
}

// The distribution by hand on one glacier record: three bands of one cell
// each, a change of -0.6 cells: the lowest band is visited three times, the
// next twice, the highest once. With the lowest cell at 0.25 that cell leaves
// the glacier on its third visit and the 0.05 it could not give comes back.
TEST(GlacierGeometryBands, DistributionByHand) {
    for (const double lowest : {1.0, 0.25}) {
        SCOPED_TRACE(lowest);
        BandCells cells({lowest, 1, 1});
        glacierclass glacier(1, 100, 0.03, 0.3, 28.5, 1.36, 3, 0, 1);
        glacier.minElevation = 2000;
        glacier.maxElevation = 2300;
        glacier.CreateBands();
        ASSERT_EQ(glacier.bands.size(), 3u);
        for (int k = 0; k < 3; ++k)
            glacier.AssignCellToBand(&cells.fraction[static_cast<size_t>(k)], &cells.code[static_cast<size_t>(k)],
                                     2000 + 100.0 * k + 50);
        EXPECT_EQ(glacier.changeableCells, 3);
        EXPECT_EQ(glacier.CountChangeableCells(-0.6), 3);
        const double d = glacier.CellsPerIterationFor(-0.6);
        EXPECT_NEAR(d, -0.1, 1e-15);
        double left = 0;
        for (int G = 0; G < 3; ++G) left += glacier.ApplyCellChange(G, d);
        if (lowest == 1.0) {
            EXPECT_NEAR(cells.fraction[0], 0.7, 1e-12);
            EXPECT_NEAR(left, 0, 1e-12);
            EXPECT_EQ(cells.code[0], 1);
        } else {
            EXPECT_EQ(cells.fraction[0], 0);
            EXPECT_EQ(cells.code[0], -9999);
            EXPECT_NEAR(left, -0.05, 1e-12);
        }
        EXPECT_NEAR(cells.fraction[1], 0.8, 1e-12);
        EXPECT_NEAR(cells.fraction[2], 0.9, 1e-12);
    }
}

// Passes of one band: a cell at a bound hands what it cannot take to the
// others in the next pass; a cell that ends at exactly 0 keeps its code; a
// change of 0 flags every cell; growth stops at 1.
TEST(GlacierGeometryBands, PassesOfOneBand) {
    struct Case {
        const char* name;
        std::vector<double> before;
        double d;
        std::vector<double> after;
        std::vector<double> codes;
        double left;
    } cases[] = {
        {"shrink, one cell empties", {0.1, 0.9, 0.9}, -0.3, {0, 0.5, 0.5}, {-9999, 1, 1}, 0},
        {"exactly to 0 keeps the code", {0.3, 0.8}, -0.3, {0, 0.5}, {1, 1}, 0},
        {"growth, one cell fills", {0.9, 0.2, 0.2}, 0.3, {1, 0.6, 0.6}, {1, 1, 1}, 0},
        {"growth beyond every cell", {0.9, 0.8}, 0.5, {1, 1}, {1, 1}, 0.7},
        {"shrink beyond every cell", {0.2, 0.1}, -0.5, {0, 0}, {-9999, -9999}, -0.7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BandCells cells(c.before);
        elevationbandclass band(0, 1);
        for (size_t i = 0; i < c.before.size(); ++i) band.AddCell(&cells.fraction[i], &cells.code[i]);
        EXPECT_EQ(band.CountChangeableCells(c.d), static_cast<int>(c.before.size()));
        const double left = band.DistributeCellChange(c.d);
        EXPECT_NEAR(left, c.left, 1e-12);
        double change = 0;
        for (size_t i = 0; i < c.before.size(); ++i) {
            EXPECT_NEAR(cells.fraction[i], c.after[i], 1e-12) << i;
            EXPECT_EQ(cells.code[i], c.codes[i]) << i;
            change += cells.fraction[i] - c.before[i];
        }
        // what was placed and what came back make the band's share
        EXPECT_NEAR(change + left, c.d * static_cast<double>(c.before.size()), 1e-12);
    }
    BandCells cells({0.5, 1, 0});
    elevationbandclass band(0, 1);
    for (size_t i = 0; i < 3; ++i) band.AddCell(&cells.fraction[i], &cells.code[i]);
    EXPECT_EQ(band.CountChangeableCells(0), 0);
    EXPECT_NEAR(band.DistributeCellChange(0.2), 0, 0);
    EXPECT_EQ(cells.fraction[0], 0.5);
    EXPECT_EQ(band.CountChangeableCells(0.1), 2);  // the full cell cannot grow
}

// The whole update by hand: a glacier of 2 x 2 cells in a ring without ice,
// twenty days at 5 degC with 10 mm/(K d) of ice melt: -1000 mm, the volume
// from 0.357805 to 0.310746, the area from 0.04 to 0.036060 km2, every cell
// at 0.901509, the mass balance of the lost area spread over the rest.
TEST(GlacierGeometryUpdate, ByHand) {
    SnowFixture f(4, 4, {{1, 1, 1, 1}, {1, 1, 1, 1}, {1, 1, 1, 1}, {1, 1, 1, 1}},
                  {{2000, 2000, 2000, 2000}, {2000, 2000, 2000, 2000}, {2000, 2000, 2000, 2000},
                   {2000, 2000, 2000, 2000}});
    AddDailyInputs(f, 0, 5);
    SetGlacier(f, {{0, 0, 0, 0}, {0, 1, 1, 0}, {0, 1, 1, 0}, {0, 0, 0, 0}},
               {{-9999, -9999, -9999, -9999}, {-9999, 1, 1, -9999}, {-9999, 1, 1, -9999},
                {-9999, -9999, -9999, -9999}});
    auto model = f.Make(SnowSection(), 1440, DynamicSection(10, "20 1", "28.5 1.36 1 0"));
    double** fraction = f.Grid("GlacierizedCells");
    double** balance = f.Grid("GlacierMassBalance");
    double** old = f.Grid("OldGlacierMassBalance");
    ASSERT_EQ(model->glaciers.size(), 1u);
    EXPECT_NEAR(model->glaciers[0].GetVolume(), 0.357805, 1e-6);
    for (int day = 1; day <= 19; ++day) model->RunTimeStep(24, day, 1, 2021);
    EXPECT_NEAR(balance[2][2], -950, 1e-9);
    EXPECT_EQ(Count(f.Diagnostics(), "Glacierbalance"), 0u);
    model->RunTimeStep(24, 20, 1, 2021);

    const glacierclass& glacier = model->glaciers[0];
    EXPECT_NEAR(glacier.GetVolume(), 0.310746, 1e-6);
    EXPECT_NEAR(glacier.GetArea(), 0.036060, 1e-6);
    EXPECT_EQ(glacier.GetOldVolume(), glacier.GetVolume());
    EXPECT_EQ(glacier.GetOldArea(), glacier.GetArea());
    EXPECT_NEAR(glacier.GetCellsToChange(), -0.39396, 1e-5);
    double sum = 0;
    for (int r = 1; r <= 4; ++r)
        for (int c = 1; c <= 4; ++c) {
            const bool ice = r >= 2 && r <= 3 && c >= 2 && c <= 3;
            EXPECT_NEAR(fraction[r][c], ice ? 0.901509 : 0.0, 1e-6) << r << "," << c;
            if (!ice) continue;
            EXPECT_NEAR(balance[r][c], -1109.25, 0.01);
            EXPECT_EQ(old[r][c], balance[r][c]);
            sum += balance[r][c] * fraction[r][c];
        }
    EXPECT_NEAR(sum, -4000, 1e-9);
    EXPECT_NEAR(CellArea(f, 1), glacier.GetArea(), 1e-5 * 0.01);

    const std::string text = f.Diagnostics();
    for (const char* entry :
         {"Glacierbalance\n", "Glacier:\t0\nOld Volume:\t0.357805\nNew Volume:\t0.310746\nOld Area:\t0.04\nNew Area:\t0.0360604\n",
          "number of cells to add: \t-0.393963\nnumber of changeable cells: \t4\nfraction of cells to add per iteration: "
          "\t-0.0984908",
          "---------------------------------\n\n", "glaciers changed, updating glaicerlist now..."})
        EXPECT_NE(text.find(entry), std::string::npos) << entry << "\n" << text;
    EXPECT_EQ(text.find("WARNING"), std::string::npos);
    // the glacier share of the subbasin follows the new extent
    EXPECT_NEAR(model->glacierAreas[1].glacierCells, 4 * 0.901509, 1e-6);
    EXPECT_NEAR(model->glacierAreas[1].freeCells, 16 - 4 * 0.901509, 1e-6);
    EXPECT_TRUE(model->glacierAreas[1].hasGlacier);
}

// Several years of two glaciers that shrink in warm years and grow in snowy
// ones, the yearly update called after the evaluation day's step: after
// every update each glacier's cells hold the area of its volume, the volume
// changed by the mass balance of the year, the spreading keeps each
// glacier's mass balance, the firn shift keeps the water, shares stay within
// 0 and 1, and the firn levels sum to their total after every step.
TEST(GlacierGeometryUpdate, IceMassOverTheYears) {
    const int R = 6, C = 8;
    std::vector<std::vector<double>> zones(R, std::vector<double>(C)), dem(R, std::vector<double>(C)),
        fractions(R, std::vector<double>(C, 0)), codes(R, std::vector<double>(C, -9999));
    for (int r = 0; r < R; ++r)
        for (int c = 0; c < C; ++c) {
            zones[r][c] = c < 4 ? 1 : 2;
            dem[r][c] = 2350 + 60.0 * (R - r) + 7.0 * c;
        }
    for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 2; ++c) {
            fractions[r][c] = r == 3 ? 0.6 : 1;
            codes[r][c] = 1;
        }
    for (int r = 2; r <= 3; ++r)
        for (int c = 5; c <= 6; ++c) {
            fractions[r][c] = 1;
            codes[r][c] = 2;
        }
    SnowFixture f(R, C, zones, dem);
    AddDailyInputs(f, 0, 0);
    SetGlacier(f, fractions, codes);
    auto model = f.Make(SnowSection(), 1440, DynamicSection(9, "10 1", "28.5 1.36 2 1", "3 2500 0.8"));
    double** fraction = f.Grid("GlacierizedCells");
    double** code = f.Grid("GlacierCodes");
    double** balance = f.Grid("GlacierMassBalance");
    double** old = f.Grid("OldGlacierMassBalance");
    double** firnTotal = f.Grid("firn_WE_stack");
    double** pack = f.Grid("TotalSnowStorage_onGlacier");
    const int levels = model->firn_levels;
    model->GMBEvalDay = 0;  // the test calls the update itself

    auto levelsAddUp = [&](const char* when) {
        for (int r = 1; r <= R; ++r)
            for (int c = 1; c <= C; ++c) {
                if (!(fraction[r][c] >= 0) || code[r][c] < 0) continue;
                double sum = 0;
                for (int k = 1; k <= levels; ++k) sum += model->firnStack[r][c][k];
                ASSERT_NEAR(sum, model->firnStack[r][c][0], 1e-12 * std::max(1.0, sum)) << when << " " << r << "," << c;
                ASSERT_EQ(firnTotal[r][c], model->firnStack[r][c][0]) << when << " " << r << "," << c;
            }
    };
    // warm, snowy, snowy, warm, warm, snowy, hot
    const double temperature[] = {7, -4, -6, 9, 6, -5, 14};
    const double precipitation[] = {0, 150, 260, 0, 5, 200, 0};
    bool grew = false, shrank = false, attached = false;
    for (int year = 0; year < 7; ++year) {
        SCOPED_TRACE("year " + std::to_string(year + 1));
        SetWeather(f, precipitation[year], temperature[year]);
        for (int day = 1; day <= 10; ++day) {
            model->RunTimeStep(24, day, 1, 2001 + year);
            levelsAddUp("step");
        }
        // before the update
        std::map<int, double> massBefore, referenceBefore, volumeBefore;
        std::vector<double> firnBefore(static_cast<size_t>(R * C)), deepest(static_cast<size_t>(R * C)),
            packBefore(static_cast<size_t>(R * C)), shareBefore(static_cast<size_t>(R * C)),
            codeBefore(static_cast<size_t>(R * C));
        for (int r = 1; r <= R; ++r)
            for (int c = 1; c <= C; ++c) {
                const size_t k = static_cast<size_t>((r - 1) * C + c - 1);
                firnBefore[k] = firnTotal[r][c];
                deepest[k] = model->firnStack[r][c][levels];
                packBefore[k] = pack[r][c];
                shareBefore[k] = fraction[r][c];
                codeBefore[k] = code[r][c];
                if (code[r][c] < 0) continue;
                const int q = static_cast<int>(code[r][c]);
                massBefore[q] += balance[r][c] * fraction[r][c];
                referenceBefore[q] += old[r][c] * fraction[r][c];
            }
        for (const glacierclass& g : model->glaciers) volumeBefore[g.code] = g.GetVolume();
        const size_t warnings = Count(f.Diagnostics(), "There were too many iterations");

        model->AnnualGlacierUpdate();

        EXPECT_EQ(Count(f.Diagnostics(), "There were too many iterations"), warnings);
        levelsAddUp("update");
        std::map<int, double> massAfter;
        for (int r = 1; r <= R; ++r)
            for (int c = 1; c <= C; ++c) {
                const size_t k = static_cast<size_t>((r - 1) * C + c - 1);
                EXPECT_GE(fraction[r][c], zones[static_cast<size_t>(r - 1)][static_cast<size_t>(c - 1)] > 0 ? 0 : -9999);
                EXPECT_LE(fraction[r][c], 1);
                if (shareBefore[k] > 0) {
                    // the firn shift: new total = old total - deepest level + glacier snow
                    EXPECT_NEAR(firnTotal[r][c], firnBefore[k] - deepest[k] + packBefore[k], 1e-9)
                        << r << "," << c;
                    EXPECT_EQ(pack[r][c], 0);
                }
                if (code[r][c] >= 0) {
                    massAfter[static_cast<int>(code[r][c])] += balance[r][c] * fraction[r][c];
                    EXPECT_EQ(old[r][c], balance[r][c]);
                }
                if (code[r][c] >= 0 && codeBefore[k] < 0) attached = true;
            }
        for (const glacierclass& g : model->glaciers) {
            SCOPED_TRACE("glacier " + std::to_string(g.code));
            ASSERT_GT(g.GetVolume(), glaciergeom::MinimumVolume);
            // the volume changed by the year's mass balance
            const double change = (massBefore[g.code] - referenceBefore[g.code]) / 0.85 / 1000 * 0.01;
            EXPECT_NEAR(g.GetVolume() - volumeBefore[g.code], change, 1e-12);
            // the cells hold the area of the volume
            const double lawArea = std::pow(g.GetVolume() / 28.5, 1 / 1.36);
            EXPECT_NEAR(g.GetArea(), lawArea, 1e-15);
            EXPECT_NEAR(CellArea(f, g.code), lawArea, 1e-5 * 0.01);
            // the mass balance of lost area stays with the glacier
            EXPECT_NEAR(massAfter[g.code], massBefore[g.code], 1e-9 * std::max(1.0, std::fabs(massBefore[g.code])));
            if (change > 0) grew = true;
            if (change < 0) shrank = true;
            std::printf("year %d, glacier %d: volume %.6f (change %.6f), area %.6f km2, cells %.6f km2\n", year + 1,
                        g.code, g.GetVolume(), change, g.GetArea(), CellArea(f, g.code));
        }
    }
    EXPECT_TRUE(grew);
    EXPECT_TRUE(shrank);
    EXPECT_TRUE(attached);
}

// Growth and its limits: a fully covered glacier with a positive balance
// takes the free cells beside it (share 0, its code) and grows into them; a
// glacier that fills its subbasin finds no free cell and ends with the
// WARNING after 31 iterations; a glacier whose volume is all gone keeps the
// smallest volume and area in its record.
TEST(GlacierGeometryUpdate, GrowthAndLimits) {
    const std::vector<std::vector<double>> ring = {
        {-9999, -9999, -9999, -9999}, {-9999, 1, 1, -9999}, {-9999, 1, 1, -9999}, {-9999, -9999, -9999, -9999}};
    const std::vector<std::vector<double>> middle = {{0, 0, 0, 0}, {0, 1, 1, 0}, {0, 1, 1, 0}, {0, 0, 0, 0}};
    const std::vector<std::vector<double>> dem(4, std::vector<double>(4, 2000));
    {
        SCOPED_TRACE("growth");
        SnowFixture f(4, 4, std::vector<std::vector<double>>(4, std::vector<double>(4, 1)), dem);
        AddDailyInputs(f, 300, -5);
        SetGlacier(f, middle, ring);
        auto model = f.Make(SnowSection(), 1440, DynamicSection(10, "5 1", "28.5 1.36 1 0"));
        for (int day = 1; day <= 5; ++day) model->RunTimeStep(24, day, 1, 2021);
        const double w = model->glaciers[0].GetCellsToChange();
        EXPECT_GT(w, 0.5);
        double** fraction = f.Grid("GlacierizedCells");
        double** code = f.Grid("GlacierCodes");
        for (int r = 1; r <= 4; ++r)
            for (int c = 1; c <= 4; ++c) {
                const bool corner = (r == 1 || r == 4) && (c == 1 || c == 4);
                const bool inner = r >= 2 && r <= 3 && c >= 2 && c <= 3;
                EXPECT_EQ(code[r][c], corner ? -9999 : 1) << r << "," << c;
                if (inner) {
                    EXPECT_EQ(fraction[r][c], 1);
                } else if (!corner) {
                    EXPECT_NEAR(fraction[r][c], w / 8, 1e-12) << r << "," << c;
                    // the new cells took their neighbour's firn: the glacier snow of the year
                    EXPECT_NEAR(model->firnStack[r][c][0], model->firnStack[2][2][0], 1e-9);
                }
            }
        EXPECT_NEAR(CellArea(f, 1), model->glaciers[0].GetArea(), 1e-7);
        EXPECT_NE(f.Diagnostics().find("growing the glacier..."), std::string::npos);
        EXPECT_EQ(f.Diagnostics().find("WARNING"), std::string::npos);
    }
    {
        SCOPED_TRACE("no room");
        SnowFixture f(2, 2, {{1, 1}, {1, 1}}, {{2000, 2000}, {2000, 2000}});
        AddDailyInputs(f, 100, -5);
        SetGlacier(f, {{1, 1}, {1, 1}}, {{1, 1}, {1, 1}});
        auto model = f.Make(SnowSection(), 1440, DynamicSection(10, "5 1", "28.5 1.36 1 0"));
        for (int day = 1; day <= 5; ++day) model->RunTimeStep(24, day, 1, 2021);
        const std::string text = f.Diagnostics();
        EXPECT_EQ(Count(text, "growing the glacier..."), 31u);
        EXPECT_NE(text.find("\n----------- WARNING: ----------\nThere were too many iterations when trying to "
                            "remove or add glacier areas for glacier0\n-----------------------------\n"),
                  std::string::npos)
            << text;
        for (int r = 1; r <= 2; ++r)
            for (int c = 1; c <= 2; ++c) EXPECT_EQ(f.Grid("GlacierizedCells")[r][c], 1);
        // the record is renewed all the same
        EXPECT_EQ(model->glaciers[0].GetOldArea(), model->glaciers[0].GetArea());
        EXPECT_GT(model->glaciers[0].GetArea(), 0.04);
    }
    {
        SCOPED_TRACE("all gone");
        SnowFixture f(4, 4, std::vector<std::vector<double>>(4, std::vector<double>(4, 1)), dem);
        AddDailyInputs(f, 0, 30);
        SetGlacier(f, middle, ring);
        auto model = f.Make(SnowSection(), 1440, DynamicSection(100, "5 1", "28.5 1.36 1 0"));
        for (int day = 1; day <= 5; ++day) model->RunTimeStep(24, day, 1, 2021);
        EXPECT_EQ(model->glaciers[0].GetVolume(), 0.0543);
        EXPECT_NEAR(model->glaciers[0].GetArea(), 0.01, 1e-5);
        EXPECT_NEAR(CellArea(f, 1), model->glaciers[0].GetArea(), 1e-7);
    }
}

// The bands of the yearly update span the elevations of all the glacier's
// cells, firn or not: 2000 to 2300 m in three bands of 100 m.
TEST(GlacierGeometryUpdate, BandsSpanTheGlacier) {
    SnowFixture f(1, 5, {{1, 1, 1, 1, 1}}, {{2150, 2000, 2300, 2100, 2200}});
    AddDailyInputs(f, 0, 3);
    SetGlacier(f, {{1, 1, 1, 1, 0.5}}, {{1, 1, 1, 1, 1}});
    auto model = f.Make(SnowSection(), 1440, DynamicSection(10, "2 1", "28.5 1.36 3 0", "3 2120 1"));
    // at set-up the range spans the first cell and the cells without firn
    EXPECT_EQ(model->glaciers[0].minElevation, 2000);
    EXPECT_EQ(model->glaciers[0].maxElevation, 2150);
    for (int day = 1; day <= 2; ++day) model->RunTimeStep(24, day, 1, 2021);
    const glacierclass& glacier = model->glaciers[0];
    ASSERT_EQ(glacier.bands.size(), 3u);
    const double bounds[] = {2000, 2100, 2200, 2300};
    for (size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(glacier.bands[k]->lowerElevation, bounds[k]);
        EXPECT_EQ(glacier.bands[k]->upperElevation, bounds[k + 1]);
        EXPECT_EQ(glacier.bands[k]->bandHeight, 100);
    }
    EXPECT_NE(f.Diagnostics().find("Glacierbalance"), std::string::npos);
}

// The update runs once a year, in the step that ends the evaluation day:
// hourly data with hours 1 to 24, daily data at hour 24, hourly data with
// hours 0 to 23 and a time shift of 60 minutes; a run that ends before the
// date makes none.
TEST(GlacierGeometryUpdate, EvaluationStep) {
    struct Case {
        const char* name;
        int interval, shift, firstHour, lastHour;
        int expectedHour;
    } cases[] = {
        {"hourly, hours 1 to 24", 60, 0, 1, 24, 24},
        {"daily at hour 24", 1440, 0, 24, 24, 24},
        {"hourly, hours 0 to 23, shift 60", 60, 60, 0, 23, 23},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SnowFixture f(1, 2, {{1, 1}}, {{2000, 2000}});
        AddDailyInputs(f, 0, 2);
        SetGlacier(f, {{1, 0}}, {{1, -9999}});
        auto model = f.Make(SnowSection(), c.interval, DynamicSection(10, "30 9", "28.5 1.36 1 0"));
        model->TimeShiftMinutes = c.shift;
        int fired = 0, firedHour = -1;
        for (int day = 28; day <= 31; ++day) {
            const int month = day <= 30 ? 9 : 10;
            const int d = day <= 30 ? day : 1;
            for (int hour = c.firstHour; hour <= c.lastHour; ++hour) {
                const bool step = model->GlacierEvaluationStep(hour, d, month);
                if (step) {
                    ++fired;
                    firedHour = hour;
                    EXPECT_EQ(d, 30);
                }
            }
        }
        EXPECT_EQ(fired, 1);
        EXPECT_EQ(firedHour, c.expectedHour);
    }
    // hourly steps through the date: one update; a run that stops an hour
    // before the end of the day: none
    for (const int lastHour : {23, 24}) {
        SnowFixture f(1, 2, {{1, 1}}, {{2000, 2000}});
        f.AddInputs(0, 2);
        SetGlacier(f, {{1, 0}}, {{1, -9999}});
        auto model = f.Make(SnowSection(), 60, DynamicSection(10, "30 9", "28.5 1.36 1 0"));
        for (int hour = 1; hour <= 24; ++hour) model->RunTimeStep(hour, 29, 9, 2021);
        for (int hour = 1; hour <= lastHour; ++hour) model->RunTimeStep(hour, 30, 9, 2021);
        EXPECT_EQ(Count(f.Diagnostics(), "glaciers changed, updating glaicerlist now..."), lastHour == 24 ? 1u : 0u);
        EXPECT_EQ(f.Grid("OldGlacierMassBalance")[1][1] == f.Grid("GlacierMassBalance")[1][1], lastHour == 24);
    }
}
