// Reading the land-use table: the old one-line entries, the brace blocks of
// every method with every key and default, and the refusals of bad entries.

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "framework/diagnostics_writer.h"
#include "framework/modelobject.h"
#include "parameters/landuse_table.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

struct TableRead {
    std::vector<LanduseType> table;
    int code = 0;         // the thrown code, 0 when the table was read
    std::string console;  // every message as the console shows it
    std::vector<DiagLine> lines;
};

TableRead ReadTableFile(const std::string& path, int modelVariant = 2) {
    TempDir dir;
    std::ostringstream console;
    TableRead result;
    {
        DiagnosticsWriter writer(dir.file("diag.xml"), DiagDebug, console);
        modelobject reader(&writer, path);
        reader.ModuleName = "defaults";
        reader.ControlFile = std::fopen(path.c_str(), "r");
        if (!reader.ControlFile) throw std::runtime_error("cannot open " + path);
        try {
            result.table = ReadLanduseTable(reader, modelVariant);
        } catch (int code) {
            result.code = code;
        }
        writer.Close();
    }
    result.console = console.str();
    result.lines = DiagLines(ReadFile(dir.file("diag.xml")));
    return result;
}

TableRead ReadTableText(const std::string& text, int modelVariant = 2) {
    TempDir dir;
    const std::string path = dir.file("control.ctl");
    WriteFile(path, text);
    return ReadTableFile(path, modelVariant);
}

std::string Section(const std::string& entries, int count) {
    return "[landuse_table]\n" + std::to_string(count) + "   number of land use classes\n" + entries + "[soil_table]\n";
}

int FatalCount(const TableRead& r) {
    int n = 0;
    for (const auto& l : r.lines) n += l.level == DiagFatal;
    return n;
}

// The keys every brace block needs, for a block of two fix points.
const std::string MinimalKeys =
    "  RootDist = 1; TReduWet = 0.95; HReduDry = 3.45;\n"
    "  JulDays = 100 250;\n"
    "  Albedo = 0.2 0.3; rsc = 80 60; LAI = 1 3; Z0 = 0.02 0.05; VCF = 0.5 0.9; RootDepth = 200 300;\n"
    "  AltDep = 0.025 -0.025;\n";

const std::string OldMeadow =
    "12 meadow 0.2 100 200 130 140 150 160 170 180 190 110 120 90 100 150 250 300 1 2 3 4 "
    "0.01 0.02 0.03 0.04 0.1 0.2 0.3 0.4 100 200 300 400 1.5 3.45\n";

void ExpectList(const std::vector<double>& actual, const std::vector<double>& expected, const char* what) {
    ASSERT_EQ(actual.size(), expected.size()) << what;
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_DOUBLE_EQ(actual[i], expected[i]) << what << "[" << i << "]";
}

void ExpectDays(const std::vector<int32_t>& actual, const std::vector<int32_t>& expected, const char* what) {
    EXPECT_EQ(actual, expected) << what;
}

}  // namespace

TEST(LanduseTable, NewRecordHoldsTheDocumentedStartValues) {
    LanduseType r;
    EXPECT_EQ(r.Method, 0);
    EXPECT_EQ(r.FixPointCount, 0);
    EXPECT_EQ(r.StartVegetationPeriodForBalance, 0);
    EXPECT_EQ(r.StopVegetationPeriodForBalance, 1000);
    EXPECT_EQ(r.JDVegetationResetForBalance, 1);
    EXPECT_EQ(r.JDVegetationWriteForBalance, 0);
    EXPECT_EQ(r.InternalParameterMask, 255);
    EXPECT_EQ(r.useInternalParameters, "11111111");
    EXPECT_EQ(r.TStart, 0);
    EXPECT_EQ(r.TStartIndex, 0);
    EXPECT_DOUBLE_EQ(r.IntercepCap, -1);
    EXPECT_FALSE(r.DynamicPhenology);
    EXPECT_EQ(r.SoilTillageCount, 0);
    EXPECT_TRUE(r.JulDays.empty());
    EXPECT_EQ(r.SampleDayStacks, nullptr);
    const std::vector<int32_t> months(r.DaysPerMonth, r.DaysPerMonth + 13);
    EXPECT_EQ(months, (std::vector<int32_t>{31, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}));
}

