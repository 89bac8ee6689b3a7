#include "soil/unsatzon.h"

#include <cstdio>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "parameters/multilayer_landuse.h"
#include "parameters/soil.h"

unsatzonmodellklasse::unsatzonmodellklasse(int* status, DiagnosticsWriter* writer,
                                           StatisticsTableEntry* statisticsTable, int statisticsTableSize,
                                           const std::string& sectionName, const ModelSettings& settings,
                                           MemoryGrid* gridTable, IrrigationRule* irrigationTable, int subSteps)
    : teilmodellklasse(writer, sectionName, settings, gridTable, subSteps),
      StatisticsTable(statisticsTable),
      StatisticsTableSize(statisticsTableSize),
      IrrigationTable(irrigationTable) {
    *status = 0;
    // Switched off, the subbasins are the application's zones.
    Subbasins.Records = settings.Zones;
    Subbasins.CodeToRank = settings.ZoneRank;
    Subbasins.Count = settings.ZoneCount;
    Subbasins.LargestCode = settings.MaxZoneCode;
    if (Method == 0) return;
    try {
        Construct();
    } catch (int code) {
        *status = code;
    } catch (...) {
        *status = 103;
    }
    if (*status != 0) {
        CloseControlFile();
        ReleaseAll();
    }
}

unsatzonmodellklasse::~unsatzonmodellklasse() {
    ReleaseSoilTracers();
    ReleaseAll();
}

void unsatzonmodellklasse::Construct() {
    irrigationRules = IrrigationTable;
    soilTypes = Settings.SoilTable;
    if (Writer) {
        *Writer << "DEBUG: file "
                << "unsatzon"
                << ", compiled at " << __DATE__ << ", " << __TIME__ << "[end-entry]";
    }
    Regions = OptionalGrid("MPIRegions");
    vegetationLayers = VegetationLayerCount(Settings.MultilayerLanduseTable, Settings.MultilayerLanduseCount);
    RankSubbasins();
    ReadModelSection();
    ReadSubbasinBlock();
    ReadValue(ControlFile, "%d", &readgrid, "read control parameter for storage grids for ", &LineBuffer);
    ReadGridsCode = readgrid;
    ReadValue(ControlFile, "%s", &storageFileName, "name of the storage content file ", &LineBuffer);
    storageFileName.append("_").append(std::to_string(ProcessNumber));
    StorageFileName = storageFileName;
    if (solverMethod == 3) {
        ReadValue(ControlFile, "%lf", &dParameterMinStep, "minimum dynamic time step in secounds ", &LineBuffer);
        if (!ReadWord(ControlFile, &SubstepsStatistics.Name))
            ControlFileError("name of the SUBSTEPSstatfiles in ", ModuleName);
        ReadValue(ControlFile, "%d", &SubstepsStatistics.Code, "name of the SUBSTEPSstatfiles in ", &LineBuffer);
        ReadValue(ControlFile, "%s", &SubstepsGrid.Name, "name of SUBSTEPS-Grids for ", &LineBuffer);
        ReadValue(ControlFile, "%d", &SubstepsGrid.Code, "Writegrid SUBSTEPS-Grid in   ", &LineBuffer);
    }
    ReopenControlFile();
    ReadHeatSection();
    ReopenControlFile();
    ReadTuningSection();
    CloseSectionFile();
    ReadPermafrostSection();
    LookUpInputGrids();
    CreateMainStatistics();
    CreateStateGrids();
    CreateOtherGrids();
    CreateDrainagePondStatistics();
    InitLakes("[lake_model]");
    CreatePointFiles();
    UnsatzonOptionTag = MakeUnsatzonOptionTag(FlowTimes != nullptr, irrigationRules != nullptr,
                                              surfaceWaterInteraction, DrainageDepth != nullptr,
                                              ClayDepth != nullptr, MaxPonding != nullptr);
    if (heatTransferSwitch > 0) PrepareThermalTables();
    BuildGlacierTable();
    WriteStartReport();
    LookUpResponseUnits();
}

bool unsatzonmodellklasse::OwnModelCell(int row, int column) const {
    if (SubbasinGrid[row][column] == NoData) return false;
    return !Regions || Regions[row][column] == ProcessNumber;
}

