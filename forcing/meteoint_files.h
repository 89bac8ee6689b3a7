#pragma once
// Dates of the meteorological input files and the limits shared by their
// readers (station files, regression files, grid lists).

#include <cstdint>
#include <limits>

// A date as the meteorological files give it: year, month, day and hour.
struct MeteoDate {
    int64_t Year = 0;
    int64_t Month = 0;
    int64_t Day = 0;
    int64_t Hour = 0;

    // Comparable key of the date (not a time measure); orders dates for hours
    // 0 to 24, days 1 to 31 and months 1 to 12.
    constexpr int64_t Key() const { return Year * 93000 + Month * 7750 + Day * 250 + Hour; }
    bool operator==(const MeteoDate&) const = default;
};

// End key of a reader that does not stop at a date (the regression file of
// method 3, where the station file decides the end).
inline constexpr int64_t NoEndKey = std::numeric_limits<int64_t>::max();

// Code of every failure to use a meteorological file: it cannot be opened or
// read, or a line of it is malformed.
inline constexpr int MeteoFileErrorCode = 49;
// A file cannot be closed.
inline constexpr int MeteoCloseErrorCode = 50;
// The start date of the run is not in the file.
inline constexpr int MeteoStartDateErrorCode = 51;
// Method 3: the regression row and the stations stand on different dates.
inline constexpr int MeteoRegressionDateErrorCode = 52;
// The station files of one input differ in their dates or their stations.
inline constexpr int MeteoStationFilesErrorCode = 73;
