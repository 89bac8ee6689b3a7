#include "framework/teilmod.h"

#include <cmath>
#include <cstdio>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/state_checks.h"
#include "framework/statistics_table.h"
#include "framework/tracer_info.h"
#include "framework/zonalstatistic.h"
#include "framework/zonetable.h"

TracerStorageRecord::TracerStorageRecord() = default;
TracerStorageRecord::~TracerStorageRecord() = default;
TracerStorageRecord::TracerStorageRecord(TracerStorageRecord&&) noexcept = default;
TracerStorageRecord& TracerStorageRecord::operator=(TracerStorageRecord&&) noexcept = default;

teilmodellklasse::teilmodellklasse(DiagnosticsWriter* writer, const std::string& sectionName,
                                   const ModelSettings& settings, MemoryGrid* gridTable, int subSteps, bool required)
    : modelobject(writer, settings.CompiledControlFile, settings.WriteAsciiGrids, settings.WriteDoubleGrids,
                  settings.InitialStateDirectory, settings.DefaultOutputDirectory),
      SubSteps(subSteps),
      Settings(settings) {
    GridTable = gridTable;
    NCols = settings.NCols;
    NRows = settings.NRows;
    FirstRow = settings.FirstRow;
    LastRow = settings.LastRow;
    XllCorner = settings.XllCorner;
    YllCorner = settings.YllCorner;
    CellSize = settings.CellSize;
    NoData = settings.NoData;
    Zones = settings.Zones;
    RowExtents = settings.RowExtents;
    TimeShiftMinutes = settings.MinToIntEnd;
    TimeShiftHours = settings.MinToIntEnd / 60.0;
    LogInterval = settings.LogInterval;
    SetEndDate(settings.EndYear, settings.EndMonth, settings.EndDay, settings.EndHour);
    Latitude = settings.Latitude;
    Longitude = settings.Longitude;
    ReferenceMeridian = settings.ReferenceMeridian;
    for (int i = 0; i < 14; ++i) EquationOfTimeTable[i] = solar::EquationOfTimeTable[i];

    if (GridTable) {
        ZoneGrid = GridTable[1].Data;
        const int relIndex = FindGridEntry(GridTable, "RelCellArea", true);
        RelCellArea = relIndex > 0 ? GridTable[relIndex].Data : nullptr;
    }
    ModuleName = sectionName;
    if (Writer) *Writer << "DEBUG: initializing module " << ModuleName << "[end-entry]";

    OpenControlFile();
    const std::string bracketed = "[" + sectionName + "]";
    if (!required) {
        // An optional section that is missing still leaves its entry in the
        // log; the sub-model is then off.
        if (!FindSection(bracketed, false)) {
            if (Writer) {
                *Writer << "FATAL: error in control file, " << bracketed << "; " << "(EOF)" << "not found!"
                        << "[end-entry]";
            }
            Method = 0;
            CloseControlFile();
            return;
        }
    } else {
        FindSection(bracketed, true);
    }
    ReadValue(ControlFile, "%d", &Method, "flow control parameter for " + bracketed, &LineBuffer);
    ReadValue(ControlFile, "%lf", &TimeInterval, "time interval for " + bracketed, &LineBuffer);
    if (Method != 0 && !(TimeInterval > 0)) ControlFileError("time interval for " + bracketed, ModuleName);
    // The interval is handed on as a whole number of minutes.
    if (Method != 0) RequireRange(TimeInterval, 0, INT32_MAX, "time interval for " + bracketed);
    CheckTimeShift();
    StepsPerDay = TimeInterval > 0 ? 1440.0 / TimeInterval : 0;
    if (Method == 0) CloseControlFile();
    if (Method != 0) FindZoneRanks();
}

struct teilmodellklasse::OwnedStatistics {
    std::vector<ZoneRecord> Zones;
    std::unique_ptr<zonalstatistic> Statistics;
};

teilmodellklasse::~teilmodellklasse() = default;

std::vector<ZoneRecord> ZoneKeys(const ZoneRecord* zones, int count) {
    std::vector<ZoneRecord> keys;
    if (!zones) return keys;
    keys.assign(static_cast<size_t>(count) + 1, ZoneRecord{});
    for (int z = 0; z <= count; ++z) {
        keys[static_cast<size_t>(z)].zonenwert = zones[z].zonenwert;
        keys[static_cast<size_t>(z)].rel = zones[z].rel;
        keys[static_cast<size_t>(z)].RelCellSum = zones[z].RelCellSum;
    }
    return keys;
}

