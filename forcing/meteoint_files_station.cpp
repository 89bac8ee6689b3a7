#include "forcing/meteoint_files_station.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "forcing/meteoint_files_text.h"
#include "framework/diagnostics_writer.h"

using namespace meteofiles;

namespace {

std::string Quoted(std::string_view token) {
    std::string text(1, '\'');
    text.append(token);
    text.push_back('\'');
    return text;
}

[[noreturn]] void NegativeColumnCount(DiagnosticsWriter* writer, const std::string& fileName, int64_t columns) {
    *writer << "FATAL: \nerror reading " << fileName << ": the number of additional columns (" << columns
            << ") is negative[end-entry]";
    throw MeteoFileErrorCode;
}

// Reads one header line; a missing line is malformed.
void HeaderLine(DiagnosticsWriter* writer, PositionedFile& file, const std::string& fileName, int64_t line,
                std::string& text) {
    if (file.ReadLine(text)) return;
    if (file.Failed()) ReadFailure(writer, fileName);
    FormatError(writer, fileName, LineText(line), "the file ends before the station altitudes and coordinates");
}

// Reads n numbers after the labels of a header line into values[1..n].
void HeaderNumbers(DiagnosticsWriter* writer, const std::string& fileName, int64_t line,
                   const std::vector<std::string_view>& tokens, size_t labels, int64_t n, const char* what,
                   std::vector<double>& values) {
    const size_t count = static_cast<size_t>(n);
    if (tokens.size() < labels + count) {
        const size_t found = tokens.size() > labels ? tokens.size() - labels : 0;
        FormatError(writer, fileName, LineText(line),
                    "the line holds " + std::to_string(found) + " " + what + " of " + std::to_string(n) + " stations");
    }
    for (size_t i = 1; i <= count; ++i) {
        const std::string_view token = tokens[labels + i - 1];
        double v = 0;
        if (!ParseNumber(token, v) || !std::isfinite(v)) {
            FormatError(writer, fileName, LineText(line),
                        std::string(what) + " of station " + std::to_string(i) + ", " + Quoted(token) +
                            ", is not a number");
        }
        values[i] = v;
    }
    // A number beyond the stations of the altitude line means that line
    // lacks one: the station would be dropped without a word.
    double extra = 0;
    if (tokens.size() > labels + count && ParseNumber(tokens[labels + count], extra)) {
        FormatError(writer, fileName, LineText(line),
                    "the line holds more " + std::string(what) + "s than the " + std::to_string(n) +
                        " station altitudes of line 2 (" + Quoted(tokens[labels + count]) + " is one too many)");
    }
}

std::string OrderProblem(const MeteoDate& date, const MeteoDate& previous) {
    return "the date " + DateText(date) + " does not follow the date " + DateText(previous) + " of the row before";
}

}  // namespace

StationDescription ReadStationDescription(DiagnosticsWriter* writer, const std::string& inputName,
                                          const std::string& fileName, int64_t additionalColumns) {
    *writer << "reading station description for " << inputName << " from " << fileName << " ...[end-entry]";
    if (additionalColumns < 0) NegativeColumnCount(writer, fileName, additionalColumns);
    PositionedFile file;
    if (!file.Open(fileName)) {
        *writer << "FATAL: \nerror opening " << fileName << "[end-entry]";
        throw MeteoFileErrorCode;
    }
    const size_t labels = 4 + static_cast<size_t>(additionalColumns);
    std::string text;
    std::vector<std::string_view> tokens;
    HeaderLine(writer, file, fileName, 1, text);

    // Line 2: the station count is the count of numbers after the labels.
    HeaderLine(writer, file, fileName, 2, text);
    SplitTokens(text, tokens);
    int64_t n = 0;
    for (size_t i = labels; i < tokens.size(); ++i) {
        double v = 0;
        if (!ParseNumber(tokens[i], v) || !std::isfinite(v)) break;
        ++n;
    }
    if (n == 0) {
        FormatError(writer, fileName, LineText(2),
                    "no station altitude follows the " + std::to_string(labels) + " labels of the line");
    }
    StationDescription description;
    description.StationCount = n;
    description.Altitude.assign(static_cast<size_t>(n) + 1, 0.0);
    description.X.assign(static_cast<size_t>(n) + 1, 0.0);
    description.Y.assign(static_cast<size_t>(n) + 1, 0.0);
    HeaderNumbers(writer, fileName, 2, tokens, labels, n, "altitude", description.Altitude);
    *writer << " (" << n << ") Stationen [end-entry]";

    HeaderLine(writer, file, fileName, 3, text);
    SplitTokens(text, tokens);
    HeaderNumbers(writer, fileName, 3, tokens, labels, n, "x coordinate", description.X);
    HeaderLine(writer, file, fileName, 4, text);
    SplitTokens(text, tokens);
    HeaderNumbers(writer, fileName, 4, tokens, labels, n, "y coordinate", description.Y);
    CloseChecked(writer, file, fileName);
    return description;
}

