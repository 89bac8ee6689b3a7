#include "framework/modelobject.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "framework/diagnostics_writer.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

// A model object reading a control file with the given text.
struct Fixture {
    TempDir dir;
    std::ostringstream console;
    DiagnosticsWriter writer{dir.file("d.xml"), DiagDebug, console};
    modelobject object;
    explicit Fixture(const std::string& controlText) : object(&writer, dir.file("control.txt")) {
        WriteFile(dir.file("control.txt"), controlText);
        object.ModuleName = "snow_model";
        object.ControlFile = std::fopen(object.ControlFilePath.c_str(), "r");
    }
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

TEST(FindSection, FirstWordOfALineOnly) {
    Fixture f("[a]\n1\nvalue [b]\n  [b]  trailing text\n2\n[last]");
    EXPECT_TRUE(f.object.FindSection("[b]", true));
    int v = 0;
    f.object.ReadValue(f.object.ControlFile, "%d", &v, "value");
    EXPECT_EQ(v, 2);
    EXPECT_TRUE(f.object.FindSection("[a]", true));  // rewinds
    // a header on a last line without line end counts as missing
    EXPECT_FALSE(f.object.FindSection("[last]", false));
    EXPECT_FALSE(f.object.FindSection("[missing]", false));
    EXPECT_EQ(ThrownCode([&] { f.object.FindSection("[missing]", true); }), 17);
    const auto xml = f.xml();
    EXPECT_NE(xml.find("error in control file, [missing]; (EOF)not found!"), std::string::npos) << xml;
}

TEST(ReadValue, StoresValueAndKeepsRestOfLine) {
    Fixture f("12   free text here\n3.5e2 x\n7 8 pair\n");
    int i = 0;
    double d = 0;
    long a = 0, b = 0;
    std::string rest;
    EXPECT_EQ(f.object.ReadValue(f.object.ControlFile, "%d", &i, "count", &rest), 1);
    EXPECT_EQ(i, 12);
    EXPECT_EQ(rest, "   free text here\n");
    f.object.ReadValue(f.object.ControlFile, "%lf", &d, "value", &rest);
    EXPECT_EQ(d, 350.0);
    EXPECT_EQ(f.object.ReadTwoValues(f.object.ControlFile, "%ld %ld", &a, &b, "pair", &rest), 2);
    EXPECT_EQ(a, 7);
    EXPECT_EQ(b, 8);
}

TEST(ReadValue, UnreadableValueEchoesWordAndFails17) {
    Fixture f("abc def\n");
    int i = 0;
    EXPECT_EQ(ThrownCode([&] { f.object.ReadValue(f.object.ControlFile, "%d", &i, "number of layers"); }), 17);
    auto lines = DiagLines(f.xml());
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[1].description, "--&gt; In .;  Next line in Ruvex control file: ");
    EXPECT_EQ(lines[2].description, "abc");
    EXPECT_EQ(lines[3].level, 0);
    EXPECT_EQ(lines[3].description, "error in control file, number of layers; snow_modelnot found!");
}

// Every integer of the control file is checked against the range of its
// target: no value wraps around (4294967320 read as an int is not 24).
TEST(ReadValue, IntegersBeyondTheirRangeFail17NamingTheValue) {
    struct Case {
        const char* text;
        int code;
        long long expected;  // when read
        const char* message;
    };
    const Case intCases[] = {
        {"4294967320\n", 17, 0, "count; snow_model: the value 4294967320 lies outside -2147483648 to 2147483647"},
        {"2147483648\n", 17, 0, "the value 2147483648 lies outside"},
        {"-2147483649\n", 17, 0, "the value -2147483649 lies outside"},
        {"99999999999999999999999999\n", 17, 0, "the value 99999999999999999999999999 lies outside"},
        {"2147483647 rest\n", 0, 2147483647, ""},
        {"  -2147483648\n", 0, -2147483648LL, ""},
        {"+12 # comment\n", 0, 12, ""},
        {"+12abc\n", 17, 0, "the value +12abc is not a whole number"},
        {"6o\n", 17, 0, "count; snow_model: the value 6o is not a whole number"},
    };
    for (const Case& c : intCases) {
        SCOPED_TRACE(c.text);
        Fixture f(c.text);
        int value = -1;
        EXPECT_EQ(ThrownCode([&] { f.object.ReadValue(f.object.ControlFile, "%d", &value, "count"); }), c.code);
        if (c.code == 0) {
            EXPECT_EQ(value, c.expected);
        } else {
            EXPECT_NE(f.console.str().find(c.message), std::string::npos) << f.console.str();
        }
    }
    // Wider targets take wider values; a 64-bit target refuses only beyond 64 bits.
    Fixture f("4294967320\n9223372036854775808\n");
    long long wide = 0;
    f.object.ReadValue(f.object.ControlFile, "%lld", &wide, "wide");
    EXPECT_EQ(wide, 4294967320LL);
    EXPECT_EQ(ThrownCode([&] { f.object.ReadValue(f.object.ControlFile, "%lld", &wide, "wide"); }), 17);
    // The unreadable case keeps its echo.
    Fixture g("-x\n");
    int i = 0;
    EXPECT_EQ(ThrownCode([&] { g.object.ReadValue(g.object.ControlFile, "%d", &i, "count"); }), 17);
    EXPECT_NE(g.console.str().find("count; snow_modelnot found!"), std::string::npos);
}

