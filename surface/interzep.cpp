#include "surface/interzep.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/parallel_rows.h"
#include "framework/state_checks.h"
#include "framework/writecode.h"
#include "framework/zonalstatistic.h"
#include "parameters/landuse.h"
#include "parameters/multilayer_landuse.h"
#include "setup/tracer_ini.h"
#include "surface/glacier_share.h"
#include "surface/interzep_physics.h"
#include "surface/layer_file_name.h"


interzeptionsmodellklasse::interzeptionsmodellklasse(int* status, DiagnosticsWriter* writer,
                                                     StatisticsTableEntry* statisticsTable, int statisticsTableSize,
                                                     const std::string& sectionName, const ModelSettings& settings,
                                                     MemoryGrid* gridTable)
    : teilmodellklasse(writer, sectionName, settings, gridTable, 1),
      StatisticsTable(statisticsTable),
      StatisticsTableSize(statisticsTableSize) {
    *status = 0;
    if (Method == 0) return;
    ConstructOrRelease([this] { Construct(); }, [this] { ReleaseAll(); });
}

interzeptionsmodellklasse::~interzeptionsmodellklasse() { ReleaseAll(); }

void interzeptionsmodellklasse::Construct() {
    if (Writer) {
        *Writer << "file "
                << "interzep"
                << ", compiled at " << __DATE__ << ", " << __TIME__ << "[end-entry]";
    }
    Regions = OptionalGrid("MPIRegions");
    LayerCount = VegetationLayerCount(Settings.MultilayerLanduseTable, Settings.MultilayerLanduseCount);
    ReadSection();
    LookUpInputs();
    CreateGridsAndStatistics();
    GlacierFraction = OptionalGrid("GlacierizedCells");
    if (!GlacierFraction) GlacierFraction = OptionalGrid("ice_firn");
    if (FindGrid("HydrologicResponseUnits") > 0 && FindGrid("MasterHydrologicResponseUnits") > 0) {
        UnitGrid = RequiredGrid("HydrologicResponseUnits");
        MasterGrid = RequiredGrid("MasterHydrologicResponseUnits");
    }
}

void interzeptionsmodellklasse::ReadSection() {
    FILE* f = ControlFile;
    auto word = [&](std::string& target, const std::string& description) {
        ReadValue(f, "%s", &target, description, &LineBuffer);
    };
    auto integer = [&](int& target, const std::string& description) {
        ReadValue(f, "%d", &target, description, &LineBuffer);
    };
    auto statistics = [&](std::string& name, int& code, const std::string& description) {
        if (!ReadWord(f, &name)) ControlFileError(description, ModuleName);
        ReadValue(f, "%d", &code, description, &LineBuffer);
    };
    integer(EvaporationMethod, " method for ");
    word(ThroughfallName, "Name des Abflussgrids fuer ");
    integer(ThroughfallWrite, "Writegrid Abfluss fuer ");
    statistics(ThroughfallStat, ThroughfallStatCode, "Name des Qstatfiles fuer ");
    word(EvaporationName, "Name des EIgrids fuer ");
    integer(EvaporationWrite, "Writegrid EI fuer ");
    statistics(EvaporationStat, EvaporationStatCode, "Name des EIstatfiles fuer ");
    word(StorageName, "Name des SIgrids fuer ");
    integer(StorageWrite, "Writegrid SI fuer ");
    statistics(StorageStat, StorageStatCode, "Name des SIstatfiles fuer ");
    ReadValue(f, "%lf", &SIdicke, "SIdicke fuer ", &LineBuffer);
    integer(StorageReadMode, "Einleseparameter fuer Speichergrids fuer ");
    // The tracers in the storage start from their files with the water.
    ReadGridsCode = StorageReadMode;

    const int closed = std::fclose(ControlFile);
    ControlFile = nullptr;
    if (closed != 0) {
        if (Writer) *Writer << "FATAL: error closing " << ControlFilePath << "[end-entry]";
        throw 11;
    }
}

