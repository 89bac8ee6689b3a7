#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "framework/end_state_stage.h"
#include "framework/gridfiles.h"
#include "framework/gridfiles_io.h"
#include "framework/gridtable.h"
#include "framework/modelobject.h"
#include "framework/signals.h"

using gridio::Entry;

namespace {

constexpr double BinaryMark = -9999;

enum class StackFormat { Text, Double, Float };

StackFormat RecogniseStack(modelobject& reader, FILE* file, const std::string& path) {
    unsigned char head[96];
    const size_t got = std::fread(head, 1, sizeof head, file);
    std::rewind(file);
    if (got >= 5 && std::memcmp(head, "stack", 5) == 0) return StackFormat::Text;
    if (got < 48) {
        Entry(reader.Writer, "FATAL: error reading from ", path);
        throw 22;
    }
    // A small stack of floats may be shorter than a header of doubles.
    if (got >= 96 && gridio::GetDouble(head + 40) == BinaryMark) return StackFormat::Double;
    if (gridio::GetFloat(head + 20) == static_cast<float>(BinaryMark)) return StackFormat::Float;
    Entry(reader.Writer, "FATAL: could not recognise file format (ascii, double or double) for stack ", path);
    throw 22;
}

void ReadStackHeader(modelobject& reader, StackFormat format, FILE* file, gridio::TextScanner& scanner,
                     const std::string& path, double* header) {
    if (format == StackFormat::Text) {
        std::string word;
        for (int k = 0; k < 12; ++k) {
            if (!scanner.NextToken(word) || !scanner.NextNumber(&header[k])) {
                gridio::RefuseLoneCarriageReturns(reader, scanner, path);
                Entry(reader.Writer, "FATAL: error reading from ", path);
                throw 22;
            }
        }
        gridio::RefuseLoneCarriageReturns(reader, scanner, path);
        return;
    }
    const int width = format == StackFormat::Double ? 8 : 4;
    unsigned char bytes[12 * 8];
    if (std::fread(bytes, 1, 12 * static_cast<size_t>(width), file) != 12 * static_cast<size_t>(width)) {
        Entry(reader.Writer, "FATAL: error reading from ", path);
        throw 22;
    }
    for (int k = 0; k < 12; ++k) header[k] = gridio::GetValue(bytes + k * width, width);
}

bool SameValue(double model, double file, bool single) {
    return single ? static_cast<float>(model) == static_cast<float>(file) : model == file;
}

// Checks the header before anything is allocated: plausible sizes (22), the
// model's measures (24) and a level count the file can hold (22). Returns the
// number of levels n (the stack holds levels 0 to n).
long CheckStackHeader(modelobject& reader, StackFormat format, gridio::CFile& file, const std::string& path,
                      const double* header) {
    auto absurdCount = [](double v) { return !std::isfinite(v) || std::floor(v) < 1 || v >= INT_MAX; };
    const double levels = std::floor(header[11]);
    if (absurdCount(header[0]) || absurdCount(header[1]) || !(levels >= 0 && levels < INT_MAX)) {
        Entry(reader.Writer, "FATAL: error reading from ", path, ": impossible stack size of ", header[0],
              " columns, ", header[1], " rows and ", header[11], " levels");
        throw 22;
    }
    const bool single = format == StackFormat::Float;
    const bool matches = std::floor(header[0]) == reader.NCols && std::floor(header[1]) == reader.NRows &&
                         SameValue(reader.XllCorner, header[2], single) &&
                         SameValue(reader.YllCorner, header[3], single) &&
                         SameValue(reader.CellSize, header[4], single) && SameValue(reader.NoData, header[5], single);
    if (!matches) {
        const std::string zoneFile = reader.GridTable ? reader.GridTable[1].FileName : std::string();
        Entry(reader.Writer, "FATAL: ", path, " has not the specified grid measures (in ", reader.ModuleName, ")\n",
              gridio::Tail(zoneFile, 35), " ", gridio::Tail(path, 35), "\n", reader.NCols, " ", header[0], "\n",
              reader.NRows, " ", header[1], "\n", reader.XllCorner, " ", header[2], "\n", reader.YllCorner, " ",
              header[3], "\n", reader.CellSize, " ", header[4], "\n", reader.NoData, " ", header[5]);
        if (!file.Close()) {
            Entry(reader.Writer, "FATAL: error closing stack ", path);
            throw 23;
        }
        throw 24;
    }
    const long n = static_cast<long>(levels);
    // Every value takes at least 2 bytes of text (a digit and a separator) or
    // its full width in a binary file.
    const unsigned __int128 values = static_cast<unsigned __int128>(reader.NRows) *
                                     static_cast<unsigned __int128>(reader.NCols) *
                                     static_cast<unsigned __int128>(n + 1);
    const long long size = gridio::FileSize(file.get());
    unsigned __int128 needed;
    if (format == StackFormat::Text) needed = 2 * values - 1;
    else needed = (12 + values) * static_cast<unsigned>(format == StackFormat::Double ? 8 : 4);
    if (size < 0 || needed > static_cast<unsigned __int128>(size)) {
        Entry(reader.Writer, "FATAL: error reading from ", path, ": ", n, " levels do not fit into a file of ",
              size, " bytes");
        throw 22;
    }
    return n;
}

struct NewStack {
    modelobject& Owner;
    GridStack Stack = nullptr;
    ~NewStack() {
        if (Stack) Owner.free_matrix3d(Stack, 1, Owner.NRows);
    }
};

void ReadStackValues(modelobject& reader, StackFormat format, FILE* file, gridio::TextScanner& scanner,
                     const std::string& path, GridStack stack, long n) {
    const long rows = reader.NRows;
    const long cols = reader.NCols;
    if (format == StackFormat::Text) {
        // The whole text first, then its numbers in parallel; the first bad
        // value in file order is the one reported.
        std::string text;
        scanner.TakeRest(text);
        const int64_t depth = n + 1;
        const int64_t perRow = static_cast<int64_t>(cols) * depth;
        const gridio::ParsedNumbers parsed = gridio::ParseNumbers(text, rows * perRow, [&](int64_t k, double value) {
            stack[k / perRow + 1][k % perRow / depth + 1][k % depth] = value;
        });
        if (parsed.LoneCarriageReturn) gridio::RefuseLoneCarriageReturns(reader, path);
        if (parsed.FirstBad < rows * perRow) {
            const int64_t k = parsed.FirstBad;
            const std::string token(parsed.BadToken.substr(0, 60));
            Entry(reader.Writer, "FATAL: error reading ascii stack ", path, "at row ", static_cast<long>(k / perRow) + 1,
                  ", column ", static_cast<long>(k % perRow / depth) + 1, ", level ", static_cast<long>(k % depth),
                  token.empty() ? "" : ": \"" + token + "\" is no finite number");
            throw 22;
        }
        return;
    }
    const int width = format == StackFormat::Double ? 8 : 4;
    const size_t cellBytes = static_cast<size_t>(n + 1) * width;
    std::vector<unsigned char> bytes(cellBytes * cols);
    for (long i = 1; i <= rows; ++i) {
        const size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
        if (got != bytes.size()) {
            Entry(reader.Writer, format == StackFormat::Double ? "FATAL: error reading double stack "
                                                               : "FATAL: error reading float stack ",
                  path, "at row ", i, ", column ", static_cast<long>(got / cellBytes) + 1);
            throw 22;
        }
        for (long j = 1; j <= cols; ++j) {
            const unsigned char* cell = bytes.data() + (j - 1) * cellBytes;
            for (long l = 0; l <= n; ++l) {
                const double value = gridio::GetValue(cell + l * width, width);
                if (!std::isfinite(value)) {
                    Entry(reader.Writer,
                          format == StackFormat::Double ? "FATAL: error reading double stack "
                                                        : "FATAL: error reading float stack ",
                          path, "at row ", i, ", column ", j, ", level ", l, ": the value ", value,
                          " is no finite number");
                    throw 22;
                }
                stack[i][j][l] = value;
            }
        }
    }
}

}  // namespace