TEST(LanduseTable, OldFormatFillsEveryFieldOfTheLine) {
    const TableRead r = ReadTableFile(TestDataPath("parameters/landuse_old.ctl"));
    ASSERT_EQ(r.code, 0) << r.console;
    ASSERT_EQ(r.table.size(), 3u);
    EXPECT_EQ(r.table[0].Code, 2);
    EXPECT_EQ(r.table[0].JDVegetationResetForBalance, 1);
    EXPECT_EQ(r.table[0].JDVegetationWriteForBalance, 365);

    const LanduseType& m = r.table[1];
    EXPECT_EQ(m.GetCode(), 12);
    EXPECT_EQ(m.GetName(), "meadow");
    EXPECT_EQ(m.Method, LanduseMethodFixed);
    EXPECT_EQ(m.FixPointCount, 4);
    ExpectList(m.Albedo, {0.2, 0.2, 0.2, 0.2, 0.2}, "Albedo");
    ExpectList(m.rsc, {90, 100, 200, 130, 140, 150, 160, 170, 180, 190, 110, 120, 90, 100}, "rsc");
    ExpectList(m.rs_evaporation, m.rsc, "rs_evaporation");
    ExpectList(m.rs_interception, std::vector<double>(14, 20.0), "rs_interception");
    ExpectDays(m.JulDays, {-66, 100, 150, 250, 300}, "JulDays");
    ExpectDays(m.ActualJulDays, m.JulDays, "ActualJulDays");
    ExpectList(m.LAI, {4, 1, 2, 3, 4}, "LAI");
    ExpectList(m.Z0, {0.04, 0.01, 0.02, 0.03, 0.04}, "Z0");
    ExpectList(m.VCF, {0.4, 0.1, 0.2, 0.3, 0.4}, "VCF");
    ExpectList(m.RootDepth, {400, 100, 200, 300, 400}, "RootDepth");
    ExpectList(m.AltDep, {-0.025, 0.025, 0.025, -0.025, -0.025}, "AltDep");
    EXPECT_DOUBLE_EQ(m.GetRootDist(), 1.5);
    EXPECT_DOUBLE_EQ(m.GetHReduDry(), 3.45);
    EXPECT_DOUBLE_EQ(m.GetTReduWet(), 0.95);
    EXPECT_DOUBLE_EQ(m.GetLimitReduWet(), 0);
    // Untouched by the line: the values of a new record.
    EXPECT_EQ(m.StartVegetationPeriodForBalance, 0);
    EXPECT_EQ(m.StopVegetationPeriodForBalance, 1000);
    EXPECT_EQ(m.JDVegetationResetForBalance, 1);
    EXPECT_EQ(m.JDVegetationWriteForBalance, 0);
    EXPECT_EQ(m.InternalParameterMask, 255);
    EXPECT_DOUBLE_EQ(m.GetIntercepCap(), -1);
    // Not expressible in the line: the defaults of a brace block.
    ExpectList(m.SR_StemDiameter, std::vector<double>(5, 0.01), "SR_StemDiameter");
    ExpectList(m.SR_ResidCovrg, std::vector<double>(5, 0.01), "SR_ResidCovrg");
    ExpectList(m.NFactor, std::vector<double>(5, -1.0), "n-factor");
    EXPECT_DOUBLE_EQ(m.GetNfFreezing(), -1);
    EXPECT_DOUBLE_EQ(m.GetNfThawing(), -1);
    EXPECT_EQ(m.GetSRCultivation(), 3);
    double a, b, c;
    m.GetSRRoughCoeff1(&a, &b, &c);
    EXPECT_DOUBLE_EQ(a, 0.0198);
    EXPECT_DOUBLE_EQ(b, 0.712);
    EXPECT_DOUBLE_EQ(c, 0.142);
    const std::vector<int32_t>* tillage = nullptr;
    EXPECT_EQ(m.GetSoilTillage(&tillage), 0);
    EXPECT_EQ(*tillage, std::vector<int32_t>{-9999});

    const LanduseType& w = r.table[2];
    EXPECT_EQ(w.GetCode(), 7);
    EXPECT_EQ(w.GetName(), "water");
    ExpectDays(w.JulDays, {8 - 366, 5, 6, 7, 8}, "JulDays");
    EXPECT_DOUBLE_EQ(w.GetRootDist(), 1);
    EXPECT_DOUBLE_EQ(w.GetHReduDry(), 2);
}

TEST(LanduseTable, OldFormatOfModelVariantOneEndsAfterTheRootDepths) {
    const TableRead r = ReadTableFile(TestDataPath("parameters/landuse_old.ctl"), 1);
    ASSERT_EQ(r.code, 0) << r.console;
    EXPECT_DOUBLE_EQ(r.table[1].GetRootDist(), 0);
    EXPECT_DOUBLE_EQ(r.table[1].GetHReduDry(), 0);
    ExpectList(r.table[1].RootDepth, {400, 100, 200, 300, 400}, "RootDepth");
}

