#pragma once
// Helpers shared by the grid and stack readers and writers: diagnostics
// entries, an owning file handle, little-endian binary values, the shortest
// exact text of a number and a fast scanner for text grids.

#include <bit>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/diagnostics_writer.h"

class modelobject;

namespace gridio {

// Formats the rows 1..rows of a text file in batches, the rows of a batch in
// parallel (`format(i, text)` appends row i to an empty string), and hands
// each batch's text to `put` in row order, so the file is the same on any
// number of threads. `cellsPerRow` (numbers per row) decides whether a batch
// is worth a team of threads. A failed allocation inside the parallel pass is
// thrown again after it as std::bad_alloc.
void FormatRowsInOrder(long rows, long cellsPerRow, const std::function<void(long, std::string&)>& format,
                       const std::function<void(const std::string&)>& put);

// One diagnostics entry made of the pieces; nothing without a writer.
template <typename... Pieces>
void Entry(DiagnosticsWriter* writer, const Pieces&... pieces) {
    if (!writer) return;
    ((*writer << pieces), ...);
    *writer << "[end-entry]";
}

// Owns a FILE*; the destructor closes it without looking at the result, so
// only the paths that end the run anyway rely on it.
class CFile {
public:
    explicit CFile(FILE* file) : File(file) {}
    ~CFile() {
        if (File) std::fclose(File);
    }
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    FILE* get() const { return File; }
    // Closes the file; false when closing (and so flushing) failed.
    bool Close() {
        FILE* file = File;
        File = nullptr;
        return file && std::fclose(file) == 0;
    }

private:
    FILE* File;
};

// Size of an open file in bytes, or -1.
long long FileSize(FILE* file);

// The last `count` characters of a text (all of it when shorter).
std::string Tail(const std::string& text, size_t count);

// Little-endian IEEE values, whatever the host.
inline void PutDouble(unsigned char* out, double value) {
    const auto bits = std::bit_cast<uint64_t>(value);
    for (int k = 0; k < 8; ++k) out[k] = static_cast<unsigned char>(bits >> (8 * k));
}
inline double GetDouble(const unsigned char* in) {
    uint64_t bits = 0;
    for (int k = 0; k < 8; ++k) bits |= static_cast<uint64_t>(in[k]) << (8 * k);
    return std::bit_cast<double>(bits);
}
inline void PutFloat(unsigned char* out, float value) {
    const auto bits = std::bit_cast<uint32_t>(value);
    for (int k = 0; k < 4; ++k) out[k] = static_cast<unsigned char>(bits >> (8 * k));
}
inline float GetFloat(const unsigned char* in) {
    uint32_t bits = 0;
    for (int k = 0; k < 4; ++k) bits |= static_cast<uint32_t>(in[k]) << (8 * k);
    return std::bit_cast<float>(bits);
}
// One value of a binary file of the given width (8 doubles, 4 floats).
inline void PutValue(unsigned char* out, double value, int width) {
    if (width == 8) PutDouble(out, value);
    else PutFloat(out, static_cast<float>(value));
}
inline double GetValue(const unsigned char* in, int width) {
    return width == 8 ? GetDouble(in) : static_cast<double>(GetFloat(in));
}

// Appends the shortest text that reads back to the same double.
void AppendNumber(std::string& out, double value);

// Parses a whole token as a finite number (an optional leading "+" allowed);
// "nan", "inf" and numbers beyond the range of a double are no numbers.
bool ParseNumber(std::string_view token, double* value);

// Whitespace-separated tokens of a file, read in large blocks.
class TextScanner {
public:
    explicit TextScanner(FILE* file) : File(file), Buffer(1 << 16) {}
    // The next token; false at the end of the file or on a read error.
    bool NextToken(std::string& token);
    // The next token as a number; false when there is none or it is no number.
    bool NextNumber(double* value);
    // The token of the last NextNumber call (for messages).
    const std::string& LastToken() const { return Token; }
    // True once a carriage return not followed by a line feed was passed
    // (line ends of a single carriage return are not read).
    bool LoneCarriageReturn() const { return LoneCR; }
    // Appends everything not yet scanned (the buffered rest and the rest of
    // the file) to `text`; false on a read error, with what could be read.
    bool TakeRest(std::string& text);

private:
    bool Fill();
    FILE* File;
    std::vector<char> Buffer;
    size_t Position = 0;
    size_t End = 0;
    std::string Token;
    bool PendingCR = false;
    bool LoneCR = false;
};

// Outcome of reading a run of numbers from a text (ParseNumbers).
struct ParsedNumbers {
    // Index of the first value that is missing or no number; the count asked
    // for when every value was read.
    int64_t FirstBad = 0;
    // The offending token (empty when the text ended before the value).
    std::string_view BadToken;
    // A carriage return without its line feed lies in the part of the text
    // that a reader going token by token would have passed (up to the bad
    // token, or to the last value read).
    bool LoneCarriageReturn = false;
};

// Reads the first `count` whitespace-separated numbers of `text` (ParseNumber
// rules) and hands number k (0-based) to `store(k, value)`; later tokens are
// not looked at. Large texts are cut at whitespace into pieces that a team of
// threads counts and then parses, each value going to its own index, so the
// values and the reported failure (always the lowest index) are the same on
// any number of threads. `store` must only write what index k owns.
ParsedNumbers ParseNumbers(std::string_view text, int64_t count, const std::function<void(int64_t, double)>& store);

// Ends the read of a text grid or stack (code 22) when the scanner met line
// ends made of a carriage return alone.
void RefuseLoneCarriageReturns(modelobject& reader, const TextScanner& scanner, const std::string& path);
// The same, unconditionally: the lines were found so ended.
[[noreturn]] void RefuseLoneCarriageReturns(modelobject& reader, const std::string& path);

// Nodata filling of a grid just read (fill mode 1 or 2): holes inside the zone
// grid of entry 1 get the fill value or a value from their neighbourhood, and
// every cell outside the zone grid becomes nodata.
void FillNodataHoles(modelobject& reader, const std::string& path, double** grid, double fileNoData, int fillMode,
                     double fillValue, bool fromNeighbours, bool verbose);

// Columns of row i inside the zone grid, clamped to 1..columns; `last` below
// `first` for a row without valid cells. Without a zone table every column.
void RowRange(const modelobject& owner, long row, long* first, long* last);

}  // namespace gridio