void interzeptionsmodellklasse::LookUpInputs() {
    const int input = FindOneOfThreeGrids("snowcover_outflow", "precipitation", "ungueltiger_Name");
    WaterInput = GridTable[input].Data;
    if (!WaterInput) RequiredGrid(GridTable[input].InternalName);
    const size_t layers = static_cast<size_t>(LayerCount) + 1;
    Landuse.assign(layers, nullptr);
    LeafArea.assign(layers, nullptr);
    Coverage.assign(layers, nullptr);
    PotTranspiration.assign(layers, nullptr);
    PotInterception.assign(layers, nullptr);
    RealTranspiration.assign(layers, nullptr);
    for (int k = 1; k <= LayerCount; ++k) {
        const std::string n = std::to_string(k);
        Landuse[k] = RequiredGrid("landuse" + n);
        LeafArea[k] = RequiredGrid("leaf_area_index" + n);
        Coverage[k] = RequiredGrid("vegetation_coverage_degree" + n);
    }
    for (int k = 0; k <= LayerCount; ++k) {
        const std::string n = std::to_string(k);
        PotTranspiration[k] = RequiredGrid("pot_transpiration" + n);
        PotInterception[k] = RequiredGrid("potential_InterceptionEvap" + n);
        RealTranspiration[k] = RequiredGrid("real_transpiration" + n);
    }
    Elevation = RequiredGrid("[elevation_model]");
}

bool interzeptionsmodellklasse::ActiveCell(int32_t row, int32_t col) const {
    if (ZoneGrid[row][col] == NoData) return false;
    return !Regions || Regions[row][col] == ProcessNumber;
}

double** interzeptionsmodellklasse::CreateGrid(int entry, const std::string& fileName, const std::string& name,
                                               int writeCode, bool read) {
    if (entry < FirstGridIndex || entry > LastGridIndex) {
        if (Writer) *Writer << "FATAL: no free grid left" << 1000 << "[end-entry]";
        throw 12;
    }
    double** grid = nullptr;
    if (read) {
        ReadGrid(fileName, grid, 0, true, true, 0, false);
        statecheck::CheckGrid(*this, statecheck::InputPath(*this, fileName), grid, "interception storage [mm]",
                              {0, statecheck::MaxWaterMm});
    } else {
        grid = matrix(1, NRows, 1, NCols, NRows);
        for (int32_t i = 1; i <= NRows; ++i) {
            for (int32_t j = 1; j <= NCols; ++j) grid[i][j] = ZoneGrid[i][j] == NoData ? NoData : 0.0;
        }
    }
    OwnGrids.push_back({entry, grid});
    StoreGrid(entry, fileName, grid, nullptr, 1, name, writeCode, 1, NRows);
    return grid;
}

zonalstatistic* interzeptionsmodellklasse::CreateStatistics(const std::string& fileName, int code,
                                                            const std::string& header) {
    const int zoneCount = Settings.Zones ? Settings.ZoneCount : 0;
    return CreateOwnedStatistics(ZoneKeys(Settings.Zones, zoneCount), zoneCount, StatisticsTable, StatisticsTableSize,
                                 code, 5, fileName, Settings.DefaultOutputDirectory, header, ModuleName);
}

