// Inflows of a routing description: constant, internal (fed by an
// abstraction) and external (a date-keyed file with one row per step).

#include <cstdio>
#include <string>

#include "framework/diagnostics_writer.h"
#include "framework/timeseries_reader.h"
#include "routing/abfluss_routingclass.h"

namespace {

constexpr uint64_t InflowBufferBytes = 100000;

// Year of a table row: two-digit years belong to the 1900s.
int FullYear(int year) { return year < 1000 ? year + 1900 : year; }

// A value of -9998 or less stands for a missing one and gives 0.
double InflowValueOrZero(double v) { return v <= -9998 ? 0.0 : v; }

// Bounds of an inflow's discharge [m3/s] and of its concentrations.
constexpr double MaxInflow = 1e6;
constexpr double MaxInflowConcentration = 1e12;

}  // namespace

// A discharge (tracer 0) or concentration that is not a number within its
// bounds (missing values already taken as 0) ends the run.
double routingclass::CheckedInflowValue(double v, int tracer, int inflow, const std::string& file, int column,
                                        int year, int month, int day, int hour) {
    const double value = InflowValueOrZero(v);
    const double highest = tracer == 0 ? MaxInflow : MaxInflowConcentration;
    if (value >= 0 && value <= highest) return value;
    if (Writer) {
        char text[40];
        std::snprintf(text, sizeof text, "%.17g", value);
        *Writer << "FATAL: the " << (tracer == 0 ? "discharge [m3/s]" : "concentration of tracer " + std::to_string(tracer))
                << " " << text << " of inflow " << inflow << " in " << file << ", column " << column << ", row of "
                << year << "." << month << "." << day << ", " << hour << ". h, lies outside 0 to " << highest
                << "[end-entry]";
    }
    throw 39;
}

namespace {

}  // namespace

void routingclass::SetZuflussModus(int e, int inflowNumber, int mode, const std::string& fileName, int startRow,
                                   double constantValue, int column, int64_t year, int64_t month, int64_t day,
                                   int64_t hour) {
    if (!IsZL(e)) return;
    const int k = e - Counts.OL - Counts.SUMTRIB;
    const size_t kk = static_cast<size_t>(k);
    const int T = Links.TracerCount;
    InflowNumber[kk] = inflowNumber;
    InflowMode[kk] = mode;
    InflowFile[kk] = fileName;
    InflowStartRow[kk] = startRow;
    InflowColumn[kk] = column;
    if (mode != 4) {
        InflowValue[0][kk] = mode == 1 ? constantValue : 0.0;
        return;
    }
    if (InflowReaders.size() <= kk) InflowReaders.resize(kk + 1);
    InflowReaders[kk] = std::make_unique<TimeSeriesTableReader>();
    TimeSeriesTableReader& reader = *InflowReaders[kk];
    const int64_t headerLines = reader.Open(fileName, 0, InflowBufferBytes);
    if (reader.GetStatus() == TimeSeriesTableReader::CannotOpen) {
        if (Writer) *Writer << "FATAL: error opening " << fileName << " for inflow " << k << "[end-entry]";
        throw 37;
    }
    if (reader.GetStatus() == TimeSeriesTableReader::BadData && reader.GetRowCount() == 0) {
        if (Writer) {
            *Writer << "FATAL: error searching in " << fileName << " for row " << startRow
                    << "\nactual reached row: " << headerLines << "[end-entry]";
        }
        throw 38;
    }
    // The start row counts the lines of the file from 1, header lines too.
    int64_t i = headerLines;
    while (i < static_cast<int64_t>(startRow) - 1) {
        reader.NextRow();
        ++i;
        if (reader.GetStatus() == TimeSeriesTableReader::PastLastRow) {
            if (Writer) {
                *Writer << "FATAL: error searching in " << fileName << " for row " << startRow
                        << "\nactual reached row: " << i << "[end-entry]";
            }
            throw 38;
        }
    }
    LastInflowDate = {0, 0, 0, 0};
    reader.MoveRow(-1);
    while (true) {
        reader.NextRow();
        if (reader.GetStatus() == TimeSeriesTableReader::PastLastRow) {
            if (Writer) {
                *Writer << "FATAL: starting date " << day << "." << month << "." << year << ", " << hour << ". h in "
                        << fileName << " not found (" << "search started at row " << startRow << ")" << "[end-entry]";
            }
            throw 38;
        }
        int y = 0, m = 0, d = 0, h = 0;
        reader.GetDate(y, m, d, h);
        y = FullYear(y);
        LastInflowDate = {y, m, d, h};
        if (y == year && m == month && d == day && h == hour) break;
    }
    // Columns 1 to 4 are the date: a value column below 5 would read a date
    // as discharge.
    if (column < 5 || reader.GetColumnCount() < static_cast<int64_t>(column) + T - 4) {
        if (Writer) {
            *Writer << "FATAL: there is not the required number of columns in " << fileName << " for reading ZL[" << k
                    << "] and the follwoing " << T << " tracer values starting from column " << column
                    << "[end-entry]";
        }
        throw 38;
    }
    InflowValue[0][kk] = CheckedInflowValue(reader.GetValue(column - 5), 0, inflowNumber, fileName, column,
                                            LastInflowDate[0], LastInflowDate[1], LastInflowDate[2], LastInflowDate[3]);
}

void routingclass::ReadInflows(double** F, int64_t year, int64_t month, int64_t day, int64_t hour) {
    const int n = Links.SubbasinCount;
    const int T = Links.TracerCount;
    for (int k = 1; k <= Counts.ZL; ++k) {
        const size_t kk = static_cast<size_t>(k);
        if (InflowMode[kk] != 4 || kk >= InflowReaders.size() || !InflowReaders[kk]) continue;
        TimeSeriesTableReader& reader = *InflowReaders[kk];
        const int z = InflowNumber[kk];
        const std::string& file = InflowFile[kk];
        if (reader.GetStatus() == TimeSeriesTableReader::PastLastRow) {
            if (Writer) {
                *Writer << "FATAL: error reading from " << file << " (or from its buffer) for inflow " << z
                        << "\nreached end of file!" << "[end-entry]";
            }
            throw 39;
        }
        int y = 0, m = 0, d = 0, h = 0;
        reader.GetDate(y, m, d, h);
        y = FullYear(y);
        LastInflowDate = {y, m, d, h};
        if (y != year || m != month || d != day || h != hour) {
            if (Writer) {
                *Writer << "FATAL: error comparing dates in " << file << ":\n     read: " << y << "." << m << "." << d
                        << ", " << h << ". h,\nshould be: " << year << "." << month << "." << day << ", " << hour
                        << ". h.\n" << "[end-entry]";
            }
            throw 36;
        }
        const int column = InflowColumn[kk] - 5;
        for (int t = 1; t <= T; ++t)
            F[t][n + z] = CheckedInflowValue(reader.GetValue(column + t), t, z, file, column + t + 5, y, m, d, h);
        const int e = Counts.OL + Counts.SUMTRIB + k;
        F[0][n + z] = ConvertToMm(CheckedInflowValue(reader.GetValue(column), 0, z, file, column + 5, y, m, d, h),
                                  ChannelArea[static_cast<size_t>(e)], TimeStep);
        reader.NextRow();
    }
}
