#pragma once
// Grid lists of the meteorological inputs: per date the name of a grid file
// that already holds the interpolated values. Lines 1 to 5 as in a station
// file (x, y and altitude of column 1 are the georeference of GIF grids);
// lines 6 and on: year, month, day, hour, k tokens, the grid file name.
// The list file stays open from its first row read to the end of its data.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "forcing/meteoint_files.h"
#include "forcing/meteoint_files_station.h"

class DiagnosticsWriter;
namespace meteofiles {
class PositionedFile;
}

class GridListReader {
public:
    GridListReader(DiagnosticsWriter* writer, std::string inputName, std::string fileName, int64_t additionalColumns);
    ~GridListReader();
    GridListReader(const GridListReader&) = delete;
    GridListReader& operator=(const GridListReader&) = delete;

    // Reads the header (ReadStationDescription of the station files).
    void ReadStationDescription();
    // Finds the row of `start` and makes its grid file name current. Codes:
    // 49 not opened or a malformed row before it, 51 date missing, 50 not
    // closed.
    void FindStartDateGridList(const MeteoDate& start);
    // Reads the next row; false (current row kept, file closed) at the end of
    // the data: the current date has reached `endKey`, no further row, or a
    // row of year, month and day 0. Code 49 for a malformed row.
    bool NextGridListEntry(int64_t endKey);
    // Closes the list and returns to the start row, which the next
    // NextGridListEntry reads again.
    void ResetToStart();

    const std::string& FileName() const { return FileNameText; }
    const StationDescription& Columns() const { return Description; }
    const MeteoDate& Date() const { return CurrentDate; }
    // The grid file of the current row as written ("-9999" stands for the
    // last valid grid file).
    const std::string& GridFileName() const { return CurrentGridName; }
    bool IsOpen() const;

private:
    void CloseList();

    DiagnosticsWriter* Writer;
    std::string InputName;
    std::string FileNameText;
    int64_t ExtraColumns;
    StationDescription Description;
    bool Started = false;
    bool Ended = false;

    MeteoDate StartDate;
    MeteoDate CurrentDate;
    std::string CurrentGridName;

    std::unique_ptr<meteofiles::PositionedFile> List;
    int64_t KeptPosition = 0;
    int64_t KeptLine = 0;
    int64_t StartRowPosition = 0;
    int64_t StartRowLine = 0;
    int64_t LastKey = 0;
    MeteoDate LastDate;
};