TEST(LanduseTable, BraceBlocksOfEveryMethod) {
    const TableRead r = ReadTableFile(TestDataPath("parameters/landuse_brace.ctl"));
    ASSERT_EQ(r.code, 0) << r.console;
    ASSERT_EQ(r.table.size(), 8u);
    EXPECT_EQ(r.table[0].Code, 7);
    // The old first entry keeps the reset day of a new record; the write day
    // is the first positive one of the brace blocks.
    EXPECT_EQ(r.table[0].JDVegetationResetForBalance, 1);
    EXPECT_EQ(r.table[0].JDVegetationWriteForBalance, 330);
    EXPECT_EQ(r.table[1].Method, LanduseMethodFixed);

    // A block with only the required keys: every default.
    const LanduseType& g = r.table[2];
    EXPECT_EQ(g.GetCode(), 20);
    EXPECT_EQ(g.GetName(), "grassland");
    EXPECT_EQ(g.Method, LanduseMethodVariableDayCount);
    EXPECT_EQ(g.FixPointCount, 2);
    ExpectDays(g.JulDays, {250 - 366, 110, 250}, "JulDays");
    ExpectDays(g.ActualJulDays, g.JulDays, "ActualJulDays");
    EXPECT_DOUBLE_EQ(g.GetRootDist(), 1.0);
    EXPECT_DOUBLE_EQ(g.GetTReduWet(), 0.95);
    EXPECT_DOUBLE_EQ(g.GetHReduDry(), 3.45);
    EXPECT_DOUBLE_EQ(g.GetLimitReduWet(), 0);
    EXPECT_EQ(g.useInternalParameters, "11111111");
    EXPECT_EQ(g.InternalParameterMask, 255);
    EXPECT_EQ(g.StartVegetationPeriodForBalance, 0);
    EXPECT_EQ(g.StopVegetationPeriodForBalance, 0);
    EXPECT_EQ(g.JDVegetationResetForBalance, -1);
    EXPECT_EQ(g.JDVegetationWriteForBalance, -1);
    EXPECT_DOUBLE_EQ(g.GetIntercepCap(), -1);
    EXPECT_DOUBLE_EQ(g.StressFactorDynPhen, 0);
    EXPECT_EQ(g.TStart, -1);
    EXPECT_EQ(g.TStartIndex, 0);
    EXPECT_FALSE(g.DynamicPhenology);
    ExpectList(g.Albedo, {0.25, 0.2, 0.25}, "Albedo");
    ExpectList(g.rsc, {60, 80, 60}, "rsc");
    ExpectList(g.LAI, {3, 1, 3}, "LAI");
    ExpectList(g.Z0, {0.05, 0.02, 0.05}, "Z0");
    ExpectList(g.VCF, {0.9, 0.5, 0.9}, "VCF");
    ExpectList(g.RootDepth, {300, 200, 300}, "RootDepth");
    ExpectList(g.AltDep, {-0.025, 0.025, -0.025}, "AltDep");
    ExpectList(g.rs_interception, {20, 20, 20}, "rs_interception");
    ExpectList(g.rs_evaporation, {200, 200, 200}, "rs_evaporation");
    EXPECT_TRUE(g.ForcingThreshold.empty());
    const std::vector<int32_t>* tillage = nullptr;
    EXPECT_EQ(g.GetSoilTillage(&tillage), 0);
    EXPECT_EQ(*tillage, std::vector<int32_t>{-9999});
    EXPECT_EQ(g.GetSRCultivation(), 3);
    EXPECT_DOUBLE_EQ(g.GetSRCropDistX(), 0.3);
    EXPECT_DOUBLE_EQ(g.GetSRCropDistY(), 0.3);
    EXPECT_DOUBLE_EQ(g.GetSRKST(), 10);
    EXPECT_DOUBLE_EQ(g.GetSRCWR(), 1.5);
    ExpectList(g.SR_rough_coeff1, {0.142, 0.0198, 0.712, 0.142}, "SR_rough_coeff1");
    ExpectList(g.SR_rough_coeff2, {0.142, 0.0198, 0.712, 0.142}, "SR_rough_coeff2");
    ExpectList(g.SR_StemDiameter, {0.01, 0.01, 0.01}, "SR_StemDiameter");
    ExpectList(g.SR_ResidCovrg, {0.01, 0.01, 0.01}, "SR_ResidCovrg");
    ExpectList(g.NFactor, {-1, -1, -1}, "n-factor");
    EXPECT_DOUBLE_EQ(g.GetNfFreezing(), -1);
    EXPECT_DOUBLE_EQ(g.GetNfThawing(), -1);

    // Every optional key given; the day list runs over two lines.
    const LanduseType& c = r.table[3];
    EXPECT_EQ(c.GetCode(), 21);
    EXPECT_EQ(c.GetName(), "cropland");
    EXPECT_EQ(c.FixPointCount, 5);
    ExpectDays(c.JulDays, {0, 1, 100, -1, 300, 366}, "JulDays");
    EXPECT_EQ(c.TStartIndex, 0);  // method 2 has no dynamic start
    EXPECT_DOUBLE_EQ(c.GetRootDist(), 0.8);
    EXPECT_DOUBLE_EQ(c.GetTReduWet(), 0.9);
    EXPECT_DOUBLE_EQ(c.GetLimitReduWet(), 0.4);
    EXPECT_DOUBLE_EQ(c.GetHReduDry(), 4.5);
    EXPECT_EQ(c.useInternalParameters, "10000001");
    EXPECT_EQ(c.InternalParameterMask, 129);
    EXPECT_EQ(c.StartVegetationPeriodForBalance, 2);
    EXPECT_EQ(c.StopVegetationPeriodForBalance, 4);
    EXPECT_EQ(c.JDVegetationResetForBalance, 60);
    EXPECT_EQ(c.JDVegetationWriteForBalance, 330);
    EXPECT_DOUBLE_EQ(c.GetIntercepCap(), 0.7);
    EXPECT_DOUBLE_EQ(c.StressFactorDynPhen, 1.5);
    ExpectList(c.Albedo, {0.24, 0.2, 0.21, 0.22, 0.23, 0.24}, "Albedo");
    ExpectList(c.rsc, {100, 100, 90, 50, 90, 100}, "rsc");
    ExpectList(c.LAI, {0.5, 0.5, 1, 4, 2, 0.5}, "LAI");
    ExpectList(c.Z0, {0.01, 0.01, 0.05, 0.2, 0.1, 0.01}, "Z0");
    ExpectList(c.VCF, {0.1, 0.1, 0.3, 0.9, 0.6, 0.1}, "VCF");
    ExpectList(c.RootDepth, {100, 100, 150, 400, 300, 100}, "RootDepth");
    ExpectList(c.AltDep, {0, 0, 0.01, 0.01, -0.01, 0}, "AltDep");
    ExpectList(c.rs_interception, {34, 30, 31, 32, 33, 34}, "rs_interception");
    ExpectList(c.rs_evaporation, {154, 150, 151, 152, 153, 154}, "rs_evaporation");
    EXPECT_EQ(c.GetSoilTillage(&tillage), 2);
    EXPECT_EQ(*tillage, (std::vector<int32_t>{280 - 366, 90, 280}));
    EXPECT_EQ(c.GetSRCultivation(), 2);
    EXPECT_DOUBLE_EQ(c.GetSRCropDistX(), 0.5);
    EXPECT_DOUBLE_EQ(c.GetSRCropDistY(), 0.6);
    EXPECT_DOUBLE_EQ(c.GetSRKST(), 12);
    EXPECT_DOUBLE_EQ(c.GetSRCWR(), 2.5);
    double a, b, d;
    c.GetSRRoughCoeff1(&a, &b, &d);
    EXPECT_EQ(std::vector<double>({a, b, d}), std::vector<double>({0.1, 0.2, 0.3}));
    c.GetSRRoughCoeff2(&a, &b, &d);
    EXPECT_EQ(std::vector<double>({a, b, d}), std::vector<double>({0.4, 0.5, 0.6}));
    ExpectList(c.SR_StemDiameter, {0.015, 0.011, 0.012, 0.013, 0.014, 0.015}, "SR_StemDiameter");
    ExpectList(c.SR_ResidCovrg, {0.1, 0.5, 0.4, 0.3, 0.2, 0.1}, "SR_ResidCovrg");
    ExpectList(c.NFactor, {0.9, 0.5, 0.6, 0.7, 0.8, 0.9}, "n-factor");
    EXPECT_DOUBLE_EQ(c.GetNfFreezing(), 0.55);
    EXPECT_DOUBLE_EQ(c.GetNfThawing(), 0.95);

    const LanduseType& beech = r.table[4];
    EXPECT_EQ(beech.Method, LanduseMethodDynamicPhenology1);
    EXPECT_EQ(beech.TStartIndex, 3);
    EXPECT_EQ(beech.TStart, -1);
    EXPECT_DOUBLE_EQ(beech.FStar, 200);
    EXPECT_EQ(beech.DP1_t1_dorm, 60);
    EXPECT_DOUBLE_EQ(beech.DP1_T_Bf, 5);
    EXPECT_EQ(beech.JDReset_TStart, 300);
    EXPECT_EQ(beech.maxStartJDforDP1, 160);
    EXPECT_EQ(beech.GetSRCultivation(), 1);
    ExpectList(beech.LAI, {0.5, 0.5, 1, 2, 5, 0.5}, "LAI");

    const LanduseType& oak = r.table[5];
    EXPECT_EQ(oak.Method, LanduseMethodDynamicPhenology2);
    EXPECT_EQ(oak.TStartIndex, 2);
    EXPECT_DOUBLE_EQ(oak.FStar, 180);
    EXPECT_EQ(oak.DP1_t1_dorm, 50);
    EXPECT_DOUBLE_EQ(oak.DP1_T_Bf, 4.5);
    EXPECT_EQ(oak.JDReset_TStart, 310);
    EXPECT_EQ(oak.maxStartJDforDP1, 170);
    EXPECT_EQ(oak.DP2_t0_dorm, 280);
    EXPECT_EQ(oak.DP2_t1_dorm, 30);
    EXPECT_DOUBLE_EQ(oak.DP2_T_Bf, 5.5);
    EXPECT_DOUBLE_EQ(oak.DP2_T_Bc, 4);
    EXPECT_DOUBLE_EQ(oak.DP2_Par_a, 500);
    EXPECT_DOUBLE_EQ(oak.DP2_Par_b, -0.01);
    EXPECT_DOUBLE_EQ(oak.DP2_Offset_1, -3.4);
    EXPECT_DOUBLE_EQ(oak.DP2_Offset_2, 12);
    EXPECT_EQ(oak.GetSRCultivation(), 3);
    EXPECT_NE(r.console.find("parameter \"DP2_Offset_1\" not found for land use 31; Using default of -3.4\n"),
              std::string::npos)
        << r.console;
    EXPECT_NE(r.console.find("parameter \"DP2_Offset_2\" not found for land use 31; Using default of 12\n"),
              std::string::npos);
    int infos = 0;
    for (const auto& l : r.lines) infos += l.level == DiagInfo && l.description.find("DP2_Offset_") != std::string::npos;
    EXPECT_EQ(infos, 2);

    const LanduseType& wheat = r.table[6];
    EXPECT_EQ(wheat.Method, LanduseMethodDynamicPhenology3);
    EXPECT_EQ(wheat.TStartIndex, 0);
    EXPECT_EQ(wheat.DP1_t1_dorm, 1);
    EXPECT_DOUBLE_EQ(wheat.DP1_T_Bf, 0);
    EXPECT_EQ(wheat.JDReset_TStart, 1);
    EXPECT_EQ(wheat.maxStartJDforDP1, 366);
    ExpectList(wheat.ForcingThreshold, {-1, -1, 100, 300, -1}, "ForcingThreshold");
    ExpectDays(wheat.JulDays, {0, 1, 120, 200, 366}, "JulDays");

    const LanduseType& larch = r.table[7];
    EXPECT_EQ(larch.Method, LanduseMethodDynamicPhenology4);
    EXPECT_EQ(larch.TStartIndex, 2);
    EXPECT_DOUBLE_EQ(larch.FStar, 150);
    EXPECT_EQ(larch.DP1_t1_dorm, 45);
    EXPECT_DOUBLE_EQ(larch.DP1_T_Bf, 4);
    EXPECT_EQ(larch.JDReset_TStart, 320);
    EXPECT_EQ(larch.maxStartJDforDP1, 180);
    EXPECT_EQ(larch.DP4_t0_dorm, 270);
    EXPECT_EQ(larch.DP4_t1_dorm, 20);
    EXPECT_DOUBLE_EQ(larch.DP4_T0, 5);
    EXPECT_DOUBLE_EQ(larch.DP4_T1, 3);
    EXPECT_DOUBLE_EQ(larch.DP4_Par_a, 400);
    EXPECT_DOUBLE_EQ(larch.DP4_Par_b, -20);
    EXPECT_DOUBLE_EQ(larch.DP4_T_xylstop, 10);
    EXPECT_EQ(larch.DP4_t_xs1, 200);
    EXPECT_EQ(larch.DP4_SPSLF, 3);
    EXPECT_EQ(FatalCount(r), 0);
}

