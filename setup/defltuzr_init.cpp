// The stepwise initialisation of the set-up object, the zonal statistics of
// its standard grids and the export of the model-wide settings.

#include <cstdio>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/parallel_rows.h"
#include "framework/statistics_table.h"
#include "framework/zonalstatistic.h"
#include "parameters/landuse_table.h"
#include "parameters/soil_reader.h"
#include "setup/defltuzr.h"
#include "setup/defltuzr_codes.h"

void defaultini::Progress(const char* text) {
    if (Writer) *Writer << "DEBUG: " << text << "[end-entry]";
}

void defaultini::InitStep(int* done) {
    *done = 0;
    switch (InitStepCounter) {
    case 0: {
        Settings.CompiledControlFile = ControlFilePath;
        const std::string source = ControlFilePath;
        CompileSymbols(source, ControlFilePath);
        Settings.CompiledControlFile = ControlFilePath;
        ReadOutputControl(ControlFilePath, Settings);
        TimeShiftMinutes = Settings.MinToIntEnd;
        TimeShiftHours = TimeShiftMinutes / 60.0;
        LogInterval = Settings.LogInterval;
        break;
    }
    case 1:
        OpenControlFile();
        ReadStandardGrids();
        break;
    case 2:
        ReadModelTime();
        SetEndDate(Settings.EndYear, Settings.EndMonth, Settings.EndDay, Settings.EndHour);
        break;
    case 3:
        ReadMultilayerLanduseTable(*this, ControlFile, ModelVariant, MultilayerTable);
        // A section without entries describes no layers: the land-use grid is
        // then the one layer, as without the section.
        if (MultilayerTable.size() <= 1) MultilayerTable.clear();
        LanduseTable = ReadLanduseTable(*this, ModelVariant);
        break;
    case 4:
        ReadSoilTable(*this, ControlFile, ModelVariant, SoilTable);
        break;
    case 5:
        IrrigationSwitch = 0;
        ReadIrrigation(*this, ControlFile, ModelVariant, IrrigationSwitch, IrrigationTable);
        ReadRadiationCorrection();
        CloseControlFile();
        break;
    case 6:
        ReadZoneGrid();
        MakeMPIRegions(*this, ZoneGrid, Decomposition, &Settings.SetupGridCount);
        FirstRow = Decomposition.FirstRow;
        LastRow = Decomposition.LastRow;
        break;
    case 7:
        RankZonesMaster();
        break;
    case 8:
        ReadOrCreateStandardGrids();
        ReadVariableGrids();
        break;
    case 9: {
        const int index = FindGrid("RelCellArea");
        RelCellArea = index > 0 ? GridTable[index].Data : nullptr;
        break;
    }
    case 10:
        CheckCellSizes();
        break;
    case 11:
        MakeCoordinateGrids();
        break;
    case 12:
        TakeElevationModel();
        break;
    case 13: {
        LanduseLayerCount =
            SetUpLanduseLayers(*this, FindGrid("landuse"), LanduseTable, MultilayerTable, LanduseLayers,
                               &Settings.SetupGridCount);
        // Layer grids of a multilayer table are the set-up's to free.
        if (!MultilayerTable.empty()) {
            for (size_t k = 1; k < LanduseLayers.size(); ++k) AdoptOwnedMatrix(LanduseLayers[k], 1, NRows);
        }
        break;
    }
    case 14:
        if (!LanduseLayers.empty()) {
            Progress("generateMultiLayerParameterGrids...");
            generateMultiLayerParameterGrids(LanduseLayerCount);
            Progress("...ok");
        }
        break;
    case 15:
        if (IrrigationSwitch) {
            Progress("check_irrig_Codes");
            check_irrig_Codes(*this, FindGrid("irrigation_codes"), IrrigationTable);
            Progress("...ok");
        } else {
            IrrigationTable.clear();
        }
        break;
    case 16:
        Progress("check_SOIL_Codes...");
        check_SOIL_Codes(*this, FindGrid("soil_types"), SoilTable);
        Progress("...ok");
        break;
    case 17:
        break;
    case 18:
        Progress("make_Slope_and_Aspect...");
        make_Slope_and_Aspect();
        Progress("...ok");
        break;
    case 19:
        Progress("check_ice_firn_grid...");
        check_ice_firn_grid();
        Progress("...ok");
        break;
    case 20:
        Progress("MakeRegionWeightGrids...");
        MakeRegionWeightGrids();
        Progress("...ok");
        break;
    case 21:
        break;
    case 22:
        Progress("GetCouplingParameters...");
        OpenControlFile();
        GetCouplingParameters();
        Progress("...ok");
        break;
    default:
        CloseControlFile();
        LogInterval = 1;
        *done = 1;
        return;
    }
    ++InitStepCounter;
}

