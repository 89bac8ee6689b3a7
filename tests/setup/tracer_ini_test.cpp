// Tracer parameters from "[substance_transport]".

#include <memory>
#include <string>
#include <vector>

#include "setup/tracer_ini.h"
#include "setup_fixture.h"

using namespace testsupport;

namespace {

const std::string Tail =
    " min_conc = 0.5 max_conc = 5 mg/l soilini = 1.5 gwini = 2.5 statcode = 1001 gridcode = 11"
    " path = out/ statext = .sta gridext = .grd";

std::string Line(const std::string& nameAndFlags) { return nameAndFlags + Tail + "\n"; }

class TracerIni : public setuptest::SetupFixture {
protected:
    // Reads a control file holding `section`; returns the status.
    int Read(const std::string& section) {
        const std::string path = Write("run.ctl_0.$$$", "[model_time]\n0\n" + section);
        if (Tracers) Tracers->DeleteModule();
        Count = -1;
        Table = nullptr;
        Tracers = std::make_unique<tracer_ini_class>(&Status, Writer.get(), path, &Count, &Table);
        return Status;
    }

    std::unique_ptr<tracer_ini_class> Tracers;
    int Status = -1;
    int Count = -1;
    TracerInfo* Table = nullptr;
};

TEST_F(TracerIni, ReadsEveryKeywordInAnyOrder) {
    const std::string section =
        "[substance_transport]\n2   tracers\n"
        "Tritium radioactive evaporating half_time = 4500 d" + Tail + "\n"
        "Chloride gridext = .g2 statext = .s2 path = /t/cl_ gridcode = 2 statcode = 3002 gwini = 7 soilini = 8e-1"
        " max_conc = 1 g/l min_conc = -1 non_evaporating non_radioactive half_time = 3 d\n";
    ASSERT_EQ(Read(section), 0) << ConsoleText();
    ASSERT_EQ(Count, 2);
    ASSERT_NE(Table, nullptr);
    EXPECT_EQ(Tracers->ModuleName, "tracer_ini");

    const TracerInfo& t = Table[1];
    EXPECT_EQ(t.name, "tri");
    EXPECT_EQ(t.radioactive, 1);
    EXPECT_EQ(t.evaporating, 1);
    EXPECT_EQ(t.half_time, 4500);
    EXPECT_EQ(t.min_conc, 0.5);
    EXPECT_EQ(t.max_conc, 5);
    EXPECT_EQ(t.soilini, 1.5);
    EXPECT_EQ(t.gwini, 2.5);
    EXPECT_EQ(t.statcode, 1001);
    EXPECT_EQ(t.gridcode, 11);
    EXPECT_EQ(t.path, "out/");
    EXPECT_EQ(t.statext, ".sta");
    EXPECT_EQ(t.gridext, ".grd");

    const TracerInfo& c = Table[2];
    EXPECT_EQ(c.name, "chl");
    EXPECT_EQ(c.radioactive, 0);
    EXPECT_EQ(c.half_time, -9999);  // non_radioactive wins over a half_time
    EXPECT_EQ(c.evaporating, 0);
    EXPECT_EQ(c.min_conc, -1);
    EXPECT_EQ(c.max_conc, 1);
    EXPECT_EQ(c.soilini, 0.8);
    EXPECT_EQ(c.gwini, 7);
    EXPECT_EQ(c.statcode, 3002);
    EXPECT_EQ(c.gridcode, 2);
    EXPECT_EQ(c.path, "/t/cl_");
    EXPECT_EQ(c.statext, ".s2");
    EXPECT_EQ(c.gridext, ".g2");
    EXPECT_EQ(CountEntries(DiagDebug, "reading parameters for tracer 2 ..."), 1);
}

TEST_F(TracerIni, ShortNamesAndUnits) {
    struct Case {
        std::string line;
        const char* name;
        double maxConc;
    };
    const std::vector<Case> cases = {
        {"Nitrate non_radioactive non_evaporating" + Tail, "nit", 5},
        {"N non_radioactive non_evaporating" + Tail, "n__", 5},
        {"NO non_radioactive non_evaporating" + Tail, "no_", 5},
        {"x non_radioactive non_evaporating min_conc = 0 soilini = 0 gwini = 0 statcode = 1 gridcode = 1 path = p"
         " statext = s gridext = g max_conc = 5",
         "x__", 5},
        {"y non_radioactive non_evaporating min_conc = 0 soilini = 0 gwini = 0 statcode = 1 gridcode = 1 path = p"
         " statext = s gridext = g max_conc = 2 Kg/Kg",
         "y__", 2},
        {"z non_radioactive non_evaporating min_conc = 0 soilini = 0 gwini = 0 statcode = 1 gridcode = 1 path = p"
         " statext = s gridext = g max_conc = none",
         "z__", 0},
        // Without a unit the next word may be the next keyword.
        {"w non_radioactive non_evaporating min_conc = 0 max_conc = 3 soilini = 0 gwini = 0 statcode = 1"
         " gridcode = 1 path = p statext = s gridext = g",
         "w__", 3},
        {"v non_radioactive non_evaporating min_conc = 0 max_conc = 4 gwini=0 soilini = 0 statcode = 1"
         " gridcode = 1 path = p statext = s gridext = g",
         "v__", 4},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(Read("[substance_transport]\n1\n" + c.line + "\n"), 0) << c.line << "\n" << ConsoleText();
        EXPECT_EQ(Table[1].name, c.name) << c.line;
        EXPECT_EQ(Table[1].max_conc, c.maxConc) << c.line;
    }
}

struct ErrorCase {
    const char* what;
    std::string section;
    int code;
    const char* message;
};

TEST_F(TracerIni, FaultyLinesEndTheRunWithTheirCode) {
    const std::string one = "[substance_transport]\n1\n";
    const std::string radio = "Tritium radioactive evaporating";
    const std::vector<ErrorCase> cases = {
        {"equal short names", "[substance_transport]\n2\n" + Line("Nitrate non_radioactive evaporating") +
                                  Line("nitrogen non_radioactive evaporating"),
         59, "substance #2 and substance #1 have the same\nfirst 3 chars (lowercase) in its name (nit <-> nit)"},
        {"half_time in hours", one + radio + " half_time = 30 h" + Tail, 56,
         "error reading half_time for tracer 1: no \"d\" for measure found!"},
        {"half_time of 0", one + radio + " half_time = 0 d" + Tail, 56,
         "error in half_time for tracer 1: must be greater than 0!"},
        {"half_time not a number", one + radio + " half_time = nan d" + Tail, 56,
         "error in half_time for tracer 1: must be greater than 0!"},
        {"half_time missing", one + radio + Tail, 56,
         "error in tracer_info_table tracer 1: need a \"half_time = xxxx d\" sequence!"},
        {"half_time without =", one + "Tritium evaporating radioactive" + Tail + " half_time", 56,
         "error reading half_time for tracer 1: no \"half_time =\" found!"},
        {"half_time unreadable", one + radio + Tail + " half_time = long", 56, "error reading half_time for tracer 1"},
        {"no radioactivity word", one + "Salt evaporating" + Tail, 56,
         "error reading parameters for tracer 1:\n need a key word \"radioactive\" or \"non_radioactive\"\n"
         "(may be, the number of tracers (1) is wrong?\n"},
        {"no evaporation word", one + "Salt non_radioactive" + Tail, 56,
         "need a key word \"evaporating\" or \"non_evaporating\"\n(may be, the number of tracers (1) is wrong?"},
        {"fewer lines than tracers", "[substance_transport]\n2\n" + Line("Salt non_radioactive evaporating"), 56,
         "error reading parameters for tracer 2:\n need a key word \"radioactive\""},
        {"min_conc missing", one + "Salt non_radioactive evaporating max_conc = 1 soilini = 1 gwini = 1", 56,
         "error reading parameters for tracer 1:\nneed a key word \"min_conc = xxxx\""},
        {"min_conc unreadable", one + "Salt non_radioactive evaporating min_conc = low" + Tail, 56,
         "error reading min_conc for tracer 1"},
        {"max_conc in mol/l", one + "Salt non_radioactive evaporating min_conc = 0 max_conc = 5 mol/l" + Tail, 56,
         "wrong measure (only mg/l, g/l or kg/kg resp. no measure are allowed!)\nread here: mol/l"},
        {"soilini unreadable", one + "Salt non_radioactive evaporating soilini = wet" + Tail, 56,
         "error reading soilini for tracer 1!"},
        {"gwini without =", one + "Salt non_radioactive evaporating min_conc = 0 max_conc = 1 soilini = 1 gwini", 56,
         "error reading gwini for tracer 1: no \"gwini =\" found!"},
        {"statcode without its blank", one + "Salt non_radioactive evaporating min_conc = 0 max_conc = 1 soilini = 1"
                                             " gwini = 1 statcode=3 gridcode = 1 path = p statext = s gridext = g",
         56, "error reading statcode for tracer 1:\nneed a key word \"statcode = xxxx\""},
        {"statcode beyond int", one + "Salt non_radioactive evaporating min_conc = 0 max_conc = 1 soilini = 1"
                                      " gwini = 1 statcode = 99999999999 gridcode = 1 path = p statext = s gridext = g",
         56, "error reading statcode for tracer 1!"},
        {"gridext empty", one + "Salt non_radioactive evaporating min_conc = 0 max_conc = 1 soilini = 1"
                                " gwini = 1 statcode = 1 gridcode = 1 path = p statext = s gridext = ",
         56, "error reading gridext for tracer 1!"},
        {"path missing", one + "Salt non_radioactive evaporating min_conc = 0 max_conc = 1 soilini = 1"
                               " gwini = 1 statcode = 1 gridcode = 1 statext = s gridext = g",
         56, "error reading path for tracer 1:\nneed a key word \"path = xxxx\""},
        {"missing section", "", 17, "[substance_transport]; (EOF)not found!"},
        {"unreadable count", "[substance_transport]\nsome\n", 17, " number of tracers in ; tracer_ininot found!"},
    };
    for (const auto& c : cases) {
        Console.str("");
        EXPECT_EQ(Read(c.section), c.code) << c.what;
        EXPECT_NE(ConsoleText().find(c.message), std::string::npos) << c.what << "\n" << ConsoleText();
        EXPECT_EQ(Count, -1) << c.what;  // nothing handed back
        EXPECT_EQ(Tracers->TracerCount, 0) << c.what;
        EXPECT_EQ(Tracers->ControlFile, nullptr) << c.what;
    }
}

TEST_F(TracerIni, TenTracersGiveCode58BeforeAnyLineIsRead) {
    std::string section = "[substance_transport]\n10\n";
    for (int i = 0; i < 10; ++i) section += Line(std::string(1, static_cast<char>('a' + i)) + " non_radioactive evaporating");
    EXPECT_EQ(Read(section), 58);
    EXPECT_NE(ConsoleText().find("not more than 9 tracer species are allowed at one time (they need a very lot of "
                                 "memory!)"),
              std::string::npos);
    EXPECT_EQ(CountEntries(DiagDebug, "reading parameters for tracer"), 0);
}

TEST_F(TracerIni, CountsOfNoneAndNineAndLeadingZeros) {
    ASSERT_EQ(Read("[substance_transport]\n0\n"), 0);
    EXPECT_EQ(Count, 0);
    EXPECT_EQ(Table, nullptr);
    ASSERT_EQ(Read("[substance_transport]\n-4\n"), 0);
    EXPECT_EQ(Count, 0);
    EXPECT_EQ(Table, nullptr);

    // A count with a leading zero is decimal, not octal.
    std::string section = "[substance_transport]\n09\n";
    for (int i = 0; i < 9; ++i) section += Line(std::string(1, static_cast<char>('a' + i)) + " non_radioactive evaporating");
    ASSERT_EQ(Read(section), 0) << ConsoleText();
    EXPECT_EQ(Count, 9);
    EXPECT_EQ(Table[9].name, "i__");

    Tracers->DeleteModule();
    EXPECT_EQ(Tracers->TracerCount, 0);
    EXPECT_EQ(Tracers->Tracers(), nullptr);
}

TEST_F(TracerIni, UnreadableControlFileIsCode28) {
    Tracers = std::make_unique<tracer_ini_class>(&Status, Writer.get(), Dir.file("absent.$$$"), &Count, &Table);
    EXPECT_EQ(Status, 28);
    EXPECT_NE(ConsoleText().find("error opening " + Dir.file("absent.$$$")), std::string::npos);
}

}  // namespace