TEST(LanduseTable, EmptyTableHasEntryZeroOnly) {
    const TableRead r = ReadTableText(Section("", 0));
    ASSERT_EQ(r.code, 0) << r.console;
    ASSERT_EQ(r.table.size(), 1u);
    EXPECT_EQ(r.table[0].Code, 0);
    EXPECT_EQ(r.table[0].JDVegetationResetForBalance, 1);
    EXPECT_EQ(r.table[0].JDVegetationWriteForBalance, 365);
}

TEST(LanduseTable, EntriesKeepTheOrderOfTheSectionWhateverTheirCodes) {
    const std::string block = "3 oneline method = VariableDayCount {" + MinimalKeys.substr(0, MinimalKeys.size() - 1) +
                              " JDVegetationResetForBalance = 45; }\n";
    std::string flat = block;
    for (char& ch : flat) {
        if (ch == '\n') ch = ' ';
    }
    flat.back() = '\n';
    const TableRead r = ReadTableText(Section(flat + OldMeadow, 2));
    ASSERT_EQ(r.code, 0) << r.console;
    // A block whose first line also holds the closing brace is complete.
    EXPECT_EQ(r.table[1].GetCode(), 3);
    EXPECT_EQ(r.table[1].Method, LanduseMethodVariableDayCount);
    EXPECT_EQ(r.table[2].GetCode(), 12);
    EXPECT_EQ(r.table[2].Method, LanduseMethodFixed);
    EXPECT_EQ(r.table[0].JDVegetationResetForBalance, 45);
    EXPECT_EQ(r.table[0].JDVegetationWriteForBalance, 365);
}

