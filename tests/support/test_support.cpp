#include "support/test_support.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

#include "support/child_process.h"

namespace testsupport {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ruvex_test_XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed");
    Path = buffer.data();
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(Path, ignored);
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool FileExists(const std::string& path) { return std::filesystem::exists(path); }

namespace {
std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'') quoted += "'\\''";
        else quoted += c;
    }
    return quoted + "'";
}
}  // namespace

RunResult RunRuvex(const std::string& directory, const std::vector<std::string>& arguments,
                   const std::string& environment) {
    std::string command = "cd " + Quote(directory) + " && env";
    for (const auto& entry : DefaultRunEnvironment(environment)) command += " " + Quote(entry);
    command += " " + Quote(RUVEX_BINARY);
    for (const auto& a : arguments) command += " " + Quote(a);
    command += " 2>&1 </dev/null";
    RunResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return result;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

std::string XmlProblem(const std::string& text) {
    size_t i = 0;
    std::vector<std::string> open;
    bool rootSeen = false;
    auto isNameChar = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == ':' || c == '_' || c == '-' || c == '.'; };
    for (unsigned char c : text) {
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') return "forbidden control byte";
    }
    auto checkEntities = [](const std::string& s) -> std::string {
        for (size_t k = 0; k < s.size(); ++k) {
            if (s[k] == '<') return "raw < in text or attribute";
            if (s[k] == '&') {
                static const char* entities[] = {"&amp;", "&lt;", "&gt;", "&apos;", "&quot;"};
                bool ok = false;
                for (const char* e : entities) {
                    if (s.compare(k, std::strlen(e), e) == 0) ok = true;
                }
                if (!ok) return "bad entity";
            }
        }
        return "";
    };
    while (i < text.size()) {
        if (text[i] != '<') {
            size_t next = text.find('<', i);
            std::string chunk = text.substr(i, next == std::string::npos ? std::string::npos : next - i);
            if (open.empty() && chunk.find_first_not_of(" \t\r\n") != std::string::npos) return "text outside root";
            auto p = checkEntities(chunk);
            if (!p.empty()) return p;
            if (next == std::string::npos) break;
            i = next;
            continue;
        }
        if (text.compare(i, 5, "<?xml") == 0) {
            size_t end = text.find("?>", i);
            if (end == std::string::npos) return "unterminated declaration";
            i = end + 2;
            continue;
        }
        if (text.compare(i, 2, "</") == 0) {
            size_t end = text.find('>', i);
            if (end == std::string::npos) return "unterminated end tag";
            std::string name = text.substr(i + 2, end - i - 2);
            if (open.empty() || open.back() != name) return "mismatched end tag " + name;
            open.pop_back();
            i = end + 1;
            continue;
        }
        size_t k = i + 1;
        while (k < text.size() && isNameChar(text[k])) ++k;
        std::string name = text.substr(i + 1, k - i - 1);
        if (name.empty()) return "empty tag name";
        if (open.empty()) {
            if (rootSeen) return "second root element";
            rootSeen = true;
        }
        while (true) {
            while (k < text.size() && std::isspace(static_cast<unsigned char>(text[k]))) ++k;
            if (k >= text.size()) return "unterminated tag " + name;
            if (text.compare(k, 2, "/>") == 0) {
                k += 2;
                break;
            }
            if (text[k] == '>') {
                open.push_back(name);
                ++k;
                break;
            }
            size_t a = k;
            while (k < text.size() && isNameChar(text[k])) ++k;
            if (k == a) return "bad attribute in " + name;
            while (k < text.size() && std::isspace(static_cast<unsigned char>(text[k]))) ++k;
            if (k >= text.size() || text[k] != '=') return "attribute without = in " + name;
            ++k;
            while (k < text.size() && std::isspace(static_cast<unsigned char>(text[k]))) ++k;
            if (k >= text.size() || (text[k] != '"' && text[k] != '\'')) return "unquoted attribute in " + name;
            char q = text[k];
            size_t end = text.find(q, k + 1);
            if (end == std::string::npos) return "unterminated attribute in " + name;
            auto p = checkEntities(text.substr(k + 1, end - k - 1));
            if (!p.empty()) return p;
            k = end + 1;
        }
        i = k;
    }
    if (!open.empty()) return "unclosed element " + open.back();
    if (!rootSeen) return "no root element";
    return "";
}

std::string XmlUnescaped(std::string text) {
    for (const auto& [entity, c] : std::vector<std::pair<std::string, std::string>>{
             {"&quot;", "\""}, {"&apos;", "'"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}}) {
        for (size_t at = text.find(entity); at != std::string::npos; at = text.find(entity, at + 1)) {
            text.replace(at, entity.size(), c);
        }
    }
    return text;
}

