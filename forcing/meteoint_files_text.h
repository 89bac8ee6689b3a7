#pragma once
// Plumbing shared by the readers of meteorological files: a file read from
// kept byte positions, the splitting of lines into tokens, the checked
// conversion of tokens and dates, and the error entries.

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "forcing/meteoint_files.h"

class DiagnosticsWriter;

namespace meteofiles {

// A file opened for reading, read line by line or byte by byte from a known
// byte position. Closes itself when destroyed.
class PositionedFile {
public:
    PositionedFile() = default;
    ~PositionedFile();
    PositionedFile(const PositionedFile&) = delete;
    PositionedFile& operator=(const PositionedFile&) = delete;

    bool Open(const std::string& path);
    bool IsOpen() const { return File != nullptr; }
    // Moves to a byte position; false when that fails.
    bool Seek(int64_t position);
    // Byte position of the next byte to read.
    int64_t Position() const { return Offset; }
    // The next line without its line end; false when no byte is left or a
    // read failed (see Failed).
    bool ReadLine(std::string& line);
    // Reads up to `count` bytes; returns the number read.
    size_t ReadBytes(unsigned char* data, size_t count);
    bool Failed() const;
    // Closes the file; false when closing failed. A closed file stays closed.
    bool Close();

private:
    FILE* File = nullptr;
    int64_t Offset = 0;
    char* LineBuffer = nullptr;
    size_t LineCapacity = 0;
    bool ReadFailed = false;
};

// Splits a line at blanks, tabs, carriage returns, vertical tabs and form
// feeds; runs of separators give no empty tokens.
void SplitTokens(std::string_view line, std::vector<std::string_view>& tokens);
bool IsBlankLine(std::string_view line);

// Whole-token conversions (a leading '+' is accepted); false when the token
// is not entirely one number.
bool ParseInteger(std::string_view token, int64_t& value);
bool ParseNumber(std::string_view token, double& value);

// How the first four tokens of a data row read as a date.
enum class RowDate { Valid, EndMarker, Malformed };

// Reads year, month, day and hour from tokens[0..3]. Year, month and day all 0
// mark the end of the data. A year from 0 to `centuryLimit` counts from 1900.
// A valid date has month 1..12, day 1..31, hour 0..24 and a year from 0 to
// 9999; otherwise `problem` tells what is wrong.
RowDate ParseRowDate(const std::vector<std::string_view>& tokens, int64_t centuryLimit, MeteoDate& date,
                     std::string& problem);
// The same for year, month, day and hour given as numbers.
RowDate CheckRowDate(const int64_t parts[4], int64_t centuryLimit, MeteoDate& date, std::string& problem);

// "day.month.year hour" for messages.
std::string DateText(const MeteoDate& date);

// A malformed line or record: "FATAL: \nerror reading <file>, <where>: <problem>"
// and code 49. `where` is for example "line 12" or "record 3".
[[noreturn]] void FormatError(DiagnosticsWriter* writer, const std::string& fileName, const std::string& where,
                              const std::string& problem);
// A read that failed: "FATAL: error reading <file>" and code 49.
[[noreturn]] void ReadFailure(DiagnosticsWriter* writer, const std::string& fileName);
// Closes the file; a failure is "FATAL: error closing <file>" and code 50.
void CloseChecked(DiagnosticsWriter* writer, PositionedFile& file, const std::string& fileName);
// Opens a meteorological file for reading; a file that cannot be opened is
// FATAL (code 49).
void OpenOrFail(DiagnosticsWriter* writer, const std::string& fileName, PositionedFile& file);
// The start date was not found in the file (code 51); `progress` closes the
// open entry of the search's progress dots first.
[[noreturn]] void MissingStartDate(DiagnosticsWriter* writer, const std::string& fileName, const MeteoDate& start,
                                   bool progress);

std::string LineText(int64_t line);

// An internal invariant that holds in every build; names the source line.
[[noreturn]] void InvariantFailure(const char* file, int line, const char* condition);

}  // namespace meteofiles

#define METEOFILES_CHECK(condition) \
    ((condition) ? static_cast<void>(0) : ::meteofiles::InvariantFailure(__FILE__, __LINE__, #condition))
