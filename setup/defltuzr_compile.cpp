// The control-file symbol compiler: "$set" symbols, comments and joining marks.

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <string_view>

#include "framework/diagnostics_writer.h"
#include "setup/control_text.h"
#include "setup/defltuzr.h"

namespace {

const char* const Rule = "\n-----------------------------------------------------------";

// A reference word ends at a blank, a tab or the line end.
bool EndsReference(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The reference word at `dollar`: up to the next blank, tab or line end, cut
// at its first "//" and at its first ";".
std::string_view ReferenceWord(const std::string& line, size_t dollar) {
    size_t stop = dollar + 1;
    while (stop < line.size() && !EndsReference(line[stop])) ++stop;
    std::string_view word(line.data() + dollar, stop - dollar);
    const size_t join = word.find("//");
    if (join != std::string_view::npos) word = word.substr(0, join);
    const size_t semicolon = word.find(';');
    if (semicolon != std::string_view::npos) word = word.substr(0, semicolon);
    return word;
}

// The first four words of a definition line; missing ones stay empty.
void DefinitionWords(const std::string& line, std::string words[4]) {
    size_t pos = 0;
    for (int w = 0; w < 4; ++w) {
        while (pos < line.size() && controltext::IsSpace(line[pos])) ++pos;
        const size_t start = pos;
        while (pos < line.size() && !controltext::IsSpace(line[pos])) ++pos;
        words[w] = line.substr(start, pos - start);
    }
}

// Values that are numbers (or hold an infinity or a not-a-number) are never
// compared for twins; an empty value counts as a number.
bool ExemptFromTwinCheck(const std::string& value) {
    for (const char* special : {"inf", "nan", "INF", "NAN", "Inf", "Nan"}) {
        if (value.find(special) != std::string::npos) return true;
    }
    if (value.empty()) return true;
    const char* first = value.data();
    const char* last = value.data() + value.size();
    if (*first == '+' && value.size() > 1 && first[1] != '-' && first[1] != '+') ++first;
    double number = 0;
    const auto [ptr, ec] = std::from_chars(first, last, number, std::chars_format::general);
    return ptr == last && (ec == std::errc() || ec == std::errc::result_out_of_range);
}

// A line whose first character other than blanks and tabs is "#". An
// indented comment is dropped whole like one in the first column: cutting it
// would leave a line of blanks, which ends a list of key lines, and a
// commented-out definition must not define anything.
bool IsCommentLine(const std::string& line) {
    const size_t first = line.find_first_not_of(" \t");
    return first != std::string::npos && line[first] == '#';
}

// Reports a failing close as "FATAL: error closing <path>" (code 11).
void CloseOrFail(controltext::ScopedFile& file, const std::string& path, DiagnosticsWriter* writer) {
    if (file.Close()) return;
    if (writer) *writer << "FATAL: error closing " << path << "[end-entry]";
    throw 11;
}

}  // namespace

void defaultini::UndefinedSymbol(int lineNumber, const std::string& line) {
    if (Writer) {
        *Writer << "FATAL: " << Rule << "\npossible error in control file!\n" << "undefined symbol at line "
                << lineNumber << ":\n" << line << "\n\n-----------------------------------------------------------\n"
                << "[end-entry]";
    }
    throw 17;
}

void defaultini::LineTooLong(int lineNumber, const std::string& line, size_t length, size_t limit) {
    constexpr size_t excerpt = 120;
    if (Writer) {
        *Writer << "FATAL: " << Rule << "\npossible error in control file!\n" << "line " << lineNumber
                << " is too long after symbol substitution (" << static_cast<unsigned long long>(length)
                << " characters, at most " << static_cast<unsigned long long>(limit)
                << " are allowed):\n" << line.substr(0, excerpt) << (line.size() > excerpt ? "..." : "")
                << "\n\n-----------------------------------------------------------\n" << "[end-entry]";
    }
    throw 17;
}

std::string& defaultini::ReplaceSymbols(std::string& line, int lineNumber, const std::vector<std::string>& names,
                                        const std::vector<std::string>& values, int count) {
    // A "#" behind the first position cuts the comment together with the one
    // character in front of it, which becomes the line end.
    const size_t hash = line.find('#');
    if (hash != std::string::npos && hash > 0) {
        line.resize(hash);
        line[hash - 1] = '\n';
    }

    if (line.find("$set") != std::string::npos) return line;

    if (count < 0) count = 0;
    if (static_cast<size_t>(count) >= names.size() || static_cast<size_t>(count) >= values.size()) {
        count = static_cast<int>(std::min(names.size(), values.size())) - 1;
        if (count < 0) count = 0;
    }

    // Every character remembers the expansion it came from (-1: the line
    // itself), so that a symbol whose value leads back to itself is caught
    // instead of being expanded forever.
    struct Expansion {
        int symbol;
        int parent;
    };
    std::vector<Expansion> expansions;
    std::vector<int> origin(line.size(), -1);

    size_t dollar;
    while ((dollar = line.find('$')) != std::string::npos) {
        const std::string_view word = ReferenceWord(line, dollar);
        int symbol = 0;
        for (int k = 1; k <= count; ++k) {
            if (names[static_cast<size_t>(k)] == word) {
                symbol = k;
                break;
            }
        }
        if (symbol == 0) UndefinedSymbol(lineNumber, line);
        for (int e = origin[dollar]; e >= 0; e = expansions[static_cast<size_t>(e)].parent) {
            if (expansions[static_cast<size_t>(e)].symbol == symbol) UndefinedSymbol(lineNumber, line);
        }
        const std::string& value = values[static_cast<size_t>(symbol)];
        const size_t length = word.size();
        if (line.size() - length + value.size() > MaxSubstitutionLength) {
            LineTooLong(lineNumber, line, line.size() - length + value.size(), MaxSubstitutionLength);
        }
        expansions.push_back({symbol, origin[dollar]});
        const int id = static_cast<int>(expansions.size()) - 1;
        line.replace(dollar, length, value);
        origin.erase(origin.begin() + static_cast<long>(dollar), origin.begin() + static_cast<long>(dollar + length));
        origin.insert(origin.begin() + static_cast<long>(dollar), value.size(), id);
    }

    // Joining marks: no "//" can begin before the one just removed.
    size_t join = 0;
    while ((join = line.find("//", join)) != std::string::npos) line.erase(join, 2);
    return line;
}

void defaultini::WarnEqualSymbolValues(const std::vector<std::string>& names, const std::vector<std::string>& values,
                                       int newest) {
    const std::string& value = values[static_cast<size_t>(newest)];
    if (ExemptFromTwinCheck(value)) return;
    for (int k = 1; k < newest; ++k) {
        if (values[static_cast<size_t>(k)] != value) continue;
        if (!Writer) continue;
        *Writer << "INFO: \n------------------------ WARNING --------------------------"
                << "\npossible error in control file!\n" << "content of symbol " << names[static_cast<size_t>(k)]
                << " is the same as symbol " << names[static_cast<size_t>(newest)] << ", \n (which is: " << value
                << ").\n" << "this may lead to collusions!"
                << "\n-----------------------------------------------------------\n" << "[end-entry]";
    }
}

void defaultini::CompileSymbols(const std::string& sourcePath, std::string& targetPath) {
    const std::string source = sourcePath;  // the target may alias the source
    if (Writer) *Writer << "compiling symbols in control file " << source << "[end-entry]";
    const std::string target = source + "_" + std::to_string(ProcessNumber) + ".$$$";
    targetPath = target;

    controltext::ScopedFile input;
    if (!input.Open(source, "r")) {
        if (Writer) *Writer << "FATAL: error opening " << source << "[end-entry]";
        throw 28;
    }

    // Symbol table, 1-based in the order of the definition lines.
    std::vector<std::string> names(1);
    std::vector<std::string> values(1);

    std::string raw;
    std::string working;
    int lineNumber = 0;
    while (controltext::ReadLine(input.Get(), raw, *this, source)) {
        ++lineNumber;
        working = " " + raw;
        if (IsCommentLine(raw) || working.find("$set") == std::string::npos) continue;
        std::string words[4];
        DefinitionWords(working, words);
        names.push_back(words[1]);
        values.push_back(words[3]);
        const int count = static_cast<int>(names.size()) - 1;
        // A value may use the symbols defined before it, never itself.
        std::string value = values.back();
        ReplaceSymbols(value, lineNumber, names, values, count - 1);
        values.back() = value;
        WarnEqualSymbolValues(names, values, count);
    }

    std::clearerr(input.Get());
    if (std::fseek(input.Get(), 0, SEEK_SET) != 0) {
        if (Writer) *Writer << "FATAL: error rewinding " << source << "[end-entry]";
        throw 28;
    }

    controltext::ScopedFile output;
    if (!output.Open(target, "w")) {
        if (Writer) *Writer << "FATAL: error opening " << target << "[end-entry]";
        throw 28;
    }

    const int count = static_cast<int>(names.size()) - 1;
    lineNumber = 0;
    while (controltext::ReadLine(input.Get(), raw, *this, source)) {
        ++lineNumber;
        if (IsCommentLine(raw)) continue;
        working = " " + raw;
        ReplaceSymbols(working, lineNumber, names, values, count);
        // A definition line beginning in the first column is dropped.
        if (working.size() > 1 && working[1] == '$') continue;
        size_t length = working.size() - 1;
        if (length > 0 && working.back() == '\n') --length;
        if (length > 0 && working[length] == '\r') --length;
        if (length > MaxCompiledLineLength) LineTooLong(lineNumber, working.substr(1), length, MaxCompiledLineLength);
        const size_t bytes = working.size() - 1;
        if (bytes > 0 && std::fwrite(working.data() + 1, 1, bytes, output.Get()) != bytes) {
            WriteError(target, lineNumber);
        }
    }

    CloseOrFail(input, source, Writer);
    if (std::fflush(output.Get()) != 0) WriteError(target, lineNumber);
    CloseOrFail(output, target, Writer);
}
