#include <gtest/gtest.h>

#include "support/test_support.h"

using namespace testsupport;

TEST(ProgramEntry, NoArgumentPrintsUsageAndExits2) {
    TempDir dir;
    auto r = RunRuvex(dir.path(), {});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.output.find("usage: "), std::string::npos);
    const std::string xml = ReadFile(dir.file("Ruvex_Diag.xml"));
    EXPECT_EQ(XmlProblem(xml), "");
    auto lines = DiagLines(xml);
    bool usage = false;
    for (auto& l : lines) usage |= (l.level == 0 && l.description.find(";usage: ") == 0);
    EXPECT_TRUE(usage) << xml;
}
