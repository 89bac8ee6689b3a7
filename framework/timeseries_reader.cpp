#include "framework/timeseries_reader.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <fstream>
#include <string_view>

namespace {

bool IsSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Longest text accepted as one number; anything longer is bad data.
constexpr size_t MaxTokenLength = 400;

// Sequential reader of the bytes from a start position up to a limit (the
// file size when the table was opened), in chunks.
class TableScanner {
public:
    TableScanner(std::ifstream& in, uint64_t start, uint64_t limit) : In(in), Offset(start), Limit(limit) {
        In.seekg(static_cast<std::streamoff>(start));
        if (!In) ReadFailed = true;
    }

    // The next byte, or -1 when no further byte can be read.
    int Peek() {
        if (Pos == End && !Fill(Pos)) return -1;
        return static_cast<unsigned char>(Buffer[Pos]);
    }
    void Advance() { ++Pos; }
    // Skips `text` when the next bytes (within the current chunk) are it.
    void SkipIfNext(std::string_view text) {
        if (Peek() == -1 || End - Pos < text.size()) return;
        if (std::string_view(Buffer.data() + Pos, text.size()) == text) Pos += text.size();
    }
    uint64_t Position() const { return Offset + Pos; }
    // True when the bytes stopped before the limit (the file shrank or a
    // read failed).
    bool Failed() const { return ReadFailed; }

    // Skips white space; within a line it stops at the line end.
    void SkipSpace(bool withinLine) {
        int c;
        while ((c = Peek()) != -1 && IsSpace(c) && !(withinLine && c == '\n')) Advance();
    }

    // The next run of non-space bytes (empty at the end, or at the line end
    // when reading within a line). False for a run too long to be a number.
    bool Token(bool withinLine, std::string_view& token) {
        SkipSpace(withinLine);
        size_t start = Pos;
        for (;;) {
            if (Pos == End) {
                const bool more = Fill(start);  // moves the token to the front
                start = 0;
                if (!more) break;
            }
            if (IsSpace(static_cast<unsigned char>(Buffer[Pos]))) break;
            if (++Pos - start > MaxTokenLength) return false;
        }
        token = std::string_view(Buffer.data() + start, Pos - start);
        return true;
    }

private:
    static constexpr size_t ChunkBytes = 1 << 16;

    // Keeps the bytes from `keep` on, moved to the front, and appends the next
    // chunk. False when no byte could be added.
    bool Fill(size_t keep) {
        if (keep > 0) {
            std::copy(Buffer.begin() + static_cast<std::ptrdiff_t>(keep),
                      Buffer.begin() + static_cast<std::ptrdiff_t>(End), Buffer.begin());
            Offset += keep;
            Pos -= keep;
            End -= keep;
        }
        const uint64_t read = Offset + End;
        if (ReadFailed || read >= Limit) return false;
        const size_t want = static_cast<size_t>(std::min<uint64_t>(ChunkBytes, Limit - read));
        if (Buffer.size() < End + want) Buffer.resize(End + want);
        In.read(Buffer.data() + End, static_cast<std::streamsize>(want));
        const auto got = static_cast<size_t>(std::max<std::streamsize>(In.gcount(), 0));
        End += got;
        if (got < want) ReadFailed = true;
        return got > 0;
    }

    std::ifstream& In;
    std::vector<char> Buffer;
    size_t Pos = 0;       // next byte in the buffer
    size_t End = 0;       // bytes held in the buffer
    uint64_t Offset = 0;  // file position of Buffer[0]
    uint64_t Limit = 0;
    bool ReadFailed = false;
};

std::string_view WithoutPlus(std::string_view text) {
    if (text.size() > 1 && text[0] == '+' && text[1] != '-' && text[1] != '+') text.remove_prefix(1);
    return text;
}

bool ParseInteger(std::string_view text, int64_t& value) {
    text = WithoutPlus(text);
    if (text.empty()) return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

// A finite number written in decimal or exponent notation.
bool ParseValue(std::string_view text, double& value) {
    text = WithoutPlus(text);
    if (text.empty()) return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

bool PlausibleDate(const int64_t date[4]) {
    return date[0] >= INT_MIN && date[0] <= INT_MAX && date[1] >= 1 && date[1] <= 12 && date[2] >= 1 &&
           date[2] <= 31 && date[3] >= 0 && date[3] <= 24;
}

}  // namespace

TimeSeriesTableReader::TimeSeriesTableReader(const std::string& fileName, int32_t flag, uint64_t budgetBytes) {
    Open(fileName, flag, budgetBytes);
}

int64_t TimeSeriesTableReader::Open(const std::string& fileName, int32_t flag, uint64_t budgetBytes) {
    if (Status != NotOpened) return 0;
    FileName = fileName;
    Flag = flag;
    Budget = budgetBytes;

    std::ifstream in(FileName, std::ios::binary);
    if (!in) {
        Status = CannotOpen;
        return Status;
    }
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (!in || size < 0) {
        Status = CannotOpen;
        return Status;
    }
    EndPosition = static_cast<uint64_t>(size);
    TableScanner scanner(in, 0, EndPosition);
    // A byte-order mark is not part of the first line.
    scanner.SkipIfNext("\xEF\xBB\xBF");

    // Header lines: every line that does not begin with a digit.
    int64_t headerLines = 0;
    int c;
    while ((c = scanner.Peek()) != -1 && !(c >= '0' && c <= '9')) {
        while ((c = scanner.Peek()) != -1 && c != '\n') scanner.Advance();
        if (c == -1) break;
        scanner.Advance();
        ++headerLines;
    }
    if (c == -1) {
        Status = scanner.Failed() ? CannotOpen : BadData;
        return Status;
    }

    // The first data line fixes the number of values per row.
    NextPosition = scanner.Position();
    std::string_view token;
    bool datesRead = true;
    for (int k = 0; k < 4 && datesRead; ++k) {
        int64_t field;
        datesRead = scanner.Token(false, token) && ParseInteger(token, field);
    }
    Columns = 0;
    double value;
    while (datesRead && scanner.Token(true, token) && ParseValue(token, value)) ++Columns;
    if (scanner.Failed()) {
        Status = CannotOpen;
        return Status;
    }
    // A table without values, or a budget too small for one row, is refused.
    Capacity = Columns > 0 ? static_cast<int64_t>(Budget / (8 * static_cast<uint64_t>(Columns) + 16)) : 0;
    if (Capacity == 0) {
        Status = BadData;
        return Status;
    }

    // Every row takes at least two bytes per field, so the file bounds the
    // rows a block can ever hold.
    const uint64_t fieldsPerRow = 4 + static_cast<uint64_t>(Columns);
    const uint64_t rowsInFile = (EndPosition - NextPosition) / (2 * fieldsPerRow) + 1;
    const auto blockRows = static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(Capacity), rowsInFile));
    Dates.reserve(4 * blockRows);
    Values.reserve(static_cast<size_t>(Columns) * blockRows);