zonalstatistic* teilmodellklasse::CreateOwnedStatistics(std::vector<ZoneRecord> zones, int count,
                                                        StatisticsTableEntry* table, int tableSize, int code,
                                                        int precision, const std::string& fileName,
                                                        const std::string& directory, const std::string& title,
                                                        const std::string& subModel) {
    auto own = std::make_unique<OwnedStatistics>();
    own->Zones = std::move(zones);
    int status = 0;
    std::string name = fileName;
    own->Statistics = std::make_unique<zonalstatistic>(
        &status, Writer, table, tableSize, RelCellArea, NRows, NCols, own->Zones.empty() ? nullptr : own->Zones.data(),
        count, code, precision, name, directory, Settings.OutputListCount, Settings.OutputListCodes);
    if (status != 0) throw status;
    own->Statistics->WriteHeader(title, subModel);
    zonalstatistic* result = own->Statistics.get();
    OwnedStatisticsList.push_back(std::move(own));
    return result;
}

void teilmodellklasse::FlushOwnedStatistics() {
    for (auto& s : OwnedStatisticsList)
        if (s->Statistics && s->Statistics->IsOn()) s->Statistics->Flush();
}

void teilmodellklasse::ReleaseOwnedStatistics() {
    for (auto& s : OwnedStatisticsList)
        if (s->Statistics) s->Statistics->Close();
    OwnedStatisticsList.clear();
}

void teilmodellklasse::CheckTimeShift() {
    if (!(TimeShiftMinutes / 60.0 > TimeInterval / 60.0 + 0.00001)) return;
    if (Writer) {
        *Writer << "FATAL: \n-------- error --------\n\nthe time step " << TimeInterval
                << " minutes as given in the section for the module " << ModuleName
                << " \nis shorter than the parameter min_to_int_end with " << TimeShiftMinutes
                << " minutes\nfrom the [program_output]-section which gives the shift from \nthe hour entry of "
                   "meteo-data to the time step end\nthis parameter (the 4-th in the section [program_output])\n"
                   "should be set to 0 if the hour markes the end of the time step\ne.g. like in "
                << "\"1984 01 01 24\""
                << " for daily time steps -> parameter set to 0\nand it should set to the variable $time, if the "
                   "hour marks the time step start\ne.g. like in "
                << "\"1984 01 01 00\""
                << " for daily time steps -> parameter set to 1440 or $time\n\n-------- error --------"
                << "[end-entry]";
    }
    throw 63;
}

int teilmodellklasse::GetMethod() { return Method; }
int teilmodellklasse::GetTimeStep() { return static_cast<int>(TimeInterval); }
int teilmodellklasse::GetSubSteps() { return SubSteps; }
void teilmodellklasse::SetSubSteps(int n) { SubSteps = n; }

void teilmodellklasse::ReportFpe(int i1, int i2, int i3, int i4, double a1, double a2, double a3, double a4,
                                 double a5) {
    if (FpeFlag == 1) {
        if (Writer) {
            *Writer << "INFO: fpe in i1: " << i1 << ", i2: " << i2 << ", i3: " << i3 << ", i4: " << i4
                    << "\na1: " << a1 << " a2: " << a2 << " a3: " << a3 << " a4: " << a4 << " a5: " << a5 << " "
                    << "[end-entry]";
        }
        FpeFlag = 2;
    } else {
        FpeFlag = 0;
    }
}

double teilmodellklasse::SolarDeclination(int day, int month) { return solar::SolarDeclination(day, month); }
double teilmodellklasse::EquationOfTime(int day, int month) { return solar::EquationOfTime(day, month); }

double teilmodellklasse::SunElevation(int day, int month, double latitude, double longitude, double hour) {
    return solar::SunElevation(day, month, latitude, longitude, hour, ReferenceMeridian);
}

void teilmodellklasse::SunAzimuth(int day, int month, double* azimuth, double* elevation, double latitude,
                                  double longitude, double hour) {
    solar::SunAzimuth(day, month, *azimuth, *elevation, latitude, longitude, hour, ReferenceMeridian);
}

double teilmodellklasse::CosIncidence(double azimuth1, double zenith1, double azimuth2, double zenith2) {
    return solar::CosIncidence(azimuth1, zenith1, azimuth2, zenith2);
}

void teilmodellklasse::SunriseSunset(int day, int month, double* sunrise, double* sunset, double latitude,
                                     double longitude) {
    solar::SunriseSunset(day, month, *sunrise, *sunset, latitude, longitude, ReferenceMeridian);
}