TEST(ReadValue, FloatingPointValuesMustBeFinite) {
    for (const char* text : {"nan\n", "inf\n", "-Infinity\n", "1e999\n"}) {
        SCOPED_TRACE(text);
        Fixture f(text);
        double d = 0;
        EXPECT_EQ(ThrownCode([&] { f.object.ReadValue(f.object.ControlFile, "%lf", &d, "latitude"); }), 17);
        EXPECT_NE(f.console.str().find("latitude; snow_model: the value "), std::string::npos) << f.console.str();
        EXPECT_NE(f.console.str().find("is not a finite number"), std::string::npos) << f.console.str();
    }
    Fixture f("95\n");
    double d = 0;
    f.object.ReadValue(f.object.ControlFile, "%lf", &d, "latitude");
    EXPECT_EQ(ThrownCode([&] { f.object.RequireRange(d, -90, 90, "latitude"); }), 17);
    EXPECT_NE(f.console.str().find("the value 95 lies outside -90 to 90"), std::string::npos) << f.console.str();
}

// A number is a whole word: what "%lf" would read of "6o" or "3a-5" is no
// value. The entry names the file, the line, the description and the word.
TEST(ReadValue, NumbersAreWholeWords) {
    struct Case {
        const char* text;
        int code;
        double expected;
        const char* message;
    };
    const Case cases[] = {
        {"6 # six\n", 0, 6, ""},
        {"\n  -2.5e-3\trest\n", 0, -2.5e-3, ""},
        {"6o\n", 17, 0, "interval; snow_model: the value 6o is not a number"},
        {"3a-5\n", 17, 0, "the value 3a-5 is not a number"},
        {"1e\n", 17, 0, "the value 1e is not a number"},
        {"1e\x80\x81-7\n", 17, 0, "is not a number"},
        {"0x\n", 17, 0, "is not a number"},
        {"x6\n", 17, 0, "interval; snow_modelnot found!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Fixture f(std::string("# line 1\n") + c.text);
        modelobject::ReadRestOfLine(f.object.ControlFile, nullptr);
        double d = -1;
        EXPECT_EQ(ThrownCode([&] { f.object.ReadValue(f.object.ControlFile, "%lf", &d, "interval"); }), c.code);
        if (c.code == 0) {
            EXPECT_EQ(d, c.expected);
        } else {
            EXPECT_NE(f.console.str().find(c.message), std::string::npos) << f.console.str();
        }
    }
    // The line is that of the word in the file, after blank lines too.
    Fixture f("1\n\n\n  2x\n");
    double a = 0, b = 0;
    f.object.ReadValue(f.object.ControlFile, "%lf", &a, "first");
    EXPECT_EQ(ThrownCode([&] { f.object.ReadValue(f.object.ControlFile, "%lf", &b, "second"); }), 17);
    EXPECT_NE(f.console.str().find(", line 4)"), std::string::npos) << f.console.str();
    // The range reader names the range.
    Fixture g("1e300\n");
    EXPECT_EQ(ThrownCode([&] { g.object.ReadValueInRange(g.object.ControlFile, &a, -24, 24, "time shift"); }), 17);
    EXPECT_NE(g.console.str().find("time shift; snow_model: the value 1e300 lies outside -24 to 24"),
              std::string::npos)
        << g.console.str();
}

TEST(ReadValue, WordsOfAnyLengthAndTheirLimit) {
    const std::string longWord(5000, 'x');
    Fixture f(longWord + " rest\n" + longWord + "\n");
    std::string word;
    f.object.ReadValue(f.object.ControlFile, "%s", &word, "file name");
    EXPECT_EQ(word, longWord);
    EXPECT_EQ(ThrownCode([&] { f.object.ReadValue(f.object.ControlFile, "%s", &word, "grid name", nullptr, 100); }),
              17);
}

TEST(CellStatistics, WeightedAccumulation) {
    Fixture f("");
    auto& o = f.object;
    double w, mn, mx, s, mean, sd;
    o.ResetCellStatistics(-9999);
    o.AddCellStatistics(5, 1);
    o.AddCellStatistics(-9999, 1);  // at or below threshold + 1: ignored
    o.AddCellStatistics(-9998, 1);
    o.GetCellStatistics(&w, &mn, &mx, &s, &mean, &sd);
    EXPECT_EQ(w, 1);
    EXPECT_EQ(mn, 5);
    EXPECT_EQ(mx, 5);
    EXPECT_EQ(mean, 5);
    EXPECT_EQ(sd, -9999);

    o.ResetCellStatistics(-9999);
    for (double v : {3.0, 7.0, 5.0}) o.AddCellStatistics(v, 0.5);
    o.GetCellStatistics(&w, &mn, &mx, &s, &mean, &sd);
    EXPECT_EQ(mn, 3);
    EXPECT_EQ(mx, 7);
    EXPECT_DOUBLE_EQ(w, 1.5);
    EXPECT_DOUBLE_EQ(mean, 5);
    EXPECT_EQ(sd, -9999);

    o.ResetCellStatistics(-9999);
    for (double v : {2.0, 4.0, 4.0, 4.0, 5.0, 5.0, 7.0, 9.0}) o.AddCellStatistics(v, 1);
    o.GetCellStatistics(&w, &mn, &mx, &s, &mean, &sd);
    EXPECT_DOUBLE_EQ(mean, 5);
    EXPECT_NEAR(sd, std::sqrt(32.0 / 7.0), 1e-12);

    o.ResetCellStatistics(-9999);
    o.GetCellStatistics(&w, &mn, &mx, &s, &mean, &sd);
    EXPECT_EQ(mean, -9999);
}

TEST(DateKey, OrdersDates) {
    EXPECT_EQ(DateKey(2016, 12, 31, 24), 2016 * 93000 + 12 * 7750 + 31 * 250 + 24);
    EXPECT_GT(DateKey(2016, 12, 31, 24), DateKey(2016, 12, 31, 23));
    EXPECT_GT(DateKey(2016, 12, 31, 24), DateKey(2016, 2, 29, 24));
    EXPECT_LT(DateKey(2016, 3, 5, 24), DateKey(2016, 3, 6, 1));
    EXPECT_LT(DateKey(2016, 12, 31, 24), DateKey(2017, 1, 1, 0));
    Fixture f("");
    f.object.SetEndDate(2016, 12, 31, 24);
    EXPECT_EQ(f.object.EndKey, DateKey(2016, 12, 31, 24));
}

TEST(ModelObject, InterpolateAndErrors) {
    Fixture f("");
    EXPECT_DOUBLE_EQ(f.object.Interpolate(1, 10, 3, 20, 2), 15);
    EXPECT_DOUBLE_EQ(f.object.Interpolate(1, 10, 1, 20, 2), 10);
    EXPECT_EQ(ThrownCode([&] { f.object.WriteError("out.asc", 3); }), 18);
    EXPECT_EQ(ThrownCode([&] { f.object.ReadError("in.asc", 4); }), 19);
    f.object.DeleteModule();
    const auto xml = f.xml();
    EXPECT_NE(xml.find("write error out.asc ! (3)"), std::string::npos);
    EXPECT_NE(xml.find("read error in.asc ! (4)"), std::string::npos);
    EXPECT_NE(xml.find("deleting module snow_model"), std::string::npos);
}
