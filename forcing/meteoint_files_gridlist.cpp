#include "forcing/meteoint_files_gridlist.h"

#include <limits>
#include <utility>

#include "forcing/meteoint_files_text.h"
#include "framework/diagnostics_writer.h"

using namespace meteofiles;

namespace {

// The date and grid file name of a list row; false for the end marker.
bool ParseListRow(DiagnosticsWriter* writer, const std::string& fileName, int64_t line,
                  const std::vector<std::string_view>& tokens, int64_t extraColumns, MeteoDate& date,
                  std::string& gridName) {
    std::string problem;
    const RowDate kind = ParseRowDate(tokens, 99, date, problem);
    if (kind == RowDate::EndMarker) return false;
    if (kind == RowDate::Malformed) FormatError(writer, fileName, LineText(line), problem);
    const size_t nameIndex = 4 + static_cast<size_t>(extraColumns);
    if (tokens.size() <= nameIndex) {
        FormatError(writer, fileName, LineText(line),
                    "no grid file name follows the date and the " + std::to_string(extraColumns) +
                        " additional columns");
    }
    gridName.assign(tokens[nameIndex]);
    return true;
}

}  // namespace

GridListReader::GridListReader(DiagnosticsWriter* writer, std::string inputName, std::string fileName,
                               int64_t additionalColumns)
    : Writer(writer),
      InputName(std::move(inputName)),
      FileNameText(std::move(fileName)),
      ExtraColumns(additionalColumns),
      List(std::make_unique<PositionedFile>()) {}

GridListReader::~GridListReader() = default;

bool GridListReader::IsOpen() const { return List->IsOpen(); }

void GridListReader::ReadStationDescription() {
    Description = ::ReadStationDescription(Writer, InputName, FileNameText, ExtraColumns);
}

void GridListReader::FindStartDateGridList(const MeteoDate& start) {
    *Writer << "looking for starting date " << start.Day << "." << start.Month << "." << start.Year << " for "
            << InputName << " in " << FileNameText << "[end-entry]";
    if (ExtraColumns < 0) {
        *Writer << "FATAL: \nerror reading " << FileNameText << ": the number of additional columns ("
                << ExtraColumns << ") is negative[end-entry]";
        throw MeteoFileErrorCode;
    }
    PositionedFile file;
    OpenOrFail(Writer, FileNameText, file);
    std::string text, name;
    std::vector<std::string_view> tokens;
    int64_t line = 0;
    bool progress = false;
    bool headerComplete = true;
    for (int i = 0; i < 5 && headerComplete; ++i) {
        if (file.ReadLine(text)) {
            ++line;
        } else {
            if (file.Failed()) ReadFailure(Writer, FileNameText);
            headerComplete = false;
        }
    }
    LastKey = std::numeric_limits<int64_t>::min();
    while (headerComplete) {
        const int64_t rowPosition = file.Position();
        if (!file.ReadLine(text)) {
            if (file.Failed()) ReadFailure(Writer, FileNameText);
            break;
        }
        ++line;
        if (IsBlankLine(text)) continue;
        SplitTokens(text, tokens);
        MeteoDate date;
        if (!ParseListRow(Writer, FileNameText, line, tokens, ExtraColumns, date, name)) break;
        if (date.Key() <= LastKey) {
            FormatError(Writer, FileNameText, LineText(line),
                        "the date " + DateText(date) + " does not follow the date " + DateText(LastDate) +
                            " of the row before");
        }
        LastKey = date.Key();
        LastDate = date;
        if ((date.Hour == 0 || date.Hour > 23) && date.Day == 1) {
            *Writer << ".";
            progress = true;
        }
        if (date == start) {
            if (progress) *Writer << "[end-entry]";
            StartRowPosition = rowPosition;
            StartRowLine = line - 1;
            KeptPosition = file.Position();
            KeptLine = line;
            CloseChecked(Writer, file, FileNameText);
            CurrentGridName = name;
            StartDate = start;
            CurrentDate = start;
            Ended = false;
            Started = true;
            return;
        }
        // Dates increase, so the start date cannot come later.
        if (date.Key() > start.Key()) break;
    }
    MissingStartDate(Writer, FileNameText, start, progress);
}

void GridListReader::CloseList() {
    if (List->IsOpen()) CloseChecked(Writer, *List, FileNameText);
}

bool GridListReader::NextGridListEntry(int64_t endKey) {
    METEOFILES_CHECK(Started);
    if (CurrentDate.Key() >= endKey) {
        CloseList();
        return false;
    }
    if (Ended) return false;
    if (!List->IsOpen()) {
        OpenOrFail(Writer, FileNameText, *List);
        if (!List->Seek(KeptPosition)) ReadFailure(Writer, FileNameText);
    }
    std::string text, name;
    std::vector<std::string_view> tokens;
    for (;;) {
        if (!List->ReadLine(text)) {
            if (List->Failed()) ReadFailure(Writer, FileNameText);
            Ended = true;
            CloseList();
            return false;
        }
        ++KeptLine;
        if (!IsBlankLine(text)) break;
    }
    SplitTokens(text, tokens);
    MeteoDate date;
    if (!ParseListRow(Writer, FileNameText, KeptLine, tokens, ExtraColumns, date, name)) {
        Ended = true;
        CloseList();
        return false;
    }
    if (date.Key() <= LastKey) {
        FormatError(Writer, FileNameText, LineText(KeptLine),
                    "the date " + DateText(date) + " does not follow the date " + DateText(LastDate) +
                        " of the row before");
    }
    LastKey = date.Key();
    LastDate = date;
    KeptPosition = List->Position();
    CurrentDate = date;
    CurrentGridName = std::move(name);
    return true;
}

void GridListReader::ResetToStart() {
    METEOFILES_CHECK(Started);
    CloseList();
    KeptPosition = StartRowPosition;
    KeptLine = StartRowLine;
    LastKey = std::numeric_limits<int64_t>::min();
    CurrentDate = StartDate;
    Ended = false;
}
