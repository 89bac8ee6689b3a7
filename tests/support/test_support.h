#pragma once
// Helpers shared by the tests: temporary directories, files, running the real
// executable and checking the diagnostics file.

#include <map>
#include <string>
#include <vector>

namespace testsupport {

// A fresh directory under the system's temporary directory, removed at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return Path; }
    std::string file(const std::string& name) const { return Path + "/" + name; }

private:
    std::string Path;
};

void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);

struct RunResult {
    int exitCode = -1;
    std::string output;  // standard output and standard error
};

// Runs the ruvex executable in `directory` with the arguments (shell-quoted).
// `environment` holds "NAME=value" entries separated by blanks; the thread
// settings of DefaultRunEnvironment apply where it sets none.
RunResult RunRuvex(const std::string& directory, const std::vector<std::string>& arguments,
                   const std::string& environment = "");

// A minimal XML well-formedness check: one root element, properly nested
// tags, quoted attributes, only the predefined entities, no forbidden bytes.
// Returns an empty string when the text is well-formed, else the reason.
std::string XmlProblem(const std::string& text);

// The description attributes of the <line> elements of a diagnostics file,
// with their levels.
struct DiagLine {
    int level;
    std::string description;
};
std::vector<DiagLine> DiagLines(const std::string& xml);
// A description attribute with its XML entities turned back into characters.
std::string XmlUnescaped(std::string text);

std::string TestDataPath(const std::string& name);

// The control text with the on-switch (the first word after the "[section]"
// line) of `section` set to `value`; unchanged when the section is absent.
// Every file of the run's "output" directory by name, with its contents.
std::map<std::string, std::string> OutputFiles(const TempDir& dir);
// The rows of a statistics file after its three header lines, as numbers:
// year, month, day, hour, then the columns.
std::vector<std::vector<double>> StatisticsValueRows(const std::string& path);
// The same rows of a statistics or balance file's text.
std::vector<std::vector<double>> ValueRowsOfText(const std::string& text);

// The values of an ESRI ASCII grid's text after its six header lines, without
// the cells that hold -9999.
std::vector<double> GridValues(const std::string& asciiGrid);

// Replaces the first `from` in `text` by `to`; a `from` that is not there
// fails the test.
void ReplaceOnce(std::string& text, const std::string& from, const std::string& to);

std::string SetSectionSwitch(const std::string& control, const std::string& section, int value);

// The example's control text with its river-irrigated fields (irrigation
// code 2) watered 3 mm a day on 1 to 6 January from the rivers instead of in
// summer, for short runs at the start of the example's time that need river
// irrigation. A text without that rule fails the test.
std::string WithJanuaryRiverIrrigation(const std::string& control);

// The control text with `lines` (each ending in a newline) added after the
// last of its standard grids, and the count in front of them raised to match.
std::string AddStandardGrids(const std::string& control, const std::string& lines);

// The control text without the standard grids whose line starts with one of
// `files` (for example "glacier.asc"), the count lowered to match.
std::string RemoveStandardGrids(const std::string& control, const std::vector<std::string>& files);

}  // namespace testsupport
