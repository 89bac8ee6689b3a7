#include "parameters/multilayer_landuse.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <vector>

#include "framework/diagnostics_writer.h"
#include "framework/modelobject.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

// A set-up reader on a control file written into a fresh directory.
struct Reader {
    TempDir dir;
    std::ostringstream console;
    DiagnosticsWriter writer{dir.file("d.xml"), DiagDebug, console};
    modelobject object{&writer, dir.file("control.txt")};
    FILE* stream = nullptr;
    std::vector<MultilayerLanduseType> table;

    explicit Reader(const std::string& controlText) {
        WriteFile(dir.file("control.txt"), controlText);
        object.ModuleName = "defaults";
        stream = std::fopen(object.ControlFilePath.c_str(), "r");
    }
    ~Reader() {
        if (stream) std::fclose(stream);
    }
    // The thrown code, 0 when reading succeeds.
    int Read() {
        try {
            ReadMultilayerLanduseTable(object, stream, 2, table);
        } catch (int code) {
            return code;
        }
        return 0;
    }
    std::vector<DiagLine> Lines() {
        writer.Close();
        return DiagLines(ReadFile(dir.file("d.xml")));
    }
    std::vector<std::string> Entries(int level) {
        std::vector<std::string> found;
        for (const DiagLine& line : Lines()) {
            if (line.level == level) found.push_back(line.description);
        }
        return found;
    }
};

std::string Section(const std::string& count, const std::string& entries) {
    return "[model_time]\n1 1 2001\n[multilayer_landuse]\n" + count + "   number of multilayer land uses\n" +
           entries;
}

}  // namespace

TEST(MultilayerLanduseTable, WithoutSectionThereIsNoTableAndNoMessage) {
    Reader r("[model_time]\n1 1 2001\n[landuse_table]\n0\n");
    EXPECT_EQ(r.Read(), 0);
    EXPECT_TRUE(r.table.empty());
    EXPECT_EQ(r.object.ControlFile, nullptr);  // the lent stream is given back
    for (const DiagLine& line : r.Lines()) EXPECT_GT(line.level, DiagWarning) << line.description;
}

TEST(MultilayerLanduseTable, CountZeroGivesOnlyEntryZero) {
    Reader r(Section("0", "[landuse_table]\n"));
    EXPECT_EQ(r.Read(), 0);
    ASSERT_EQ(r.table.size(), 1u);
    EXPECT_EQ(r.table[0].Code, 0);
}

TEST(MultilayerLanduseTable, ReadsEveryFieldOfEveryEntry) {
    Reader r(ReadFile(TestDataPath("parameters/multilayer_landuse.ctl")));
    ASSERT_EQ(r.Read(), 0);
    ASSERT_EQ(r.table.size(), 4u);

    const MultilayerLanduseType& zero = r.table[0];
    EXPECT_EQ(zero.Code, 3);
    EXPECT_EQ(zero.LayerCount, 1);
    EXPECT_TRUE(zero.LayerCodes.empty());

    struct Expected {
        int32_t code;
        const char* name;
        std::vector<int32_t> layers;  // 0..L
        double kExtinct;
        double laiScale;
    };
    const Expected expected[] = {
        // one line, both light keys absent
        {101, "mixed_forest", {3, 10, 11, 12}, 0.3, 10},
        // blanks around the commas, a piece that is no number, a decimal part
        {102, "orchard", {3, 10, 11, 13}, 0.45, 7.5},
        // name directly before "{", absent layers, a light value that is no
        // number, a last value without ";"
        {103, "sparse", {3, 5, -9999, -9999}, 0, 12},
    };
    for (size_t j = 1; j <= 3; ++j) {
        SCOPED_TRACE(j);
        const MultilayerLanduseType& m = r.table[j];
        const Expected& e = expected[j - 1];
        EXPECT_EQ(m.Code, e.code);
        EXPECT_EQ(m.CodeCopy, e.code);
        EXPECT_EQ(m.Name, e.name);
        EXPECT_EQ(m.LayerCount, 3);
        EXPECT_EQ(m.LayerCodes, e.layers);
        EXPECT_EQ(m.LayerCodesAsRead, e.layers);
        EXPECT_DOUBLE_EQ(m.k_extinct, e.kExtinct);
        EXPECT_DOUBLE_EQ(m.LAI_scale, e.laiScale);
    }
    // The stream stands after the last entry.
    std::string word;
    ASSERT_TRUE(modelobject::ReadWord(r.stream, &word));
    EXPECT_EQ(word, "[landuse_table]");
}