const SoilType& unsatzonmodellklasse::CellSoil(int row, int column) const {
    return soilTypes[static_cast<int>(SoilTypeGrid[row][column])];
}

void unsatzonmodellklasse::SetDumpMode(int dumpMode, int closeAfterDump) {
    DumpMode = static_cast<uint8_t>(dumpMode);
    CloseAfterDump = static_cast<uint8_t>(closeAfterDump);
}

int unsatzonmodellklasse::GetReadGridMode() { return readgrid; }

void unsatzonmodellklasse::InitTracers(int* status, int n, TracerInfo* table, StatisticsTableEntry* statisticsTable,
                                       int statisticsTableSize) {
    *status = 0;
    if (Method == 0) return;
    TracerCount = n;
    try {
        InitFlowTimeZones();
        // The soil model's own solutes replace the base's storage grids.
        Tracers = n > 0 ? table : nullptr;
        RiverFlows.clear();
        if (GroundwaterActive == 1) InitRiverExchange();
        InitRunoffTables(n);
        if (n > 0) InitSoilTracers(table, statisticsTable, statisticsTableSize);
        PrepareHruCopy();
        if (readgrid == 1) ReadStorageContent();
    } catch (int code) {
        *status = code;
    } catch (...) {
        *status = 103;
    }
}

void unsatzonmodellklasse::ReleaseTracers() {
    if (Method == 0) return;
    if (Status == 1) WriteTracerPointBuffers();
    ReleaseSoilTracers();
    for (ExchangeTable<double>* t : {&Qg, &QBb, &QD, &QDd, &QI, &QIi, &GlacierRunoff}) t->Release();
    zoneFZT_QD.Release();
    zoneFZT_QI.Release();
    RiverFlows.clear();
    RiverFlows.shrink_to_fit();
}

void unsatzonmodellklasse::SetSurfaceRoutingActive(int active) { SurfaceRoutingActive = active; }

RunoffTable unsatzonmodellklasse::CheckedTable(ExchangeTable<double>& table, const char* name) {
    if (Method == 0) return nullptr;
    double** rows = table.Rows();
    if (!rows || !rows[0]) {
        if (Writer) {
            *Writer << "FATAL: " << name << (rows ? "[0]" : "")
                    << " not initialized (may be, tracer module not linked? -> programmers error!)"
                    << "[end-entry]";
        }
        throw 57;
    }
    return rows;
}

RunoffTable unsatzonmodellklasse::GetQg() { return CheckedTable(Qg, "Qg"); }
RunoffTable unsatzonmodellklasse::GetQBb() { return CheckedTable(QBb, "QBb"); }
double* unsatzonmodellklasse::GetKelsqd() { return Method == 0 || kelsqd.empty() ? nullptr : kelsqd.data(); }
double* unsatzonmodellklasse::GetKelsqi() { return Method == 0 || kelsqi.empty() ? nullptr : kelsqi.data(); }

riverflow_table* unsatzonmodellklasse::GetRiverflowTable() {
    return Method == 0 || RiverFlows.empty() ? nullptr : RiverFlows.data();
}

const std::string* unsatzonmodellklasse::GetStorageFileName() { return Method == 0 ? nullptr : &StorageFileName; }

SubbasinTable unsatzonmodellklasse::GetSubbasinTable() { return Subbasins; }

void unsatzonmodellklasse::BeginTimeStep(int64_t hour, int64_t day, int64_t month, int64_t year) {
    if (Method == 0) return;
    StepHour = hour;
    StepDay = day;
    StepMonth = month;
    StepYear = year;
    const int64_t every = LogInterval;
    if (Writer && (every <= 1 || (hour + static_cast<int64_t>(TimeShiftHours)) % every == 0)) {
        Writer->SetWidth(20);
        *Writer << ModuleName << " " << day << "." << month << "." << year << " " << hour << ". h "
                << "(time of meteo data)" << UnsatzonOptionTag << "[end-entry]";
    }
    SetInitialTemperatureProfile();
    // runoff per subbasin and point output
    BeginTimeStepRunoff();
}
