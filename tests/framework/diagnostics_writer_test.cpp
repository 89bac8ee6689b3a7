#include "framework/diagnostics_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "support/test_support.h"

using namespace testsupport;

namespace {

struct Captured {
    std::string console;
    std::string xml;
};

// Runs `write` against a writer at `level` and returns console and file.
template <typename F> Captured Capture(int level, F write) {
    TempDir dir;
    std::ostringstream console;
    {
        DiagnosticsWriter writer(dir.file("diag.xml"), level, console);
        write(writer);
    }
    return {console.str(), ReadFile(dir.file("diag.xml"))};
}

// The entries between the start and finish lines.
std::vector<DiagLine> Entries(const std::string& xml) {
    auto lines = DiagLines(xml);
    EXPECT_GE(lines.size(), 2u);
    return std::vector<DiagLine>(lines.begin() + 1, lines.end() - 1);
}

}  // namespace

TEST(DiagnosticsWriter, FileFrameAndLevels) {
    auto c = Capture(DiagDebug, [](DiagnosticsWriter& w) {
        w << "FATAL: broken " << 17 << "[end-entry]";
        w << "plain text" << "[end-entry]";
        w << "WARNING: careful" << "[end-entry]";
    });
    EXPECT_EQ(XmlProblem(c.xml), "");
    EXPECT_EQ(c.xml.rfind("<?xml version='1.0' encoding='UTF-8'?>\n", 0), 0u);
    EXPECT_NE(c.xml.find("<Diag version=\"1.2\""), std::string::npos);
    auto lines = DiagLines(c.xml);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0].level, 3);
    EXPECT_EQ(lines[0].description.rfind("Ruvex start at ", 0), 0u);
    EXPECT_EQ(lines[4].description.rfind("Ruvex finished at ", 0), 0u);
    EXPECT_EQ(lines[1].level, 0);
    EXPECT_EQ(lines[1].description, "broken 17");
    EXPECT_EQ(lines[2].level, 4);
    EXPECT_EQ(lines[2].description, "plain text");
    EXPECT_EQ(lines[3].level, 2);
    EXPECT_EQ(c.console, "broken 17\nplain text\ncareful\n");
    EXPECT_NE(c.xml.find("</Diag>\n"), std::string::npos);
}

TEST(DiagnosticsWriter, MaximumLevelFiltersFileOnly) {
    auto c = Capture(DiagFatal, [](DiagnosticsWriter& w) {
        w << "INFO: hidden" << "[end-entry]";
        w << "FATAL: shown" << "[end-entry]";
        w << 42 << " starts a debug entry" << "[end-entry]";
        w << "SKIP: menu prompt" << "[end-entry]";
    });
    EXPECT_EQ(XmlProblem(c.xml), "");
    auto e = Entries(c.xml);
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].description, "shown");
    EXPECT_EQ(c.console, "hidden\nshown\n42 starts a debug entry\nmenu prompt\n");
}

TEST(DiagnosticsWriter, EscapingAndDashes) {
    auto c = Capture(DiagDebug, [](DiagnosticsWriter& w) {
        w << "ERROR: a & b < c > d 'e' \"f\"" << "[end-entry]";
        w << "line one\nline two ------ end" << "[end-entry]";
        w << "ERROR:\nno prefix" << "[end-entry]";
        w << "INFO: file " << std::string("dir/<odd&name>.asc") << "[end-entry]";
    });
    EXPECT_EQ(XmlProblem(c.xml), "");
    auto e = Entries(c.xml);
    ASSERT_EQ(e.size(), 4u);
    EXPECT_EQ(e[0].description, "a &amp; b &lt; c &gt; d &apos;e&apos; &quot;f&quot;");
    EXPECT_EQ(e[1].description, "line one;line two -- end");
    EXPECT_EQ(e[2].level, 4);
    EXPECT_EQ(e[2].description, "ERROR:;no prefix");
    EXPECT_EQ(e[3].description, "file dir/&lt;odd&amp;name&gt;.asc");
    EXPECT_NE(c.console.find("line one\nline two ------ end\n"), std::string::npos);
}

