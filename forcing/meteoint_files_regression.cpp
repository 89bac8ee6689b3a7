#include "forcing/meteoint_files_regression.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <utility>

#include "forcing/meteoint_files_text.h"
#include "framework/diagnostics_writer.h"

using namespace meteofiles;

namespace {

constexpr int CoefficientCount = 11;

uint64_t LittleEndian64(const unsigned char* bytes) {
    uint64_t value = 0;
    for (int b = 7; b >= 0; --b) value = (value << 8) | bytes[b];
    return value;
}

RegressionCoefficients ToCoefficients(const double* v) {
    return RegressionCoefficients{v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10], v[11]};
}

}  // namespace

RegressionFileReader::RegressionFileReader(DiagnosticsWriter* writer, std::string inputName, std::string fileName,
                                           int64_t bufferRows)
    : Writer(writer),
      InputName(std::move(inputName)),
      FileNameText(std::move(fileName)),
      BufferRows(std::max<int64_t>(1, bufferRows)) {}

std::string RegressionFileReader::Where(int64_t location) const {
    return (Binary ? "record " : "line ") + std::to_string(location);
}

void RegressionFileReader::CheckOrder(const MeteoDate& date, int64_t location) {
    if (date.Key() <= LastKey) {
        FormatError(Writer, FileNameText, Where(location),
                    "the date " + DateText(date) + " does not follow the date " + DateText(LastDate) +
                        " of the row before");
    }
    LastKey = date.Key();
    LastDate = date;
}

bool RegressionFileReader::ReadRow(PositionedFile& file, int64_t& location, MeteoDate& date, double* values) {
    std::string problem;
    int64_t parts[4];
    if (Binary) {
        unsigned char record[RegressionRecordBytes];
        const size_t got = file.ReadBytes(record, sizeof record);
        if (file.Failed()) ReadFailure(Writer, FileNameText);
        if (got == 0) return false;
        ++location;
        if (got < sizeof record) {
            FormatError(Writer, FileNameText, Where(location),
                        "the file ends within the record (" + std::to_string(got) + " of " +
                            std::to_string(RegressionRecordBytes) + " bytes)");
        }
        for (int i = 0; i < 4; ++i) parts[i] = static_cast<int64_t>(LittleEndian64(record + 8 * i));
        for (int i = 1; i <= CoefficientCount; ++i) {
            values[i] = std::bit_cast<double>(LittleEndian64(record + 32 + 8 * (i - 1)));
        }
    } else {
        for (;;) {
            if (!file.ReadLine(Text)) {
                if (file.Failed()) ReadFailure(Writer, FileNameText);
                return false;
            }
            ++location;
            if (!IsBlankLine(Text)) break;
        }
        SplitTokens(Text, Tokens);
        if (Tokens.size() < 4) {
            FormatError(Writer, FileNameText, Where(location),
                        "a row holds year, month, day, hour and 11 coefficients, but the line holds " +
                            std::to_string(Tokens.size()) + " tokens");
        }
        for (int i = 0; i < 4; ++i) {
            if (!ParseInteger(Tokens[static_cast<size_t>(i)], parts[i])) {
                static const char* const Names[4] = {"year", "month", "day", "hour"};
                FormatError(Writer, FileNameText, Where(location),
                            "the " + std::string(Names[i]) + " '" + std::string(Tokens[static_cast<size_t>(i)]) +
                                "' is not an integer");
            }
        }
        if (parts[0] == 0 && parts[1] == 0 && parts[2] == 0) return false;  // end marker
        if (Tokens.size() < 4 + CoefficientCount) {
            FormatError(Writer, FileNameText, Where(location),
                        "a row holds year, month, day, hour and 11 coefficients, but the line holds " +
                            std::to_string(Tokens.size()) + " tokens");
        }
        for (int i = 1; i <= CoefficientCount; ++i) {
            const std::string_view token = Tokens[static_cast<size_t>(3 + i)];
            if (!ParseNumber(token, values[i])) {
                FormatError(Writer, FileNameText, Where(location),
                            "coefficient " + std::to_string(i) + ", '" + std::string(token) + "', is not a number");
            }
        }
    }
    const RowDate kind = CheckRowDate(parts, 999, date, problem);
    if (kind == RowDate::EndMarker) return false;
    if (kind == RowDate::Malformed) FormatError(Writer, FileNameText, Where(location), problem);
    for (int i = 1; i <= CoefficientCount; ++i) {
        if (!std::isfinite(values[i])) {
            FormatError(Writer, FileNameText, Where(location),
                        "coefficient " + std::to_string(i) + " of " + DateText(date) + " is not a finite number");
        }
    }
    CheckOrder(date, location);
    return true;
}

