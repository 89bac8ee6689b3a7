#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "framework/diagnostics_writer.h"
#include "framework/modelobject.h"
#include "parameters/soil_reader.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

struct TableRead {
    int code = 0;  // the thrown code, 0 when the table was read
    std::vector<SoilType> table;
    std::vector<DiagLine> lines;

    std::vector<std::string> Entries(int level) const {
        std::vector<std::string> out;
        for (const auto& l : lines) {
            if (l.level == level) out.push_back(l.description);
        }
        return out;
    }
    bool HasEntry(int level, const std::string& text) const {
        for (const auto& l : lines) {
            if (l.level == level && l.description.find(DiagnosticsWriter::Escape(text)) != std::string::npos)
                return true;
        }
        return false;
    }
};

TableRead ReadTableFile(const std::string& path, int variant = 2) {
    TempDir dir;
    TableRead result;
    std::ostringstream console;
    {
        DiagnosticsWriter writer(dir.file("diag.xml"), DiagDebug, console);
        modelobject reader(&writer, path);
        reader.ModuleName = "defaults";
        FILE* file = std::fopen(path.c_str(), "r");
        EXPECT_NE(file, nullptr) << path;
        if (!file) return result;
        try {
            ReadSoilTable(reader, file, variant, result.table);
        } catch (int code) {
            result.code = code;
        }
        std::fclose(file);
        writer.Close();
    }
    result.lines = DiagLines(ReadFile(dir.file("diag.xml")));
    return result;
}

TableRead ReadTableText(const std::string& text) {
    TempDir dir;
    WriteFile(dir.file("soil.ctl"), text);
    return ReadTableFile(dir.file("soil.ctl"));
}

// A brace entry of two horizons (3 and 2 layers) with the given ksat text.
std::string TwoHorizons(const std::string& ksat, const std::string& extra = "") {
    return "[soil_table]\n1\n3 two {method = MultipleHorizons; layers = 3 2; ksat = " + ksat +
           " theta_sat = 0.45; theta_res = 0.05; alpha = 2; Par_n = 1.5; thickness = 0.1;" + extra + "}\n";
}

void ExpectList(const std::vector<double>& actual, const std::vector<double>& expected, const char* what,
                double tolerance = 0) {
    ASSERT_EQ(actual.size(), expected.size()) << what;
    for (size_t i = 0; i < expected.size(); ++i) {
        if (tolerance == 0) {
            EXPECT_DOUBLE_EQ(actual[i], expected[i]) << what << "[" << i << "]";
        } else {
            EXPECT_NEAR(actual[i], expected[i], tolerance) << what << "[" << i << "]";
        }
    }
}

}  // namespace