    RowCount = Capacity;
    Status = MoreRows;
    LoadBlock();
    return headerLines;
}

void TimeSeriesTableReader::LoadBlock() {
    Cursor = 0;
    Dates.clear();
    Values.clear();
    RowCount = 0;
    if (Capacity == 0) return;  // never opened, or released

    std::ifstream in(FileName, std::ios::binary);
    if (!in) {
        Status = CannotOpen;
        return;
    }
    TableScanner scanner(in, NextPosition, EndPosition);
    int64_t rows = 0;
    uint64_t afterLastRow = NextPosition;
    int32_t status = MoreRows;
    std::string_view token;
    while (rows < Capacity) {
        scanner.SkipSpace(false);
        if (scanner.Peek() == -1) {
            status = scanner.Failed() ? BadData : EndOfFile;
            break;
        }
        int64_t date[4];
        bool sound = true;
        for (int k = 0; k < 4 && sound; ++k) sound = scanner.Token(false, token) && ParseInteger(token, date[k]);
        sound = sound && PlausibleDate(date);
        const size_t valuesBefore = Values.size();
        for (int64_t k = 0; k < Columns && sound; ++k) {
            double value;
            sound = scanner.Token(false, token) && ParseValue(token, value);
            if (sound) Values.push_back(value);
        }
        if (!sound) {
            Values.resize(valuesBefore);
            status = BadData;
            BadRow = RowsRead + rows + 1;
            break;
        }
        Dates.insert(Dates.end(), date, date + 4);
        ++rows;
        afterLastRow = scanner.Position();
    }
    RowCount = rows;
    Cursor = 0;
    NextPosition = afterLastRow;
    RowsRead += rows;
    Status = status;
}

void TimeSeriesTableReader::NextRow() {
    if (Cursor < RowCount - 1) {
        ++Cursor;
        return;
    }
    if (Status == MoreRows) {
        // Keep the current row: when the file holds no further row it stays
        // the current one.
        const bool keep = CursorOnRow();
        int64_t date[4] = {};
        std::vector<double> values;
        if (keep) {
            std::copy_n(Dates.begin() + 4 * Cursor, 4, date);
            const auto first = Values.begin() + Cursor * Columns;
            values.assign(first, first + Columns);
        }
        LoadBlock();
        if (RowCount > 0) return;
        if (keep) {
            Dates.assign(date, date + 4);
            Values = std::move(values);
            RowCount = 1;
            Cursor = 0;
        }
    }
    Status = PastLastRow;
}

void TimeSeriesTableReader::SetRow(int64_t n) {
    if (n >= -1 && n <= RowCount) Cursor = n;
}

void TimeSeriesTableReader::MoveRow(int64_t n) {
    int64_t target;
    if (!__builtin_add_overflow(Cursor, n, &target)) SetRow(target);
}

void TimeSeriesTableReader::GetDate(int& year, int& month, int& day, int& hour) const {
    const TimeSeriesRow row = CurrentRow();
    year = static_cast<int>(row.Year);
    month = static_cast<int>(row.Month);
    day = static_cast<int>(row.Day);
    hour = static_cast<int>(row.Hour);
}

double TimeSeriesTableReader::GetValue(int64_t column) const {
    if (!CursorOnRow() || column < 0 || column >= Columns) return Missing;
    return Values[static_cast<size_t>(Cursor * Columns + column)];
}

TimeSeriesRow TimeSeriesTableReader::CurrentRow() const {
    TimeSeriesRow row;
    if (!CursorOnRow()) return row;
    const int64_t* date = Dates.data() + 4 * Cursor;
    row.Year = date[0];
    row.Month = date[1];
    row.Day = date[2];
    row.Hour = date[3];
    row.Values = std::span<const double>(Values.data() + Cursor * Columns, static_cast<size_t>(Columns));
    return row;
}

void TimeSeriesTableReader::FreeBuffers() {
    std::vector<int64_t>().swap(Dates);
    std::vector<double>().swap(Values);
    Capacity = 0;
    RowCount = 0;
    Cursor = -1;
}
