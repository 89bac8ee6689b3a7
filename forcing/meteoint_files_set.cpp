#include "forcing/meteoint_files_set.h"

#include <utility>

#include "forcing/meteoint_files_text.h"
#include "framework/diagnostics_writer.h"

namespace {
const std::string Rule(77, '-');
}  // namespace

MeteoFileSet::MeteoFileSet(DiagnosticsWriter* writer, std::string inputName, int32_t method, double noDataBound,
                           const MeteoDate& startDate)
    : Writer(writer),
      InputName(std::move(inputName)),
      MethodNumber(method),
      NoDataBound(noDataBound),
      StartDate(startDate),
      Current(startDate) {
    METEOFILES_CHECK(method >= 1 && method <= 12);
}

int MeteoFileSet::StationFileCount(int32_t method) {
    if (method == 6 || method == 8) return 2;
    if (method < 1 || method > 12 || method == 2 || method == 9) return 0;
    return 1;
}

StationFileReader& MeteoFileSet::OpenStationFile(int f, const std::string& fileName, int64_t additionalColumns,
                                                 int64_t bufferBytes) {
    METEOFILES_CHECK(f >= 0 && f < StationFileCount(MethodNumber));
    METEOFILES_CHECK(f == 0 || Stations[0] != nullptr);
    auto reader = std::make_unique<StationFileReader>(Writer, InputName, fileName, additionalColumns, NoDataBound,
                                                      bufferBytes);
    reader->ReadStationDescription();
    if (f == 1) CompareWithFirstStationFile(*reader);
    reader->FindStartDate(StartDate);
    Stations[f] = std::move(reader);
    if (f == 0) Current = Stations[0]->Date();
    return *Stations[f];
}

void MeteoFileSet::CompareWithFirstStationFile(const StationFileReader& second) const {
    const StationFileReader& first = *Stations[0];
    const int64_t n1 = second.StationCount();
    const int64_t n0 = first.StationCount();
    if (n1 != n0) {
        *Writer << "FATAL: \n------- Error 73 in Interpolation input data ---------\n"
                << "meteorological station files " << second.FileName() << " \nand " << first.FileName()
                << " contain a different number of stations \n(" << n1 << " and " << n0 << ", resp.)\n"
                << "these data has to be identical in both files for interpolation method 6\n"
                << "------- Program terminated due to input data error ---------\n\n[end-entry]";
        throw MeteoStationFilesErrorCode;
    }
    const StationDescription& s1 = second.Stations();
    const StationDescription& s0 = first.Stations();
    for (int64_t i = 1; i <= n0; ++i) {
        const size_t k = static_cast<size_t>(i);
        if (s1.Altitude[k] != s0.Altitude[k] || s1.X[k] != s0.X[k] || s1.Y[k] != s0.Y[k]) {
            *Writer << "FATAL: \n------- Error 73 in Interpolation input data ---------\n"
                    << "Altitude and/or coordinates of station " << i
                    << " are different in\nmeteorological station files " << second.FileName() << "\nH: "
                    << s1.Altitude[k] << ",\tX: " << s1.X[k] << "\tY: " << s1.Y[k] << "\nand\n"
                    << first.FileName() << "\nH: " << s0.Altitude[k] << ",\tX: " << s0.X[k] << "\tY: " << s0.Y[k]
                    << "\n"
                    << "These data has to be identical in both files for interpolation method 6\n"
                    << "------- Program terminated due to input data error ---------\n\n[end-entry]";
            throw MeteoStationFilesErrorCode;
        }
    }
}

RegressionFileReader& MeteoFileSet::OpenRegressionFile(const std::string& fileName, int64_t bufferRows) {
    METEOFILES_CHECK(UsesRegressionFile(MethodNumber));
    RegressionFile = std::make_unique<RegressionFileReader>(Writer, InputName, fileName, bufferRows);
    RegressionFile->FindStartDateRegression(StartDate);
    Current = RegressionFile->Date();
    return *RegressionFile;
}

GridListReader& MeteoFileSet::OpenGridList(const std::string& fileName, int64_t additionalColumns) {
    METEOFILES_CHECK(UsesGridList(MethodNumber));
    List = std::make_unique<GridListReader>(Writer, InputName, fileName, additionalColumns);
    List->ReadStationDescription();
    List->FindStartDateGridList(StartDate);
    Current = List->Date();
    return *List;
}

void MeteoFileSet::StationDateError() const {
    *Writer << "FATAL: error reading date from stationfiles:[end-entry]";
    for (const auto& station : Stations) {
        if (!station) continue;
        const MeteoDate& d = station->Date();
        *Writer << "file " << station->FileName() << ": YYYY=" << d.Year << ", MM=" << d.Month << ", DD=" << d.Day
                << ", HH=" << d.Hour << "[end-entry]";
    }
    *Writer << "[end-entry]";
    throw MeteoStationFilesErrorCode;
}

void MeteoFileSet::RegressionDateError() const {
    const MeteoDate& s = Current;
    const MeteoDate& r = RegressionFile->Date();
    *Writer << "FATAL: " << Rule << "\nerror in date column of " << InputName
            << " for IDW*Regress \n\nDate from station/regress file " << Stations[0]->FileName() << ":\n" << s.Day
            << "." << s.Month << "." << s.Year << " " << s.Hour << " h\n\nbut date from regres file "
            << RegressionFile->FileName() << ":\n" << r.Day << "." << r.Month << "." << r.Year << " " << r.Hour
            << " h\n\n" << Rule << "\n[end-entry]";
    throw MeteoRegressionDateErrorCode;
}

void MeteoFileSet::ReadNextStep(int64_t endKey) {
    if (AtEnd) return;
    if (UsesGridList(MethodNumber)) {
        METEOFILES_CHECK(List != nullptr);
        if (!List->NextGridListEntry(endKey)) AtEnd = true;
        Current = List->Date();
        return;
    }
    if (MethodNumber == 2) {
        METEOFILES_CHECK(RegressionFile != nullptr);
        if (!RegressionFile->NextRegressionRecord(endKey)) AtEnd = true;
        Current = RegressionFile->Date();
        return;
    }
    const int files = StationFileCount(MethodNumber);
    for (int f = 0; f < files; ++f) METEOFILES_CHECK(Stations[f] != nullptr);
    const bool advanced = Stations[0]->NextStationRecord(endKey);
    Current = Stations[0]->Date();
    if (files == 2) Stations[1]->NextStationRecord(endKey);
    for (int f = 1; f < files; ++f) {
        if (!(Stations[f]->Date() == Current)) StationDateError();
    }
    if (!advanced) {
        AtEnd = true;
        return;
    }
    if (MethodNumber == 3) {
        METEOFILES_CHECK(RegressionFile != nullptr);
        // The station file decides the end: the regression row must follow.
        RegressionFile->NextRegressionRecord(NoEndKey);
        if (!(RegressionFile->Date() == Current)) RegressionDateError();
    }
}

void MeteoFileSet::ResetToStart() {
    AtEnd = false;
    for (auto& station : Stations) {
        if (station) station->ResetToStart();
    }
    if (RegressionFile) RegressionFile->ResetToStart();
    if (List) List->ResetToStart();
    Current = StartDate;
}
