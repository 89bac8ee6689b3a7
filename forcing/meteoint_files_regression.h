#pragma once
// Regression files of the meteorological inputs: per date the coefficients of
// the altitude regression, read from the run's start date in buffered blocks.
//
// Text form: the first five bytes are 'j', 'r', any, 'm', 'o' (a header line);
// then rows of year, month, day, hour and the 11 coefficients.
// Binary form: any other first bytes; records of 120 bytes, year, month, day
// and hour as little-endian 64-bit integers, then the 11 coefficients as
// little-endian IEEE 754 doubles.
// Coefficient order: a1, b1, hl, a2, b2, hu, a3, b3, c0, cx, cy.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "forcing/meteoint_files.h"

class DiagnosticsWriter;
namespace meteofiles {
class PositionedFile;
}

// Coefficients of one date: intercept and gradient of the lower layer, lower
// inversion height, intercept and gradient of the middle layer, upper
// inversion height, intercept and gradient of the upper layer, trend-plane
// constant and its x and y gradients.
struct RegressionCoefficients {
    double a1 = 0, b1 = 0, hl = 0, a2 = 0, b2 = 0, hu = 0, a3 = 0, b3 = 0, c0 = 0, cx = 0, cy = 0;
};

// One buffered row: its date and 12 coefficient slots (1 to 11 in file order).
struct RegressionRecord {
    int64_t Year = 0;
    int64_t Month = 0;
    int64_t Day = 0;
    int64_t Hour = 0;
    double* Coefficients = nullptr;
};

// Bytes of one binary record.
inline constexpr int64_t RegressionRecordBytes = 120;

class RegressionFileReader {
public:
    static constexpr int64_t DefaultBufferRows = 16384;

    RegressionFileReader(DiagnosticsWriter* writer, std::string inputName, std::string fileName,
                         int64_t bufferRows = DefaultBufferRows);
    // The buffer rows point into the reader's own block: no copies.
    RegressionFileReader(const RegressionFileReader&) = delete;
    RegressionFileReader& operator=(const RegressionFileReader&) = delete;
    RegressionFileReader(RegressionFileReader&&) = default;
    RegressionFileReader& operator=(RegressionFileReader&&) = default;

    // Tells text from binary, finds the row of `start` and makes it the
    // current record. Codes: 49 not opened or a malformed row before the start
    // row, 51 start date missing, 50 not closed.
    void FindStartDateRegression(const MeteoDate& start);
    // Takes the next row as the current record; false (current record kept)
    // at the end of the data: the current date has reached `endKey` (pass
    // NoEndKey when another file decides the end), the file has no further
    // row, or a row of year, month and day 0 comes next.
    bool NextRegressionRecord(int64_t endKey);
    // Returns to the start row: the next NextRegressionRecord takes it again.
    void ResetToStart();

    const std::string& FileName() const { return FileNameText; }
    bool IsBinary() const { return Binary; }
    const MeteoDate& Date() const { return CurrentDate; }
    const RegressionCoefficients& Coefficients() const { return Current; }
    int64_t Capacity() const { return BufferCapacity; }
    int64_t FillCount() const { return Filled; }

private:
    // Reads the next row from an open file into `date` and `values[1..11]`.
    // False at the end of the data (no further row, or the end marker).
    bool ReadRow(meteofiles::PositionedFile& file, int64_t& location, MeteoDate& date, double* values);
    void FillRegressionBuffer();
    void OpenForReading(meteofiles::PositionedFile& file) const;
    void CheckOrder(const MeteoDate& date, int64_t location);
    std::string Where(int64_t location) const;

    DiagnosticsWriter* Writer;
    std::string InputName;
    std::string FileNameText;
    int64_t BufferRows;
    bool Binary = false;
    bool Started = false;

    MeteoDate StartDate;
    MeteoDate CurrentDate;
    RegressionCoefficients Current;

    std::vector<RegressionRecord> Rows;
    std::vector<double> RowValues;
    int64_t BufferCapacity = 0;
    int64_t Filled = 0;
    int64_t Cursor = 1;
    bool LastBuffer = false;

    int64_t KeptPosition = 0;
    int64_t KeptLocation = 0;  // line (text) or record (binary) number before it
    int64_t StartRowPosition = 0;
    int64_t StartRowLocation = 0;
    int64_t LastKey = 0;
    MeteoDate LastDate;
    std::string Text;
    std::vector<std::string_view> Tokens;
};
