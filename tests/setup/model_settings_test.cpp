// Model-wide sections: output control with its key lines, output list,
// coordinates, meteorological inputs, model time, radiation correction and
// sub-steps.

#include <string>
#include <vector>

#include "setup/defltuzr.h"
#include "setup/model_time.h"
#include "setup_fixture.h"

using namespace testsupport;

namespace {

// A control file of the model-wide sections; each piece can be replaced.
struct ControlText {
    std::string outputInterval = "[output_interval]\n24   log interval\n0\n1\n60\nWriteAsciiGrids = 1\n\n";
    std::string outputList = "[output_list]\n2\n3\n7\n";
    std::string coordinates = "[coordinates]\n47.5\n8.25\n15\n1\n";
    std::string meteoCount = "[meteo_data_count]\n2\n";
    std::string meteoNames = "[meteo_names]\ntemperature\nprecipitation\n";
    std::string modelTime = "[model_time]\n0\n1\n1\n2001\n24\n31\n12\n2002\n";
    std::string rest = "[radiation_correction]\n1 60\n";

    std::string Text() const {
        return outputInterval + outputList + coordinates + meteoCount + meteoNames + modelTime + rest;
    }
};

class ModelSettingsTest : public setuptest::SetupFixture {
protected:
    ModelSettingsTest() : Setup(&Status, Writer.get(), Dir.file("run.ctl"), nullptr, 200, 2, nullptr) {}

    int ReadOutput(const ControlText& control) {
        const std::string path = Write("run.ctl", control.Text());
        Setup.ControlFilePath = path;
        Received = ModelSettings{};
        return ThrownCode([&] { Setup.ReadOutputControl(path, Received); });
    }

    int ReadTime(const std::string& modelTime) {
        ControlText control;
        control.modelTime = modelTime;
        Setup.ControlFilePath = Write("run.ctl", control.Text());
        return ThrownCode([&] { Setup.ReadModelTime(); });
    }

