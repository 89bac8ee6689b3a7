#pragma once
// Per-zone time series of one grid-valued quantity. In every time step the
// owner hands in each cell with its zone rank; every `interval` steps one row
// with the area-weighted mean (or sum) of every zone and of the whole basin is
// buffered, and the buffer is appended to a tab-separated text file when it is
// full, on request and at the end. The statistic registers its latest values
// in the application's statistics table.
//
// The mode code: thousands = mode, remainder = steps per row; 1000 or less
// switches the statistic off.
//   1 total mean            2 every zone and the total, means
//   3 total sum             4 every zone and the total, sums
//   5 listed zones and total, means   6 listed zones and total, sums
//   7 and above: the total only, accumulated like the sums

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "framework/statistics_table.h"
#include "framework/zonalstatistic_rows.h"
#include "framework/zonetable.h"

class DiagnosticsWriter;

// One buffered output line of a time series.
struct DatedRow {
    int64_t Year = 0;
    int64_t Month = 0;
    int64_t Day = 0;
    int64_t Hour = 0;
    double* Values = nullptr;  // 1-based
};

class zonalstatistic {
public:
    // Buffered bytes of row data per file.
    static constexpr int64_t BufferBytes = 2097152;
    // Rows buffered by the total-only modes.
    static constexpr int64_t TotalOnlyCapacity = 43690;
    static constexpr double Missing = -9999.0;

    // `status` receives 0 on success and 1 on failure (the creator throws it).
    // `relCellArea` (1-based, may be null) weights the cells; `zones` holds the
    // records 0 to `zoneCount`, sorted by code, owned by the creator for the
    // statistic's lifetime. `fileName` gets `outputDirectory` in front when it
    // is relative and the directory is not empty; the joined name is written
    // back. `listedCodes` is 1-based with `listedCount` ascending zone codes
    // (may be null when the count is 0). The statistics table is kept for the
    // two-argument `WriteHeader`.
    zonalstatistic(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* table, int tableEntries,
                   double** relCellArea, int gridRows, int gridCols, ZoneRecord* zones, int zoneCount,
                   int modeCode, int precision, std::string& fileName, const std::string& outputDirectory,
                   int listedCount, const int* listedCodes);
    zonalstatistic(int* status, DiagnosticsWriter* writer, double** relCellArea, int gridRows, int gridCols,
                   ZoneRecord* zones, int zoneCount, int modeCode, int precision, std::string& fileName,
                   const std::string& outputDirectory, int listedCount, const int* listedCodes);
    virtual ~zonalstatistic();
    zonalstatistic(const zonalstatistic&) = delete;
    zonalstatistic& operator=(const zonalstatistic&) = delete;

    // Opens the file with a standard open mode ("wt", "a+"); FATAL code 15.
    virtual void Open(const char* mode);
    // Closes the file; FATAL code 16.
    virtual void CloseFile();
    // Appends the buffered rows to the file.
    virtual void Flush();
    // Adds one cell of zone rank 0 to n. Serial code only.
    virtual void AddValue(int row, int column, int zone, double value, double weight);
    // Adds one cell of zone rank 0 to n to the partial sums of its row, from
    // the parallel pass over the rows (see zonalstatistic_rows.h); only the
    // thread running `row` calls it. `CloseStep` folds the rows in row order.
    void AddToRow(int row, int column, int zone, double value, double weight) noexcept {
        if (Mode <= 0) return;
        double area = 1.0;
        if (RelCellArea && row >= 1 && row <= GridRows && column >= 1 && column <= GridCols) {
            const double cellArea = RelCellArea[row][column];
            if (cellArea > Missing) area = cellArea;
        }
        RowSums.Add(row, zone, value, weight, area);
    }
    // `AddToRow` for the cells `first` to `last` of `row`, all of zone `zone`,
    // with the values of the grid row `values` (indexed by column).
    void AddRunToRow(int row, int zone, const double* values, int first, int last, double weight) noexcept {
        if (Mode <= 0) return;
        const bool inside = RelCellArea && row >= 1 && row <= GridRows && first >= 1 && last <= GridCols;
        RowSums.AddRun(row, zone, values, inside ? RelCellArea[row] : nullptr, Missing, first, last, weight);
    }
    // Adds the row partials to the zone records in ascending row order and
    // clears them; FATAL code 3 for a zone out of range (the rows before the
    // lowest failed row are added by then). Serial.
    void FoldRows();
    // What a fold found wrong: the lowest failed row (-1: none), the zone out
    // of range there, or whether an allocation failed instead.
    struct FoldFailure {
        int Row = -1;
        int Zone = 0;
        bool OutOfMemory = false;
    };
    // `FoldRows` without raising: the failure is returned for
    // `RaiseFoldFailure`. Statistics of their own may fold on different
    // threads at once, each one's rows still in row order; `CloseStep` then
    // finds nothing left to fold.
    FoldFailure FoldRowsQuietly() noexcept;
    // Ends the run as `FoldRows` does for a failure; nothing when none.
    void RaiseFoldFailure(const FoldFailure& failure);
    // Folds the rows of `count` statistics, one statistic per thread when the
    // largest grid is worth threads; a failure is raised for the first
    // failed statistic of the list.
    static void FoldRowsOf(zonalstatistic* const* statistics, int count);
    // Begins a time step.
    virtual void ResetStep();
    // Ends a time step; a row is buffered every `interval` steps.
    virtual void CloseStep(int64_t year, int64_t month, int64_t day, int64_t hour);
    // Creates the file with its three header lines and registers the statistic
    // in the first free entry of the table. Returns the entry's index, -1 when
    // the statistic is off or no entry was free.
    virtual int WriteHeader(const std::string& name, const std::string& subModel, StatisticsTableEntry* table,
                            int entries);
    // Writes the remaining rows, clears the table entry and frees the buffers;
    // afterwards the statistic is off.
    virtual void Close();

