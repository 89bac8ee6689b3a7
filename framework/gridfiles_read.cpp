#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <thread>

#include "framework/gridfiles.h"
#include "framework/gridfiles_io.h"
#include "framework/gridtable.h"
#include "framework/modelobject.h"
#include "framework/signals.h"

using gridio::Entry;

namespace {

constexpr int OpenRetries = 5;
constexpr int RetryDelayMs = 200;
constexpr double BinaryMark = -9999;

enum class GridFormat { Text, Double, Float, Gif };

FILE* OpenWithRetries(modelobject& reader, const std::string& path) {
    for (int retriesLeft = OpenRetries;; --retriesLeft) {
        FILE* file = std::fopen(path.c_str(), "rb");
        if (file) return file;
        if (retriesLeft == 0) break;
        Entry(reader.Writer, "FATAL: error opening ", path, ". Will try again in ", RetryDelayMs,
              " ms... (retriesleft = ", retriesLeft, ")");
        std::this_thread::sleep_for(std::chrono::milliseconds(RetryDelayMs));
    }
    Entry(reader.Writer, "FATAL: still error opening ", path, " - no retry.");
    throw 21;
}

// Tells the format from the first bytes; a file too short for a header is
// not of that format.
GridFormat RecogniseFormat(modelobject& reader, FILE* file, const std::string& path) {
    unsigned char head[96];
    const size_t got = std::fread(head, 1, sizeof head, file);
    std::rewind(file);
    if (got >= 4 && std::memcmp(head, "ncol", 4) == 0) return GridFormat::Text;
    if (got >= 96 && gridio::GetDouble(head + 40) == BinaryMark) return GridFormat::Double;
    if (got >= 24 && gridio::GetFloat(head + 20) == static_cast<float>(BinaryMark)) return GridFormat::Float;
    if (got >= 4 && std::memcmp(head, "GIF8", 4) == 0) return GridFormat::Gif;
    Entry(reader.Writer, "FATAL: could not recognise file format (neither ascii, nor single, double, or GIF) for ",
          path);
    throw 22;
}

void ReadHeader(modelobject& reader, GridFormat format, FILE* file, gridio::TextScanner& scanner,
                const std::string& path, double* header) {
    switch (format) {
    case GridFormat::Text: {
        std::string word;
        for (int k = 1; k <= 6; ++k) {
            if (!scanner.NextToken(word) || !scanner.NextNumber(&header[k - 1])) {
                gridio::RefuseLoneCarriageReturns(reader, scanner, path);
                Entry(reader.Writer, "FATAL: error reading ascii value #", k, " from ", path);
                throw 22;
            }
        }
        gridio::RefuseLoneCarriageReturns(reader, scanner, path);
        break;
    }
    case GridFormat::Double: {
        unsigned char bytes[96];
        if (std::fread(bytes, 1, sizeof bytes, file) != sizeof bytes) {
            Entry(reader.Writer, "FATAL: error reading double value from the header of ", path);
            throw 22;
        }
        for (int k = 0; k < 12; ++k) header[k] = gridio::GetDouble(bytes + 8 * k);
        break;
    }
    case GridFormat::Float:
        for (int k = 1; k <= 12; ++k) {
            unsigned char bytes[4];
            if (std::fread(bytes, 1, sizeof bytes, file) != sizeof bytes) {
                Entry(reader.Writer, "FATAL: error reading double value #", k, " from the header of ", path);
                throw 22;
            }
            header[k - 1] = gridio::GetFloat(bytes);
        }
        break;
    case GridFormat::Gif:
        header[0] = reader.NCols;
        header[1] = reader.NRows;
        header[2] = reader.XllCorner;
        header[3] = reader.YllCorner;
        header[4] = reader.CellSize;
        header[5] = reader.NoData;
        break;
    }
}

bool AbsurdCount(double value) { return !std::isfinite(value) || std::floor(value) < 1 || value >= INT_MAX; }

// The lower-left corner of a file (already floored) against the model's. A
// single-precision file also matches the model's corner as a float, so that
// every grid the model writes reads back.
bool CornerMatches(double model, double fileFloor, bool single) {
    if (std::floor(model) == fileFloor) return true;
    return single && std::floor(static_cast<double>(static_cast<float>(model))) == fileFloor;
}

void CheckMeasures(modelobject& reader, GridFormat format, gridio::CFile& file, const std::string& path,
                   double* header) {
    if (AbsurdCount(header[0]) || AbsurdCount(header[1])) {
        Entry(reader.Writer, "FATAL: error reading ", path, ": impossible grid size of ", header[0],
              " columns and ", header[1], " rows");
        throw 22;
    }
    const bool single = format == GridFormat::Float;
    header[2] = std::floor(header[2]);
    header[3] = std::floor(header[3]);
    const bool cellSizeMatches = single ? static_cast<float>(reader.CellSize) == static_cast<float>(header[4])
                                        : reader.CellSize == header[4];
    const bool matches = std::floor(header[0]) == reader.NCols && std::floor(header[1]) == reader.NRows &&
                         CornerMatches(reader.XllCorner, header[2], single) &&
                         CornerMatches(reader.YllCorner, header[3], single) && cellSizeMatches &&
                         header[5] <= reader.NoData;
    if (matches) return;
    const std::string zoneFile = reader.GridTable ? reader.GridTable[1].FileName : std::string();
    Entry(reader.Writer, "FATAL: ", path, " has not the specified grid measures (in ", reader.ModuleName, ")!\n",
          gridio::Tail(zoneFile, 35), " ", gridio::Tail(path, 35), "\n", reader.NCols, " ", header[0], "\n",
          reader.NRows, " ", header[1], "\n", reader.XllCorner, " ", header[2], "\n", reader.YllCorner, " ",
          header[3], "\n", reader.CellSize, " ", header[4], "\n", reader.NoData, " ", header[5]);
    if (!file.Close()) {
        Entry(reader.Writer, "FATAL: error closing grid ", path);
        throw 23;
    }
    throw 24;
}

// Frees a matrix this reader allocated unless the read succeeded.
struct NewMatrix {
    modelobject& Owner;
    double** Grid = nullptr;
    ~NewMatrix() {
        if (Grid) Owner.free_matrix(Grid, 1, Owner.NRows, 1, Owner.NCols);
    }
};

void ReadRows(modelobject& reader, GridFormat format, FILE* file, gridio::TextScanner& scanner,
              const std::string& path, double** grid) {
    const long rows = reader.NRows;
    const long cols = reader.NCols;
    if (format == GridFormat::Text) {
        // The whole text first, then its numbers in parallel; the first bad
        // cell in file order is the one reported.
        std::string text;
        scanner.TakeRest(text);
        const int64_t cells = static_cast<int64_t>(rows) * cols;
        const gridio::ParsedNumbers parsed = gridio::ParseNumbers(text, cells, [&](int64_t k, double value) {
            const long i = static_cast<long>(k / cols) + 1;
            if (grid[i]) grid[i][k % cols + 1] = value;
        });
        if (parsed.LoneCarriageReturn) gridio::RefuseLoneCarriageReturns(reader, path);
        if (parsed.FirstBad < cells) {
            const std::string token(parsed.BadToken.substr(0, 60));
            Entry(reader.Writer, "FATAL: error reading ascii grid ", path, " in ASCII-Format in row ",
                  static_cast<long>(parsed.FirstBad / cols) + 1, ", col ", static_cast<long>(parsed.FirstBad % cols) + 1,
                  token.empty() ? "" : ": \"" + token + "\" is no finite number");
            throw 22;
        }
        return;
    }
    if (format == GridFormat::Gif) {
        ReadGifGridHook(reader, path, grid);
        return;
    }
    const int width = format == GridFormat::Double ? 8 : 4;
    std::vector<unsigned char> bytes(static_cast<size_t>(cols) * width);
    for (long i = 1; i <= rows; ++i) {
        if (std::fread(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
            Entry(reader.Writer, "FATAL: error reading double grid ", path);
            throw 22;
        }
        for (long j = 1; j <= cols; ++j) {
            const double value = gridio::GetValue(bytes.data() + (j - 1) * width, width);
            if (!std::isfinite(value)) {
                Entry(reader.Writer, "FATAL: error reading double grid ", path, ": the value ", value, " in row ", i,
                      ", col ", j, " is no finite number");
                throw 22;
            }
            if (grid[i]) grid[i][j] = value;
        }
    }
}

}  // namespace

void modelobject::ReadGrid(const std::string& fileName, double**& grid, int fillMode, bool allocate, bool verbose,
                           double fillValue, bool fillFromNeighbours, bool /*directRead*/, int /*unused*/,
                           bool /*haloRows*/) {
    CtrlCIgnored quiet;
    std::string path = fileName;
    PrefixDirectory(InputDirectory, path);

    gridio::CFile file(OpenWithRetries(*this, path));
    const GridFormat format = RecogniseFormat(*this, file.get(), path);
    if (verbose) Entry(Writer, "reading ", path, " for ", ModuleName, "...");

    gridio::TextScanner scanner(file.get());
    double header[12] = {};
    ReadHeader(*this, format, file.get(), scanner, path, header);
    CheckMeasures(*this, format, file, path, header);
    std::copy(header, header + 12, GridHeader);

    NewMatrix fresh{*this};
    double** target = grid;
    if (allocate) {
        fresh.Grid = matrix(1, NRows, 1, NCols, NRows);
        for (long i = 1; i <= NRows; ++i) std::fill(fresh.Grid[i] + 1, fresh.Grid[i] + NCols + 1, NoData);
        target = fresh.Grid;
    } else if (!target) {
        Entry(Writer, "FATAL: error reading grid ", path, " no memory allocated (pointer given to function is NULL)");
        throw 22;
    }

    // One process reads every row itself, whatever the direct-read flag says.
    ReadRows(*this, format, file.get(), scanner, path, target);
    if (!file.Close()) {
        Entry(Writer, "FATAL: error closing grid ", path);
        throw 23;
    }
    if (fillMode == 1 || fillMode == 2) {
        gridio::FillNodataHoles(*this, path, target, header[5], fillMode, fillValue, fillFromNeighbours, verbose);
    }
    grid = target;
    fresh.Grid = nullptr;
}