TEST(DiagnosticsWriter, OpenEntriesAreClosedByAnyPrefix) {
    auto c = Capture(DiagDebug, [](DiagnosticsWriter& w) {
        w << "DEBUG: waiting for file x...";  // no end marker
        w << "SKIP: choose: " << "[end-entry]";
        w << "INFO: unterminated";
        w << "ERROR: next" << "[end-entry]";
        w << "DEBUG: left open at the end";
    });
    EXPECT_EQ(XmlProblem(c.xml), "") << c.xml;
    auto e = Entries(c.xml);
    ASSERT_EQ(e.size(), 4u);
    EXPECT_EQ(e[0].description, "waiting for file x...");
    EXPECT_EQ(e[1].description, "unterminated");
    EXPECT_EQ(e[2].description, "next");
    EXPECT_EQ(e[3].description, "left open at the end");
}

TEST(DiagnosticsWriter, MarkerInsideStringValueIsPlainText) {
    auto c = Capture(DiagDebug, [](DiagnosticsWriter& w) {
        w << "INFO: reading " << std::string("odd[end-entry]name.asc") << " now" << "[end-entry]";
    });
    EXPECT_EQ(XmlProblem(c.xml), "") << c.xml;
    auto e = Entries(c.xml);
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].description, "reading odd[end-entry]name.asc now");
}

TEST(DiagnosticsWriter, ForbiddenBytesAreReplaced) {
    auto c = Capture(DiagDebug, [](DiagnosticsWriter& w) {
        w << "INFO: bad " << std::string("a\x01" "b\x1f" "c\xff" "d") << " and " << '\x02' << "[end-entry]";
        w << "INFO: umlaut \xc3\xa4 stays" << "[end-entry]";
    });
    EXPECT_EQ(XmlProblem(c.xml), "") << c.xml;
    auto e = Entries(c.xml);
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(e[0].description, "bad a?b?c?d and ?");
    EXPECT_EQ(e[1].description, "umlaut \xc3\xa4 stays");
}

TEST(DiagnosticsWriter, LoneMarkerWritesEmptyDebugEntry) {
    auto c = Capture(DiagDebug, [](DiagnosticsWriter& w) { w << "[end-entry]"; });
    auto e = Entries(c.xml);
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].level, 4);
    EXPECT_EQ(e[0].description, "");
    EXPECT_EQ(c.console, "\n");
}

TEST(DiagnosticsWriter, NumbersAndWidth) {
    auto c = Capture(DiagDebug, [](DiagnosticsWriter& w) {
        w << "INFO: value " << 3.14159265 << " count " << 12L << " [";
        w.SetWidth(5);
        w << 7 << "]" << "[end-entry]";
    });
    auto e = Entries(c.xml);
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].description, "value 3.14159 count 12 [    7]");
    EXPECT_EQ(c.console, "value 3.14159 count 12 [    7]\n");
}

TEST(DiagnosticsWriter, UnwritablePathFallsBackToDefaultName) {
    TempDir dir;
    std::ostringstream console;
    const std::string cwd = std::filesystem::current_path().string();
    std::filesystem::current_path(dir.path());
    {
        DiagnosticsWriter writer(dir.file("no/such/dir/diag.xml"), DiagDebug, console);
        EXPECT_EQ(writer.FileName(), "Ruvex_Diag.xml");
    }
    std::filesystem::current_path(cwd);
    EXPECT_NE(console.str().find("error opening diagnostics output file"), std::string::npos);
    EXPECT_EQ(XmlProblem(ReadFile(dir.file("Ruvex_Diag.xml"))), "");
}

TEST(DiagnosticsWriter, LevelOption) {
    struct Case {
        const char* text;
        int level;
    } cases[] = {{"FATAL", 0}, {"error", 1}, {"warning", 2}, {"Info", 3}, {"DEBUG", 4}, {"", 4}, {"trace", 4}};
    for (const auto& c : cases) EXPECT_EQ(ParseDiagLevel(c.text), c.level) << c.text;
}
