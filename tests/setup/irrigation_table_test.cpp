#include "setup/irrigation_table.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <vector>

#include "framework/diagnostics_writer.h"
#include "framework/modelobject.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

const std::string HelpText =
    "there are 4 possible ways to define irrigation rules:\ntwo schedule variants:\n1.: \"starting from MM DD with "
    "XX mm to MM DD with YY mm every ZZ day\"\n2.: \"starting from MM DD with XX mm AA times every ZZ days\"\n "
    "where MM and DD are Month and day, XX is the first irrigation amount \n per irrigation event in mm/day, ZZ is "
    "the time step (e.g. every 4 days..),\n YY is the last irrigation amount in mm/day (it is linearly "
    "interpolated)\n and AA is a repeat counter (only in the secound format).\n The model recognises both formats "
    "by the different formats by analysing the\n key-words \"starting from\", \"to\" and \"times\"\n note: there "
    "may be defined multiple irrigation schemes in one row,\n but they have to be of the same type (1. or 2.) \n and "
    "they have to be seperated by a semicolon (;)\n 3.: irrigation control by demand (1): suction (psi) for start "
    "and end of irrigation must be provided\n 4.: irrigation control by demand (2): ratio between ETR and ETP for "
    "irrigation start must be provided\n";

std::string RuleError(int entry) {
    return "irrigation description for irrigation type " + std::to_string(entry) + " is wrong " + HelpText;
}

// A set-up reader on a control file written into a fresh directory.
struct Reader {
    TempDir dir;
    std::ostringstream console;
    DiagnosticsWriter writer{dir.file("d.xml"), DiagDebug, console};
    modelobject object{&writer, dir.file("control.txt")};
    FILE* stream = nullptr;
    int irrigationSwitch = -1;
    std::vector<IrrigationRule> table;

    explicit Reader(const std::string& controlText) {
        WriteFile(dir.file("control.txt"), controlText);
        object.ModuleName = "defaults";
        stream = std::fopen(object.ControlFilePath.c_str(), "r");
    }
    ~Reader() {
        if (stream) std::fclose(stream);
    }
    template <typename F> int Thrown(F f) {
        try {
            f();
        } catch (int code) {
            return code;
        }
        return 0;
    }
    int Read(int modelVariant = 2) {
        return Thrown([&] { ReadIrrigation(object, stream, modelVariant, irrigationSwitch, table); });
    }
    int Schedule(const std::string& text, IrrigationRule& rule) {
        return Thrown([&] { ReadIrrigationSchedule(object, 3, text, rule); });
    }
    std::vector<std::string> Entries(int level) {
        writer.Close();
        std::vector<std::string> found;
        for (const DiagLine& line : DiagLines(ReadFile(dir.file("d.xml")))) {
            if (line.level == level) found.push_back(line.description);
        }
        return found;
    }
};

struct Event {
    int64_t month, day;
    double amount;
};

void ExpectEvents(const IrrigationRule& rule, const std::vector<Event>& events) {
    ASSERT_EQ(rule.tabcnt, static_cast<int32_t>(events.size()));
    ASSERT_EQ(rule.Month.size(), events.size() + 1);
    ASSERT_EQ(rule.Day.size(), events.size() + 1);
    ASSERT_EQ(rule.Amount.size(), events.size() + 1);
    for (size_t k = 1; k <= events.size(); ++k) {
        SCOPED_TRACE("event " + std::to_string(k));
        EXPECT_EQ(rule.Month[k], events[k - 1].month);
        EXPECT_EQ(rule.Day[k], events[k - 1].day);
        EXPECT_NEAR(rule.Amount[k], events[k - 1].amount, 1e-12);
    }
}

std::string Table(const std::string& count, const std::string& rules) {
    return "[irrigation]\n1\n[irrigation_table]\n" + count + "   number of rules\n" + rules + "[end]\n";
}

}  // namespace