void interzeptionsmodellklasse::CreateGridsAndStatistics() {
    const size_t layers = static_cast<size_t>(LayerCount) + 1;
    Storage.assign(layers, nullptr);
    Evaporation.assign(layers, nullptr);
    Throughfall.assign(layers, nullptr);
    StorageIndex.assign(layers, 0);
    EvaporationIndex.assign(layers, 0);
    ThroughfallIndex.assign(layers, 0);
    StorageStats.assign(layers, nullptr);
    EvaporationStats.assign(layers, nullptr);
    ThroughfallStats.assign(layers, nullptr);

    for (int k = 0; k <= LayerCount; ++k) {
        const std::string n = std::to_string(k);
        auto layerName = [&](const std::string& name) { return k == 0 ? name : LayerFileName(name, k); };
        int entry = FindFreeGridEntry(GridTable);
        Storage[k] = CreateGrid(entry, layerName(StorageName), "interception_storage" + n, StorageWrite,
                                StorageReadMode == 1);
        StorageIndex[k] = entry;
        entry = FindFreeGridEntry(GridTable, entry + 1);
        Evaporation[k] =
            CreateGrid(entry, layerName(EvaporationName), "interception_evaporation" + n, EvaporationWrite, false);
        EvaporationIndex[k] = entry;
        entry = FindFreeGridEntry(GridTable, entry + 1);
        Throughfall[k] =
            CreateGrid(entry, layerName(ThroughfallName), "throughfall" + n, ThroughfallWrite, false);
        ThroughfallIndex[k] = entry;

        EvaporationStats[k] = CreateStatistics(layerName(EvaporationStat), EvaporationStatCode,
                                               "interception_evaporation_in_mm_layer_" + n + "_");
        StorageStats[k] =
            CreateStatistics(layerName(StorageStat), StorageStatCode, "interception_storage_in_mm_layer_" + n + "_");
        ThroughfallStats[k] =
            CreateStatistics(layerName(ThroughfallStat), ThroughfallStatCode, "throughfall_in_mm_layer_" + n + "_");
    }
}

double interzeptionsmodellklasse::GlacierFractionOf(int32_t row, int32_t col) const {
    return GlacierShareOf(GlacierFraction, row, col);
}

double interzeptionsmodellklasse::CapacityOf(int k, int32_t row, int32_t col) const {
    // A position outside the land-use table has no capacity of its own.
    double intercepCap = -1;
    const double position = Landuse[k][row][col];
    if (Settings.LanduseTable && position >= 1 && position <= Settings.LanduseCount) {
        intercepCap = Settings.LanduseTable[static_cast<int>(position)].GetIntercepCap();
    }
    return interzep::Capacity(intercepCap, SIdicke, LeafArea[k][row][col]);
}

void interzeptionsmodellklasse::Evaporate(int k, int32_t i, int32_t j, double& storage, double& evaporation) {
    interzep::EvaporationResult r;
    if (EvaporationMethod == 1) {
        r = interzep::EvaporateByTranspiration(storage, PotTranspiration[k][i][j]);
    } else if (EvaporationMethod == 2) {
        r = interzep::EvaporateByInterception(storage, PotInterception[k][i][j], PotTranspiration[k][i][j]);
    } else {
        evaporation = Evaporation[k][i][j];
        return;
    }
    evaporation = r.evaporation;
    storage = r.storage;
    PotTranspiration[k][i][j] = r.potTranspiration;
    PotTranspiration[0][i][j] -= r.totalReduction;
}

void interzeptionsmodellklasse::LayeredCell(int32_t i, int32_t j) {
    double evaporation0 = 0, storage0 = 0, throughfall0 = 0, before0 = 0;
    for (int k = 1; k <= LayerCount; ++k) before0 += Storage[k][i][j];
    for (int k = 1; k <= LayerCount; ++k) {
        const double input = k == 1 ? WaterInput[i][j] : Throughfall[k - 1][i][j];
        if (Landuse[k][i][j] == NoData) {
            // A layer without vegetation lets everything through to the layers below.
            Evaporation[k][i][j] = 0;
            Storage[k][i][j] = 0;
            Throughfall[k][i][j] = input;
        } else {
            const interzep::FillResult fill =
                interzep::FillStorage(input, Coverage[k][i][j], Storage[k][i][j], CapacityOf(k, i, j));
            double storage = fill.storage, evaporation = 0;
            Evaporate(k, i, j, storage, evaporation);
            Evaporation[k][i][j] = evaporation;
            Storage[k][i][j] = storage;
            Throughfall[k][i][j] = fill.throughfall;
        }
        evaporation0 += Evaporation[k][i][j];
        storage0 += Storage[k][i][j];
        throughfall0 = Throughfall[k][i][j];
    }
    Evaporation[0][i][j] = evaporation0;
    Storage[0][i][j] = storage0;
    Throughfall[0][i][j] = throughfall0;
    LayeredCellTracers(i, j, before0, WaterInput[i][j], throughfall0);
}