void defaultini::RankZonesMaster() {
    if (ProcessNumber != 0) return;
    ModelZones = RankZoneGrid(ZoneRankingKind::SetUp, ZoneGrid, NRows, NCols, nullptr, NoData, CellSize, nullptr,
                              Writer, GridTable[1].FileName, ModuleName);
    Zones = ModelZones.Records.data();
    RowExtents = ModelZones.RowExtents.data();
}

void defaultini::InitGridStatistics() {
    StandardGridStatistics.clear();
    const int last = Settings.SetupGridCount + 2;
    for (int index = 2; index <= last && index <= LastGridIndex; ++index) {
        MemoryGrid& entry = GridTable[index];
        if (entry.StatFileName.empty() || !entry.Data) continue;
        GridStatistics statistics;
        statistics.Index = index;
        statistics.Zones.assign(static_cast<size_t>(ModelZones.Count) + 1, ZoneRecord{});
        for (int z = 0; z <= ModelZones.Count; ++z) {
            const ZoneRecord& source = ModelZones.Records[static_cast<size_t>(z)];
            ZoneRecord& copy = statistics.Zones[static_cast<size_t>(z)];
            copy.zonenwert = source.zonenwert;
            copy.rel = source.rel;
            copy.RelCellSum = source.RelCellSum;
        }
        int status = 0;
        std::string fileName = entry.StatFileName;
        statistics.Writer = std::make_unique<zonalstatistic>(
            &status, Writer, StatisticsTable, StatisticsTableSize, RelCellArea, NRows, NCols,
            statistics.Zones.data(), ModelZones.Count, entry.StatCode, 5, fileName, Settings.DefaultOutputDirectory,
            0, nullptr);
        if (status != 0) throw status;
        statistics.Writer->WriteHeader(entry.InternalName, "(default)");
        entry.StatWriter = statistics.Writer.get();
        StandardGridStatistics.push_back(std::move(statistics));
    }
}

void defaultini::ResetGridStatistics() {
    for (auto& s : StandardGridStatistics) s.Writer->ResetStep();
}

void defaultini::AddGridStatistics() {
    if (StandardGridStatistics.empty()) return;
    if (!StatisticRuns.Built()) {
        // The zone grid does not change during a run: its runs are found once.
        StatisticRuns.Build(FirstRow, LastRow, NRows, ModelZones.RowExtents.data(), [this](int r, int c) {
            const double zone = ZoneGrid[r][c];
            if (zone == NoData) return -1;
            const int code = static_cast<int>(ZoneCodeOf(zone));
            if (code < 0 || code > ModelZones.LargestCode) return -1;
            return ModelZones.CodeToRank[static_cast<size_t>(code)];
        });
    }
    int64_t cells = 0;
    for (int r = FirstRow; r <= LastRow; ++r) {
        const RowExtent& extent = ModelZones.RowExtents[static_cast<size_t>(r)];
        if (extent.last >= extent.first) cells += extent.last - extent.first + 1;
    }
    // One pass over the rows for every statistic; the rows' sums are folded
    // in row order when the step closes.
#pragma omp parallel for schedule(static) if (WorthThreads(cells))
    for (int r = FirstRow; r <= LastRow; ++r) {
        for (auto& s : StandardGridStatistics) {
            double** grid = GridTable[s.Index].Data;
            if (!grid) continue;
            for (const ZoneRun& run : StatisticRuns.Row(r)) s.Writer->AddRunToRow(r, run.Zone, grid[r], run.First, run.Last, 1);
        }
    }
}

void defaultini::CloseGridStatisticsStep(int64_t hour, int64_t day, int64_t month, int64_t year) {
    for (auto& s : StandardGridStatistics) s.Writer->CloseStep(year, month, day, hour);
}

