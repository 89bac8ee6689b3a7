#include "lateral/irrigate.h"

#include <algorithm>
#include <cstdio>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/tracer_info.h"
#include "framework/zonalstatistic.h"
#include "parameters/soil.h"
#include "setup/irrigation_table.h"

irrigationclass::irrigationclass(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                                 int statisticsTableSize, const std::string& sectionName, const ModelSettings& settings,
                                 MemoryGrid* gridTable, IrrigationRule* irrigationTable, const SubbasinTable& subbasins,
                                 int spinUpSwitch)
    : teilmodellklasse(writer, sectionName, settings, gridTable, 1),
      StatisticsTable(statisticsTable),
      StatisticsTableSize(statisticsTableSize),
      IrrigationTable(irrigationTable),
      Subbasins(subbasins),
      SpinUpSwitch(spinUpSwitch) {
    *status = 0;
    if (Method == 0) return;
    if (SpinUpSwitch == 1) {
        // Inert through a spin-up: the rest of the section stays unread.
        CloseControlFile();
        return;
    }
    try {
        ConstructOrRelease([this] { Construct(); },
                           [this] {
                               GroundwaterStatistics.reset();
                               SurfaceStatistics.reset();
                           });
    } catch (int code) {
        *status = code;
    } catch (...) {
        *status = 103;
    }
}

irrigationclass::~irrigationclass() = default;

void irrigationclass::Construct() {
    RuleCount = IrrigationTable ? IrrigationTable[0].Code : 0;
    CheckEventAmounts();
    FILE* f = ControlFile;
    const std::string description = "Name des GWSTANDstatfiles fuer ";
    if (!ReadWord(f, &GroundwaterFileName)) ControlFileError(description, ModuleName);
    ReadValue(f, "%d", &GroundwaterCode, description + ModuleName, &LineBuffer);
    if (!ReadWord(f, &SurfaceFileName)) ControlFileError(description, ModuleName);
    ReadValue(f, "%d", &SurfaceCode, description + ModuleName, &LineBuffer);
    const int closed = std::fclose(ControlFile);
    ControlFile = nullptr;
    if (closed != 0) {
        if (Writer) *Writer << "FATAL: error closing " << ControlFilePath << "[end-entry]";
        throw 11;
    }

    Precipitation = RequiredGrid("precipitation");
    IrrigationCodes = RequiredGrid("irrigation_codes");
    MaxPumping = RequiredGrid("Max_Pumping");
    AmountsIndex = GetGridIndex("irrigation_amounts");
    Amounts = GridTable[AmountsIndex].Data;
    SB1 = RequiredGrid("SB_1_grid");
    SBLow = RequiredGrid("SBLOW_grid");
    SBHigh = RequiredGrid("SBHIGH_grid");
    EtrToEtp = RequiredGrid("ETR2ETP");
    char rootName[64];
    std::snprintf(rootName, sizeof rootName, "%s%d", "root_depth", 1);
    RootDepth = RequiredGrid(rootName);
    SoilTypes = OptionalGrid("soil_types");

    const int n = Subbasins.Records && Subbasins.Count > 0 ? Subbasins.Count : 0;
    auto records = [&](std::vector<ZoneRecord>& r) {
        r.assign(static_cast<size_t>(n) + 1, ZoneRecord{});
        for (int i = 0; i <= n && Subbasins.Records; ++i) {
            r[static_cast<size_t>(i)].zonenwert = Subbasins.Records[i].zonenwert;
            r[static_cast<size_t>(i)].rel = Subbasins.Records[i].rel;
        }
    };
    records(DemandRecords);
    DemandRows.Resize(NRows, n);
    GroundwaterStatistics = CreateStatistics(GroundwaterFileName, GroundwaterCode, GroundwaterRecords,
                                             "irrigation water amount from groundwater [mm]");
    SurfaceStatistics = CreateStatistics(SurfaceFileName, SurfaceCode, SurfaceRecords,
                                         "irrigation water amount from  surface water [mm]");
}

std::unique_ptr<zonalstatistic> irrigationclass::CreateStatistics(const std::string& fileName, int code,
                                                                  std::vector<ZoneRecord>& records,
                                                                  const std::string& header) {
    const int n = Subbasins.Records && Subbasins.Count > 0 ? Subbasins.Count : 0;
    records.assign(static_cast<size_t>(n) + 1, ZoneRecord{});
    for (int i = 0; i <= n && Subbasins.Records; ++i) {
        records[static_cast<size_t>(i)].zonenwert = Subbasins.Records[i].zonenwert;
        records[static_cast<size_t>(i)].rel = Subbasins.Records[i].rel;
    }
    int status = 0;
    std::string name = fileName;
    auto statistic = std::make_unique<zonalstatistic>(
        &status, Writer, StatisticsTable, StatisticsTableSize, RelCellArea, NRows, NCols, records.data(), n, code, 4,
        name, Settings.DefaultOutputDirectory, Settings.OutputListCount, Settings.OutputListCodes);
    if (status != 0) throw status;
    statistic->WriteHeader(header, ModuleName);
    return statistic;
}

int irrigationclass::SubbasinRank(double zoneCode) const {
    if (!Subbasins.CodeToRank || !(zoneCode >= 0) || zoneCode > Subbasins.LargestCode) return 0;
    const int rank = Subbasins.CodeToRank[static_cast<int>(zoneCode)];
    return rank >= 1 && rank <= Subbasins.Count ? rank : 0;
}