    int Status = -1;
    defaultini Setup;
    ModelSettings Received;
};

TEST_F(ModelSettingsTest, ConstructorNamesTheModuleAndReportsSuccess) {
    EXPECT_EQ(Status, 0);
    EXPECT_EQ(Setup.ModuleName, "defaults");
    EXPECT_NE(ConsoleText().find("file defltuzr, compiled at "), std::string::npos);
}

TEST_F(ModelSettingsTest, ReadsOutputControlListCoordinatesAndMeteoNames) {
    ControlText control;
    control.outputInterval =
        "[output_interval]\n6\n1\n1\n30.5\n  WriteAsciiGrids = 1\n\tWriteDoubleGrids = 0\n"
        "InitialStateDirectory = /state/in\nDefaultOutputDirectory = out/ extra words\nWriteDoubleGrids = 2\n"
        " \t \nWriteAsciiGrids = 0\n";
    ASSERT_EQ(ReadOutput(control), 0) << ConsoleText();
    EXPECT_EQ(Received.LogInterval, 6);
    EXPECT_EQ(Received.SearchRadiusWarning, 1);
    EXPECT_EQ(Setup.OutputSwitch, 1);
    EXPECT_EQ(Received.MinToIntEnd, 30.5);
    // The key after the blank line is not read; a key given twice keeps its last value.
    EXPECT_TRUE(Received.WriteAsciiGrids);
    EXPECT_TRUE(Received.WriteDoubleGrids);
    EXPECT_EQ(Received.InitialStateDirectory, "/state/in");
    EXPECT_EQ(Received.DefaultOutputDirectory, "out/");
    EXPECT_TRUE(Setup.WriteAsciiGrids);
    EXPECT_TRUE(Setup.WriteDoubleGrids);
    EXPECT_EQ(Setup.InputDirectory, "/state/in");
    EXPECT_EQ(Setup.OutputDirectory, "out/");

    ASSERT_EQ(Received.OutputListCount, 2);
    ASSERT_NE(Received.OutputListCodes, nullptr);
    EXPECT_EQ(Received.OutputListCodes[1], 3);
    EXPECT_EQ(Received.OutputListCodes[2], 7);
    EXPECT_EQ(Received.Latitude, 47.5);
    EXPECT_EQ(Received.Longitude, 8.25);
    EXPECT_EQ(Received.ReferenceMeridian, 15);
    EXPECT_EQ(Received.TimeShift, 1);
    ASSERT_EQ(Received.MeteoInputCount, 2);
    ASSERT_NE(Received.MeteoNames, nullptr);
    EXPECT_EQ(Received.MeteoNames[1], "temperature");
    EXPECT_EQ(Received.MeteoNames[2], "precipitation");
    // The reader leaves no stream open and keeps the module name.
    EXPECT_EQ(Setup.ControlFile, nullptr);
    EXPECT_EQ(Setup.ModuleName, "defaults");
}

struct IntervalCase {
    const char* lines;  // lines 2 to 4 and what follows
    int warning;
    int outputSwitch;
    int outputSwitchRaw;
    double minToIntEnd;
    bool writeAscii;
};

TEST_F(ModelSettingsTest, OutputIntervalLinesAreNormalised) {
    const std::vector<IntervalCase> cases = {
        {"5\n5\n-60\n", 1, 0, 5, 0, false},
        {"0\n1\n30\n", 0, 1, 1, 30, false},
        {"-3   free text\n0 more text\n1440.5 text\n", 1, 0, 0, 1440.5, false},
        {"abc\n2\nx\n", 0, 0, 2, 0, false},
        {"1\n0\nnan\n", 1, 0, 0, 0, false},
        {"1\n99999999999\n0\n", 1, 0, 0, 0, false},
        {"1\n1\n0\nWriteAsciiGrids\n", 1, 1, 1, 0, false},
        {"1\n1\n0\nWriteAsciiGrids = yes\n", 1, 1, 1, 0, false},
        {"1\n1\n0\nWriteAsciiGrids = 0.5\n", 1, 1, 1, 0, true},
        {"1\n1\n0\n\nWriteAsciiGrids = 1\n", 1, 1, 1, 0, false},
        {"1\n1\n0\n \t\nWriteAsciiGrids = 1\n", 1, 1, 1, 0, false},
    };
    for (const auto& c : cases) {
        ControlText control;
        control.outputInterval = std::string("[output_interval]\n1\n") + c.lines + "\n";
        ASSERT_EQ(ReadOutput(control), 0) << c.lines << ConsoleText();
        EXPECT_EQ(Received.SearchRadiusWarning, c.warning) << c.lines;
        EXPECT_EQ(Setup.OutputSwitch, c.outputSwitch) << c.lines;
        EXPECT_EQ(Setup.OutputSwitchRaw, c.outputSwitchRaw) << c.lines;
        EXPECT_EQ(Received.MinToIntEnd, c.minToIntEnd) << c.lines;
        EXPECT_EQ(Received.WriteAsciiGrids, c.writeAscii) << c.lines;
    }
}

TEST_F(ModelSettingsTest, OutputListOfOneOrNoCodes) {
    ControlText control;
    control.outputList = "[output_list]\n1\n9\n";
    ASSERT_EQ(ReadOutput(control), 0);
    ASSERT_EQ(Received.OutputListCount, 1);
    EXPECT_EQ(Received.OutputListCodes[1], 9);

    control.outputList = "[output_list]\n0\n";
    control.meteoCount = "[meteo_data_count]\n0\n";
    control.meteoNames = "[meteo_names]\n";
    ASSERT_EQ(ReadOutput(control), 0);
    EXPECT_EQ(Received.OutputListCount, 0);
    EXPECT_EQ(Received.OutputListCodes, nullptr);
    EXPECT_EQ(Received.MeteoInputCount, 0);
    EXPECT_EQ(Received.MeteoNames, nullptr);
}

struct OutputErrorCase {
    const char* what;
    ControlText control;
    int code;
    const char* message;
};

ControlText With(std::string ControlText::*piece, const std::string& text) {
    ControlText control;
    control.*piece = text;
    return control;
}

// Names read positionally: to run short of them they must end the file.
ControlText NamesLast(const std::string& names) {
    ControlText control;
    control.meteoNames = "";
    control.rest += names;
    return control;
}

TEST_F(ModelSettingsTest, OutputControlChecks) {
    const std::string longName(201, 'n');
    const std::vector<OutputErrorCase> cases = {
        {"missing section", With(&ControlText::outputInterval, ""), 17,
         "error in control file, [output_interval]; (EOF)not found!"},
        {"unreadable log interval", With(&ControlText::outputInterval, "[output_interval]\nhourly\n"), 17,
         "error in control file, output control; not found!"},
        {"log interval 0", With(&ControlText::outputInterval, "[output_interval]\n0\n0\n0\n0\n"), 17,
         "output control: the value 0 is not allowed"},
        {"codes not ascending", With(&ControlText::outputList, "[output_list]\n2\n3\n3\n"), 97,
         "order of subbasin codes in output_list!"},
        {"codes descending", With(&ControlText::outputList, "[output_list]\n3\n1\n5\n4\n"), 97,
         "ascendend order\n.look in [output_list]"},
        {"negative list count", With(&ControlText::outputList, "[output_list]\n-1\n"), 17,
         "number of subbasins in output list: the value -1 is not allowed"},
        {"fewer codes than counted", With(&ControlText::outputList, "[output_list]\n3\n1\n2\n"), 17,
         "error in control file, codes in output-list; not found!"},
        {"unreadable latitude", With(&ControlText::coordinates, "[coordinates]\nnorth\n"), 17,
         "geographic latitude; not found!"},
        {"missing time shift", With(&ControlText::coordinates, "[coordinates]\n1\n2\n3\n"), 17,
         "time shift of data time to lokal time; not found!"},
        {"negative meteo count", With(&ControlText::meteoCount, "[meteo_data_count]\n-2\n"), 17,
         "number of meteorological variables: the value -2 is not allowed"},
        {"missing meteo names", With(&ControlText::meteoNames, ""), 17, "[meteo_names]; (EOF)not found!"},
        {"too few meteo names", NamesLast("[meteo_names]\ntemperature\n"), 17,
         "name of meteorological variable 2; not found!"},
        {"meteo name too long", With(&ControlText::meteoNames, "[meteo_names]\nt\n" + longName + "\n"), 17,
         "is longer than 200 characters"},
    };
    for (const auto& c : cases) {
        Console.str("");
        EXPECT_EQ(ReadOutput(c.control), c.code) << c.what;
        EXPECT_NE(ConsoleText().find(c.message), std::string::npos) << c.what << "\n" << ConsoleText();
        EXPECT_EQ(Setup.ControlFile, nullptr) << c.what;
        EXPECT_EQ(Setup.ModuleName, "defaults") << c.what;
    }
    Console.str("");
    EXPECT_EQ(ThrownCode([&] { Setup.ReadOutputControl(Dir.file("none.ctl"), Received); }), 28);
    EXPECT_NE(ConsoleText().find("Error opening " + Dir.file("none.ctl")), std::string::npos);
}

struct TimeCase {
    const char* what;
    const char* values;  // start hour, day, month, year; end hour, day, month, year
    ModelDate start;
    ModelDate end;
    int february;
};

TEST_F(ModelSettingsTest, ModelTimeIsNormalised) {
    const std::vector<TimeCase> cases = {
        {"two-digit start year", "0 1 1 95 24 31 12 2005", {0, 1, 1, 1995}, {24, 31, 12, 2005}, 28},
        {"two-digit end year", "1 1 1 1850 24 31 12 0", {1, 1, 1, 1850}, {24, 31, 12, 1900}, 28},
        {"months clamped", "0 1 0 2001 0 1 13 2001", {0, 1, 1, 2001}, {0, 1, 12, 2001}, 28},
        {"days clamped", "0 0 4 2001 0 31 4 2001", {0, 1, 4, 2001}, {0, 30, 4, 2001}, 28},
        {"29 February of a leap end year stays", "0 1 1 1999 24 29 2 2000", {0, 1, 1, 1999}, {24, 29, 2, 2000}, 29},
        {"29 February 1900 is the 28th", "0 1 1 1899 24 29 2 1900", {0, 1, 1, 1899}, {24, 28, 2, 1900}, 28},
        {"start keeps its own leap year", "0 29 2 2004 24 31 12 2005", {0, 29, 2, 2004}, {24, 31, 12, 2005}, 28},
        {"31 February of a leap start year", "0 31 2 2004 24 31 12 2004", {0, 29, 2, 2004}, {24, 31, 12, 2004}, 29},
        {"negative two-digit year", "0 1 1 -1 24 1 1 2000", {0, 1, 1, 1899}, {24, 1, 1, 2000}, 29},
    };
    for (const auto& c : cases) {
        std::string text = "[model_time]\n";
        for (char ch : std::string(c.values)) text += ch == ' ' ? '\n' : ch;
        ASSERT_EQ(ReadTime(text + "\n"), 0) << c.what << "\n" << ConsoleText();
        const ModelSettings& s = Setup.Settings;
        EXPECT_EQ((std::vector<int64_t>{s.StartHour, s.StartDay, s.StartMonth, s.StartYear}),
                  (std::vector<int64_t>{c.start.hour, c.start.day, c.start.month, c.start.year}))
            << c.what;
        EXPECT_EQ((std::vector<int64_t>{s.EndHour, s.EndDay, s.EndMonth, s.EndYear}),
                  (std::vector<int64_t>{c.end.hour, c.end.day, c.end.month, c.end.year}))
            << c.what;
        EXPECT_EQ(Setup.DaysPerMonth[2], c.february) << c.what;
    }
}

struct TimeErrorCase {
    const char* what;
    const char* section;
    const char* message;
};

TEST_F(ModelSettingsTest, ModelTimeChecks) {
    const std::vector<TimeErrorCase> cases = {
        {"missing section", "", "[model_time]; (EOF)not found!"},
        {"unreadable end month", "[model_time]\n0\n1\n1\n2001\n24\n31\nDec\n2001\n",
         "error in control file, end month in ; defaultsnot found!"},
        {"missing end year", "[model_time]\n0\n1\n1\n2001\n24\n31\n12\n", "end year in ; defaultsnot found!"},
        {"hour beyond 24", "[model_time]\n25\n1\n1\n2001\n24\n31\n12\n2001\n", "starting hour in ; defaults: the value 25"},
        {"negative end hour", "[model_time]\n0\n1\n1\n2001\n-1\n31\n12\n2001\n", "end hour in ; defaults: the value -1"},
        {"five-digit year", "[model_time]\n0\n1\n1\n10000\n24\n31\n12\n10001\n", "starting year in ; defaults: the value 10000"},
        {"year before 1", "[model_time]\n0\n1\n1\n2001\n24\n31\n12\n-2000\n", "end year in ; defaults: the value -100"},
        {"year beyond the range of long", "[model_time]\n0\n1\n1\n2001\n24\n31\n12\n99999999999999999999999\n",
         "end year in ; defaults: the value"},
    };
    for (const auto& c : cases) {
        Console.str("");
        EXPECT_EQ(ReadTime(c.section), 17) << c.what;
        EXPECT_NE(ConsoleText().find(c.message), std::string::npos) << c.what << "\n" << ConsoleText();
        EXPECT_EQ(Setup.ControlFile, nullptr) << c.what;
    }
}

TEST_F(ModelSettingsTest, ModelTimeUsesTheStreamTheSetupHoldsOpen) {
    ControlText control;
    Setup.ControlFilePath = Write("run.ctl", control.Text());
    FILE* open = std::fopen(Setup.ControlFilePath.c_str(), "r");
    ASSERT_NE(open, nullptr);
    Setup.ControlFile = open;
    ASSERT_EQ(ThrownCode([&] {
                  Setup.ReadModelTime();
                  Setup.ReadRadiationCorrection();
              }),
              0);
    EXPECT_EQ(Setup.ControlFile, open);
    EXPECT_EQ(Setup.Settings.EndYear, 2002);
    Setup.ControlFile = nullptr;
    std::fclose(open);
}

TEST_F(ModelSettingsTest, RadiationCorrectionSectionIsRequired) {
    ControlText control;
    Setup.ControlFilePath = Write("run.ctl", control.Text());
    EXPECT_EQ(ThrownCode([&] { Setup.ReadRadiationCorrection(); }), 0);
    control.rest = "";
    Setup.ControlFilePath = Write("run.ctl", control.Text());
    EXPECT_EQ(ThrownCode([&] { Setup.ReadRadiationCorrection(); }), 17);
    EXPECT_NE(ConsoleText().find("[radiation_correction]; (EOF)not found!"), std::string::npos);
}

struct SubstepCase {
    const char* section;
    int code;
    int substeps;
};

TEST_F(ModelSettingsTest, SubstepsDefaultToOneAndMustBePositive) {
    const std::vector<SubstepCase> cases = {
        {"", 0, 1},
        {"[soil_surface_groundwater_substeps]\n4  sub-steps\n", 0, 4},
        {"[soil_surface_groundwater_substeps]\n0\n", 17, 0},
        {"[soil_surface_groundwater_substeps]\n-3\n", 17, 0},
        {"[soil_surface_groundwater_substeps]\nfour\n", 17, 0},
    };
    for (const auto& c : cases) {
        ControlText control;
        control.rest += c.section;
        Setup.ControlFilePath = Write("run.ctl", control.Text());
        Setup.Substeps = -1;
        int substeps = -1;
        Console.str("");
        EXPECT_EQ(ThrownCode([&] { substeps = Setup.ReadSubsteps(); }), c.code) << c.section;
        if (c.code == 0) {
            EXPECT_EQ(substeps, c.substeps) << c.section;
            EXPECT_EQ(Setup.Substeps, c.substeps) << c.section;
        } else {
            EXPECT_NE(ConsoleText().find("sub step counter from [soil_surface_groundwater_substeps]"),
                      std::string::npos)
                << ConsoleText();
        }
        EXPECT_EQ(Setup.ControlFile, nullptr);
    }
}

// The first steps of a run: the control file is compiled next to itself and
// the model-wide sections are read from the copy.
TEST_F(ModelSettingsTest, CompiledControlFileFeedsTheSettings) {
    const std::string source = Write("basin.ctl", ReadFile(TestDataPath("setup/symbols.ctl")));
    Setup.ControlFilePath = source;
    ASSERT_EQ(ThrownCode([&] {
                  const std::string original = Setup.ControlFilePath;
                  Setup.CompileSymbols(original, Setup.ControlFilePath);
                  Setup.ReadOutputControl(Setup.ControlFilePath, Setup.Settings);
                  Setup.ReadModelTime();
                  Setup.ReadRadiationCorrection();
              }),
              0)
        << ConsoleText();
    EXPECT_EQ(Setup.ControlFilePath, source + "_0.$$$");
    EXPECT_EQ(ReadFile(Setup.ControlFilePath), ReadFile(TestDataPath("setup/symbols.ctl_compiled")));
    const ModelSettings& s = Setup.Settings;
    EXPECT_EQ(s.LogInterval, 24);
    EXPECT_EQ(s.MinToIntEnd, 60);
    EXPECT_EQ(s.DefaultOutputDirectory, "/data/basin/output/");
    EXPECT_EQ(s.InitialStateDirectory, "/data/basin/state/");
    EXPECT_TRUE(s.WriteAsciiGrids);
    EXPECT_FALSE(s.WriteDoubleGrids);
    ASSERT_EQ(s.MeteoInputCount, 2);
    EXPECT_EQ(s.MeteoNames[1], "temperature_1h");
    EXPECT_EQ(s.MeteoNames[2], "precipitation_1h");
    EXPECT_EQ(s.StartYear, 1995);
    EXPECT_EQ(s.EndDay, 28);
    EXPECT_EQ(CountEntries(DiagInfo, "is the same as symbol"), 0);
}

}  // namespace
