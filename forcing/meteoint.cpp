#include "forcing/meteoint.h"

#include <cstdio>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"

void AdoptModelSettings(modelobject& component, const ModelSettings& settings, MemoryGrid* gridTable) {
    component.GridTable = gridTable;
    component.NCols = settings.NCols;
    component.NRows = settings.NRows;
    component.FirstRow = settings.FirstRow;
    component.LastRow = settings.LastRow;
    component.XllCorner = settings.XllCorner;
    component.YllCorner = settings.YllCorner;
    component.CellSize = settings.CellSize;
    component.NoData = settings.NoData;
    component.Zones = settings.Zones;
    component.RowExtents = settings.RowExtents;
    component.TimeShiftMinutes = settings.MinToIntEnd;
    component.TimeShiftHours = settings.MinToIntEnd / 60.0;
    component.LogInterval = settings.LogInterval;
    component.SetEndDate(settings.EndYear, settings.EndMonth, settings.EndDay, settings.EndHour);
}

meteointerpol::meteointerpol(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                             int statisticsTableSize, const std::string& name, int gridIndex,
                             const ModelSettings& settings, MemoryGrid* gridTable)
    : modelobject(writer, settings.CompiledControlFile, settings.WriteAsciiGrids, settings.WriteDoubleGrids,
                  settings.InitialStateDirectory, settings.DefaultOutputDirectory),
      StatisticsTable(statisticsTable),
      StatisticsTableSize(statisticsTableSize),
      Settings(settings) {
    *status = 0;
    try {
        ModuleName = name;
        if (Writer) {
            *Writer << "file "
                    << "meteoint"
                    << ", compiled at " << __DATE__ << ", " << __TIME__ << "[end-entry]";
            *Writer << "DEBUG: initializing interpolator for " << name << "[end-entry]";
        }
        AdoptModelSettings(*this, settings, gridTable);
        CheckGridIndex(gridIndex);
        ReadSection();

        ResultGrid = matrix(1, NRows, 1, NCols, NRows);
        for (int r = 1; r <= NRows; ++r) {
            for (int c = 1; c <= NCols; ++c) ResultGrid[r][c] = NoData;
        }
        StoreGrid(gridIndex, name, ResultGrid, nullptr, 1, name, 0, 1, NRows);
        ResultGridIndex = gridIndex;

        CurrentHour = settings.StartHour;
        CurrentDay = settings.StartDay;
        CurrentMonth = settings.StartMonth;
        CurrentYear = settings.StartYear;
        RecordCursor = 0;
        return;
    } catch (int code) {
        *status = code;
    } catch (...) {
        *status = 103;
    }
    // A failed construction leaves no grid behind.
    ReleaseResultGrid();
    throw *status;
}

// Frees the result grid of an input that was never torn down (its
// construction failed, or the run ended with a code).
meteointerpol::~meteointerpol() {
    if (ResultGrid) free_matrix(ResultGrid, 1, NRows, 1, NCols);
}

void meteointerpol::ReadSection() {
    ControlFile = std::fopen(ControlFilePath.c_str(), "r");
    if (!ControlFile) {
        if (Writer) *Writer << "FATAL: error opening " << ControlFilePath << "[end-entry]";
        throw 28;
    }
    FindSection("[" + ModuleName + "]", true);
    ReadValue(ControlFile, "%d", &InterpolationMethod,
              "1 [idw], 2 [regress], [3] [idw+regr], 4 [thiessen] 5 [bilinear] 6 [BIGRES] 7 [bicubic spline] 8 "
              "[SPLINERES] 9 [ReadGrid] 10 [EDR from station data] 11 [IDW + EDR from station data] 12 [Thiessen "
              "combines with elevation gradient] for ",
              &LineBuffer);
    const int closed = std::fclose(ControlFile);
    ControlFile = nullptr;
    if (closed != 0) {
        if (Writer) *Writer << "FATAL: error closing " << ControlFilePath << "[end-entry]";
        throw 11;
    }
    if (InterpolationMethod < 1 || InterpolationMethod > 12) {
        EndOfDataFlag = InterpolationMethod == 0;
        if (Writer) {
            *Writer << "FATAL: error! interpolation method has to range from 1..12 (here: " << InterpolationMethod
                    << ")\n"
                    << "[end-entry]";
        }
        throw 53;
    }
}

void meteointerpol::SetWarnings(int on) { WarningsOn = on; }

void meteointerpol::SetTimeStep(double hours) {
    TimeShiftHours = hours;
    TimeShiftMinutes = hours * 60.0;
}

void meteointerpol::GetActualDate(int64_t* hour, int64_t* day, int64_t* month, int64_t* year) {
    *hour = CurrentHour;
    *day = CurrentDay;
    *month = CurrentMonth;
    *year = CurrentYear;
}

void meteointerpol::InterpolateStep(int64_t hour, int64_t day, int64_t month, int64_t year) {
    if (hour != CurrentHour || day != CurrentDay || month != CurrentMonth || year != CurrentYear) {
        if (Writer) {
            *Writer << "FATAL: -----------------------------------------------------------------------------\n"
                    << "error in date columns of " << ModuleName
                    << "\n\nfirst Meteo data set (this is the set from which data is get:\n"
                    << day << "." << month << "." << year << " " << hour << ". h\n\nbut in " << ModuleName << ":\n"
                    << CurrentDay << "." << CurrentMonth << "." << CurrentYear << " " << CurrentHour << ". h\n\n"
                    << "-----------------------------------------------------------------------------\n"
                    << "[end-entry]";
        }
        throw 52;
    }
    StepHour = hour;
    StepDay = day;
    StepMonth = month;
    StepYear = year;
}

void meteointerpol::ReadNextStep() {
    if (EndOfDataFlag) return;
    if (DateKey(CurrentYear, CurrentMonth, CurrentDay, CurrentHour) >= EndKey || RecordCursor >= 0) {
        // The placeholder holds one record: after it the data end.
        EndOfDataFlag = true;
        return;
    }
    RecordCursor = 0;
}

bool meteointerpol::EndOfData() { return EndOfDataFlag; }

void meteointerpol::StopAtActualDate() { SetEndDate(CurrentYear, CurrentMonth, CurrentDay, CurrentHour); }

void meteointerpol::FlushStatistics() {}

void meteointerpol::ResetToStart() {
    EndOfDataFlag = false;
    RecordCursor = -1;
    CurrentHour = Settings.StartHour;
    CurrentDay = Settings.StartDay;
    CurrentMonth = Settings.StartMonth;
    CurrentYear = Settings.StartYear;
}

void meteointerpol::CalcElevationRegression(int) {}

void meteointerpol::WriteResultGrid() {}

void meteointerpol::ReleaseResultGrid() {
    if (!ResultGrid) return;
    free_matrix(ResultGrid, 1, NRows, 1, NCols);
    ResultGrid = nullptr;
    if (ResultGridIndex > 0) ReleaseGrid(ResultGridIndex);
    ResultGridIndex = 0;
}

void meteointerpol::DeleteModule() {
    if (Deleted()) return;
    if (Writer) *Writer << "DEBUG: deleting interpolator for " << ModuleName << "[end-entry]";
    ReleaseResultGrid();
    modelobject::DeleteModule();
}