TEST(IrrigationTable, SwitchedOffReadsNoTable) {
    Reader r("[irrigation]\n0   no irrigation\n");
    EXPECT_EQ(r.Read(), 0);
    EXPECT_EQ(r.irrigationSwitch, 0);
    EXPECT_TRUE(r.table.empty());
    EXPECT_EQ(r.object.ControlFile, nullptr);  // the lent stream is given back
}

TEST(IrrigationTable, ModelVariantOneReadsNothing) {
    Reader r("no irrigation sections at all\n");
    EXPECT_EQ(r.Read(1), 0);
    EXPECT_EQ(r.irrigationSwitch, 0);
    EXPECT_TRUE(r.table.empty());
}

TEST(IrrigationTable, ReadsEveryMethodWithItsSchedule) {
    Reader r(ReadFile(TestDataPath("setup/irrigation_table.ctl")));
    ASSERT_EQ(r.Read(), 0);
    EXPECT_EQ(r.irrigationSwitch, 1);
    ASSERT_EQ(r.table.size(), 6u);
    EXPECT_EQ(r.table[0].Code, 5);

    struct Expected {
        int32_t code;
        const char* name;
        int32_t method, origin;
        double psiDry, psiWet, minRatio;
    };
    const Expected expected[] = {
        {5, "wheat_list", 1, 2, 25.5, 4.0, 0},   {7, "maize_text", 2, 1, 30, 5, 0},
        {8, "potato_text", 2, 3, 28, 4, 0},      {9, "grass_suction", 3, 1, 35, 8, 0},
        {12, "vine_ratio", 4, 2, 20, 3.45, 0.7},
    };
    for (size_t i = 1; i <= 5; ++i) {
        SCOPED_TRACE(i);
        const IrrigationRule& rule = r.table[i];
        const Expected& e = expected[i - 1];
        EXPECT_EQ(rule.Code, e.code);
        EXPECT_EQ(rule.Name, e.name);
        EXPECT_EQ(rule.Method, e.method);
        EXPECT_EQ(rule.Origin, e.origin);
        EXPECT_DOUBLE_EQ(rule.psi_dry, e.psiDry);
        EXPECT_DOUBLE_EQ(rule.psi_wet, e.psiWet);
        EXPECT_DOUBLE_EQ(rule.MinEtrToEtp, e.minRatio);
    }
    // A list whose events run over several lines.
    ExpectEvents(r.table[1], {{4, 20, 12.5}, {5, 10, 15}, {6, 1, 17.25}});
    // The list form of the text: amounts interpolated from 10 to 20 mm.
    ExpectEvents(r.table[2], {{5, 1, 10}, {5, 11, 40.0 / 3}, {5, 21, 50.0 / 3}, {5, 31, 20}});
    // Two count-form schemes on one line, the second one over the year end.
    ExpectEvents(r.table[3], {{6, 1, 5}, {6, 8, 5}, {6, 15, 5}, {12, 28, 4}, {1, 4, 4}});
    // Demand rules have no schedule.
    for (size_t i : {4, 5}) {
        EXPECT_EQ(r.table[i].tabcnt, 0);
        EXPECT_TRUE(r.table[i].Month.empty());
        EXPECT_TRUE(r.table[i].Day.empty());
        EXPECT_TRUE(r.table[i].Amount.empty());
    }
}

TEST(IrrigationTable, ListWithoutEventsAndNameOfFiftyCharacters) {
    const std::string name(50, 'w');
    Reader r(Table("2", "1 " + name + " 1 0 20 3 0\n2 b 3 0 20 3\n"));
    ASSERT_EQ(r.Read(), 0);
    ASSERT_EQ(r.table.size(), 3u);
    EXPECT_EQ(r.table[1].Name, name);
    EXPECT_EQ(r.table[1].tabcnt, 0);
    EXPECT_EQ(r.table[1].Month.size(), 1u);
    EXPECT_EQ(r.table[2].Code, 2);
}

