#pragma once
// A diagnostics writer that records into a temporary directory, and the
// helpers the set-up tests share.

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "framework/diagnostics_writer.h"
#include "support/test_support.h"

namespace setuptest {

class SetupFixture : public ::testing::Test {
protected:
    SetupFixture() : Writer(std::make_unique<DiagnosticsWriter>(Dir.file("diag.xml"), DiagDebug, Console)) {}

    // The code a call throws, 0 when it returns.
    template <typename F> static int ThrownCode(F&& call) {
        try {
            call();
        } catch (int code) {
            return code;
        }
        return 0;
    }

    // Writes `content` as a file in the temporary directory; returns its path.
    std::string Write(const std::string& name, const std::string& content) {
        const std::string path = Dir.file(name);
        testsupport::WriteFile(path, content);
        return path;
    }

    // Entries of the diagnostics file so far (closes the writer).
    std::vector<testsupport::DiagLine> Entries() {
        Writer->Close();
        return testsupport::DiagLines(testsupport::ReadFile(Dir.file("diag.xml")));
    }

    // Number of entries of `level` whose description holds `text`.
    int CountEntries(int level, const std::string& text) {
        int count = 0;
        for (const auto& line : Entries()) count += line.level == level && line.description.find(text) != std::string::npos;
        return count;
    }

    std::string ConsoleText() const { return Console.str(); }

    testsupport::TempDir Dir;
    std::ostringstream Console;
    std::unique_ptr<DiagnosticsWriter> Writer;
};

}  // namespace setuptest