TEST(SoilTableReader, BraceEntriesPerLayerValuesAndDefaults) {
    const TableRead r = ReadTableFile(TestDataPath("parameters/soil_brace.ctl"));
    ASSERT_EQ(r.code, 0);
    ASSERT_EQ(r.table.size(), 4u);
    EXPECT_EQ(r.table[0].Code, 3);
    EXPECT_EQ(r.table[0].LayerCount, 5);

    // Only the required keys: every default.
    const SoilType& loam = r.table[1];
    EXPECT_EQ(loam.Code, 1);
    EXPECT_EQ(loam.Name, "loam");
    EXPECT_EQ(loam.Method, 0);
    EXPECT_EQ(loam.HorizonCount, 2);
    EXPECT_EQ(loam.LayersPerHorizon, (std::vector<int32_t>{5, 3, 2}));
    EXPECT_EQ(loam.LayerCount, 5);
    ExpectList(loam.ksat, {1e-5, 1e-5, 1e-5, 1e-5, 2e-6, 2e-6}, "ksat");
    ExpectList(loam.theta_sat, {0.45, 0.45, 0.45, 0.45, 0.40, 0.40}, "theta_sat");
    ExpectList(loam.theta_res, {0.05, 0.05, 0.05, 0.05, 0.04, 0.04}, "theta_res");
    ExpectList(loam.alpha, {2, 2, 2, 2, 1.5, 1.5}, "alpha");
    ExpectList(loam.Par_n, {1.5, 1.5, 1.5, 1.5, 1.3, 1.3}, "Par_n");
    const double m1 = 1 - 1 / 1.5, m2 = 1 - 1 / 1.3;
    ExpectList(loam.Par_m, {m1, m1, m1, m1, m2, m2}, "Par_m");
    ExpectList(loam.thickness, {0.1, 0.1, 0.1, 0.1, 0.2, 0.2}, "thickness");
    ExpectList(loam.Par_tau, std::vector<double>(6, 0.5), "Par_tau");
    ExpectList(loam.k_recession, std::vector<double>(6, 1), "k_recession");
    ExpectList(loam.DryHeatCapacity, std::vector<double>(6, -1), "DryHeatCapacity");
    ExpectList(loam.DryDensity, std::vector<double>(6, -1), "DryDensity");
    ExpectList(loam.DryThermalConduct, std::vector<double>(6, -1), "DryThermalConduct");
    EXPECT_DOUBLE_EQ(loam.TotalDepth, 0.7);
    EXPECT_EQ(loam.EvapMaxDepth, 0.1);
    EXPECT_EQ(loam.ThicknessScaling, 1);
    EXPECT_EQ(loam.MaxInterflowDepth, 2);
    EXPECT_DOUBLE_EQ(loam.PMacroThresh, 1000.0 / 3600000);
    EXPECT_EQ(loam.MacroCapacity, 0);
    EXPECT_EQ(loam.CapacityRedu, 1);
    EXPECT_EQ(loam.MacroDepth, 1);
    EXPECT_EQ(loam.KMinFrozenSoil, -1);
    EXPECT_EQ(loam.maxratio, 1000);
    EXPECT_EQ(loam.FCap, 25);
    EXPECT_EQ(loam.mSB, 35);
    EXPECT_DOUBLE_EQ(loam.CapacitySpan, 0.1);
    EXPECT_EQ(loam.ksat_topmodel, 0);
    EXPECT_EQ(loam.suction, 300);
    EXPECT_EQ(loam.KReduction, 0);
    const double grains[] = {0.3333, 0.3333, 0.3334, 0, 0, 0, 0};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(loam.GrainSizeDist[i], grains[i]);
    for (double p : loam.SU_PAR) EXPECT_EQ(p, 0);
    EXPECT_EQ(loam.ConductTablePoints, 30);
    EXPECT_EQ(loam.SuctionTablePoints, 30);
    EXPECT_EQ(loam.FreezingSteps, 1000);
    EXPECT_EQ(loam.FreezingMinTemperature, -10);
    EXPECT_EQ(loam.ThetaSuctionTable(4)[0], 0.40);  // tables per layer from its own parameters
    EXPECT_EQ(loam.ThetaSuctionTable(4)[30], 0.04);

    // Every optional key given, over several lines.
    const SoilType& clay = r.table[2];
    EXPECT_EQ(clay.Code, 12);
    EXPECT_EQ(clay.Name, "clay");
    EXPECT_EQ(clay.LayersPerHorizon, (std::vector<int32_t>{5, 1, 4}));
    // Recession inside each horizon down to MaxInterflowDepth 0.3 m: layer
    // centres 0.05, 0.15, 0.25 m; within horizon 2 at 0.05 and 0.15 m.
    ExpectList(clay.ksat,
               {4e-6, 4e-6 * std::pow(0.5, 0.05), 1e-6 * std::pow(0.25, 0.05), 1e-6 * std::pow(0.25, 0.15), 1e-6,
                1e-6},
               "ksat", 1e-18);
    ExpectList(clay.theta_sat, std::vector<double>(6, 0.5), "theta_sat");
    ExpectList(clay.Par_m, {0.2, 0.2, 0.3, 0.3, 0.3, 0.3}, "Par_m");
    ExpectList(clay.Par_tau, {0.3, 0.3, 0.6, 0.6, 0.6, 0.6}, "Par_tau");
    ExpectList(clay.k_recession, {0.5, 0.5, 0.25, 0.25, 0.25, 0.25}, "k_recession");
    ExpectList(clay.DryHeatCapacity, {750, 750, 800, 800, 800, 800}, "DryHeatCapacity");
    ExpectList(clay.DryDensity, {1400, 1400, 1600, 1600, 1600, 1600}, "DryDensity");
    ExpectList(clay.DryThermalConduct, {0.3, 0.3, 0.4, 0.4, 0.4, 0.4}, "DryThermalConduct");
    EXPECT_EQ(clay.ksat_topmodel, 0.002);
    EXPECT_EQ(clay.MaxInterflowDepth, 0.3);
    EXPECT_EQ(clay.EvapMaxDepth, 0.25);
    const double clayGrains[] = {0.2, 0.3, 0.4, 0.1, 0, 0, 0};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(clay.GrainSizeDist[i], clayGrains[i]);
    EXPECT_EQ(clay.SU_PAR[1], 1.5);
    EXPECT_EQ(clay.SU_PAR[10], -2);
    EXPECT_EQ(clay.SU_PAR[0], 0);
    EXPECT_EQ(clay.SU_PAR[5], 0);
    EXPECT_DOUBLE_EQ(clay.PMacroThresh, 0.00001);  // 36 mm/h
    EXPECT_DOUBLE_EQ(clay.MacroCapacity, 0.000002);
    EXPECT_EQ(clay.CapacityRedu, 0.8);
    EXPECT_EQ(clay.MacroDepth, 0.6);
    EXPECT_EQ(clay.KMinFrozenSoil, 1e-9);
    EXPECT_EQ(clay.maxratio, 500);
    EXPECT_DOUBLE_EQ(clay.CapacitySpan, 0.2);
    EXPECT_EQ(clay.suction, 250);

    // Thickness scaling doubles the layers and the depth, not the default
    // evaporation depth.
    const SoilType& sand = r.table[3];
    EXPECT_EQ(sand.Code, 7);
    EXPECT_EQ(sand.HorizonCount, 1);
    ExpectList(sand.thickness, std::vector<double>(6, 0.2), "thickness");
    EXPECT_DOUBLE_EQ(sand.TotalDepth, 1.0);
    EXPECT_EQ(sand.EvapMaxDepth, 0.1);
    EXPECT_EQ(sand.GrainSizeDist[0], 0.5);
    EXPECT_TRUE(r.HasEntry(DiagInfo, "Soil layers for landuse 7 will be scaled by a factor of 2"));
    EXPECT_TRUE(r.Entries(DiagFatal).empty());
}

