#pragma once
// Buffered reader of date-keyed text tables (inflows, abstraction inputs,
// observed discharge): header lines, then rows of year, month, day, hour and
// a fixed number of values. The table is read block by block; a block holds
// as many rows as the byte budget allows, so tables of any length can be
// walked row by row with bounded memory.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// One row of a block: its date as written and its values. The values are a
// view into the reader's block, valid until the next block is loaded.
struct TimeSeriesRow {
    int64_t Year = -9999, Month = -9999, Day = -9999, Hour = -9999;
    std::span<const double> Values;
};

class TimeSeriesTableReader {
public:
    // Reader states.
    static constexpr int32_t NotOpened = 0;
    static constexpr int32_t MoreRows = 1;      // the file holds rows beyond this block
    static constexpr int32_t EndOfFile = 2;     // this block is the last
    static constexpr int32_t CannotOpen = 3;    // the file could not be opened or read
    static constexpr int32_t PastLastRow = 4;   // NextRow found no further row
    static constexpr int32_t BadData = 5;       // a row could not be read; the block ends before it

    static constexpr double Missing = -9999;

    TimeSeriesTableReader() = default;
    TimeSeriesTableReader(const std::string& fileName, int32_t flag, uint64_t budgetBytes);

    // Opens the table and loads its first block. Returns the number of header
    // lines skipped; 0 without doing anything when the reader was opened
    // before; 3 when the file cannot be opened; 5 when no usable data line
    // follows the header or the budget cannot hold one row. Decide by the
    // status, not by the returned number.
    int64_t Open(const std::string& fileName, int32_t flag, uint64_t budgetBytes);

    // Reads the next block of rows into the buffer; the cursor goes to its
    // first row.
    void LoadBlock();
    // Advances the cursor by one row, loading the next block when this one is
    // used up. Past the last row the status becomes 4 and the last row stays
    // current.
    void NextRow();
    // Cursor := n (or cursor + n) when the result lies in -1 .. row count,
    // else nothing changes.
    void SetRow(int64_t n);
    void MoveRow(int64_t n);

    // Date and values of the row at the cursor; -9999 when the cursor is not
    // on a loaded row, and for a column outside 0 .. columns - 1.
    void GetDate(int& year, int& month, int& day, int& hour) const;
    double GetValue(int64_t column) const;
    TimeSeriesRow CurrentRow() const;

    // Releases the row block; file name, status and file positions stay.
    void FreeBuffers();

    int32_t GetStatus() const { return Status; }
    int64_t GetColumnCount() const { return Columns; }
    const std::string& GetFileName() const { return FileName; }
    int32_t GetFlag() const { return Flag; }
    int64_t GetCursor() const { return Cursor; }
    int64_t GetRowCount() const { return RowCount; }
    int64_t GetCapacity() const { return Capacity; }
    // Number of the first row that could not be read, counted from 1 at the
    // first data row of the file; 0 while every row read so far was sound.
    int64_t GetBadRow() const { return BadRow; }

private:
    bool CursorOnRow() const { return Cursor >= 0 && Cursor < RowCount; }

    std::string FileName;
    std::vector<int64_t> Dates;   // four per row: year, month, day, hour
    std::vector<double> Values;   // Columns per row
    uint64_t Budget = 0;          // bytes the row block may use
    int64_t Capacity = 0;         // rows per block: Budget / (8 * Columns + 16)
    int64_t Cursor = -1;          // current row in the block; -1 before the first
    int64_t RowCount = 0;         // rows held in the block
    int64_t Columns = 0;          // values per row, from the first data line
    uint64_t EndPosition = 0;     // file size when the table was opened
    uint64_t NextPosition = 0;    // file position of the next row to read
    int32_t Flag = 0;             // stored for the caller, not used
    int32_t Status = NotOpened;
    int64_t RowsRead = 0;         // data rows read by all blocks so far
    int64_t BadRow = 0;
};