// Calls `step` with every tracer that has a storage, an outflow and an input
// at (i, j), after the storage's decay over the step.
template <typename Step>
void interzeptionsmodellklasse::ForEachCellTracer(int32_t i, int32_t j, Step step) {
    for (int n = 1; n <= TracerCount && static_cast<size_t>(n) < TracerStorage.size(); ++n) {
        TracerStorageRecord& record = TracerStorage[static_cast<size_t>(n)];
        if (!record.StorageGrid || !record.FluxGrid || !TracerInput[static_cast<size_t>(n)]) continue;
        const TracerInfo& tracer = Tracers[n];
        double& stored = record.StorageGrid[i][j];
        if (tracer.radioactive) stored *= TracerDecay[static_cast<size_t>(n)];
        step(tracer, stored, record.FluxGrid[i][j], TracerInput[static_cast<size_t>(n)][i][j]);
    }
}

// Tracers in a canopy of several layers: the layers' storages count as one
// well-mixed store that the water input enters and the lowest layer's
// throughfall leaves, so that no substance is lost on the way to the ground.
// The store held `before` mm at the start of the step, received `input` and
// let `throughfall` through.
void interzeptionsmodellklasse::LayeredCellTracers(int32_t i, int32_t j, double before, double input,
                                                   double throughfall) {
    ForEachCellTracer(i, j, [&](const TracerInfo& tracer, double& stored, double& outflow, double cin) {
        if (tracer.evaporating) {
            stored = MixConcentration(stored, cin, before, input);
            outflow = throughfall > 0 ? stored : 0;
        } else {
            stored += cin * input;
            const double filled = before + input;
            const double load = filled > 0 ? std::min(throughfall * tracer.max_conc, throughfall / filled * stored) : 0;
            stored -= load;
            outflow = throughfall > 0 ? load / throughfall : 0;
        }
    });
}

void interzeptionsmodellklasse::SingleLayerCell(int32_t i, int32_t j) {
    const double input = WaterInput[i][j];
    const double coverage = std::clamp(Coverage[1][i][j], 0.0, 1.0);
    const double before = Storage[1][i][j];
    const interzep::FillResult fill = interzep::FillStorage(input, coverage, before, CapacityOf(1, i, j));

    // Tracers ride with the water: into the storage with the covered share,
    // out with the throughfall and the overflow.
    ForEachCellTracer(i, j, [&](const TracerInfo& tracer, double& stored, double& outflow, double cin) {
        if (tracer.evaporating) {
            outflow = cin;
            stored = MixConcentration(stored, cin, before, coverage * input);
            if (fill.overflow > 0) outflow = MixConcentration(stored, outflow, fill.overflow, fill.throughfallBefore);
        } else {
            double load = cin * fill.throughfallBefore;
            stored += cin * coverage * input;
            if (fill.overflow > 0) {
                const double filled = fill.storage + fill.overflow;
                const double a = std::min(fill.overflow * tracer.max_conc, fill.overflow / filled * stored);
                stored -= a;
                load += a;
            }
            // The load leaves with the whole throughfall, overflow included.
            outflow = fill.throughfall > 0 ? load / fill.throughfall : 0;
        }
    });

    double storage = fill.storage, evaporation = 0;
    Evaporate(1, i, j, storage, evaporation);
    Evaporation[1][i][j] = Evaporation[0][i][j] = evaporation;
    Storage[1][i][j] = Storage[0][i][j] = storage;
    Throughfall[1][i][j] = Throughfall[0][i][j] = fill.throughfall;
}