TEST(MultilayerLanduseTable, ConstructorsGiveTheDefaults) {
    const MultilayerLanduseType plain;
    const MultilayerLanduseType coded(7);
    EXPECT_EQ(plain.Code, 0);
    EXPECT_EQ(coded.Code, 7);
    for (const MultilayerLanduseType* m : {&plain, &coded}) {
        EXPECT_EQ(m->LayerCount, 1);
        EXPECT_EQ(m->CodeCopy, 0);
        EXPECT_TRUE(m->Name.empty());
        EXPECT_TRUE(m->LayerCodes.empty());
        EXPECT_DOUBLE_EQ(m->k_extinct, 0.3);
        EXPECT_DOUBLE_EQ(m->LAI_scale, 10);
    }
}

TEST(MultilayerLanduseTable, KeysMatchAsPlainSubstrings) {
    // The first occurrence counts, and a key inside a longer one matches it.
    MultilayerLanduseType m(1);
    m.ParseEntry(nullptr, "4 mix {Landuse_Layers = 1, 2; k_extinct_top = 0.6; k_extinct = 0.2; LAI_scale=3e1;}");
    EXPECT_DOUBLE_EQ(m.k_extinct, 0.6);
    EXPECT_DOUBLE_EQ(m.LAI_scale, 30);
    EXPECT_EQ(m.LayerCodes, (std::vector<int32_t>{2, 1, 2}));
}

TEST(MultilayerLanduseTable, ReadLanduseLayersSplitsAtCommasAndSemicolons) {
    MultilayerLanduseType m;
    std::vector<int32_t> codes;
    int32_t count = -1;
    EXPECT_TRUE(m.ReadLanduseLayers("1 a {Landuse_Layers = +7,,  8x, -3 ; }", "Landuse_Layers", codes, count));
    EXPECT_EQ(count, 3);
    EXPECT_EQ(codes, (std::vector<int32_t>{3, 7, 8, -3}));
    // A code beyond the integer range is not taken for a smaller number.
    EXPECT_FALSE(m.ReadLanduseLayers("1 a {Landuse_Layers = 7, 99999999999;}", "Landuse_Layers", codes, count));
}