void RegressionFileReader::FindStartDateRegression(const MeteoDate& start) {
    *Writer << "looking for starting date " << start.Day << "." << start.Month << "." << start.Year << " for "
            << InputName << " in " << FileNameText << "[end-entry]";
    PositionedFile file;
    OpenOrFail(Writer, FileNameText, file);
    unsigned char bytes[8] = {};
    const size_t got = file.ReadBytes(bytes, sizeof bytes);
    if (file.Failed()) ReadFailure(Writer, FileNameText);
    // A UTF-8 byte-order mark in front of the header line is not part of it.
    const size_t mark = got >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF ? 3 : 0;
    const unsigned char* head = bytes + mark;
    int64_t location = 0;
    Binary = !(got >= mark + 5 && head[0] == 'j' && head[1] == 'r' && head[3] == 'm' && head[4] == 'o');
    if (Binary) {
        if (!file.Seek(0)) ReadFailure(Writer, FileNameText);
    } else {
        if (!file.Seek(static_cast<int64_t>(mark))) ReadFailure(Writer, FileNameText);
        if (!file.ReadLine(Text) && file.Failed()) ReadFailure(Writer, FileNameText);
        location = 1;
    }
    LastKey = std::numeric_limits<int64_t>::min();
    double values[CoefficientCount + 1] = {};
    bool progress = false;
    for (;;) {
        const int64_t rowPosition = file.Position();
        const int64_t rowLocation = location;
        MeteoDate date;
        if (!ReadRow(file, location, date, values)) break;
        if ((date.Hour == 0 || date.Hour > 23) && date.Day == 1) {
            *Writer << ".";
            progress = true;
        }
        if (date == start) {
            if (progress) *Writer << "[end-entry]";
            StartRowPosition = rowPosition;
            StartRowLocation = rowLocation;
            KeptPosition = file.Position();
            KeptLocation = location;
            CloseChecked(Writer, file, FileNameText);
            Current = ToCoefficients(values);
            BufferCapacity = BufferRows;
            Rows.assign(static_cast<size_t>(BufferCapacity) + 1, RegressionRecord{});
            RowValues.assign(static_cast<size_t>(BufferCapacity) * 12, 0.0);
            for (int64_t r = 1; r <= BufferCapacity; ++r) {
                Rows[static_cast<size_t>(r)].Coefficients = RowValues.data() + static_cast<size_t>(r - 1) * 12;
            }
            Filled = 0;
            Cursor = 1;
            LastBuffer = false;
            StartDate = start;
            CurrentDate = start;
            Started = true;
            return;
        }
        // Dates increase, so the start date cannot come later.
        if (date.Key() > start.Key()) break;
    }
    if (progress) *Writer << "[end-entry]";
    *Writer << "FATAL: \nEOF reached: " << FileNameText << ", date " << start.Day << "." << start.Month << "."
            << start.Year << ", " << start.Hour << ". h not found![end-entry]";
    throw MeteoStartDateErrorCode;
}

void RegressionFileReader::OpenForReading(PositionedFile& file) const {
    if (!file.Open(FileNameText)) {
        if (Binary) {
            *Writer << "FATAL: error opening regression file " << FileNameText << " in binary mode[end-entry]";
        } else {
            *Writer << "FATAL: \nerror opening file " << FileNameText << "[end-entry]";
        }
        throw MeteoFileErrorCode;
    }
}

void RegressionFileReader::FillRegressionBuffer() {
    PositionedFile file;
    OpenForReading(file);
    if (!file.Seek(KeptPosition)) ReadFailure(Writer, FileNameText);
    int64_t location = KeptLocation;
    Filled = 0;
    MeteoDate date;
    while (Filled < BufferCapacity) {
        RegressionRecord& row = Rows[static_cast<size_t>(Filled) + 1];
        if (!ReadRow(file, location, date, row.Coefficients)) {
            LastBuffer = true;
            break;
        }
        row.Year = date.Year;
        row.Month = date.Month;
        row.Day = date.Day;
        row.Hour = date.Hour;
        ++Filled;
    }
    KeptPosition = file.Position();
    KeptLocation = location;
    Cursor = 1;
    CloseChecked(Writer, file, FileNameText);
}

bool RegressionFileReader::NextRegressionRecord(int64_t endKey) {
    METEOFILES_CHECK(Started);
    if (CurrentDate.Key() >= endKey) return false;
    if (Cursor > Filled) {
        if (LastBuffer) return false;
        FillRegressionBuffer();
        if (Filled == 0) return false;  // nothing was left: the fill marked the end
    }
    const RegressionRecord& row = Rows[static_cast<size_t>(Cursor)];
    CurrentDate = MeteoDate{row.Year, row.Month, row.Day, row.Hour};
    Current = ToCoefficients(row.Coefficients);
    ++Cursor;
    return true;
}

void RegressionFileReader::ResetToStart() {
    METEOFILES_CHECK(Started);
    KeptPosition = StartRowPosition;
    KeptLocation = StartRowLocation;
    Cursor = Filled + 1;
    LastBuffer = false;
    LastKey = std::numeric_limits<int64_t>::min();
    CurrentDate = StartDate;
}