void interzeptionsmodellklasse::ComputeCell(int32_t i, int32_t j) {
    if (!ActiveCell(i, j)) {
        for (int k = 0; k <= LayerCount; ++k) Evaporation[k][i][j] = Throughfall[k][i][j] = NoData;
        return;
    }
    const double e = GlacierFractionOf(i, j);
    if (e < 1) {
        if (LayerCount > 1) {
            LayeredCell(i, j);
        } else {
            SingleLayerCell(i, j);
        }
    }
    if (e >= 0.99999) {
        for (int k = 0; k <= LayerCount; ++k) Evaporation[k][i][j] = Storage[k][i][j] = 0;
        Throughfall[0][i][j] = 0;
    }
}

std::pair<int32_t, int32_t> interzeptionsmodellklasse::RowColumns(int32_t i) const {
    if (!RowExtents) return {1, NCols};
    return {std::max<int32_t>(1, RowExtents[i].first), std::min<int32_t>(NCols, RowExtents[i].last)};
}

// Cells outside the row extents have no zone: their outputs keep the missing
// value the grids were created with.
void interzeptionsmodellklasse::ComputeRow(int32_t i) {
    const auto [first, last] = RowColumns(i);
    for (int32_t j = first; j <= last; ++j) ComputeCell(i, j);
}

// The zone sums of one row, gathered by the thread that computed it: the
// layers' values with the ice-free weight w = 1 - e, and 0 with the glacier
// weight e. The statistics fold the rows in row order. Neighbouring ice-free
// cells of one zone are added as a run: the same sums in the same order.
void interzeptionsmodellklasse::AddRowStatistics(int32_t i) {
    const auto [first, last] = RowColumns(i);
    for (int32_t j = first; j <= last;) {
        if (!ActiveCell(i, j)) {
            ++j;
            continue;
        }
        const int zone = ZoneRankOfCell(i, j);
        if (GlacierFractionOf(i, j) > 0) {
            AddCellStatistics(i, j, zone);
            ++j;
            continue;
        }
        int32_t end = j;
        while (end < last && ActiveCell(i, end + 1) && ZoneRankOfCell(i, end + 1) == zone &&
               !(GlacierFractionOf(i, end + 1) > 0))
            ++end;
        AddRunStatistics(i, j, end, zone);
        j = end + 1;
    }
}

// The cells `first` to `last` of row i, all active, ice-free and of `zone`.
void interzeptionsmodellklasse::AddRunStatistics(int32_t i, int32_t first, int32_t last, int zone) {
    for (int k = 1; k <= LayerCount; ++k) {
        EvaporationStats[k]->AddRunToRow(i, zone, Evaporation[k][i], first, last, 1.0);
        StorageStats[k]->AddRunToRow(i, zone, Storage[k][i], first, last, 1.0);
        ThroughfallStats[k]->AddRunToRow(i, zone, Throughfall[k][i], first, last, 1.0);
    }
    for (int n = 1; n <= TracerCount && static_cast<size_t>(n) < TracerStorage.size(); ++n) {
        TracerStorageRecord& record = TracerStorage[static_cast<size_t>(n)];
        if (!record.Statistics || !record.StorageGrid) continue;
        if (Tracers[n].evaporating) {
            for (int32_t j = first; j <= last; ++j)
                record.Statistics->AddToRow(i, j, zone, record.StorageGrid[i][j], Storage[0][i][j]);
        } else {
            record.Statistics->AddRunToRow(i, zone, record.StorageGrid[i], first, last, 1.0);
        }
    }
    EvaporationStats[0]->AddRunToRow(i, zone, Evaporation[0][i], first, last, 1.0);
    StorageStats[0]->AddRunToRow(i, zone, Storage[0][i], first, last, 1.0);
    ThroughfallStats[0]->AddRunToRow(i, zone, Throughfall[0][i], first, last, 1.0);
}