void defaultini::FlushGridStatistics() {
    for (auto& s : StandardGridStatistics) s.Writer->Flush();
}

void defaultini::CloseGridStatistics() {
    for (auto& s : StandardGridStatistics) {
        s.Writer->Close();
        if (GridTable && s.Index > 0) GridTable[s.Index].StatWriter = nullptr;
    }
    StandardGridStatistics.clear();
}

void defaultini::ExportSettings(ModelSettings& receiver) {
    Settings.ZoneRank = ModelZones.CodeToRank.empty() ? nullptr : ModelZones.CodeToRank.data();
    Settings.Zones = ModelZones.Records.empty() ? nullptr : ModelZones.Records.data();
    Settings.RowExtents = ModelZones.RowExtents.empty() ? nullptr : ModelZones.RowExtents.data();
    Settings.ZoneCount = ModelZones.Count;
    Settings.MaxZoneCode = ModelZones.LargestCode;
    // The region table's fields are kept current by the region ranking.
    CopyGeometryToSettings();
    auto tableOf = [](auto& table) { return table.empty() ? nullptr : table.data(); };
    auto countOf = [](auto& table) { return table.empty() ? 0 : static_cast<int>(table.size()) - 1; };
    Settings.LanduseTable = tableOf(LanduseTable);
    Settings.LanduseCount = countOf(LanduseTable);
    Settings.SoilTable = tableOf(SoilTable);
    Settings.SoilCount = countOf(SoilTable);
    Settings.MultilayerLanduseTable = tableOf(MultilayerTable);
    Settings.MultilayerLanduseCount = countOf(MultilayerTable);
    const bool irrigation = ModelVariant == 2 && IrrigationSwitch && !IrrigationTable.empty();
    Settings.IrrigationTable = irrigation ? IrrigationTable.data() : nullptr;
    Settings.IrrigationCount = irrigation ? countOf(IrrigationTable) : 0;
    Settings.WriteAsciiGrids = WriteAsciiGrids;
    Settings.WriteDoubleGrids = WriteDoubleGrids;
    Settings.CellsPerProcess = Decomposition.CellsPerProcess.empty() ? nullptr : Decomposition.CellsPerProcess.data();
    Settings.ExchangeListFirst = Decomposition.ExchangeListFirst.empty() ? nullptr : Decomposition.ExchangeListFirst.data();
    Settings.ExchangeListSecond =
        Decomposition.ExchangeListSecond.empty() ? nullptr : Decomposition.ExchangeListSecond.data();
    receiver = Settings;
}

SpinUpSettings defaultini::ReadSpinUpAndCreateHRUs() {
    SpinUpSettings settings = ::ReadSpinUpAndCreateHRUs(*this, &Settings.SetupGridCount);
    for (int index : {settings.UnitGridIndex, settings.MasterGridIndex}) {
        if (index > 0) AdoptOwnedMatrix(GridTable[index].Data, 1, NRows);
    }
    return settings;
}

void defaultini::generateMultiLayerParameterGrids(int layerCount) {
    if (!LanduseGrids) LanduseGrids = std::make_unique<LanduseParameterGrids>(*this);
    LanduseGrids->generateMultiLayerParameterGrids(layerCount, LanduseTable, LanduseLayers.data(), Settings.StartDay,
                                                   Settings.StartMonth, Settings.StartYear, Settings.SetupGridCount);
}

void defaultini::ResumeLanduseParameters() {
    if (LanduseGrids) {
        LanduseGrids->ResumeParameters(Settings.StartHour, Settings.StartDay, Settings.StartMonth, Settings.StartYear);
    }
}

std::string defaultini::PhenologyStateText() const {
    return LanduseGrids ? LanduseGrids->PhenologyStateText() : std::string();
}

void defaultini::ReadPhenologyState(const std::string& path) {
    if (LanduseGrids) LanduseGrids->ReadPhenologyState(path);
}

void defaultini::CalcActualLanduseParameters(int64_t hour, int64_t day, int64_t month, int64_t year,
                                             int periodMinutes) {
    if (!LanduseGrids) LanduseGrids = std::make_unique<LanduseParameterGrids>(*this);
    LanduseGrids->CalcActualLanduseParameters(hour, day, month, year, periodMinutes);
}
