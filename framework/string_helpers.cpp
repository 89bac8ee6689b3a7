#include "framework/string_helpers.h"

#include <charconv>
#include <cstdio>

size_t SplitString(const std::string& text, const std::string& delimiters, std::vector<std::string>& list) {
    const bool quotesSplit = delimiters.find('"') != std::string::npos;
    size_t pos = text.find_first_not_of(delimiters);
    while (pos != std::string::npos && pos < text.size()) {
        size_t end;
        if (text[pos] == '"' && !quotesSplit) {
            size_t close = std::string::npos;
            for (size_t k = pos + 1; k < text.size(); ++k) {
                if (text[k] != '"') continue;
                const bool escaped = k >= 1 && text[k - 1] == '\\' && !(k >= 2 && text[k - 2] == '\\');
                if (!escaped) {
                    close = k;
                    break;
                }
            }
            if (close == std::string::npos) {
                list.push_back(text.substr(pos));
                break;
            }
            list.push_back(text.substr(pos, close - pos + 1));
            end = close + 2;  // the character after the closing quote is skipped
        } else {
            end = text.find_first_of(delimiters, pos);
            if (end == std::string::npos) end = text.size();
            list.push_back(text.substr(pos, end - pos));
        }
        if (end >= text.size()) break;
        pos = text.find_first_not_of(delimiters, end);
    }
    return list.size();
}

long FindSubstringOffset(const std::string& text, const std::string& pattern) {
    const size_t pos = text.find(pattern);
    return pos == std::string::npos ? 0 : static_cast<long>(pos);
}

std::string& CutSubstring(std::string& buffer, long start, long length) {
    if (start < 0 || length < 0) return buffer;
    if (static_cast<size_t>(start) >= buffer.size()) {
        buffer.clear();
        return buffer;
    }
    buffer = buffer.substr(static_cast<size_t>(start), static_cast<size_t>(length) + 1);
    return buffer;
}

std::string ShortestText(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

void AppendShortest(std::string& out, double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void AppendGridRows(std::string& out, double** grid, int first, int last, int columns) {
    for (int i = first; i <= last; ++i) {
        for (int j = 1; j <= columns; ++j) {
            if (j > 1) out += ' ';
            AppendShortest(out, grid[i][j]);
        }
        out += '\n';
    }
}

bool ReadTextLine(FILE* file, std::string* line) {
    line->clear();
    int ch = std::fgetc(file);
    if (ch == EOF) return false;
    for (; ch != EOF && ch != '\n'; ch = std::fgetc(file)) *line += static_cast<char>(ch);
    return true;
}

bool BlankLine(const std::string& line) { return line.find_first_not_of(" \t\r") == std::string::npos; }

std::string InDirectory(const std::string& directory, const std::string& name) {
    if (name.empty() || name[0] == '/' || name[0] == '~') return name;
    return directory + name;
}