    // `WriteHeader` with the table given at construction.
    int WriteHeader(const std::string& name, const std::string& subModel);

    bool IsOn() const { return Mode > 0; }
    bool IsReady() const { return Ready != 0; }
    int GetMode() const { return Mode; }
    int GetInterval() const { return Interval; }
    int ZoneCountUsed() const { return ZoneCount; }
    int ListedCountUsed() const { return ListedCount; }
    int64_t GetValueCount() const { return ValueCount; }
    int64_t GetCapacity() const { return Capacity; }
    int64_t GetRowsInUse() const { return RowsInUse; }
    int GetStepCounter() const { return StepCounter; }
    const std::string& GetFileName() const { return FileName; }
    ZoneRecord* GetZones() const { return Zones; }
    const double* GetCurrentValues() const { return CurrentValues.empty() ? nullptr : CurrentValues.data(); }
    // Index of the table entry that holds this statistic, or -1.
    int GetTableIndex() const { return TableIndex; }

protected:
    // Appends printf-formatted text of any length.
    static void AppendFormat(std::string& text, const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Appends one value to the row being built and to the current values.
    void AppendValue(DatedRow* row, double value);
    // Starts a new buffered row with the date.
    DatedRow* BeginRow(int64_t year, int64_t month, int64_t day, int64_t hour);
    // Zone columns of the row: every zone, the listed zones or none.
    bool HasAllZoneColumns() const { return Mode == 2 || Mode == 4; }
    bool HasListedZoneColumns() const { return Mode == 5 || Mode == 6; }
    bool IsMeanMode() const { return Mode == 1 || Mode == 2 || Mode == 5; }
    int ZoneColumnCount() const;
    // Rank of zone column j (1-based).
    int ZoneColumnRank(int column) const;
    // The integer code of a zone record.
    static int64_t ZoneCode(const ZoneRecord& record);
    // Adds the interval accumulators to records `first` to n.
    void AddAccumulators(int first);
    void SaveAccumulators();
    void ClearAccumulators();
    // Registers ten words in the first free entry; -1 when none is free.
    int Register(StatisticsTableEntry* table, int entries, const StatisticsTableEntry& words);
    // Zeroes a table entry when it still points to `values`.
    static void ClearEntry(StatisticsTableEntry* table, int index, const double* values);
    StatisticsTableEntry OwnEntry();
    // Writes text to the open file; FATAL code 18 when it fails.
    void WriteText(const std::string& text);
    // Releases what Close frees, without writing anything.
    void ReleaseBuffers();
    void TurnOff() { Mode = -1; }

    int Ready = 0;
    DiagnosticsWriter* Writer = nullptr;
    ZoneRecord* Zones = nullptr;

    std::vector<DatedRow> Rows;               // 1 to the rows used so far (capacity reserved)
    int64_t RowLength = 0;                    // values of a row in RowValues
    std::unique_ptr<double[]> RowValues;      // one block for all rows

    int64_t LastYear = 0, LastMonth = 0, LastDay = 0, LastHour = 0;
    int64_t ValueCount = 0;
    std::vector<double> CurrentValues;
    std::vector<double> ReaderSums;
    std::vector<double> AreaFractions;
    std::string NameText;
    std::vector<int64_t> ColumnCodes;

    int64_t Capacity = 0;
    int64_t RowsInUse = 0;
    int64_t ValuesInRow = 0;
    int64_t ValuesPerRow = 0;        // values written per row
    int64_t BufferValuesPerRow = 0;  // values per row that sized the buffer

    double** RelCellArea = nullptr;
    int GridRows = 0, GridCols = 0;

    int ZoneCount = 0;
    int Mode = -1;
    int Interval = 0;
    int Precision = 0;
    int ListedCount = 0;
    std::vector<int> ListedCodes;  // 1 to ListedCount
    std::vector<int> ListedRanks;  // 1 to ListedCount

    std::string FileName;
    std::string OutputDirectory;
    FILE* File = nullptr;

    int StepCounter = 0;
    ZoneRowSums RowSums;  // rows 0 to GridRows
    std::vector<double> AccSx, AccN, AccRelCellSum;  // 0 to n, interval 2 or more

    StatisticsTableEntry* DefaultTable = nullptr;
    int DefaultTableEntries = 0;
    StatisticsTableEntry* Table = nullptr;  // where the statistic is registered
    int TableIndex = -1;
};
