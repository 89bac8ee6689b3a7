#include <algorithm>
#include <string>
#include <vector>

#include "framework/end_state_stage.h"
#include "framework/gridfiles.h"
#include "framework/gridfiles_io.h"
#include "framework/modelobject.h"
#include "framework/signals.h"

using gridio::Entry;

namespace {

void WriteBytes(modelobject& writer, FILE* file, const void* data, size_t size, const std::string& path) {
    if (size > 0 && std::fwrite(data, 1, size, file) != size) writer.WriteError(path, 18);
}

// Sets the columns of a row outside its valid range to nodata.
void MaskRow(const modelobject& writer, double* row, long first, long last) {
    for (long j = 1; j <= writer.NCols; ++j) {
        if (last < 1 || j < first || j > last) row[j] = writer.NoData;
    }
}

void WriteTextGrid(modelobject& writer, FILE* file, double** grid, bool masked, const std::string& path) {
    std::string text = "ncols\t" + std::to_string(writer.NCols) + "\nnrows\t" + std::to_string(writer.NRows) +
                       "\nxllcorner\t";
    gridio::AppendNumber(text, writer.XllCorner);
    text += "\nyllcorner\t";
    gridio::AppendNumber(text, writer.YllCorner);
    text += "\ncellsize\t";
    gridio::AppendNumber(text, writer.CellSize);
    text += "\nnodata_value\t";
    gridio::AppendNumber(text, writer.NoData);
    text += "\n";
    WriteBytes(writer, file, text.data(), text.size(), path);
    gridio::FormatRowsInOrder(
        writer.NRows, writer.NCols,
        [&](long i, std::string& line) {
            double* row = grid ? grid[i] : nullptr;
            if (row && masked) {
                long first, last;
                gridio::RowRange(writer, i, &first, &last);
                MaskRow(writer, row, first, last);
            }
            for (long j = 1; j <= writer.NCols; ++j) {
                if (j > 1) line += '\t';
                gridio::AppendNumber(line, row ? row[j] : writer.NoData);
            }
            line += '\n';
        },
        [&](const std::string& rows) { WriteBytes(writer, file, rows.data(), rows.size(), path); });
    const double header[12] = {static_cast<double>(writer.NCols), static_cast<double>(writer.NRows),
                               writer.XllCorner, writer.YllCorner, writer.CellSize, writer.NoData};
    std::copy(header, header + 12, writer.GridHeader);
}

void WriteBinaryGrid(modelobject& writer, FILE* file, double** grid, bool masked, int width,
                     const std::string& path) {
    double header[12] = {static_cast<double>(writer.NCols), static_cast<double>(writer.NRows),
                         writer.XllCorner, writer.YllCorner, writer.CellSize, writer.NoData};
    unsigned char headerBytes[12 * 8];
    for (int k = 0; k < 12; ++k) gridio::PutValue(headerBytes + k * width, header[k], width);
    WriteBytes(writer, file, headerBytes, 12 * width, path);

    writer.ResetCellStatistics(writer.NoData);
    std::vector<unsigned char> bytes(static_cast<size_t>(writer.NCols) * width);
    for (long i = 1; i <= writer.NRows; ++i) {
        double* row = grid ? grid[i] : nullptr;
        long first = 1, last = 0;
        if (row) {
            gridio::RowRange(writer, i, &first, &last);
            if (masked) MaskRow(writer, row, first, last);
            double* const* areas = writer.RelCellArea;
            for (long j = first; j <= last; ++j) {
                const double weight = areas && areas[i] ? areas[i][j] : 1.0;
                writer.AddCellStatistics(row[j], weight);
            }
        }
        // A row without valid cells is written as nodata; the caller's grid
        // keeps its values.
        const bool empty = !row || last < 1;
        for (long j = 1; j <= writer.NCols; ++j) {
            gridio::PutValue(bytes.data() + (j - 1) * width, empty ? writer.NoData : row[j], width);
        }
        WriteBytes(writer, file, bytes.data(), bytes.size(), path);
    }

    writer.GetCellStatistics(&header[6], &header[7], &header[8], &header[9], &header[10], &header[11]);
    for (int k = 6; k < 12; ++k) gridio::PutValue(headerBytes + k * width, header[k], width);
    if (std::fseek(file, 6L * width, SEEK_SET) != 0) writer.WriteError(path, 18);
    WriteBytes(writer, file, headerBytes + 6 * width, 6 * static_cast<size_t>(width), path);
    std::copy(header, header + 12, writer.GridHeader);
}

void WriteGridFile(modelobject& writer, const std::string& fileName, double** grid, bool textOutput,
                   bool doublePrecision, bool masked) {
    std::string path = fileName;
    PrefixDirectory(writer.OutputDirectory, path);
    {
        CtrlCIgnored quiet;
        // While the end state is written, the file goes to a staged name.
        const std::string written = endstate::WritePath(path);
        gridio::CFile file(std::fopen(written.c_str(), textOutput ? "w" : "wb"));
        if (!file.get()) {
            Entry(writer.Writer, "FATAL: error creating ", path,
                  textOutput ? " for writing in text mode." : " for writing in binary mode.");
            throw 26;
        }
        if (textOutput) {
            WriteTextGrid(writer, file.get(), grid, masked, path);
        } else {
            WriteBinaryGrid(writer, file.get(), grid, masked, doublePrecision ? 8 : 4, path);
        }
        if (!file.Close()) {
            Entry(writer.Writer, "FATAL: error closing ", path);
            throw 27;
        }
        endstate::Written(path);
    }
    ArmCtrlCHandler();
}

}  // namespace

void modelobject::WriteGrid(const std::string& fileName, double** grid, bool textOutput, bool doublePrecision) {
    WriteGridFile(*this, fileName, grid, textOutput, doublePrecision, false);
}

void modelobject::WriteGridMasked(const std::string& fileName, double** grid, bool textOutput,
                                  bool doublePrecision) {
    WriteGridFile(*this, fileName, grid, textOutput, doublePrecision, true);
}