void teilmodellklasse::SunshineFraction() {
    solar::SunshineFraction(*this, static_cast<double>(StepHour), static_cast<int>(StepDay),
                            static_cast<int>(StepMonth), TimeShiftHours, TimeInterval, Latitude, Longitude,
                            ReferenceMeridian);
}

double teilmodellklasse::MixConcentration(double x1, double x2, double q1, double q2) {
    const double q = q1 + q2;
    return q == 0 ? 0 : (x1 * q1 + x2 * q2) / q;
}

double teilmodellklasse::ConcentrateByLoss(double x, double q, double loss) {
    return q == loss ? 0 : x * q / (q - loss);
}

void teilmodellklasse::RunTimeStep(int64_t hour, int64_t day, int64_t month, int64_t year) {
    if (Method == 0) return;
    StepHour = hour;
    StepDay = day;
    StepMonth = month;
    StepYear = year;
    // A log interval below 1 means every step.
    const int64_t n = LogInterval;
    if (n > 1 && (hour + static_cast<int64_t>(TimeShiftHours)) % n != 0) return;
    if (!Writer) return;
    Writer->SetWidth(20);
    *Writer << ModuleName << " " << day << "." << month << "." << year << " " << hour << ". h "
            << "(time of meteo data)" << "[end-entry]";
}

namespace {

std::string Prefix(const std::string& text, size_t n) { return text.substr(0, n); }

}  // namespace

void teilmodellklasse::InitTracers(int* status, int n, TracerInfo* table, StatisticsTableEntry* statisticsTable,
                                   int statisticsTableSize) {
    *status = 0;
    TracerCount = n;
    if (n < 1) return;
    Tracers = table;
    try {
        TracerStorage.clear();
        TracerStorage.resize(static_cast<size_t>(n) + 1);
        const int zoneCount = Settings.ZoneCount;
        for (int i = 1; i <= n; ++i) {
            TracerInfo& tracer = table[i];
            TracerStorageRecord& record = TracerStorage[static_cast<size_t>(i)];
            if (tracer.radioactive) {
                tracer.decay_factor = std::exp(-(TimeInterval / 60.0 / 24.0) / (1.442695041111 * tracer.half_time));
            }
            record.ZoneSums.assign(static_cast<size_t>(zoneCount) + 1, ZoneRecord{});
            for (int z = 0; z <= zoneCount && Settings.Zones; ++z) {
                record.ZoneSums[static_cast<size_t>(z)].zonenwert = Settings.Zones[z].zonenwert;
                record.ZoneSums[static_cast<size_t>(z)].rel = Settings.Zones[z].rel;
            }
            record.StatisticsFileName = tracer.path + Prefix(tracer.name, 3) + Prefix(ModuleName, 5) + "." +
                                        Prefix(tracer.statext, 3);
            int statisticsStatus = 0;
            record.Statistics = std::make_unique<zonalstatistic>(
                &statisticsStatus, Writer, statisticsTable, statisticsTableSize, RelCellArea, NRows, NCols,
                record.ZoneSums.data(), zoneCount, tracer.statcode, 99, record.StatisticsFileName,
                OutputDirectory, Settings.OutputListCount, Settings.OutputListCodes);
            if (statisticsStatus != 0) throw statisticsStatus;
            char title[300];
            std::snprintf(title, sizeof title, "tracer concentration for tracer %d (%s) ", i, tracer.name.c_str());
            record.Statistics->WriteHeader(title, ModuleName, statisticsTable, statisticsTableSize);

            const int storageIndex = FindFreeGridEntry(GridTable);
            if (storageIndex == NoFreeGridEntry) {
                if (Writer) {
                    *Writer << "FATAL: no free grid left. Please contact the author to set the number of "
                               "available grids to a larger value "
                            << 1000 << "[end-entry]";
                }
                throw 12;
            }
            record.GridFileName =
                tracer.path + Prefix(tracer.name, 3) + Prefix(ModuleName, 5) + "." + Prefix(tracer.gridext, 3);
            char name[200];
            std::snprintf(name, sizeof name, "concstor_tracer_%d_%s", i, ModuleName.c_str());
            if (ReadGridsCode == 1) {
                ReadGrid(record.GridFileName, record.StorageGrid, 0, true, false, 0, false);
                statecheck::CheckGrid(*this, statecheck::InputPath(*this, record.GridFileName), record.StorageGrid,
                                      "tracer storage", {0, statecheck::MaxConcentration});
            } else {
                record.StorageGrid = matrix(1, NRows, 1, NCols, NRows);
                for (int r = 1; r <= NRows; ++r) {
                    for (int c = 1; c <= NCols; ++c) {
                        record.StorageGrid[r][c] = (ZoneGrid && ZoneGrid[r][c] == NoData) ? NoData : 0.0;
                    }
                }
            }
            StoreGrid(storageIndex, record.GridFileName, record.StorageGrid, nullptr, 1, name, tracer.gridcode, 1,
                      NRows);
            record.StorageGridIndex = storageIndex;

            // The flux grid takes the next free entry, never one that holds a grid.
            const int fluxIndex = FindFreeGridEntry(GridTable);
            record.FluxGrid = matrix(1, NRows, 1, NCols, NRows);
            std::snprintf(name, sizeof name, "concflux_tracer_%d_%s", i, ModuleName.c_str());
            StoreGrid(fluxIndex, record.GridFileName, record.FluxGrid, nullptr, 1, name, 0, 1, NRows);
            record.FluxGridIndex = fluxIndex;
        }
    } catch (int code) {
        *status = code;
    } catch (...) {
        *status = 103;
    }
}

