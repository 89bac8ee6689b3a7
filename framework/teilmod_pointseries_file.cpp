#include "framework/teilmod_pointseries_file.h"

#include <cerrno>
#include <cinttypes>
#include <cstdarg>

#include "framework/diagnostics_writer.h"
#include "framework/signals.h"
#include "framework/teilmod_pointseries_text.h"

namespace {

__attribute__((format(printf, 2, 3))) void AppendFormat(std::string& text, const char* format, ...) {
    char small[128];
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (length < 0) {
        va_end(copy);
        return;
    }
    if (static_cast<size_t>(length) < sizeof small) {
        text.append(small, static_cast<size_t>(length));
    } else {
        std::string large(static_cast<size_t>(length) + 1, '\0');
        std::vsnprintf(large.data(), large.size(), format, copy);
        text.append(large.data(), static_cast<size_t>(length));
    }
    va_end(copy);
}

}  // namespace

SpecialOutputFile::SpecialOutputFile(DiagnosticsWriter* writer, SpecialOutputClass* owner, const std::string& text,
                                     const SpecialOutputGeometry& geometry, MemoryGrid* gridTable, int subSteps,
                                     const std::string& outputDirectory)
    : Writer(writer), Owner(owner), GridTable(gridTable), SubSteps(subSteps), NoData(geometry.NoData) {
    Header = RequiredBraceWord(Writer, text, "header", "a file block");
    FileName = RequiredBraceWord(Writer, text, "filename", "a file block");
    if (FileName[0] != '/' && FileName[0] != '~') FileName = outputDirectory + FileName;

    // Each entity runs from the first "{" after its keyword to the next "}".
    std::string rest = text;
    for (size_t at = rest.find("entity"); at != std::string::npos; at = rest.find("entity")) {
        const size_t open = rest.find('{', at);
        const size_t close = open == std::string::npos ? std::string::npos : rest.find('}', open);
        if (close == std::string::npos) {
            SpecialOutputSectionError(Writer, "an entity of the file " + FileName + " has no block in braces");
        }
        Entities.emplace_back(Writer, rest.substr(open, close - open + 1), geometry, GridTable, this, SubSteps);
        rest.erase(0, close + 1);
    }

    int64_t points = 0;
    for (const SpecialOutputEntity& entity : Entities) points += entity.Points;
    Points = static_cast<int>(points);
    Capacity = special_output::RowCapacity(Points);
    const size_t width = static_cast<size_t>(Points) + 1;
    RowValues.assign(static_cast<size_t>(Capacity + 1) * width, special_output::Missing);
    Rows.assign(static_cast<size_t>(Capacity) + 1, DatedRow{});
    for (size_t r = 0; r < Rows.size(); ++r) Rows[r].Values = RowValues.data() + r * width;
    PointValues.assign(width, special_output::Missing);

    WriteHeader();
}

SpecialOutputFile::~SpecialOutputFile() {
    if (Stream) std::fclose(Stream);
}

void SpecialOutputFile::WriteHeader() {
    std::string text = "YY\tMM\tDD\tHH";
    for (const SpecialOutputEntity& entity : Entities) {
        for (size_t p = 0; p < static_cast<size_t>(entity.Points); ++p) {
            AppendFormat(text, "\t%s/%d/%d", entity.Symbol.c_str(), entity.Column[p], entity.Row[p]);
            if (!entity.Level.empty()) AppendFormat(text, "/%d", entity.Level[p]);
        }
    }
    text += "\n" + Header + "\nYY\tMM\tDD\tHH";
    for (const SpecialOutputEntity& entity : Entities) {
        for (size_t p = 0; p < static_cast<size_t>(entity.Points); ++p) {
            AppendFormat(text, "\t%s/%lg/%lg", entity.Symbol.c_str(), entity.Xcoords[p], entity.Ycoords[p]);
            if (!entity.Level.empty()) AppendFormat(text, "/%d", entity.Level[p]);
        }
    }
    text += "\n";

    CtrlCIgnored quiet;
    Stream = std::fopen(FileName.c_str(), "wt");
    if (!Stream) {
        if (Writer) {
            *Writer << "FATAL: error opening file for special output of file\n" << FileName
                    << "\n-> check file name, disk space or user rights" << "[end-entry]";
        }
        throw 1007;
    }
    WriteAndClose(text);
}