TEST(SoilTableReader, OneLineEntries) {
    const TableRead r = ReadTableFile(TestDataPath("parameters/soil_oneline.ctl"));
    ASSERT_EQ(r.code, 0);
    ASSERT_EQ(r.table.size(), 4u);
    EXPECT_EQ(r.table[0].Code, 3);

    const SoilType& loam = r.table[1];
    EXPECT_EQ(loam.Code, 1);
    EXPECT_EQ(loam.Name, "loam");
    EXPECT_EQ(loam.Method, 1);
    EXPECT_EQ(loam.FCap, 25);
    EXPECT_EQ(loam.mSB, 35);
    EXPECT_EQ(loam.ksat_topmodel, 0.0001);
    EXPECT_EQ(loam.suction, 300);
    EXPECT_EQ(loam.LayerCount, 10);
    EXPECT_EQ(loam.HorizonCount, 0);
    EXPECT_EQ(loam.maxratio, 1000);
    EXPECT_EQ(loam.KReduction, 0.5);
    std::vector<double> thickness(11, 0.2);
    thickness[1] = 0.05;
    thickness[2] = 0.2 - 0.05;
    ExpectList(loam.thickness, thickness, "thickness");
    EXPECT_NEAR(loam.TotalDepth, 1.8, 1e-12);
    // Conductivity from the surface value, falling with the layer centre.
    std::vector<double> ksat(11);
    ksat[1] = 0.0001 * std::pow(0.5, 0.025);
    ksat[2] = 0.0001 * std::pow(0.5, 0.1);
    for (int i = 3; i <= 10; ++i) ksat[i] = 0.0001 * std::pow(0.5, (i - 1.5) * 0.2);
    ksat[0] = ksat[1];
    ExpectList(loam.ksat, ksat, "ksat", 1e-18);
    ExpectList(loam.theta_sat, std::vector<double>(11, 0.45), "theta_sat");
    ExpectList(loam.theta_res, std::vector<double>(11, 0.05), "theta_res");
    ExpectList(loam.alpha, std::vector<double>(11, 2), "alpha");
    ExpectList(loam.Par_n, std::vector<double>(11, 1.5), "Par_n");
    ExpectList(loam.Par_m, std::vector<double>(11, 1 - 1 / 1.5), "Par_m");
    ExpectList(loam.Par_tau, std::vector<double>(11, 0.5), "Par_tau");
    ExpectList(loam.DryDensity, std::vector<double>(11, -1), "DryDensity");
    EXPECT_EQ(loam.MaxInterflowDepth, 2);
    EXPECT_EQ(loam.ThicknessScaling, 1);
    EXPECT_EQ(loam.EvapMaxDepth, 0.1);
    EXPECT_EQ(loam.PMacroThresh, 1);
    EXPECT_EQ(loam.MacroCapacity, 0);
    EXPECT_EQ(loam.MacroDepth, 0);
    EXPECT_EQ(loam.CapacityRedu, 1);
    EXPECT_EQ(loam.KMinFrozenSoil, -1);
    EXPECT_EQ(loam.GrainSizeDist[2], 0.3334);
    EXPECT_NEAR(loam.ThetaSuctionTable(0)[12], 0.438739368121182, 1e-14);

    // Below 2 m the conductivity stops falling (t = 0.3: layer 9 lies at
    // 2.25 m). The long remark after the values does not spill into the next
    // entry.
    const SoilType& silt = r.table[2];
    EXPECT_EQ(silt.Code, 2);
    EXPECT_DOUBLE_EQ(silt.ksat[8], 0.00005 * std::pow(0.7, 6.5 * 0.3));
    EXPECT_EQ(silt.ksat[9], silt.ksat[8]);
    EXPECT_EQ(silt.ksat[10], silt.ksat[8]);
    EXPECT_EQ(r.table[3].Code, 3);
    EXPECT_EQ(r.table[3].Name, "peat");
    ExpectList(r.table[3].ksat, std::vector<double>(11, 0.0002), "ksat");
}