// Every refused section or entry: the code and the FATAL entry.
TEST(MultilayerLanduseTable, RefusedInputEndsWithItsCode) {
    const std::string rule110 = ": some parameters could not be read\n";
    const std::string name200(200, 'n');
    struct Case {
        const char* what;
        std::string control;
        int code;
        std::string fatal;  // the last FATAL entry, unescaped
    };
    const std::vector<Case> cases = {
        {"key on the second line of its entry",
         Section("2", "1 mix\n{Landuse_Layers = 1, 2;}\n2 other {Landuse_Layers = 1, 2;}\n"), 112,
         "FATAL: multiple landuse table: parameter Landuse_Layers not found 1 mix\n"},
        {"blank line in place of an entry", Section("1", "\n1 mix {Landuse_Layers = 1, 2;}\n"), 112,
         "FATAL: multiple landuse table: parameter Landuse_Layers not found \n"},
        {"no layer code at all", Section("1", "1 mix {Landuse_Layers = forest, meadow;}\n"), 110,
         "FATAL: multilayer_landuse_table code 1" + rule110 + "1 mix {Landuse_Layers = forest, meadow;}\n"},
        {"empty layer list", Section("1", "5 mix {Landuse_Layers = ;}\n"), 110,
         "FATAL: multilayer_landuse_table code 5" + rule110 + "5 mix {Landuse_Layers = ;}\n"},
        {"key without \"=\"", Section("1", "5 mix {Landuse_Layers 1, 2;}\n"), 110,
         "FATAL: multilayer_landuse_table code 5" + rule110 + "5 mix {Landuse_Layers 1, 2;}\n"},
        {"light key without \"=\"", Section("1", "5 mix {Landuse_Layers = 1; LAI_scale}\n"), 110,
         "FATAL: multilayer_landuse_table code 5" + rule110 + "5 mix {Landuse_Layers = 1; LAI_scale}\n"},
        {"layer code out of range", Section("1", "5 mix {Landuse_Layers = 1, 4294967297;}\n"), 110,
         "FATAL: multilayer_landuse_table code 5" + rule110 + "5 mix {Landuse_Layers = 1, 4294967297;}\n"},
        {"entry without a code", Section("2", "1 a {Landuse_Layers = 1;}\nmix {Landuse_Layers = 1;}\n"), 110,
         "FATAL: multilayer_landuse_table code 2" + rule110 + "mix {Landuse_Layers = 1;}\n"},
        {"entry without a name", Section("1", "5 {Landuse_Layers = 1;}\n"), 110,
         "FATAL: multilayer_landuse_table code 5" + rule110 + "5 {Landuse_Layers = 1;}\n"},
        {"name longer than 199 characters", Section("1", "5 " + name200 + " {Landuse_Layers = 1;}\n"), 110,
         "FATAL: multilayer_landuse_table code 5" + rule110 + "5 " + name200 + " {Landuse_Layers = 1;}\n"},
        {"file ends before the announced entries", Section("3", "1 a {Landuse_Layers = 1;}\n"), 110,
         "FATAL: multilayer_landuse_table code 2" + rule110},
        {"next section before the announced entries",
         Section("2", "1 a {Landuse_Layers = 1;}\n[landuse_table]\n1\n"), 110,
         "FATAL: multilayer_landuse_table code 2" + rule110 + "[landuse_table]\n"},
        {"file ends before the closing brace", Section("1", "1 a {Landuse_Layers = 1;\n k_extinct = 0.4;\n"), 110,
         "FATAL: multilayer_landuse_table code 1" + rule110 + "1 a {Landuse_Layers = 1;\n k_extinct = 0.4;\n"},
        {"next section before the closing brace",
         Section("1", "1 a {Landuse_Layers = 1;\n[landuse_table]\n1\n5 {method = x;}\n"), 110,
         "FATAL: multilayer_landuse_table code 1" + rule110 + "1 a {Landuse_Layers = 1;\n"},
        {"a huge count with one entry", Section("2147483647", "1 a {Landuse_Layers = 1;}\n"), 110,
         "FATAL: multilayer_landuse_table code 2" + rule110},
        {"two and three layers",
         Section("2", "7 a {Landuse_Layers = 1, 2;}\n9 b {Landuse_Layers = 1, 2, 3;}\n"), 111,
         "FATAL: \nThe numbers of landuse layers has to be equal for all multilayer-landuse types\n(here: "
         "multilayer-landuse type 9: 3 layers, but multilayer-landuse type 7: 2 layers)\n\n"},
        {"negative count", Section("-1", ""), 17,
         "FATAL: error in control file, number of multilayer landuse types in [multilayer_landuse] (here -1) must "
         "be between 0 and 2147483647"},
        {"unreadable count", Section("three", ""), 17,
         "FATAL: error in control file, number of multilayer landuse types in [multilayer_landuse]; defaultsnot "
         "found!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Reader r(c.control);
        EXPECT_EQ(r.Read(), c.code);
        const auto fatal = r.Entries(DiagFatal);
        ASSERT_FALSE(fatal.empty());
        EXPECT_EQ(fatal.back(), DiagnosticsWriter::Escape(c.fatal.substr(7)));
        EXPECT_EQ(r.object.ControlFile, nullptr);
    }
}

TEST(MultilayerLanduseTable, ParseEntryRefusesTextWithoutTheLayerKey) {
    MultilayerLanduseType m(3);
    int code = 0;
    try {
        m.ParseEntry(nullptr, "3 mix {k_extinct = 0.4;}");
    } catch (int thrown) {
        code = thrown;
    }
    EXPECT_EQ(code, 112);
}
