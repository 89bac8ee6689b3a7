#pragma once
// The files of one meteorological input, by its method: up to two station
// files, a regression file or a grid list. The set opens them at the run's
// start date, advances all of them by one record per time step with the
// checks that keep them on one date, tells the end of the data and rewinds
// them for a spin-up repetition.

#include <cstdint>
#include <memory>
#include <string>

#include "forcing/meteoint_files.h"
#include "forcing/meteoint_files_gridlist.h"
#include "forcing/meteoint_files_regression.h"
#include "forcing/meteoint_files_station.h"

class DiagnosticsWriter;

class MeteoFileSet {
public:
    // `method` 1 to 12 (the caller rejects any other first); `noDataBound` N
    // of the station values; `startDate` the run's start date.
    MeteoFileSet(DiagnosticsWriter* writer, std::string inputName, int32_t method, double noDataBound,
                 const MeteoDate& startDate);

    // Station files of a method: 2 for methods 6 and 8, none for 2 and 9,
    // else 1.
    static int StationFileCount(int32_t method);
    static bool UsesRegressionFile(int32_t method) { return method == 2 || method == 3; }
    static bool UsesGridList(int32_t method) { return method == 9; }

    // Opens station file f (0, then 1): header; for f = 1 the station count,
    // altitudes and coordinates must equal those of file 0 (code 73); start
    // row; buffer. File 0 gives the input's current date.
    StationFileReader& OpenStationFile(int f, const std::string& fileName, int64_t additionalColumns,
                                       int64_t bufferBytes = StationFileReader::DefaultBufferBytes);
    // Opens the regression file at the start row; it gives the current date.
    RegressionFileReader& OpenRegressionFile(const std::string& fileName,
                                             int64_t bufferRows = RegressionFileReader::DefaultBufferRows);
    // Opens the grid list: header, then the start row; it gives the current
    // date.
    GridListReader& OpenGridList(const std::string& fileName, int64_t additionalColumns);

    // Advances every file of the method by one record. Station methods: file 0
    // gives the date, every station file must stand on it (code 73); method 3:
    // the regression row must stand on it too (code 52), and the station file
    // decides the end. The end of data is set when the deciding file has no
    // further record or its date has reached `endKey`; afterwards the call
    // does nothing.
    void ReadNextStep(int64_t endKey);
    // Rewinds every file to its start row and clears the end of data; the
    // next ReadNextStep takes the start row again.
    void ResetToStart();

    bool EndOfData() const { return AtEnd; }
    const MeteoDate& CurrentDate() const { return Current; }
    int32_t Method() const { return MethodNumber; }

    StationFileReader* Station(int f) const { return (f == 0 || f == 1) ? Stations[f].get() : nullptr; }
    RegressionFileReader* Regression() const { return RegressionFile.get(); }
    GridListReader* GridList() const { return List.get(); }

private:
    [[noreturn]] void StationDateError() const;
    [[noreturn]] void RegressionDateError() const;
    void CompareWithFirstStationFile(const StationFileReader& second) const;

    DiagnosticsWriter* Writer;
    std::string InputName;
    int32_t MethodNumber;
    double NoDataBound;
    MeteoDate StartDate;
    MeteoDate Current;
    bool AtEnd = false;

    std::unique_ptr<StationFileReader> Stations[2];
    std::unique_ptr<RegressionFileReader> RegressionFile;
    std::unique_ptr<GridListReader> List;
};