TEST(SoilTableReader, OtherModelVariantsReadOnlyTheTopmodelValues) {
    SoilType soil(4);
    soil.ParseOldFormat(nullptr, "4 loam 25 35 0.0001 300 7 whatever", 1);
    EXPECT_EQ(soil.Code, 4);
    EXPECT_EQ(soil.Name, "loam");
    EXPECT_EQ(soil.ksat_topmodel, 0.0001);
    EXPECT_EQ(soil.suction, 300);
    EXPECT_EQ(soil.LayerCount, 0);
    EXPECT_EQ(soil.Method, 0);
}

TEST(SoilTableReader, EmptyTableAndMixedFormats) {
    const TableRead empty = ReadTableText("[soil_table]\n0 no soil types\n");
    ASSERT_EQ(empty.code, 0);
    ASSERT_EQ(empty.table.size(), 1u);
    EXPECT_EQ(empty.table[0].Code, 0);

    const TableRead mixed = ReadTableText(
        "[soil_table]\n2\n"
        "1 loam 25 35 0.0001 300 1 0.45 0.05 2.0 1.5 10 0.2 1000 0.5\n"
        "2 deep {method = MultipleHorizons; layers = 4 6; ksat = 1e-5 1e-6; theta_sat = 0.4; theta_res = 0.05;\n"
        "        alpha = 1.5; Par_n = 1.4; thickness = 0.1 0.3;}\n");
    ASSERT_EQ(mixed.code, 0);
    ASSERT_EQ(mixed.table.size(), 3u);
    EXPECT_EQ(mixed.table[1].Method, 1);
    EXPECT_EQ(mixed.table[2].Method, 0);
    EXPECT_EQ(mixed.table[2].LayerCount, 10);
    EXPECT_DOUBLE_EQ(mixed.table[2].TotalDepth, 2.2);
}