TEST(LanduseTable, KeysAreFoundAtTheirFirstOccurrence) {
    // "Z0" first stands inside the value text of the mask key, and is read there.
    const std::string entry = "5 forest method = VariableDayCount {\n"
                              "  useInternalParameters = 101 Z0 = 0.7 0.8;\n" +
                              MinimalKeys + "}\n";
    const TableRead r = ReadTableText(Section(entry, 1));
    ASSERT_EQ(r.code, 0) << r.console;
    EXPECT_EQ(r.table[1].useInternalParameters, "101 Z0 = 0.7 0.8");
    EXPECT_EQ(r.table[1].InternalParameterMask, 128 + 32);
    ExpectList(r.table[1].Z0, {0.8, 0.7, 0.8}, "Z0");
}

TEST(LanduseTable, CultivationWordsAndMasks) {
    struct Case {
        std::string keys;
        int cultivation;
        int mask;
    };
    const std::vector<Case> cases = {
        {"SR_cultivation = nonconserving;", 2, 255},
        {"SR_cultivation = conserving;", 1, 255},
        {"SR_cultivation = other;", 3, 255},
        {"SR_cultivation = nonconserving other;", 3, 255},
        {"useInternalParameters = 00010000;", 3, 16},
        {"useInternalParameters = x1;", 3, 128},
        {"useInternalParameters = 111111110000;", 3, 255},
    };
    for (const Case& c : cases) {
        const std::string entry = "5 forest method = VariableDayCount {\n" + MinimalKeys + c.keys + "\n}\n";
        const TableRead r = ReadTableText(Section(entry, 1));
        ASSERT_EQ(r.code, 0) << c.keys << "\n" << r.console;
        EXPECT_EQ(r.table[1].GetSRCultivation(), c.cultivation) << c.keys;
        EXPECT_EQ(r.table[1].InternalParameterMask, c.mask) << c.keys;
    }
}