void teilmodellklasse::ReleaseTracers() {
    for (int i = 1; i <= TracerCount && static_cast<size_t>(i) < TracerStorage.size(); ++i) {
        TracerStorageRecord& record = TracerStorage[static_cast<size_t>(i)];
        if (record.StorageGrid) {
            free_matrix(record.StorageGrid, 1, NRows, 1, NCols);
            record.StorageGrid = nullptr;
            if (record.StorageGridIndex > 0) ReleaseGrid(record.StorageGridIndex);
        }
        if (record.FluxGrid) {
            free_matrix(record.FluxGrid, 1, NRows, 1, NCols);
            record.FluxGrid = nullptr;
            if (record.FluxGridIndex > 0) ReleaseGrid(record.FluxGridIndex);
        }
        record.GridFileName.clear();
        if (record.Statistics) {
            record.Statistics->Close();
            record.Statistics.reset();
        }
        record.StatisticsFileName.clear();
        record.ZoneSums.clear();
    }
}

ZoneTable teilmodellklasse::RankZones(double*** zoneGrid) {
    *zoneGrid = nullptr;
    const int index = GetGridIndex("zonegrid_soilmodel");
    *zoneGrid = GridTable[index].Data;
    return RankZoneGrid(ZoneRankingKind::SubModel, *zoneGrid, NRows, NCols, RowExtents, NoData, CellSize,
                        RelCellArea, Writer, GridTable[index].FileName, ModuleName);
}

int teilmodellklasse::LookUpZoneRank(int row, int col) const {
    const double code = ZoneCodeOf(ZoneGrid[row][col]);
    if (!Settings.ZoneRank || !(code >= 0 && code <= Settings.MaxZoneCode)) return 0;
    return Settings.ZoneRank[static_cast<int>(code)];
}

void teilmodellklasse::FindZoneRanks() {
    ZoneRanks.clear();
    ZoneRankSource = nullptr;
    ZoneRankTable = nullptr;
    if (!ZoneGrid || !Settings.ZoneRank || NRows < 1 || NCols < 1) return;
    const size_t columns = static_cast<size_t>(NCols) + 1;
    ZoneRanks.assign((static_cast<size_t>(NRows) + 1) * columns, 0);
    for (int32_t i = 1; i <= NRows; ++i) {
        if (!ZoneGrid[i]) continue;
        for (int32_t j = 1; j <= NCols; ++j) ZoneRanks[static_cast<size_t>(i) * columns + j] = LookUpZoneRank(i, j);
    }
    ZoneRankSource = ZoneGrid;
    ZoneRankTable = Settings.ZoneRank;
}

void teilmodellklasse::CloseControlFile() {
    if (!ControlFile) return;
    std::fclose(ControlFile);
    ControlFile = nullptr;
}

void teilmodellklasse::RefuseChangingGlacier(const char* module) {
    if (FindGrid("GlacierizedCells") <= 0 && FindGrid("GlacierCodes") <= 0) return;
    if (Writer) {
        *Writer << "FATAL: error: " << module
                << " module cannot be used when glacier model is active. Remove grids for glacier codes and "
                   "glaciated cell fractions from the grid list"
                << "[end-entry]";
    }
    throw 2;
}