TEST(SoilTableReader, HorizonListsAndSubstringKeys) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<double> ksat;
    };
    const Case cases[] = {
        {"two numbers", TwoHorizons("1e-5 2e-6;"), {1e-5, 1e-5, 1e-5, 1e-5, 2e-6, 2e-6}},
        // A number directly before the ";" ends the text: later horizons repeat it.
        {"repeated", TwoHorizons("1e-5;"), {1e-5, 1e-5, 1e-5, 1e-5, 1e-5, 1e-5}},
        {"tab", TwoHorizons("1e-5\t2e-6;"), {1e-5, 1e-5, 1e-5, 1e-5, 2e-6, 2e-6}},
        // The last "ksat" of the entry is the one in "ksat_topmodel".
        {"ksat_topmodel after ksat", TwoHorizons("1e-5 2e-6;", " ksat_topmodel = 3e-4;"),
         {3e-4, 3e-4, 3e-4, 3e-4, 3e-4, 3e-4}},
    };
    for (const auto& c : cases) {
        const TableRead r = ReadTableText(c.text);
        ASSERT_EQ(r.code, 0) << c.name;
        ExpectList(r.table[1].ksat, c.ksat, c.name);
    }
    // A blank before the ";" leaves a read that finds nothing: 0, which a
    // residual water content may be and a conductivity may not.
    for (const char* list : {"0.05 ;", "0.05,0.04;"}) {
        SCOPED_TRACE(list);
        std::string text = TwoHorizons("1e-5;");
        text.replace(text.find("theta_res = 0.05;"), 17, std::string("theta_res = ") + list);
        const TableRead r = ReadTableText(text);
        ASSERT_EQ(r.code, 0);
        ExpectList(r.table[1].theta_res, {0.05, 0.05, 0.05, 0.05, 0, 0}, list);
        const TableRead k = ReadTableText(TwoHorizons(std::string("1e-5") + (list + 4)));
        EXPECT_EQ(k.code, 29);
        EXPECT_TRUE(k.HasEntry(DiagError, "layer 4: ksat (here 0) must lie above 0 and at most 1 m/s"));
    }
    // The single key "ksat_topmodel" is found by its own name either way.
    const TableRead r = ReadTableText(TwoHorizons("1e-5 2e-6;", " ksat_topmodel = 3e-4;"));
    EXPECT_EQ(r.table[1].ksat_topmodel, 3e-4);
}

