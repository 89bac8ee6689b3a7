#pragma once
// Station files of the meteorological inputs: the header with the station
// altitudes and coordinates, the search of the run's start date, and the
// rows read in buffered blocks one time step after the other.
//
// File layout (tokens separated by blanks or tabs; k additional columns):
//   line 1        free text
//   lines 2 to 4  4 + k labels, then altitude, x and y of stations 1 to n
//   line 5        free text (station names)
//   line 6 and on year month day hour, k tokens, the n station values

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "forcing/meteoint_files.h"

class DiagnosticsWriter;

// Stations of a station file (or columns of a grid list): n and the arrays of
// n + 1 doubles, element 0 unused.
struct StationDescription {
    int64_t StationCount = 0;
    std::vector<double> Altitude;
    std::vector<double> X;
    std::vector<double> Y;
};

// Reads lines 1 to 4: n is the count of numbers after the 4 + k labels of
// line 2; lines 3 and 4 must give n numbers as well. Logs the station count.
// Codes: 49 not opened or malformed (no station, a coordinate missing or not
// a number), 50 not closed.
StationDescription ReadStationDescription(DiagnosticsWriter* writer, const std::string& inputName,
                                          const std::string& fileName, int64_t additionalColumns);

// One buffered row: its date and n + 1 values (element 0 unused).
struct StationRecord {
    int64_t Year = 0;
    int64_t Month = 0;
    int64_t Day = 0;
    int64_t Hour = 0;
    double* Values = nullptr;
};

class StationFileReader {
public:
    // Bytes of one buffer: capacity floor(bytes / ((n + 1) * 8 + 32)) rows,
    // at least 1.
    static constexpr int64_t DefaultBufferBytes = 2097152;

    // `noDataBound` is N: a value v is valid for -N <= v <= N, any other
    // value is held as -N - 1.
    StationFileReader(DiagnosticsWriter* writer, std::string inputName, std::string fileName,
                      int64_t additionalColumns, double noDataBound, int64_t bufferBytes = DefaultBufferBytes);
    // The buffer rows point into the reader's own block: no copies.
    StationFileReader(const StationFileReader&) = delete;
    StationFileReader& operator=(const StationFileReader&) = delete;
    StationFileReader(StationFileReader&&) = default;
    StationFileReader& operator=(StationFileReader&&) = default;

    // Reads the header (ReadStationDescription above).
    void ReadStationDescription();
    // Finds the row of `start`, makes it the current record and creates the
    // buffer, which the first NextStationRecord fills from the row after it.
    // Code 51 when the file lacks the date, 49 for a malformed row before it.
    void FindStartDate(const MeteoDate& start);
    // Takes the next row as the current record. False, leaving the current
    // record as it was, at the end of the data: the current date has reached
    // `endKey`, the file has no further row, or a row of year, month and
    // day 0 comes next. Code 49 for a malformed row, 50 when the file cannot
    // be closed.
    bool NextStationRecord(int64_t endKey);
    // Returns to the start row: the next NextStationRecord takes it again.
    void ResetToStart();

    const std::string& FileName() const { return FileNameText; }
    int64_t AdditionalColumns() const { return ExtraColumns; }
    int64_t StationCount() const { return Description.StationCount; }
    const StationDescription& Stations() const { return Description; }
    const MeteoDate& Date() const { return CurrentDate; }
    // Values of the current record, n + 1 doubles, element 0 unused.
    const std::vector<double>& Values() const { return CurrentValues; }
    std::vector<double>& Values() { return CurrentValues; }
    // 1 when all valid values of the current row are equal or none is valid
    // (0 for the start row as found by FindStartDate).
    int16_t AllEqual() const { return AllEqualFlag; }
    int64_t Capacity() const { return BufferCapacity; }
    int64_t FillCount() const { return Filled; }

private:
    void FillStationBuffer();
    // Converts the n values of a row into `out` (out[1..n]); false with a
    // problem text when the row is malformed.
    bool ParseValues(const std::vector<std::string_view>& tokens, double* out, std::string& problem) const;
    double Invalid() const { return -NoDataBound - 1; }

    DiagnosticsWriter* Writer;
    std::string InputName;
    std::string FileNameText;
    int64_t ExtraColumns;
    double NoDataBound;
    int64_t BufferBytes;

    StationDescription Description;
    MeteoDate StartDate;
    MeteoDate CurrentDate;
    std::vector<double> CurrentValues;
    int16_t AllEqualFlag = 0;
    bool Started = false;

    // Buffer: rows 1..BufferCapacity, their values in one block.
    std::vector<StationRecord> Rows;
    std::vector<double> RowValues;
    int64_t BufferCapacity = 0;
    int64_t Filled = 0;
    int64_t Cursor = 1;
    bool LastBuffer = false;  // the last fill reached the end of the data

    int64_t KeptPosition = 0;  // where the next fill goes on
    int64_t KeptLine = 0;      // line number of the last line before it
    int64_t StartRowPosition = 0;
    int64_t StartRowLine = 0;
    int64_t LastKey = 0;  // key of the last row read, for the order check
};