void irrigationclass::InitTracers(int* status, int n, TracerInfo* table, StatisticsTableEntry* statisticsTable,
                                  int statisticsTableSize) {
    *status = 0;
    if (!Active()) return;
    teilmodellklasse::InitTracers(status, n, table, statisticsTable, statisticsTableSize);
    if (*status != 0) return;
    try {
        TracerInput.assign(static_cast<size_t>(std::max(n, 0)) + 1, nullptr);
        for (int i = 1; i <= n; ++i) {
            char name[64];
            std::snprintf(name, sizeof name, "concflux_tracer_%1d_%s", i, "input");
            TracerInput[static_cast<size_t>(i)] = RequiredGrid(name);
        }
    } catch (int code) {
        *status = code;
    } catch (...) {
        *status = 103;
    }
}

void irrigationclass::ReleaseTracers() {
    if (!Active()) return;
    teilmodellklasse::ReleaseTracers();
    TracerInput.clear();
    SoilConcentration.clear();
}

void irrigationclass::SetRiverflowTable(riverflow_table* table) {
    if (Method != 0) RiverFlows = table;
}

void irrigationclass::SetQg(RunoffTable qg) {
    if (Method != 0) Qg = qg;
}

IrrigationDemandTable irrigationclass::GetIrrigationDemand() {
    return Method == 0 || DemandRecords.empty() ? nullptr : DemandRecords.data();
}

void irrigationclass::LinkGroundwaterTracerStorage() {
    if (!Active() || TracerCount < 1) return;
    SoilConcentration.assign(static_cast<size_t>(TracerCount) + 1, nullptr);
    for (int i = 1; i <= TracerCount; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "concstor_tracer_%d_%s", i, "unsatzon_model");
        SoilConcentration[static_cast<size_t>(i)] = RequiredGrid(name);
    }
}

void irrigationclass::MissingRoutingTable(const char* first, const char* detail) {
    if (Writer) *Writer << first << detail << "[end-entry]";
    throw 60;
}

void irrigationclass::SetMaxIrrigTables(IrrigationAvailability maxIrrig,
                                        IrrigationAvailability maxIrrigFromReservoirs) {
    if (Method == 0) return;
    if (!maxIrrig) {
        MissingRoutingTable("FATAL: if irrigation is modelled, also routing has to be modelled!",
                            "\n(Adress of array maxirrig[] is NULL\n");
    }
    if (!maxIrrigFromReservoirs) {
        MissingRoutingTable("FATAL: if irrigation is modelled, also routing has to be modelled!",
                            "\n(Adress of array maxirrigFromReservoirs[] is NULL\n");
    }
    MaxIrrig = maxIrrig;
    MaxIrrigFromReservoirs = maxIrrigFromReservoirs;
}

void irrigationclass::SetRoutingTargetTable(RoutingTargetTable table) {
    if (Method == 0) return;
    if (!table) {
        MissingRoutingTable("FATAL: if irrigation is modelled, also routing has to be modelled! ",
                            "\n(Adress of array routing-target is NULL)\n");
    }
    RoutingTargets = table;
}

void irrigationclass::SetAbfrel(AreaFractionTable abfrel) {
    if (Method == 0) return;
    if (!abfrel) {
        MissingRoutingTable("FATAL: if irrigation is modelled, also routing has to be modelled!",
                            " \n(Adress of array abfrel is NULL)\n");
    }
    Abfrel = abfrel;
}

void irrigationclass::FlushStatistics() {
    if (!Active()) return;
    if (GroundwaterStatistics) GroundwaterStatistics->Flush();
    if (SurfaceStatistics) SurfaceStatistics->Flush();
    for (int n = 1; n <= TracerCount && static_cast<size_t>(n) < TracerStorage.size(); ++n) {
        TracerStorageRecord& record = TracerStorage[static_cast<size_t>(n)];
        if (record.Statistics) record.Statistics->Flush();
    }
}

void irrigationclass::DeleteModule() {
    if (SpinUpSwitch == 1) return;
    if (Method > 0) {
        if (GroundwaterStatistics) GroundwaterStatistics->Close();
        if (SurfaceStatistics) SurfaceStatistics->Close();
        GroundwaterStatistics.reset();
        SurfaceStatistics.reset();
        GroundwaterRecords.clear();
        SurfaceRecords.clear();
        GroundwaterFileName.clear();
        SurfaceFileName.clear();
    }
    DemandRecords.clear();
    RiverFlows = nullptr;
    Qg = nullptr;
    MaxIrrig = MaxIrrigFromReservoirs = nullptr;
    RoutingTargets = nullptr;
    Abfrel = nullptr;
    modelobject::DeleteModule();
}

void irrigationclass::CheckEventAmounts() {
    // An event's amount is water given to a cell per day: a number from 0
    // to MaxEventAmount mm, never a withdrawal and never more than any
    // field could take.
    constexpr double MaxEventAmount = 10000;
    for (int k = 1; k <= RuleCount; ++k) {
        const IrrigationRule& rule = IrrigationTable[k];
        const size_t events = std::min({rule.Amount.size(), rule.Day.size(), rule.Month.size(),
                                        static_cast<size_t>(std::max(rule.tabcnt, 0) + 1)});
        for (size_t e = 1; e < events; ++e) {
            const double amount = rule.Amount[e];
            if (amount >= 0 && amount <= MaxEventAmount) continue;
            if (Writer) {
                char text[40];
                std::snprintf(text, sizeof text, "%.17g", amount);
                *Writer << "FATAL: [irrigation_table] in " << ControlFilePath << ": irrigation code " << rule.Code
                        << ", event " << e << " (" << rule.Day[e] << "." << rule.Month[e] << "."
                        << "): the amount " << text << " mm/day lies outside 0 to " << MaxEventAmount << "[end-entry]";
            }
            throw 29;
        }
    }
}