int modelobject::ReadStack(const std::string& fileName, GridStack& stack, bool /*allRows*/) {
    CtrlCIgnored quiet;
    std::string path = fileName;
    PrefixDirectory(InputDirectory, path);
    gridio::CFile file(std::fopen(path.c_str(), "rb"));
    if (!file.get()) {
        Entry(Writer, "FATAL: error opening ", path);
        throw 21;
    }
    Entry(Writer, "reading ", path, " for ", ModuleName, "...");

    const StackFormat format = RecogniseStack(*this, file.get(), path);
    gridio::TextScanner scanner(file.get());
    double header[12] = {};
    ReadStackHeader(*this, format, file.get(), scanner, path, header);
    const long n = CheckStackHeader(*this, format, file, path, header);
    std::copy(header, header + 12, GridHeader);

    NewStack fresh{*this};
    fresh.Stack = matrix3d(1, NRows, 1, NCols, n, NRows);
    ReadStackValues(*this, format, file.get(), scanner, path, fresh.Stack, n);
    if (!file.Close()) {
        Entry(Writer, "FATAL: error closing stack ", path);
        throw 23;
    }
    stack = fresh.Stack;
    fresh.Stack = nullptr;
    return static_cast<int>(n);
}

void modelobject::WriteStack(const std::string& fileName, GridStack stack, int numLevels, bool textOutput,
                             bool doublePrecision) {
    std::string path = fileName;
    PrefixDirectory(OutputDirectory, path);
    {
        CtrlCIgnored quiet;
        if (numLevels < 0) {
            Entry(Writer, "FATAL: error opening ", path, ": invalid number of levels ", numLevels);
            throw 26;
        }
        // While the end state is written, the file goes to a staged name.
        const std::string written = endstate::WritePath(path);
        gridio::CFile file(std::fopen(written.c_str(), textOutput ? "w" : "wb"));
        if (!file.get()) {
            Entry(Writer, "FATAL: error opening ", path);
            throw 26;
        }
        const double header[12] = {static_cast<double>(NCols), static_cast<double>(NRows), XllCorner, YllCorner,
                                   CellSize, NoData, 0, 0, 0, 0, 0, static_cast<double>(numLevels)};
        auto put = [&](const void* data, size_t size) {
            if (size > 0 && std::fwrite(data, 1, size, file.get()) != size) WriteError(path, 18);
        };
        const long depth = static_cast<long>(numLevels) + 1;
        if (textOutput) {
            static const char* const words[12] = {"stack_ncols", "nrows", "xll",    "yll", "cs",      "nodata",
                                                  "cnt",         "min",   "max",    "sum", "average", "numlevels"};
            std::string text;
            for (int k = 0; k < 12; ++k) {
                text += words[k];
                text += '\t';
                gridio::AppendNumber(text, header[k]);
                text += '\n';
            }
            put(text.data(), text.size());
            gridio::FormatRowsInOrder(
                NRows, static_cast<long>(NCols) * depth,
                [&](long i, std::string& rowText) {
                    for (long j = 1; j <= NCols; ++j) {
                        for (long l = 0; l < depth; ++l) {
                            gridio::AppendNumber(rowText, stack && stack[i] ? stack[i][j][l] : NoData);
                            rowText += '\n';
                        }
                    }
                },
                [&](const std::string& rows) { put(rows.data(), rows.size()); });
        } else {
            const int width = doublePrecision ? 8 : 4;
            unsigned char headerBytes[12 * 8];
            for (int k = 0; k < 12; ++k) gridio::PutValue(headerBytes + k * width, header[k], width);
            put(headerBytes, 12 * static_cast<size_t>(width));
            std::vector<unsigned char> bytes(static_cast<size_t>(NCols) * depth * width);
            for (long i = 1; i <= NRows; ++i) {
                unsigned char* out = bytes.data();
                for (long j = 1; j <= NCols; ++j) {
                    for (long l = 0; l < depth; ++l, out += width) {
                        gridio::PutValue(out, stack && stack[i] ? stack[i][j][l] : NoData, width);
                    }
                }
                put(bytes.data(), bytes.size());
            }
        }
        std::copy(header, header + 12, GridHeader);
        if (!file.Close()) {
            Entry(Writer, "FATAL: error closing ", path);
            throw 27;
        }
        endstate::Written(path);
    }
    ArmCtrlCHandler();
}