TEST(LanduseTable, LongLinesAndLongNamesAreReadWhole) {
    const std::string name(300, 'n');
    std::string longOld = OldMeadow;
    longOld.pop_back();
    longOld += " " + std::string(3000, 'x') + "\n";
    const std::string entry = "5 " + name + " method = VariableDayCount {" + std::string(2000, ' ') + "\n" +
                              MinimalKeys + "}\n";
    const TableRead r = ReadTableText(Section(longOld + entry, 2));
    ASSERT_EQ(r.code, 0) << r.console.substr(0, 500);
    EXPECT_EQ(r.table[1].GetCode(), 12);
    EXPECT_EQ(r.table[2].GetCode(), 5);
    EXPECT_EQ(r.table[2].GetName(), name);
}

TEST(LanduseTable, MalformedEntriesEndTheRunWithTheirCodes) {
    const std::string general = "landuse table code ";
    struct Case {
        const char* what;
        std::string text;
        int code;
        std::vector<std::string> messages;  // console texts, in order
    };
    auto brace = [](const std::string& method, const std::string& keys) {
        return "30 beech method = " + method + " {\n" + keys + "}\n";
    };
    const std::string dp1Keys = "  F* = 200; DP1_t1_dorm = 60; DP1_T_Bf = 5; JDReset_TStart = 300; maxStartJDforDP1 = 160;\n";
    const std::string dp2Keys = "  DP2_t0_dorm = 280; DP2_t1_dorm = 30; DP2_T_Bf = 5.5; DP2_T_Bc = 4; DP2_Par_a = 500; DP2_Par_b = -0.01;\n";
    const std::string dp4Keys = "  DP4_t0_dorm = 270; DP4_t1_dorm = 20; DP4_T0 = 5; DP4_T1 = 3; DP4_Par_a = 400; DP4_Par_b = -20;\n"
                                "  DP4_T_xylstop = 10; DP4_t_xs1 = 200; DP4_SPSLF = 3;\n";
    auto without = [](std::string text, const std::string& part) {
        const size_t at = text.find(part);
        if (at != std::string::npos) text.erase(at, part.size());
        return text;
    };
    auto replaced = [](std::string text, const std::string& part, const std::string& by) {
        const size_t at = text.find(part);
        if (at != std::string::npos) text.replace(at, part.size(), by);
        return text;
    };
    const std::string fivePoints =
        "  RootDist = 1; TReduWet = 0.95; HReduDry = 3.45;\n  JulDays = 1 120 200 366;\n"
        "  ForcingThreshold = -1 100 300 -1;\n  Albedo = 0.2 0.2 0.2 0.2; rsc = 1 1 1 1; LAI = 1 1 1 1; Z0 = 1 1 1 1;\n"
        "  VCF = 1 1 1 1; RootDepth = 1 1 1 1; AltDep = 0 0 0 0;\n"
        "  DP1_t1_dorm = 1; DP1_T_Bf = 0; JDReset_TStart = 1; maxStartJDforDP1 = 366;\n";

    const std::vector<Case> cases = {
        {"missing section", "[soil_table]\n1\n", 17, {"error in control file, [landuse_table]; (EOF)not found!"}},
        {"unreadable count", "[landuse_table]\nmany\n", 17,
         {"error in control file, number of landuse types; defaultsnot found!"}},
        {"negative count", Section("", -2), 17, {"number of landuse types in [landuse_table]: -2 is not a valid count"}},
        {"section ends early", "[landuse_table]\n2\n" + OldMeadow, 29,
         {"landuse table: the section [landuse_table] ends after 1 of 2 entries"}},
        {"block without closing brace", "[landuse_table]\n1\n" + brace("VariableDayCount", MinimalKeys).substr(0, 60), 29,
         {"landuse table entry 1: the end of the file came before the closing brace \"}\""}},
        {"old entry without a code", Section("x meadow 0.2\n", 1), 29,
         {general + "1: some values could not be read\nx meadow 0.2\n"}},
        {"blank line as an entry", Section("\n" + OldMeadow, 2), 29, {general + "1: some values could not be read\n"}},
        {"old entry without albedo", Section("12 meadow\n", 1), 29, {general + "12: some values could not be read\n"}},
        {"old entry with only code, name and albedo", Section("12 meadow 0.2\n", 1), 29,
         {general + "12: some values could not be read\n12 meadow 0.2\n"}},
        {"old entry with an unreadable resistance", Section(replaced(OldMeadow, " 130 ", " 1x0 "), 1), 29,
         {general + "12: some values could not be read\n"}},
        {"old entry without HReduDry", Section(replaced(OldMeadow, " 3.45", ""), 1), 29,
         {general + "12: some values could not be read\n"}},
        {"block without the word method", Section("30 beech = VariableDayCount {\n" + MinimalKeys + "}\n", 1), 29,
         {general + "30: some values could not be read\n30 beech = VariableDayCount {\n"}},
        {"missing RootDist", Section(brace("VariableDayCount", without(MinimalKeys, "RootDist = 1;")), 1), 29,
         {general + "30: some values could not be read\n{\n"}},
        {"missing AltDep", Section(brace("VariableDayCount", without(MinimalKeys, "AltDep = 0.025 -0.025;")), 1), 29,
         {general + "30: some values could not be read\n{\n"}},
        {"missing JulDays", Section(brace("VariableDayCount", without(MinimalKeys, "JulDays = 100 250;")), 1), 29,
         {general + "30: some values could not be read\n"}},
        {"empty JulDays", Section(brace("VariableDayCount", replaced(MinimalKeys, "100 250", "")), 1), 29,
         {general + "30: some values could not be read\n"}},
        {"JulDays separated by commas", Section(brace("VariableDayCount", replaced(MinimalKeys, "100 250", "100,250")), 1),
         29, {general + "30: some values could not be read\n"}},
        {"list shorter than the fix points", Section(brace("VariableDayCount", replaced(MinimalKeys, "LAI = 1 3", "LAI = 1")), 1),
         29, {general + "30: some values could not be read\n"}},
        {"unreadable single value", Section(brace("VariableDayCount", replaced(MinimalKeys, "RootDist = 1", "RootDist = abc")), 1),
         29, {general + "30: some values could not be read\n"}},
        {"not a number", Section(brace("VariableDayCount", replaced(MinimalKeys, "RootDist = 1", "RootDist = nan")), 1),
         29, {general + "30: some values could not be read\n"}},
        {"key without equals sign", Section(brace("VariableDayCount", MinimalKeys + "  IntercepCap 0.5;\n"), 1), 29,
         {general + "30: some values could not be read\n"}},
        {"integer out of range",
         Section(brace("VariableDayCount", MinimalKeys + "  StartVegetationPeriodForBalance = 99999999999;\n"), 1), 29,
         {general + "30: some values could not be read\n"}},
        {"mask without 0 or 1", Section(brace("VariableDayCount", MinimalKeys + "  useInternalParameters = yes;\n"), 1),
         29, {general + "30: some values could not be read\n"}},
        {"unknown cultivation", Section(brace("VariableDayCount", MinimalKeys + "  SR_cultivation = intensive;\n"), 1),
         29,
         {"no valid value for parameter \"SR_cultivation\" for land use 30\n",
          general + "30: some values could not be read\n"}},
        {"short roughness coefficients", Section(brace("VariableDayCount", MinimalKeys + "  SR_rough_coeff1 = 0.1 0.2;\n"), 1),
         29, {general + "30: some values could not be read\n"}},
        {"method 3 without F*", Section(brace("DynamicPhenology_1", MinimalKeys + without(dp1Keys, "F* = 200;")), 1), 29,
         {"parameter \"F*\" not found for land use 30\n", general + "30: some values could not be read\n"}},
        {"method 3 without maxStartJDforDP1",
         Section(brace("DynamicPhenology_1", MinimalKeys + without(dp1Keys, "maxStartJDforDP1 = 160;")), 1), 29,
         {"parameter \"maxStartJDforDP1\" not found for land use 30\n"}},
        {"method 4 without DP2_T_Bc",
         Section(brace("DynamicPhenology_2", MinimalKeys + dp1Keys + without(dp2Keys, "DP2_T_Bc = 4;")), 1), 29,
         {"parameter \"DP2_T_Bc\" not found for land use 30\n", general + "30: some values could not be read\n"}},
        {"method 6 without DP4_SPSLF",
         Section(brace("DynamicPhenology_4", MinimalKeys + dp1Keys + without(dp4Keys, "DP4_SPSLF = 3;")), 1), 29,
         {"parameter \"DP4_SPSLF\" not found for land use 30\n"}},
        {"method 6 with a negative leaf-fall fix point",
         Section(brace("DynamicPhenology_4", MinimalKeys + dp1Keys + replaced(dp4Keys, "DP4_SPSLF = 3", "DP4_SPSLF = -1")), 1),
         29, {general + "30: some values could not be read\n"}},
        {"method 5 without DP1_T_Bf", Section(brace("DynamicPhenology_3", without(fivePoints, "DP1_T_Bf = 0;")), 1), 29,
         {"parameter \"DP1_T_Bf\" not found for land use 30\n"}},
        {"method 5 without ForcingThreshold",
         Section(brace("DynamicPhenology_3", without(fivePoints, "ForcingThreshold = -1 100 300 -1;")), 1), 29,
         {general + "30: some values could not be read\n"}},
        {"method 5 ending on day 365", Section(brace("DynamicPhenology_3", replaced(fivePoints, "200 366", "200 365")), 1),
         29,
         {"Error in Landuse Table (Code: 30): for Method DynamicPhenology_3 the last sample day (JulDay) must be 366 and "
          "not 365\n",
          general + "30: some values could not be read\n"}},
        {"method 5 starting on day 2", Section(brace("DynamicPhenology_3", replaced(fivePoints, "= 1 120", "= 2 120")), 1),
         29,
         {"Error in Landuse Table (Code: 30): for Method DynamicPhenology_3 the first sample day (JulDay) must be 1 and "
          "not 2\n"}},
    };
    for (const Case& c : cases) {
        const TableRead r = ReadTableText(c.text);
        EXPECT_EQ(r.code, c.code) << c.what << "\n" << r.console;
        size_t from = 0;
        for (const std::string& m : c.messages) {
            const size_t at = r.console.find(m, from);
            EXPECT_NE(at, std::string::npos) << c.what << ": \"" << m << "\" missing in\n" << r.console;
            if (at != std::string::npos) from = at + m.size();
        }
        EXPECT_GE(FatalCount(r), 1) << c.what;
    }
}