std::vector<DiagLine> DiagLines(const std::string& xml) {
    std::vector<DiagLine> lines;
    static const std::regex pattern("<line level=\"([0-9])\" description= \"([^\"]*)\"/>");
    for (auto it = std::sregex_iterator(xml.begin(), xml.end(), pattern); it != std::sregex_iterator(); ++it) {
        lines.push_back({std::stoi((*it)[1]), (*it)[2]});
    }
    return lines;
}

std::string TestDataPath(const std::string& name) { return std::string(RUVEX_TEST_DATA) + "/" + name; }

std::string SetSectionSwitch(const std::string& control, const std::string& section, int value) {
    const std::string header = "[" + section + "]\n";
    const size_t at = control.find(header);
    if (at == std::string::npos) return control;
    const size_t begin = at + header.size();
    size_t end = begin;
    while (end < control.size() && control[end] != ' ' && control[end] != '\t' && control[end] != '\n') ++end;
    return control.substr(0, begin) + std::to_string(value) + control.substr(end);
}

std::string WithJanuaryRiverIrrigation(const std::string& control) {
    const std::string rule = "\n2 fields_river ";
    const size_t at = control.find(rule);
    EXPECT_NE(at, std::string::npos) << "the example has no river-irrigated fields";
    if (at == std::string::npos) return control;
    const size_t end = control.find('\n', at + 1);
    return control.substr(0, at) + "\n2 fields_river 1 2 0 0 6 1 1 3 1 2 3 1 3 3 1 4 3 1 5 3 1 6 3" +
           control.substr(end);
}

namespace {

// The standard-grid list of a control text: where its count stands and where
// the list ends (the blank line after the last grid).
struct StandardGridList {
    size_t countBegin = std::string::npos, countEnd = 0, listEnd = 0;
    int count = 0;
};

StandardGridList FindStandardGrids(const std::string& control) {
    StandardGridList list;
    const std::string header = "[standard_grids]\n";
    const size_t at = control.find(header);
    if (at == std::string::npos) throw std::runtime_error("no [standard_grids] in the control text");
    list.countBegin = at + header.size();
    list.count = std::atoi(control.c_str() + list.countBegin);
    list.countEnd = control.find_first_of(" \t\n", list.countBegin);
    size_t line = control.find('\n', list.countBegin) + 1;
    for (int k = 0; k < list.count; ++k) line = control.find('\n', line) + 1;
    list.listEnd = line;
    return list;
}

}  // namespace

std::string AddStandardGrids(const std::string& control, const std::string& lines) {
    const StandardGridList list = FindStandardGrids(control);
    const int added = static_cast<int>(std::count(lines.begin(), lines.end(), '\n'));
    return control.substr(0, list.countBegin) + std::to_string(list.count + added) +
           control.substr(list.countEnd, list.listEnd - list.countEnd) + lines + control.substr(list.listEnd);
}

std::string RemoveStandardGrids(const std::string& control, const std::vector<std::string>& files) {
    const StandardGridList list = FindStandardGrids(control);
    const size_t first = control.find('\n', list.countBegin) + 1;
    std::string kept;
    int removed = 0;
    for (size_t line = first; line < list.listEnd;) {
        const size_t next = control.find('\n', line) + 1;
        const std::string text = control.substr(line, next - line);
        bool drop = false;
        for (const auto& file : files) drop = drop || text.rfind(file + " ", 0) == 0;
        if (drop) ++removed;
        else kept += text;
        line = next;
    }
    return control.substr(0, list.countBegin) + std::to_string(list.count - removed) +
           control.substr(list.countEnd, first - list.countEnd) + kept + control.substr(list.listEnd);
}

void ReplaceOnce(std::string& text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
}

std::map<std::string, std::string> OutputFiles(const TempDir& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir.file("output")))
        files[entry.path().filename().string()] = ReadFile(entry.path().string());
    return files;
}

std::vector<std::vector<double>> StatisticsValueRows(const std::string& path) {
    return ValueRowsOfText(ReadFile(path));
}

std::vector<std::vector<double>> ValueRowsOfText(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::vector<double>> rows;
    std::string line;
    for (int n = 0; std::getline(in, line); ++n) {
        if (n < 3) continue;
        std::istringstream values(line);
        std::vector<double> row;
        double v = 0;
        while (values >> v) row.push_back(v);
        rows.push_back(row);
    }
    return rows;
}

std::vector<double> GridValues(const std::string& asciiGrid) {
    std::istringstream grid(asciiGrid);
    std::string key;
    double value = 0;
    for (int i = 0; i < 6; ++i) grid >> key >> value;
    std::vector<double> values;
    while (grid >> value)
        if (value != -9999) values.push_back(value);
    return values;
}

}  // namespace testsupport