TEST(IrrigationTable, CountZeroGivesOnlyEntryZero) {
    Reader r(Table("0", ""));
    ASSERT_EQ(r.Read(), 0);
    EXPECT_EQ(r.irrigationSwitch, 1);
    ASSERT_EQ(r.table.size(), 1u);
    EXPECT_EQ(r.table[0].Code, 0);
}

TEST(IrrigationSchedule, TextSchemesGiveTheirEvents) {
    struct Case {
        const char* text;
        std::vector<Event> events;
    };
    const std::vector<Case> cases = {
        {"starting from 04 25 with 10 mm to 05 10 with 20 mm every 10 day", {{4, 25, 10}, {5, 5, 20}}},
        // the second date lies past the end: the only event gets the last amount
        {"starting from 04 25 with 10 mm to 05 03 with 20 mm every 10 day", {{4, 25, 20}}},
        // the interval ends exactly on the end day
        {"starting from 05 01 with 10 mm to 05 11 with 20 mm every 5 day", {{5, 1, 10}, {5, 6, 15}, {5, 11, 20}}},
        // from November to February through the year end
        {"starting from 11 20 with 2 mm to 02 10 with 8 mm every 30 days", {{11, 20, 2}, {12, 20, 5}, {1, 19, 8}}},
        // an interval of a month carries into the month after February
        {"starting from 01 31 with 1 mm to 03 31 with 3 mm every 30 days", {{1, 31, 1}, {3, 2, 3}}},
        {"starting from 06 01 with 5 mm 3 times every 7 days", {{6, 1, 5}, {6, 8, 5}, {6, 15, 5}}},
        {"starting from 12 28 with 5 mm 2 times every 7 days", {{12, 28, 5}, {1, 4, 5}}},
        // an interval longer than a month always gives real dates
        {"starting from 01 15 with 3 mm 3 times every 45 days", {{1, 15, 3}, {3, 1, 3}, {4, 15, 3}}},
        {"starting from 01 15 with 3 mm 2 times every 1000000 days", {{1, 15, 3}, {10, 7, 3}}},
        // start dates out of range are clamped
        {"starting from 04 31 with 1 mm 1 times every 1 days", {{4, 30, 1}}},
        {"starting from 14 05 with 1 mm 1 times every 1 days", {{12, 5, 1}}},
        {"starting from 03 00 with 1 mm 1 times every 1 days", {{3, 1, 1}}},
        {"starting from -2 40 with 1 mm to 13 02 with 1 mm every 400 days", {{1, 31, 1}}},
        // several schemes: their events follow one another
        {"starting from 05 01 with 10 mm to 05 21 with 30 mm every 10 day ; starting from 08 01 with 4 mm to 08 03 "
         "with 2 mm every 2 days",
         {{5, 1, 10}, {5, 11, 20}, {5, 21, 30}, {8, 1, 4}, {8, 3, 2}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Reader r("");
        IrrigationRule rule;
        rule.ClearSchedule();
        ASSERT_EQ(r.Schedule(c.text, rule), 0);
        ExpectEvents(rule, c.events);
    }
}

TEST(IrrigationSchedule, FebruaryFollowsTheSetUpCalendar) {
    const char* text =
        "starting from 02 20 with 1 mm 2 times every 10 days; starting from 02 30 with 2 mm 1 times every 1 days";
    Reader common("");
    IrrigationRule rule;
    ASSERT_EQ(common.Schedule(text, rule), 0);
    ExpectEvents(rule, {{2, 20, 1}, {3, 2, 1}, {2, 28, 2}});

    Reader leap("");
    leap.object.DaysPerMonth[2] = 29;
    IrrigationRule leapRule;
    ASSERT_EQ(leap.Schedule(text, leapRule), 0);
    ExpectEvents(leapRule, {{2, 20, 1}, {3, 1, 1}, {2, 29, 2}});
}

TEST(IrrigationSchedule, MalformedTextIsARuleError) {
    struct Case {
        const char* text;
        bool keywordEntry;  // the entry on the missing keywords comes first
    };
    const std::vector<Case> cases = {
        {"every 5 days from May on", false},
        {"starting from 05 01 with 10 mm every 5 days", false},
        {"starting from 05 01 to 05 30 with 10 mm every 5 days", true},
        {"starting from May 1 with 10 mm 3 times every 5 days", false},
        {"starting from 05 01 at 10 mm 3 times every 5 days", false},
        {"starting from 05 01 with ten mm 3 times every 5 days", false},
        {"starting from 05 01 with 10 mm to May 30 with 20 mm every 5 days", false},
        {"starting from 05 01 with 10 mm to 05 30 with lots of mm every 5 days", false},
        {"starting from 05 01 with 10 mm to 05 30 at 20 mm every 5 days", false},
        {"starting from 05 01 with 10 mm to 05 30 with 20 mm every fifth day", false},
        {"starting from 05 01 with 10 mm to 05 30 with 20 mm each 5 days", false},
        {"starting from 05 01 with 10 mm to 05 30 with 20 mm every 0 days", false},
        {"starting from 05 01 with 10 mm to 05 30 with 20 mm every -3 days", false},
        {"starting from 05 20 with 10 mm to 05 10 with 20 mm every 5 days", false},
        {"starting from 05 01 with 10 mm 0 times every 5 days", false},
        {"starting from 05 01 with 10 mm 367 times every 1 days", false},
        {"starting from 05 01 with 10 mm many times every 5 days", false},
        {"starting from 05 01 with 10 mm 3 times every 0 days", false},
        {"starting from 05 01 with 10 mm 3 times every day", false},
        {"starting from 05 01 with 10 mm 3 times every 99999999999999999999 days", false},
        // a correct first scheme does not save a broken second one
        {"starting from 06 01 with 5 mm 3 times every 7 days; starting from 07 01 with 5 mm 3 times", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Reader r("");
        IrrigationRule rule;
        EXPECT_EQ(r.Schedule(c.text, rule), 29);
        const auto fatal = r.Entries(DiagFatal);
        ASSERT_EQ(fatal.size(), c.keywordEntry ? 2u : 1u);
        EXPECT_EQ(fatal.back(), DiagnosticsWriter::Escape(RuleError(3)));
        if (c.keywordEntry) {
            EXPECT_EQ(fatal.front(),
                      DiagnosticsWriter::Escape("none of the keywords \"to\" or \"times\" could be found!\n"));
        }
    }
}

// Every refused table: the code and the FATAL entry.
TEST(IrrigationTable, RefusedInputEndsWithItsCode) {
    const std::string name51(51, 'w');
    struct Case {
        const char* what;
        std::string control;
        int code;
        std::string fatal;      // the last FATAL entry, without its prefix
        std::string word = "";  // a value that is no number, named after the message
    };
    const std::vector<Case> cases = {
        {"no [irrigation]", "[model_time]\n", 17, "error in control file, [irrigation]; (EOF)not found!"},
        {"unreadable switch", "[irrigation]\non\n", 17,
         "error in control file, irrigation switch in [irrigation]; defaultsnot found!"},
        {"no [irrigation_table]", "[irrigation]\n1\n", 17,
         "error in control file, [irrigation_table]; (EOF)not found!"},
        {"unreadable count", Table("some", ""), 17,
         "error in control file, number of irrigation codes in [irrigation_table]; defaultsnot found!"},
        {"negative count", Table("-2", ""), 29,
         "[irrigation_table]: the number of irrigation codes (here -2) must lie between 0 and 2147483647\n"},
        {"unreadable code", Table("1", "one wheat 3 1 20 3\n"), 29,
         "for irrigation code 1: code, name, method, or origin could not be read correctly\n"},
        {"unreadable origin", Table("2", "1 a 3 1 20 3\n2 b 3 river 20 3\n"), 29,
         "for irrigation code 2: code, name, method, or origin could not be read correctly\n"},
        {"name of 51 characters", Table("1", "1 " + name51 + " 3 1 20 3\n"), 29,
         "for irrigation code 1: code, name, method, or origin could not be read correctly\n"},
        {"fewer rules than announced", Table("2", "1 a 3 1 20 3\n"), 29,
         "for irrigation code 2: code, name, method, or origin could not be read correctly\n"},
        {"method 0", Table("1", "1 a 0 1 20 3\n"), 29, RuleError(1)},
        {"method 5", Table("2", "1 a 3 1 20 3\n2 b 5 1 20 3\n"), 29, RuleError(2)},
        {"unreadable ratio", Table("1", "1 a 4 1 low\n"), 29,
         "for irrigation code 1: min(ETR/ETP) could not be read correctly\n", "low"},
        {"unreadable psi_wet", Table("1", "1 a 3 1 20 wet\n"), 29,
         "for irrigation code 1: psi_dry or psi_wet could not be read correctly\n", "wet"},
        {"unreadable tabcnt", Table("1", "1 a 1 1 20 3 some\n"), 29,
         "for irrigation code 1: tabcnt could not be read correctly\n"},
        {"negative tabcnt", Table("1", "1 a 1 1 20 3 -1\n"), 29,
         "for irrigation code 1: tabcnt could not be read correctly\n"},
        {"unreadable amount", Table("1", "1 a 1 1 20 3 2\n4 1 10\n4 15 much\n"), 29,
         "for irrigation code 1 month[2] or day[2] or amount[2] could not be read\n", "much"},
        {"huge tabcnt with one event", Table("1", "1 a 1 1 20 3 2000000000 4 1 10\n"), 29,
         "for irrigation code 1 month[2] or day[2] or amount[2] could not be read\n"},
        {"month 13", Table("1", "1 a 1 1 20 3 1 13 1 10\n"), 29,
         "for irrigation code 1 month[1] or day[1] or amount[1] could not be read\n"},
        {"April 31", Table("1", "1 a 1 1 20 3 2 4 30 10 4 31 10\n"), 29,
         "for irrigation code 1 month[2] or day[2] or amount[2] could not be read\n"},
        {"day 0", Table("1", "1 a 1 1 20 3 1 4 0 10\n"), 29,
         "for irrigation code 1 month[1] or day[1] or amount[1] could not be read\n"},
        {"text schedule on the next line",
         Table("1", "1 a 2 1 20 3\nstarting from 05 01 with 5 mm 2 times every 3 days\n"), 29, RuleError(1)},
        {"interval 0 in a text schedule",
         Table("2", "1 a 3 1 20 3\n2 b 2 1 20 3 starting from 05 01 with 5 mm 2 times every 0 days\n"), 29,
         RuleError(2)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Reader r(c.control);
        EXPECT_EQ(r.Read(), c.code);
        const auto fatal = r.Entries(DiagFatal);
        ASSERT_FALSE(fatal.empty());
        std::string expected = DiagnosticsWriter::Escape(c.fatal);
        if (!c.word.empty()) {
            // the message goes on with the word that was found and the file
            expected.pop_back();
            expected += ";the value " + c.word + " is not a number (in ";
            EXPECT_EQ(fatal.back().rfind(expected, 0), 0u) << fatal.back();
        } else {
            EXPECT_EQ(fatal.back(), expected);
        }
        EXPECT_EQ(r.object.ControlFile, nullptr);
    }
}

TEST(IrrigationTable, FebruaryTwentyNinthIsADateOfTheList) {
    Reader r(Table("1", "1 a 1 1 20 3 2 2 29 6 12 31 7\n"));
    ASSERT_EQ(r.Read(), 0);
    ExpectEvents(r.table[1], {{2, 29, 6}, {12, 31, 7}});
}