TEST(SoilTableReader, MalformedInputIsRefused) {
    const std::string good = "1 loam 25 35 0.0001 300 1 0.45 0.05 2.0 1.5 10 0.2 1000 0.5\n";
    const std::string longName(200, 'n');
    struct Case {
        const char* name;
        std::string text;
        int code;
        std::vector<std::string> fatals;  // every FATAL entry, in order
        std::string error;                // part of the ERROR entry before them, or empty
    };
    auto oneLine = [](const std::string& entry) { return "[soil_table]\n1\n" + entry; };
    auto brace = [](const std::string& entry) { return "[soil_table]\n1\n" + entry; };
    const std::string b = "5 bad {method = MultipleHorizons; layers = 2; ksat = 1e-5; theta_sat = 0.4; "
                          "theta_res = 0.05; alpha = 2; Par_n = 1.5; thickness = 0.1;";
    auto braceFatal = [](const std::string& entry) {
        return "Soil table code 5: some values could not be read\n" + entry;
    };
    auto lineFatal = [](int code, const std::string& entry) {
        return "soil table code " + std::to_string(code) + ": some values could not be read\n" + entry;
    };

    const std::vector<Case> cases = {
        {"section missing", "[other]\n1\n", 17, {"error in control file, [soil_table]; (EOF)not found!"}, ""},
        {"count not a number", "[soil_table]\nabc\n", 17,
         {"error in control file, number of soil types in [soil_table]; defaultsnot found!"}, ""},
        {"negative count", "[soil_table]\n-2\n", 17,
         {"error in control file, number of soil types in [soil_table] (here -2) must be between 0 and 2147483647"},
         ""},
        {"count too large", "[soil_table]\n99999999999\n", 17,
         {"error in control file, number of soil types in [soil_table] (here 99999999999) must be between 0 and "
          "2147483647"},
         ""},
        {"file ends before the entries", "[soil_table]\n2\n" + good, 17,
         {"error in control file, soil type 2 of 2 in [soil_table]; defaultsnot found!"}, ""},
        {"brace not closed", brace("4 x {method = MultipleHorizons; layers = 2;\n"), 29,
         {"Soil table code 4: some values could not be read\n4 x {method = MultipleHorizons; layers = 2;\n"},
         "has no closing \"}\""},
        {"method unknown", brace("5 odd { method = Other; }\n"), 29,
         {"soil table definition method unknown 5 odd { method = Other; }\n"}, ""},
        {"method only on the first line", brace("5 odd method = Other;\n layers = 2;\n}\n"), 29,
         {"soil table definition method unknown 5 odd method = Other;\n layers = 2;\n}\n"}, ""},
        {"required key missing", brace("5 bad {method = MultipleHorizons; layers = 2; ksat = 1e-5; theta_sat = 0.4; "
                                       "theta_res = 0.05; Par_n = 1.5; thickness = 0.1;}\n"),
         29,
         {braceFatal("5 bad {method = MultipleHorizons; layers = 2; ksat = 1e-5; theta_sat = 0.4; theta_res = 0.05; "
                     "Par_n = 1.5; thickness = 0.1;}\n")},
         "the key \"alpha\" is missing"},
        {"layers missing", brace("5 bad {method = MultipleHorizons; ksat = 1e-5;}\n"), 29,
         {braceFatal("5 bad {method = MultipleHorizons; ksat = 1e-5;}\n")}, "the key \"layers\" is missing"},
        {"horizon without layers", brace("5 bad {method = MultipleHorizons; layers = 3,2; ksat = 1e-5;}\n"), 29,
         {braceFatal("5 bad {method = MultipleHorizons; layers = 3,2; ksat = 1e-5;}\n")},
         "horizon 2 must have at least one layer (here 0)"},
        {"too many layers", brace("5 bad {method = MultipleHorizons; layers = 2000000000 2000000000;}\n"), 29,
         {braceFatal("5 bad {method = MultipleHorizons; layers = 2000000000 2000000000;}\n")},
         "more than 1000 layers"},
        {"single value not a number", brace(b + " maxratio = abc;}\n"), 29,
         {braceFatal(b + " maxratio = abc;}\n")}, "the value of \"maxratio\" is not a number"},
        {"list value not a number", brace(b + " Par_tau = x;}\n"), 29, {braceFatal(b + " Par_tau = x;}\n")},
         "the value of \"Par_tau\" could not be read"},
        {"infinite value", brace(b + " maxratio = inf;}\n"), 29, {braceFatal(b + " maxratio = inf;}\n")},
         "the value of \"maxratio\" is not a number"},
        {"zeroed horizon", brace("5 bad {method = MultipleHorizons; layers = 1 1; ksat = 1e-5; theta_sat = 0.4 ; "
                                 "theta_res = 0.05; alpha = 2; Par_n = 1.5; thickness = 0.1;}\n"),
         29,
         {braceFatal("5 bad {method = MultipleHorizons; layers = 1 1; ksat = 1e-5; theta_sat = 0.4 ; "
                     "theta_res = 0.05; alpha = 2; Par_n = 1.5; thickness = 0.1;}\n")},
         "layer 2: theta_sat (here 0) must be greater than theta_res (here 0.05)"},
        {"n of 1 in a brace entry",
         brace("5 bad {method = MultipleHorizons; layers = 2; ksat = 1e-5; theta_sat = 0.4; "
               "theta_res = 0.05; alpha = 2; Par_n = 1; thickness = 0.1;}\n"),
         29,
         {braceFatal("5 bad {method = MultipleHorizons; layers = 2; ksat = 1e-5; theta_sat = 0.4; "
                     "theta_res = 0.05; alpha = 2; Par_n = 1; thickness = 0.1;}\n")},
         "layer 1: the van Genuchten parameters n (here 1) and m (here 0) must be > 0"},
        {"negative recession", brace(b + " k_recession = -0.5;}\n"), 29,
         {braceFatal(b + " k_recession = -0.5;}\n")}, "layer 1: k_recession (here -0.5) must lie above 0"},
        {"zero thickness scaling", brace(b + " ThicknessScaling = 0;}\n"), 29,
         {braceFatal(b + " ThicknessScaling = 0;}\n")}, "layer 1: the thickness (here 0 m) must be > 0"},
        {"grain sizes unreadable", brace(b + " GrainSizeDist = 0.5 0.5;}\n"), 29,
         {braceFatal(b + " GrainSizeDist = 0.5 0.5;}\n")}, "the seven fractions of \"GrainSizeDist\""},
        {"no sand", brace(b + " GrainSizeDist = 0 0.5 0.5 0 0 0 0;}\n"), 29,
         {"Grainsize distribution: fraction of sand must be > 0 \nsoil type: 5\n" + b +
              " GrainSizeDist = 0 0.5 0.5 0 0 0 0;}\n",
          braceFatal(b + " GrainSizeDist = 0 0.5 0.5 0 0 0 0;}\n")},
         ""},
        {"negative fraction", brace(b + " GrainSizeDist = 0.5 0.6 -0.1 0 0 0 0;}\n"), 29,
         {"Grainsize distribution: all grain size fractions must be >= 0 (sand must be >0)\nsoil type: 5\n" + b +
              " GrainSizeDist = 0.5 0.6 -0.1 0 0 0 0;}\n",
          braceFatal(b + " GrainSizeDist = 0.5 0.6 -0.1 0 0 0 0;}\n")},
         ""},
        {"fractions do not sum to 1", brace(b + " GrainSizeDist = 0.5 0.3 0.3 0 0 0 0;}\n"), 29,
         {"Grainsize distribution: sum of all fractions (sand, silt, clay, stones1..4) must be 1.0\n soil type: 5\n" +
              b + " GrainSizeDist = 0.5 0.3 0.3 0 0 0 0;}\n",
          braceFatal(b + " GrainSizeDist = 0.5 0.3 0.3 0 0 0 0;}\n")},
         ""},
        {"one-line method 2", oneLine("1 loam 25 35 0.0001 300 2 0.45 0.05 2.0 1.5 10 0.2 1000 0.5\n"), 30,
         {"error reading soil parameters for soil type 1: only old method 1 (van-Genuchten Parameter) is supported "
          "in Ruvex newer than 6.4.\nUse the new soil type table format instead.",
          lineFatal(1, "1 loam 25 35 0.0001 300 2 0.45 0.05 2.0 1.5 10 0.2 1000 0.5\n")},
         ""},
        {"one-line thin layers", oneLine("1 loam 25 35 0.0001 300 1 0.45 0.05 2.0 1.5 10 0.09 1000 0.5\n"), 30,
         {"\nerror soil type 1:\nthickness of single layers (here 0.09 m)\nhas to be at minimum twice as thick as "
          "the\nthickness of the top layer (here 0.05 m)",
          lineFatal(1, "1 loam 25 35 0.0001 300 1 0.45 0.05 2.0 1.5 10 0.09 1000 0.5\n")},
         ""},
        {"one-line unreadable value", oneLine("1 loam 25 35 0.0001 300 1 0.4x 0.05 2.0 1.5 10 0.2 1000 0.5\n"), 30,
         {lineFatal(1, "1 loam 25 35 0.0001 300 1 0.4x 0.05 2.0 1.5 10 0.2 1000 0.5\n")},
         "the value of theta_sat (\"0.4x\") is not a number"},
        {"one-line unreadable method", oneLine("1 loam 25 35 0.0001 300 one 0.45 0.05 2.0 1.5 10 0.2 1000 0.5\n"), 30,
         {lineFatal(1, "1 loam 25 35 0.0001 300 one 0.45 0.05 2.0 1.5 10 0.2 1000 0.5\n")},
         "the value of the method (\"one\") is not an integer"},
        {"one-line layer count with decimals",
         oneLine("1 loam 25 35 0.0001 300 1 0.45 0.05 2.0 1.5 10.0 0.2 1000 0.5\n"), 30,
         {lineFatal(1, "1 loam 25 35 0.0001 300 1 0.45 0.05 2.0 1.5 10.0 0.2 1000 0.5\n")},
         "the value of the number of layers (\"10.0\") is not an integer"},
        {"one-line values missing", oneLine("1 loam 25 35 0.0001 300 1 0.45 0.05 2.0\n"), 30,
         {lineFatal(1, "1 loam 25 35 0.0001 300 1 0.45 0.05 2.0\n")}, "the value of n is missing"},
        {"one-line n of 1", oneLine("1 loam 25 35 0.0001 300 1 0.45 0.05 2.0 1 10 0.2 1000 0.5\n"), 30,
         {lineFatal(1, "1 loam 25 35 0.0001 300 1 0.45 0.05 2.0 1 10 0.2 1000 0.5\n")},
         "the van Genuchten parameter n (here 1) must be greater than 1"},
        {"one-line n below 1", oneLine("1 loam 25 35 0.0001 300 1 0.45 0.05 2.0 0.8 10 0.2 1000 0.5\n"), 30,
         {lineFatal(1, "1 loam 25 35 0.0001 300 1 0.45 0.05 2.0 0.8 10 0.2 1000 0.5\n")},
         "the van Genuchten parameter n (here 0.8) must be greater than 1"},
        {"one-line single layer", oneLine("1 loam 25 35 0.0001 300 1 0.45 0.05 2.0 1.5 1 0.2 1000 0.5\n"), 30,
         {lineFatal(1, "1 loam 25 35 0.0001 300 1 0.45 0.05 2.0 1.5 1 0.2 1000 0.5\n")},
         "at least 2 layers are needed (here 1)"},
        {"one-line negative layers", oneLine("1 loam 25 35 0.0001 300 1 0.45 0.05 2.0 1.5 -3 0.2 1000 0.5\n"), 30,
         {lineFatal(1, "1 loam 25 35 0.0001 300 1 0.45 0.05 2.0 1.5 -3 0.2 1000 0.5\n")},
         "at least 2 layers are needed (here -3)"},
        {"one-line too many layers", oneLine("1 loam 25 35 0.0001 300 1 0.45 0.05 2.0 1.5 5000 0.2 1000 0.5\n"), 30,
         {lineFatal(1, "1 loam 25 35 0.0001 300 1 0.45 0.05 2.0 1.5 5000 0.2 1000 0.5\n")},
         "more than 1000 layers"},
        {"one-line negative reduction", oneLine("1 loam 25 35 0.0001 300 1 0.45 0.05 2.0 1.5 10 0.2 1000 -0.5\n"),
         30, {lineFatal(1, "1 loam 25 35 0.0001 300 1 0.45 0.05 2.0 1.5 10 0.2 1000 -0.5\n")},
         "the conductivity reduction (here -0.5) must lie above 0"},
        {"one-line long name", oneLine("1 " + longName + " 25 35 0.0001 300 1 0.45 0.05 2.0 1.5 10 0.2 1000 0.5\n"),
         30, {lineFatal(1, "1 " + longName + " 25 35 0.0001 300 1 0.45 0.05 2.0 1.5 10 0.2 1000 0.5\n")},
         "the name is longer than 199 characters"},
        // A blank line is a one-line entry without values; the code shown is
        // the entry's position.
        {"blank line", "[soil_table]\n2\n" + good + "\n", 30, {lineFatal(2, "\n")},
         "the value of the soil code is missing"},
        {"unequal layer counts",
         "[soil_table]\n2\n" + good + "2 loam 25 35 0.0001 300 1 0.45 0.05 2.0 1.5 12 0.2 1000 0.5\n", 30,
         {"the numbers of soil layers has to be equal for all soil types\n(here: soil type 2: 12 layers, but soil "
          "type 1: 10 layers)\n\n"},
         ""},
    };
    for (const auto& c : cases) {
        const TableRead r = ReadTableText(c.text);
        EXPECT_EQ(r.code, c.code) << c.name;
        std::vector<std::string> expected;
        for (const auto& f : c.fatals) expected.push_back(DiagnosticsWriter::Escape(f));
        EXPECT_EQ(r.Entries(DiagFatal), expected) << c.name;
        if (!c.error.empty()) {
            EXPECT_TRUE(r.HasEntry(DiagError, c.error)) << c.name;
        }
    }
}

TEST(SoilTableReader, TableStaysWithTheCallerAfterAFailure) {
    const TableRead r = ReadTableText("[soil_table]\n3\n1 loam 25 35 0.0001 300 1 0.45 0.05 2.0 1.5 10 0.2 1000 0.5\n"
                                      "2 loam 25 35 0.0001 300 1 0.45 0.05 2.0 1.5 12 0.2 1000 0.5\n");
    EXPECT_EQ(r.code, 30);
    ASSERT_EQ(r.table.size(), 3u);
    EXPECT_EQ(r.table[0].Code, 3);
    EXPECT_EQ(r.table[1].LayerCount, 10);
    EXPECT_EQ(r.table[2].LayerCount, 12);
}
