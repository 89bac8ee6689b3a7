#include <charconv>
#include <cstdlib>
#include <string>

#include "forcing/meteoint_files_text.h"
#include "framework/diagnostics_writer.h"

namespace meteofiles {

PositionedFile::~PositionedFile() {
    if (File) std::fclose(File);
    std::free(LineBuffer);
}

bool PositionedFile::Open(const std::string& path) {
    if (File) Close();
    File = std::fopen(path.c_str(), "rb");
    Offset = 0;
    ReadFailed = false;
    return File != nullptr;
}

bool PositionedFile::Seek(int64_t position) {
    if (!File || position < 0) return false;
    if (fseeko(File, static_cast<off_t>(position), SEEK_SET) != 0) return false;
    Offset = position;
    return true;
}

bool PositionedFile::ReadLine(std::string& line) {
    line.clear();
    if (!File) return false;
    const ssize_t count = getline(&LineBuffer, &LineCapacity, File);
    if (count < 0) {
        if (std::ferror(File)) ReadFailed = true;
        return false;
    }
    Offset += count;
    size_t length = static_cast<size_t>(count);
    if (length > 0 && LineBuffer[length - 1] == '\n') --length;
    line.assign(LineBuffer, length);
    return true;
}

size_t PositionedFile::ReadBytes(unsigned char* data, size_t count) {
    if (!File) return 0;
    const size_t got = std::fread(data, 1, count, File);
    Offset += static_cast<int64_t>(got);
    if (got < count && std::ferror(File)) ReadFailed = true;
    return got;
}

bool PositionedFile::Failed() const { return ReadFailed; }

bool PositionedFile::Close() {
    if (!File) return true;
    const bool ok = std::fclose(File) == 0;
    File = nullptr;
    return ok;
}

namespace {
bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }
}  // namespace

void SplitTokens(std::string_view line, std::vector<std::string_view>& tokens) {
    tokens.clear();
    size_t i = 0;
    const size_t n = line.size();
    while (i < n) {
        while (i < n && IsSeparator(line[i])) ++i;
        const size_t start = i;
        while (i < n && !IsSeparator(line[i])) ++i;
        if (i > start) tokens.push_back(line.substr(start, i - start));
    }
}

bool IsBlankLine(std::string_view line) {
    for (char c : line) {
        if (!IsSeparator(c)) return false;
    }
    return true;
}

namespace {
std::string_view WithoutPlus(std::string_view token) {
    if (token.size() > 1 && token[0] == '+' && token[1] != '-' && token[1] != '+') token.remove_prefix(1);
    return token;
}
}  // namespace

bool ParseInteger(std::string_view token, int64_t& value) {
    token = WithoutPlus(token);
    if (token.empty()) return false;
    const auto result = std::from_chars(token.data(), token.data() + token.size(), value);
    return result.ec == std::errc() && result.ptr == token.data() + token.size();
}

bool ParseNumber(std::string_view token, double& value) {
    token = WithoutPlus(token);
    if (token.empty()) return false;
    const auto result = std::from_chars(token.data(), token.data() + token.size(), value);
    return result.ec == std::errc() && result.ptr == token.data() + token.size();
}

RowDate ParseRowDate(const std::vector<std::string_view>& tokens, int64_t centuryLimit, MeteoDate& date,
                     std::string& problem) {
    static const char* const Names[4] = {"year", "month", "day", "hour"};
    if (tokens.size() < 4) {
        problem = "a row begins with year, month, day and hour, but the line holds " + std::to_string(tokens.size()) +
                  " tokens";
        return RowDate::Malformed;
    }
    int64_t parts[4];
    for (int i = 0; i < 4; ++i) {
        if (!ParseInteger(tokens[i], parts[i])) {
            problem = "the " + std::string(Names[i]) + " '" + std::string(tokens[i]) + "' is not an integer";
            return RowDate::Malformed;
        }
    }
    return CheckRowDate(parts, centuryLimit, date, problem);
}

RowDate CheckRowDate(const int64_t parts[4], int64_t centuryLimit, MeteoDate& date, std::string& problem) {
    static const char* const Names[4] = {"year", "month", "day", "hour"};
    if (parts[0] == 0 && parts[1] == 0 && parts[2] == 0) return RowDate::EndMarker;
    int64_t year = parts[0];
    if (year >= 0 && year <= centuryLimit) year += 1900;
    const int64_t lower[4] = {0, 1, 1, 0};
    const int64_t upper[4] = {9999, 12, 31, 24};
    for (int i = 0; i < 4; ++i) {
        const int64_t value = i == 0 ? year : parts[i];
        if (value < lower[i] || value > upper[i]) {
            problem = "the " + std::string(Names[i]) + " " + std::to_string(parts[i]) + " lies outside " +
                      std::to_string(lower[i]) + " to " + std::to_string(upper[i]);
            return RowDate::Malformed;
        }
    }
    date = MeteoDate{year, parts[1], parts[2], parts[3]};
    return RowDate::Valid;
}

std::string DateText(const MeteoDate& date) {
    return std::to_string(date.Day) + "." + std::to_string(date.Month) + "." + std::to_string(date.Year) + " " +
           std::to_string(date.Hour);
}

void FormatError(DiagnosticsWriter* writer, const std::string& fileName, const std::string& where,
                 const std::string& problem) {
    *writer << "FATAL: \nerror reading " << fileName << ", " << where << ": " << problem << "[end-entry]";
    throw MeteoFileErrorCode;
}

void ReadFailure(DiagnosticsWriter* writer, const std::string& fileName) {
    *writer << "FATAL: error reading " << fileName << "[end-entry]";
    throw MeteoFileErrorCode;
}

void CloseChecked(DiagnosticsWriter* writer, PositionedFile& file, const std::string& fileName) {
    if (!file.Close()) {
        *writer << "FATAL: error closing " << fileName << "[end-entry]";
        throw MeteoCloseErrorCode;
    }
}

std::string LineText(int64_t line) { return "line " + std::to_string(line); }

void InvariantFailure(const char* file, int line, const char* condition) {
    std::fprintf(stderr, "%s:%d: internal error: %s\n", file, line, condition);
    std::abort();
}

void MissingStartDate(DiagnosticsWriter* writer, const std::string& fileName, const MeteoDate& start, bool progress) {
    if (progress) *writer << "[end-entry]";
    *writer << "FATAL: \nfile " << fileName << " dosnt contain date " << start.Day << "." << start.Month << "."
            << start.Year << ", hour " << start.Hour << "(feof)![end-entry]";
    throw MeteoStartDateErrorCode;
}

void OpenOrFail(DiagnosticsWriter* writer, const std::string& fileName, PositionedFile& file) {
    if (file.Open(fileName)) return;
    *writer << "FATAL: \nerror opening file " << fileName << "[end-entry]";
    throw MeteoFileErrorCode;
}

}  // namespace meteofiles