// An active cell with a glacier share e > 0.
void interzeptionsmodellklasse::AddCellStatistics(int32_t i, int32_t j, int zone) {
    const double e = GlacierFractionOf(i, j);
    const double w = 1 - e;
    if (e < 1) {
        for (int k = 1; k <= LayerCount; ++k) {
            EvaporationStats[k]->AddToRow(i, j, zone, Evaporation[k][i][j], w);
            StorageStats[k]->AddToRow(i, j, zone, Storage[k][i][j], w);
            ThroughfallStats[k]->AddToRow(i, j, zone, Throughfall[k][i][j], w);
        }
        for (int n = 1; n <= TracerCount && static_cast<size_t>(n) < TracerStorage.size(); ++n) {
            TracerStorageRecord& record = TracerStorage[static_cast<size_t>(n)];
            if (!record.Statistics || !record.StorageGrid) continue;
            const double weight = Tracers[n].evaporating ? Storage[0][i][j] : 1.0;
            record.Statistics->AddToRow(i, j, zone, record.StorageGrid[i][j], weight);
        }
    }
    EvaporationStats[0]->AddToRow(i, j, zone, Evaporation[0][i][j], w);
    StorageStats[0]->AddToRow(i, j, zone, Storage[0][i][j], w);
    ThroughfallStats[0]->AddToRow(i, j, zone, Throughfall[0][i][j], w);
    for (int k = 0; k <= LayerCount; ++k) {
        EvaporationStats[k]->AddToRow(i, j, zone, 0, e);
        StorageStats[k]->AddToRow(i, j, zone, 0, e);
        ThroughfallStats[k]->AddToRow(i, j, zone, 0, e);
    }
    for (int n = 1; n <= TracerCount && static_cast<size_t>(n) < TracerStorage.size(); ++n) {
        TracerStorageRecord& record = TracerStorage[static_cast<size_t>(n)];
        if (!record.Statistics || !record.StorageGrid) continue;
        record.Statistics->AddToRow(i, j, zone, record.StorageGrid[i][j], Storage[0][i][j]);
    }
}

void interzeptionsmodellklasse::RunTimeStep(int64_t hour, int64_t day, int64_t month, int64_t year) {
    if (Method == 0) return;
    teilmodellklasse::RunTimeStep(hour, day, month, year);
    for (int k = 0; k <= LayerCount; ++k) {
        EvaporationStats[k]->ResetStep();
        StorageStats[k]->ResetStep();
        ThroughfallStats[k]->ResetStep();
    }
    for (int n = 1; n <= TracerCount && static_cast<size_t>(n) < TracerStorage.size(); ++n) {
        if (TracerStorage[static_cast<size_t>(n)].Statistics) TracerStorage[static_cast<size_t>(n)].Statistics->ResetStep();
    }

    // The write codes' sums and the statistics of the step, gathered in the
    // same pass that computes the rows: a row's sums follow its cells.
    std::vector<int> codes;
    std::vector<zonalstatistic*> statistics;
    for (int k = 0; k <= LayerCount; ++k) {
        statistics.insert(statistics.end(), {EvaporationStats[k], StorageStats[k], ThroughfallStats[k]});
        codes.insert(codes.end(), {StorageIndex[k], EvaporationIndex[k], ThroughfallIndex[k]});
    }
    for (int n = 1; n <= TracerCount && static_cast<size_t>(n) < TracerStorage.size(); ++n) {
        TracerStorageRecord& record = TracerStorage[static_cast<size_t>(n)];
        if (record.Statistics) statistics.push_back(record.Statistics.get());
        if (record.StorageGridIndex > 0) codes.push_back(record.StorageGridIndex);
    }
    GridWriteCodes writeCodes(*this, codes.data(), static_cast<int>(codes.size()), true, false);
    std::vector<zonalstatistic::FoldFailure> failures(statistics.size());
    const int statisticCount = static_cast<int>(statistics.size());

    // A cell costs a few dozen operations: threads pay off on large grids only.
    const bool parallel = WorthThreads(static_cast<int64_t>(NRows) * NCols);
#pragma omp parallel if (parallel)
    {
#pragma omp for schedule(static, 1)
        for (int32_t i = 1; i <= NRows; ++i) {
            ComputeRow(i);
            AddRowStatistics(i);
            writeCodes.Row(i);
        }
        // Each statistic's rows folded in row order by one thread.
#pragma omp for schedule(dynamic, 1)
        for (int k = 0; k < statisticCount; ++k) failures[static_cast<size_t>(k)] = statistics[static_cast<size_t>(k)]->FoldRowsQuietly();
    }
    for (int k = 0; k < statisticCount; ++k) statistics[static_cast<size_t>(k)]->RaiseFoldFailure(failures[static_cast<size_t>(k)]);

    for (zonalstatistic* statistic : statistics) statistic->CloseStep(year, month, day, hour);
    writeCodes.Finish();
}