void SpecialOutputFile::WriteAndClose(const std::string& text) {
    if ((!text.empty() && std::fwrite(text.data(), 1, text.size(), Stream) != text.size()) ||
        std::fflush(Stream) != 0) {
        const int error = errno;
        std::fclose(Stream);
        Stream = nullptr;
        if (Writer) *Writer << "FATAL: write error " << FileName << " ! (" << error << ")" << "[end-entry]";
        throw 18;
    }
    const int closed = std::fclose(Stream);
    Stream = nullptr;
    if (closed != 0) {
        if (Writer) *Writer << "FATAL: cannot close " << FileName << "[end-entry]";
        throw 16;
    }
}

void SpecialOutputFile::OpenRow(int64_t hour, int64_t day, int64_t month, int64_t year) {
    // The end-of-step call flushes a full buffer, so this only guards calls
    // outside the application's order.
    if (RowsInUse >= Capacity) Flush();
    ++RowsInUse;
    DatedRow& row = Rows[static_cast<size_t>(RowsInUse)];
    row.Year = year;
    row.Month = month;
    row.Day = day;
    row.Hour = hour;
    for (int j = 1; j <= Points; ++j) row.Values[j] = special_output::Missing;
    NewRow = false;
}

void SpecialOutputFile::Step(int64_t hour, int64_t day, int64_t month, int64_t year, bool subStepCall, int subStep,
                             const InstanceCells& cells) {
    if (NewRow || RowsInUse == 0) OpenRow(hour, day, month, year);
    double* values = Rows[static_cast<size_t>(RowsInUse)].Values;
    int column = 1;
    for (const SpecialOutputEntity& entity : Entities) {
        // States are read at the end of the step, fluxes in every sub-step.
        if (subStepCall != entity.Flux) {
            column += entity.Points;
            continue;
        }
        entity.ReadValues(PointValues.data(), cells);
        for (int p = 0; p < entity.Points; ++p, ++column) {
            const double value = PointValues[static_cast<size_t>(p)];
            values[column] = entity.Flux && subStep > 1 ? special_output::AddFlux(values[column], value, NoData)
                                                        : value;
        }
    }
    if (subStepCall) return;
    if (RowsInUse >= Capacity) Flush();
    NewRow = true;
}

void SpecialOutputFile::Flush() {
    if (RowsInUse == 0) return;
    std::string text;
    text.reserve(static_cast<size_t>(RowsInUse) * (static_cast<size_t>(Points) * 12 + 24));
    for (int64_t r = 1; r <= RowsInUse; ++r) {
        const DatedRow& row = Rows[static_cast<size_t>(r)];
        AppendFormat(text, "%" PRId64 "\t%" PRId64 "\t%" PRId64 "\t%" PRId64, row.Year, row.Month, row.Day, row.Hour);
        for (int j = 1; j <= Points; ++j) AppendFormat(text, "\t%g", row.Values[j]);
        text += '\n';
    }
    {
        CtrlCIgnored quiet;
        if (Writer) *Writer << "DEBUG: write " << FileName << "[end-entry]";
        Stream = std::fopen(FileName.c_str(), "a+");
        if (!Stream) {
            if (Writer) *Writer << "FATAL: \nerror opening file " << FileName << "[end-entry]";
            throw 65;
        }
        WriteAndClose(text);
        if (Writer) {
            *Writer << "DEBUG: (" << static_cast<long long>((static_cast<int64_t>(Points) * 8 + 32) * RowsInUse)
                    << " of " << static_cast<long long>(special_output::BufferBytes) << " buffer-bytes)"
                    << "[end-entry]";
        }
    }
    RowsInUse = 0;
    ArmCtrlCHandler();
}
