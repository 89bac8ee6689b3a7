// The control-file compiler: symbols, comments, joining marks and the compiled
// copy written next to the control file.

#include <filesystem>
#include <string>
#include <vector>

#include "setup/defltuzr.h"
#include "setup_fixture.h"

using namespace testsupport;

namespace {

class SymbolCompiler : public setuptest::SetupFixture {
protected:
    SymbolCompiler() : Setup(&Status, Writer.get(), Dir.file("run.ctl"), nullptr, 200, 2, nullptr) {}

    // Compiles `text` as the control file; returns the thrown code (0 on
    // success) and leaves the copy's name in Compiled.
    int Compile(const std::string& text) {
        const std::string source = Write("run.ctl", text);
        return ThrownCode([&] { Setup.CompileSymbols(source, Compiled); });
    }

    int Status = -1;
    defaultini Setup;
    std::string Compiled;
};

struct CompileCase {
    const char* what;
    std::string control;
    std::string compiled;
};

TEST_F(SymbolCompiler, CompilesSymbolsCommentsAndJoinedLines) {
    const std::vector<CompileCase> cases = {
        {"plain copy", "[a]\nvalue # comment\nx//y\n# whole-line comment\n\n  indented\n",
         "[a]\nvalue\nxy\n\n  indented\n"},
        {"comment right behind a value costs its last character", "value# comment\n", "valu\n"},
        {"symbol joined to text, and kept before ;", "$set $dir = /data/run1/\n$dir//grid.asc\n$dir;\n",
         "/data/run1/grid.asc\n/data/run1/;\n"},
        {"definition using an earlier symbol", "$set $a = 10\n$set $b = $a//0\n$b\n", "100\n"},
        {"indented definition is copied with its comment cut", "  $set $x = 5 # five\n$x\n",
         "  $set $x = 5\n5\n"},
        {"three words define an empty value", "$set $e =\nA$e;B\n", "A;B\n"},
        {"several references in one line", "$set $a = x\n$set $b = $a//y\n$b $a\t$a\n", "xy x\tx\n"},
        {"the first of two equal names wins", "$set $a = 1\n$set $a = 2\n$a\n", "1\n"},
        {"a web address loses its //", "http://host/x\n", "http:host/x\n"},
        {"/// and //// close up", "a///b////c\n", "a/bc\n"},
        {"last line without a line end", "a\nb", "a\nb"},
        {"last line with a line end is written once", "a\nb\n", "a\nb\n"},
        {"carriage returns end a reference", "$set $d = D\r\n$d x\r\n", "D x\r\n"},
        {"comment text may hold $ and $set", "x # $undefined $set\n", "x\n"},
        {"indented comment lines vanish too", "a\n  \t# note\nb\n", "a\nb\n"},
        {"a commented-out definition defines nothing", "  #$set $a = 1\n\t# $set $b = 1\n$set $a = 2\n$a\n", "2\n"},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(Compile(c.control), 0) << c.what << "\n" << ConsoleText();
        EXPECT_EQ(Compiled, Dir.file("run.ctl") + "_0.$$$") << c.what;
        EXPECT_EQ(ReadFile(Compiled), c.compiled) << c.what;
    }
}

TEST_F(SymbolCompiler, TargetMayBeTheObjectsOwnPath) {
    const std::string source = Write("run.ctl", "$set $n = 7\n[model_time]\n$n\n");
    Setup.ControlFilePath = source;
    ASSERT_EQ(ThrownCode([&] { Setup.CompileSymbols(Setup.ControlFilePath, Setup.ControlFilePath); }), 0);
    EXPECT_EQ(Setup.ControlFilePath, source + "_0.$$$");
    EXPECT_EQ(ReadFile(Setup.ControlFilePath), "[model_time]\n7\n");
    EXPECT_EQ(ReadFile(source), "$set $n = 7\n[model_time]\n$n\n");
}

struct UndefinedCase {
    const char* what;
    std::string control;
    int line;
};

TEST_F(SymbolCompiler, UndefinedOrSelfReferringSymbolIsCode17NamingTheLine) {
    const std::vector<UndefinedCase> cases = {
        {"unknown longer name", "$set $dir = /d/\n\n$dirx\n", 3},
        {"a $ without any symbol", "# one\n# two\nprice 5 $\n", 3},
        {"a $ in the first column", "$\n", 1},
        {"value refers to itself", "$set $a = x$a\n", 1},
        {"value is itself", "a\n$set $a = $a\n", 2},
        {"value refers to a later symbol", "$set $a = $b\n$set $b = 1\n", 1},
    };
    for (const auto& c : cases) {
        Console.str("");
        EXPECT_EQ(Compile(c.control), 17) << c.what;
        EXPECT_NE(ConsoleText().find("undefined symbol at line " + std::to_string(c.line) + ":\n"),
                  std::string::npos)
            << c.what << "\n" << ConsoleText();
    }
}

TEST_F(SymbolCompiler, CyclicSymbolTableEndsWithCode17InsteadOfLooping) {
    // Tables built by hand can hold references between values; a cycle
    // through several symbols must be caught too.
    const std::vector<std::string> names = {"", "$a", "$b", "$c"};
    const std::vector<std::string> values = {"", "1$b", "2$c", "3$a"};
    std::string line = " x $a\n";
    EXPECT_EQ(ThrownCode([&] { Setup.ReplaceSymbols(line, 4, names, values, 3); }), 17);
    EXPECT_NE(ConsoleText().find("undefined symbol at line 4:"), std::string::npos);

    // The same symbol twice side by side is no cycle.
    const std::vector<std::string> nested = {"", "$a", "$b"};
    const std::vector<std::string> nestedValues = {"", "$b;$b", "b"};
    line = " $a $a\n";
    ASSERT_EQ(ThrownCode([&] { Setup.ReplaceSymbols(line, 1, nested, nestedValues, 2); }), 0);
    EXPECT_EQ(line, " b;b b;b\n");
}

TEST_F(SymbolCompiler, OverlongCompiledLineIsCode17NamingTheLine) {
    const std::string longest(defaultini::MaxCompiledLineLength, 'x');
    ASSERT_EQ(Compile("a\n" + longest + "\n"), 0);
    EXPECT_EQ(ReadFile(Compiled), "a\n" + longest + "\n");

    // A long comment or a comment that brings the line back within the limit
    // is harmless.
    ASSERT_EQ(Compile("#" + std::string(3000, 'c') + "\nv # " + std::string(3000, 'c') + "\n"), 0);
    EXPECT_EQ(ReadFile(Compiled), "v\n");

    Console.str("");
    EXPECT_EQ(Compile("a\n" + longest + "y\n"), 17);
    EXPECT_NE(ConsoleText().find("line 2 is too long"), std::string::npos) << ConsoleText();
    EXPECT_NE(ConsoleText().find("at most 1198 are allowed"), std::string::npos) << ConsoleText();

    Console.str("");
    const std::string value(700, 'v');
    EXPECT_EQ(Compile("$set $v = " + value + "\nok $v\nx $v $v\n"), 17);
    EXPECT_NE(ConsoleText().find("line 3 is too long"), std::string::npos) << ConsoleText();

    // Doubling at every level would reach gigabytes; the growth is cut off.
    std::vector<std::string> names = {""};
    std::vector<std::string> values = {""};
    for (int k = 1; k <= 40; ++k) {
        names.push_back("$s" + std::to_string(k));
        values.push_back(k < 40 ? "$s" + std::to_string(k + 1) + ";$s" + std::to_string(k + 1) : "leaf");
    }
    std::string line = " $s1\n";
    Console.str("");
    EXPECT_EQ(ThrownCode([&] { Setup.ReplaceSymbols(line, 9, names, values, 40); }), 17);
    // The limit named is the one that failed: the length while symbols are
    // substituted.
    EXPECT_NE(ConsoleText().find("at most 8192 are allowed"), std::string::npos) << ConsoleText();
}

TEST_F(SymbolCompiler, EqualSymbolValuesGiveOneInfoPerEarlierTwin) {
    ASSERT_EQ(Compile("$set $a = abc\n$set $b = abc\n$set $c = abc\n"
                      "$set $n1 = 1.5\n$set $n2 = 1.5\n$set $m1 = nan7\n$set $m2 = nan7\n"
                      "$set $e1 =\n$set $e2 =\n$set $h1 = 0x10\n$set $h2 = 0x10\n"),
              0);
    EXPECT_EQ(CountEntries(DiagInfo, "is the same as symbol"), 4);
    EXPECT_NE(ConsoleText().find("content of symbol $a is the same as symbol $c, \n (which is: abc).\n"),
              std::string::npos);
    EXPECT_NE(ConsoleText().find("content of symbol $h1 is the same as symbol $h2"), std::string::npos);
}

TEST_F(SymbolCompiler, FileFailuresEndTheRunWithCode28) {
    EXPECT_EQ(ThrownCode([&] { Setup.CompileSymbols(Dir.file("missing.ctl"), Compiled); }), 28);
    EXPECT_NE(ConsoleText().find("error opening " + Dir.file("missing.ctl")), std::string::npos);

    // A directory where the compiled copy belongs cannot be written over.
    std::filesystem::create_directory(Dir.file("run.ctl_0.$$$"));
    Console.str("");
    EXPECT_EQ(Compile("a\n"), 28);
    EXPECT_NE(ConsoleText().find("error opening " + Dir.file("run.ctl_0.$$$")), std::string::npos);
}

}  // namespace