StationFileReader::StationFileReader(DiagnosticsWriter* writer, std::string inputName, std::string fileName,
                                     int64_t additionalColumns, double noDataBound, int64_t bufferBytes)
    : Writer(writer),
      InputName(std::move(inputName)),
      FileNameText(std::move(fileName)),
      ExtraColumns(additionalColumns),
      NoDataBound(noDataBound),
      BufferBytes(bufferBytes) {}

void StationFileReader::ReadStationDescription() {
    Description = ::ReadStationDescription(Writer, InputName, FileNameText, ExtraColumns);
    CurrentValues.assign(static_cast<size_t>(Description.StationCount) + 1, Invalid());
}

bool StationFileReader::ParseValues(const std::vector<std::string_view>& tokens, double* out,
                                    std::string& problem) const {
    const size_t first = 4 + static_cast<size_t>(ExtraColumns);
    const size_t n = static_cast<size_t>(Description.StationCount);
    if (tokens.size() < first + n) {
        const size_t found = tokens.size() > first ? tokens.size() - first : 0;
        problem = "the row holds " + std::to_string(found) + " of " + std::to_string(n) + " station values";
        return false;
    }
    const double invalid = Invalid();
    for (size_t i = 1; i <= n; ++i) {
        const std::string_view token = tokens[first + i - 1];
        double v = 0;
        if (!ParseNumber(token, v)) {
            problem = "the value of station " + std::to_string(i) + ", " + Quoted(token) + ", is not a number";
            return false;
        }
        // NaN fails both comparisons; it is no value either.
        if (!(v >= -NoDataBound && v <= NoDataBound)) v = invalid;
        out[i] = v;
    }
    return true;
}

void StationFileReader::FindStartDate(const MeteoDate& start) {
    METEOFILES_CHECK(Description.StationCount > 0);
    *Writer << "looking for starting date " << start.Day << "." << start.Month << "." << start.Year << " for "
            << InputName << " in " << FileNameText << "[end-entry]";
    PositionedFile file;
    OpenOrFail(Writer, FileNameText, file);
    std::fill(CurrentValues.begin(), CurrentValues.end(), Invalid());
    std::string text, problem;
    std::vector<std::string_view> tokens;
    int64_t line = 0;
    bool progress = false;
    bool headerComplete = true;
    for (int i = 0; i < 5 && headerComplete; ++i) {
        if (file.ReadLine(text)) {
            ++line;
        } else {
            if (file.Failed()) ReadFailure(Writer, FileNameText);
            headerComplete = false;
        }
    }
    int64_t lastKey = std::numeric_limits<int64_t>::min();
    MeteoDate previous;
    while (headerComplete) {
        const int64_t rowPosition = file.Position();
        if (!file.ReadLine(text)) {
            if (file.Failed()) ReadFailure(Writer, FileNameText);
            break;
        }
        ++line;
        if (IsBlankLine(text)) continue;
        SplitTokens(text, tokens);
        MeteoDate date;
        const RowDate kind = ParseRowDate(tokens, 99, date, problem);
        if (kind == RowDate::Malformed) FormatError(Writer, FileNameText, LineText(line), problem);
        if (kind == RowDate::EndMarker) break;
        if (date.Key() <= lastKey) FormatError(Writer, FileNameText, LineText(line), OrderProblem(date, previous));
        lastKey = date.Key();
        previous = date;
        if ((date.Hour == 0 || date.Hour > 23) && date.Day == 1) {
            *Writer << ".";
            progress = true;
        }
        if (date == start) {
            if (!ParseValues(tokens, CurrentValues.data(), problem)) {
                FormatError(Writer, FileNameText, LineText(line), problem);
            }
            if (progress) *Writer << "[end-entry]";
            StartRowPosition = rowPosition;
            StartRowLine = line - 1;
            KeptPosition = file.Position();
            KeptLine = line;
            LastKey = lastKey;
            CloseChecked(Writer, file, FileNameText);

            const int64_t rowBytes = (Description.StationCount + 1) * 8 + 32;
            BufferCapacity = std::max<int64_t>(1, BufferBytes / rowBytes);
            const size_t width = static_cast<size_t>(Description.StationCount) + 1;
            Rows.assign(static_cast<size_t>(BufferCapacity) + 1, StationRecord{});
            RowValues.assign(static_cast<size_t>(BufferCapacity) * width, Invalid());
            for (int64_t r = 1; r <= BufferCapacity; ++r) {
                Rows[static_cast<size_t>(r)].Values = RowValues.data() + static_cast<size_t>(r - 1) * width;
            }
            Filled = 0;
            Cursor = 1;
            LastBuffer = false;
            StartDate = start;
            CurrentDate = start;
            AllEqualFlag = 0;
            Started = true;
            return;
        }
        // Dates increase, so the start date cannot come later.
        if (date.Key() > start.Key()) break;
    }
    MissingStartDate(Writer, FileNameText, start, progress);
}