void interzeptionsmodellklasse::InitTracers(int* status, int n, TracerInfo* table,
                                            StatisticsTableEntry* statisticsTable, int statisticsTableSize) {
    *status = 0;
    if (Method == 0) return;
    try {
        teilmodellklasse::InitTracers(status, n, table, statisticsTable, statisticsTableSize);
        if (*status != 0) return;
        TracerInput.assign(static_cast<size_t>(std::max(n, 0)) + 1, nullptr);
        TracerDecay.assign(static_cast<size_t>(std::max(n, 0)) + 1, 1.0);
        for (int i = 1; i <= n; ++i) {
            char names[3][64];
            std::snprintf(names[0], sizeof names[0], "concflux_tracer_%1d_%s", i, "snow_model");
            std::snprintf(names[1], sizeof names[1], "concflux_tracer_%1d_%s", i, "irrigation");
            std::snprintf(names[2], sizeof names[2], "concflux_tracer_%1d_%s", i, "input");
            const int index = FindOneOfThreeGrids(names[0], names[1], names[2]);
            TracerInput[static_cast<size_t>(i)] = GridTable[index].Data;
            // The factor of this sub-model's own interval, kept before another
            // set-up overwrites the shared record.
            if (table[i].radioactive) TracerDecay[static_cast<size_t>(i)] = table[i].decay_factor;
        }
    } catch (int code) {
        *status = code;
    } catch (...) {
        *status = 103;
    }
}

void interzeptionsmodellklasse::ReleaseTracers() {
    if (Method != 0) teilmodellklasse::ReleaseTracers();
}

void interzeptionsmodellklasse::FlushStatistics() {
    if (Method == 0) return;
    for (int k = 0; k <= LayerCount && static_cast<size_t>(k) < EvaporationStats.size(); ++k) {
        for (zonalstatistic* s : {EvaporationStats[k], StorageStats[k], ThroughfallStats[k]}) {
            if (s && s->IsOn()) s->Flush();
        }
    }
    for (int n = 1; n <= TracerCount && static_cast<size_t>(n) < TracerStorage.size(); ++n) {
        zonalstatistic* s = TracerStorage[static_cast<size_t>(n)].Statistics.get();
        if (s && s->IsOn()) s->Flush();
    }
}

void interzeptionsmodellklasse::ReleaseAll() {
    ReleaseOwnedStatistics();
    for (OwnGrid& g : OwnGrids) {
        if (GridTable && g.Index > 0) ReleaseGrid(g.Index);
        free_matrix(g.Data, 1, NRows, 1, NCols);
    }
    OwnGrids.clear();
    Storage.clear();
    Evaporation.clear();
    Throughfall.clear();
    StorageStats.clear();
    EvaporationStats.clear();
    ThroughfallStats.clear();
}

void interzeptionsmodellklasse::DeleteModule() {
    if (Deleted()) return;
    ReleaseAll();
    modelobject::DeleteModule();
}