void StationFileReader::FillStationBuffer() {
    PositionedFile file;
    OpenOrFail(Writer, FileNameText, file);
    if (!file.Seek(KeptPosition)) ReadFailure(Writer, FileNameText);
    std::string text, problem;
    std::vector<std::string_view> tokens;
    int64_t line = KeptLine;
    Filled = 0;
    // A bad row ends the run only when it is due: the fill stops before it,
    // so that the steps of the rows before it are computed and written, and
    // the next fill, which starts with it, reports it.
    int64_t rowPosition = file.Position();
    bool stoppedBeforeBadRow = false;
    const auto badRow = [&](const std::string& what) {
        if (Filled == 0) FormatError(Writer, FileNameText, LineText(line), what);
        stoppedBeforeBadRow = true;
    };
    while (Filled < BufferCapacity) {
        rowPosition = file.Position();
        if (!file.ReadLine(text)) {
            if (file.Failed()) ReadFailure(Writer, FileNameText);
            LastBuffer = true;
            break;
        }
        ++line;
        if (IsBlankLine(text)) continue;
        SplitTokens(text, tokens);
        MeteoDate date;
        const RowDate kind = ParseRowDate(tokens, 99, date, problem);
        if (kind == RowDate::Malformed) {
            badRow(problem);
            break;
        }
        if (kind == RowDate::EndMarker) {
            LastBuffer = true;
            break;
        }
        if (date.Key() <= LastKey) {
            const StationRecord& before = Rows[static_cast<size_t>(Filled)];
            const MeteoDate previous = Filled > 0 ? MeteoDate{before.Year, before.Month, before.Day, before.Hour}
                                                  : CurrentDate;
            badRow(OrderProblem(date, previous));
            break;
        }
        StationRecord& row = Rows[static_cast<size_t>(Filled) + 1];
        if (!ParseValues(tokens, row.Values, problem)) {
            badRow(problem);
            break;
        }
        row.Year = date.Year;
        row.Month = date.Month;
        row.Day = date.Day;
        row.Hour = date.Hour;
        LastKey = date.Key();
        ++Filled;
    }
    if (stoppedBeforeBadRow) {
        KeptPosition = rowPosition;
        KeptLine = line - 1;
    } else {
        KeptPosition = file.Position();
        KeptLine = line;
    }
    Cursor = 1;
    CloseChecked(Writer, file, FileNameText);
}

bool StationFileReader::NextStationRecord(int64_t endKey) {
    METEOFILES_CHECK(Started);
    if (CurrentDate.Key() >= endKey) return false;
    if (Cursor > Filled) {
        if (LastBuffer) return false;
        FillStationBuffer();
        if (Filled == 0) return false;  // nothing was left: the fill marked the end
    }
    const StationRecord& row = Rows[static_cast<size_t>(Cursor)];
    CurrentDate = MeteoDate{row.Year, row.Month, row.Day, row.Hour};
    const size_t n = static_cast<size_t>(Description.StationCount);
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    for (size_t i = 1; i <= n; ++i) {
        const double v = row.Values[i];
        CurrentValues[i] = v;
        if (v >= -NoDataBound) {
            low = std::min(low, v);
            high = std::max(high, v);
        }
    }
    AllEqualFlag = (low > high || low == high) ? 1 : 0;
    ++Cursor;
    return true;
}

void StationFileReader::ResetToStart() {
    METEOFILES_CHECK(Started);
    KeptPosition = StartRowPosition;
    KeptLine = StartRowLine;
    Cursor = Filled + 1;
    LastBuffer = false;
    LastKey = std::numeric_limits<int64_t>::min();
    CurrentDate = StartDate;
}
