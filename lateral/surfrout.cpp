// Surface routing's construction: its section of the control file, the
// sub-step bounds, the grids and stacks it registers, the statistics, the
// tracer set-up, the wiring getters and setters, and the teardown.

#include "lateral/surfrout.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/tracer_info.h"
#include "framework/zonalstatistic.h"
#include "parameters/multilayer_landuse.h"

namespace {

const char* const StatisticsTitle[5] = {"Direct_Discharge_Surface_Routing", "Interflow_Surface_Routing",
                                        "Baseflow_Surface_Routing", "Total_Runoff_Surface_Routing",
                                        "Surface_Storage_in_SurfaceRouting_Module"};
const int StatisticsPrecision[5] = {5, 5, 5, 6, 6};

}  // namespace

surfaceroutingclass::surfaceroutingclass(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                                         int statisticsTableSize, const std::string& sectionName,
                                         const ModelSettings& settings, MemoryGrid* gridTable, int subSteps,
                                         int spinUpSwitch)
    : teilmodellklasse(writer, sectionName, settings, gridTable, subSteps),
      StatisticsTable(statisticsTable),
      StatisticsTableSize(statisticsTableSize) {
    *status = 0;
    Controls.concentration = 1.0;
    Regions = OptionalGrid("MPIRegions");
    if (Method == 0) return;
    try {
        ConstructOrRelease([&] { Construct(spinUpSwitch); }, [this] { ReleaseAll(); });
        if (Method != 0) Status = 1;
    } catch (int code) {
        *status = code;
    } catch (...) {
        *status = 103;
    }
}

surfaceroutingclass::~surfaceroutingclass() { ReleaseAll(); }

void surfaceroutingclass::Construct(int spinUpSwitch) {
    if (Writer) *Writer << "file surfrout, compiled at " << __DATE__ << ", " << __TIME__ << "[end-entry]";
    if (spinUpSwitch != 0) {
        Method = 0;
        CloseControlFile();
        return;
    }
    RefuseChangingGlacier("Surface routing");
    Elevation = RequiredGrid("[elevation_model]");
    LayerCount = VegetationLayerCount(Settings.MultilayerLanduseTable, Settings.MultilayerLanduseCount);
    Landuse.assign(static_cast<size_t>(LayerCount) + 1, nullptr);
    for (int k = 1; k <= LayerCount; ++k) {
        Landuse[static_cast<size_t>(k)] = RequiredGrid("landuse" + std::to_string(k));
        RequiredGrid("vegetation_coverage_degree" + std::to_string(k));
    }
    RequiredGrid("soil_types");
    Surface = RequiredGrid("SurfStorSiltingUp");
    IceShare = OptionalGrid("ice_firn");

    ReadSection();
    const int closed = std::fclose(ControlFile);
    ControlFile = nullptr;
    if (closed != 0) {
        if (Writer) *Writer << "FATAL: error closing control file \"" << ControlFilePath << "\"" << "[end-entry]";
        throw 11;
    }
    RegisterGrids();
    CreateStatistics();
    DirectFlow = RequiredGrid("directflow");
    InterFlow = RequiredGrid("interflow");
    RiverDepth = RequiredGrid("river_depth");
    RiverWidth = RequiredGrid("river_width");
    RequiredGrid("river_links");
    FlowTimes = OptionalGrid("flow_times");
    if (FlowpathMethod <= 4) CheckLanduse();
}

void surfaceroutingclass::ReadSection() {
    FILE* f = ControlFile;
    ReadValue(f, "%d", &FlowpathMethod, "method for flowpath-calculation ", &LineBuffer);
    if (FlowpathMethod < 1 || FlowpathMethod > 5) {
        if (Writer) {
            *Writer << "FATAL: \n-----------------error------------\nwrong method (" << FlowpathMethod
                    << ") read for " << ModuleName << "\n" << "[end-entry]";
        }
        throw 10;
    }
    const char* statNames[4] = {"name of the statistics for direct runoff from surface routing (QDSR) ",
                                "name of the statistics for interflow from surface routing (QISR) ",
                                "name of the statistics for baseflow from surface routing (QBSR) ",
                                "name of the statistics for total runoff from surface routing (QGSR) "};
    for (int k = 0; k < 4; ++k) {
        if (!ReadWord(f, &StatFile[k])) ControlFileError(statNames[k], ModuleName);
        ReadValue(f, "%d", &StatCode[k], statNames[k], &LineBuffer);
    }
    ReadValue(f, "%s", &VelocityStackFile, "name of the surface-routing-velocity-stack, ", &LineBuffer);
    ReadValue(f, "%d", &VelocityStackCode, "Writegrid for surface-routing-velocity-stack, ", &LineBuffer);
    ReadValue(f, "%s", &FluxStackFile, "name of the surface-routing-fluxes-stack, ", &LineBuffer);
    ReadValue(f, "%d", &FluxStackCode, "Writegrid for surface-routing-fluxes-stack, ", &LineBuffer);
    ReadValue(f, "%lf", &Controls.wakeTolerance, "maximum iteration error for A_NL [m] in ", &LineBuffer);
    ReadValue(f, "%d", &Controls.wakeIterations, "maximum iteration steps for A_NL in ", &LineBuffer);
    ReadValue(f, "%lf", &Controls.velocityTolerance, "maximum iteration error [m/s] for velocity in ", &LineBuffer);
    ReadValue(f, "%d", &Controls.velocityIterations, "maximum iteration steps for velocity in ", &LineBuffer);
    ReadValue(f, "%lf", &Controls.dtMin, "minimum sub time step [s] in ", &LineBuffer);
    ReadValue(f, "%lf", &Controls.dtMax, "maximum sub time step [s] in ", &LineBuffer);
    ReadValue(f, "%lf", &Controls.minDepth,
              "minimum flow depth to take into account the roughness of the crops [m] in ", &LineBuffer);
    ReadValue(f, "%lf", &Controls.concentration, "Concentration factor [1/1] in ", &LineBuffer);

    // Each control within its range: a line left out shifts every later
    // value into the wrong place, and a zero iteration count or a sub-step of
    // a hundredth of a second would stall the step.
    const double T = TimeInterval / std::max(1, SubSteps) * 60;
    RequireRange(Controls.wakeTolerance, 0, 1, "maximum iteration error for A_NL [m] in ");
    // No wake iteration keeps the fixed wake share; no velocity iteration
    // would leave every velocity at its start value of 0.
    RequireRange(Controls.wakeIterations, 0, 1000, "maximum iteration steps for A_NL in ");
    RequireRange(Controls.velocityTolerance, 0, 1, "maximum iteration error [m/s] for velocity in ");
    RequireRange(Controls.velocityIterations, 1, 1000, "maximum iteration steps for velocity in ");
    // A shortest sub-step of 0 stands for the whole step; otherwise each
    // bound is at least a tenth of a second and the longest at least one
    // second, so that a step holds a bounded number of sub-steps.
    if (Controls.dtMin != 0) RequireRange(Controls.dtMin, 0.1, 1e6, "minimum sub time step [s] in ");
    RequireRange(Controls.dtMax, 1, 1e6, "maximum sub time step [s] in ");
    RequireRange(Controls.minDepth, 0, 10,
                 "minimum flow depth to take into account the roughness of the crops [m] in ");
    RequireRange(Controls.concentration, 0, 100, "Concentration factor [1/1] in ");
    // Both bounds become the sub-step length divided by a whole number.
    const double longest = surfrout::FractionOfSubStep(T, Controls.dtMax);
    if (longest != Controls.dtMax && Writer) {
        *Writer << "INFO: longest allowed subtimestep changed from " << Controls.dtMax << " to " << longest
                << ". Must be integer fraction of time step in seconds." << "[end-entry]";
    }
    Controls.dtMax = longest;
    const double shortest = surfrout::FractionOfSubStep(T, Controls.dtMin);
    if (shortest != Controls.dtMin && Writer) {
        *Writer << "WARNING: shortest allowed subtimestep changed from " << Controls.dtMin << " to " << shortest
                << ". Must be integer fraction of time step in seconds." << "[end-entry]";
    }
    Controls.dtMin = shortest;

    ReadValue(f, "%d", &ReadCode, "read control parameter for storage grids for ", &LineBuffer);
    ReadGridsCode = ReadCode;
    // The optional storage statistics: a word and a number on one line, the
    // rest of the line left for the storage content file name.
    std::string word;
    StatFile[4].clear();
    StatCode[4] = 0;
    if (ReadWord(f, &word)) {
        long long code = 0;
        std::string text;
        if (ScanInteger(f, INT32_MIN, INT32_MAX, &code, &text) == IntegerScan::Read) {
            StatFile[4] = word;
            StatCode[4] = static_cast<int>(code);
        }
    }
    ReadValue(f, "%s", &StorageFile, "name of the storage content file ", &LineBuffer);
    if (StorageFile == "[unsatzon_model]" && Writer) {
        *Writer << "WARNING: \n-----------------error------------\nerror reading storage file name for " << ModuleName
                << "\npossible reason: parameter missing or a linefeed \nbefore the end of the parameter block"
                << "[end-entry]";
    }
    StorageFile += '_';
    StorageFile += std::to_string(ProcessNumber);
}

void surfaceroutingclass::NoFreeGrid() {
    if (Writer) *Writer << "FATAL: no free grid anymore, allowed number of grids is " << 1000 << "!" << "[end-entry]";
    throw 12;
}

int surfaceroutingclass::NextFreeEntry(int from) {
    const int entry = FindFreeGridEntry(GridTable, from);
    if (entry < FirstGridIndex || entry > LastGridIndex) NoFreeGrid();
    return entry;
}

GridStack surfaceroutingclass::OwnedStack(int entry, const std::string& name, const std::string& file, int code,
                                          bool halo) {
    GridStack stack = matrix3d(1, NRows, 1, NCols, 9, NRows);
    OwnGrids.push_back({entry, nullptr, stack, 9, halo});
    double** grid = matrix(1, NRows, 1, NCols, NRows);
    OwnGrids.back().Data = grid;
    for (int32_t i = 1; i <= NRows; ++i) {
        for (int32_t j = 1; j <= NCols; ++j) {
            const double value = IsModelCell(i, j) ? 0.0 : NoData;
            grid[i][j] = value;
            for (int l = 0; l <= 9; ++l) stack[i][j][l] = value;
        }
    }
    StoreGrid(entry, file, grid, stack, 9, name, code, 1, NRows);
    return stack;
}

double** surfaceroutingclass::OwnedGrid(int entry, const std::string& name, double modelValue, bool halo,
                                        bool ownWhenAbsent) {
    if (ownWhenAbsent) {
        if (double** existing = OptionalGrid(name)) return existing;
    }
    double** grid = matrix(1, NRows, 1, NCols, NRows);
    OwnGrids.push_back({entry, grid, nullptr, 0, halo});
    for (int32_t i = 1; i <= NRows; ++i)
        for (int32_t j = 1; j <= NCols; ++j) grid[i][j] = IsModelCell(i, j) ? modelValue : NoData;
    StoreGrid(entry, "", grid, nullptr, 1, name, 0, 1, NRows);
    return grid;
}

void surfaceroutingclass::RegisterGrids() {
    int entry = NextFreeEntry(FirstGridIndex);
    Velocity = OwnedStack(entry, "SurfaceRoutingVelocity", VelocityStackFile, VelocityStackCode, false);
    entry = NextFreeEntry(entry + 1);
    Fluxes = OwnedStack(entry, "SurfaceRoutingFluxes", FluxStackFile, FluxStackCode, true);
    entry = NextFreeEntry(entry + 1);
    Weights = OwnedStack(entry, "SurfaceRoutingWeights", "", 0, false);
    entry = NextFreeEntry(entry + 1);
    Depth = OwnedGrid(entry, "SurfaceRoutingTotalInput", 0.0, true, false);
    const bool ownCurvature = OptionalGrid("Plancurvature") == nullptr;
    if (ownCurvature) entry = NextFreeEntry(entry + 1);
    Curvature = OwnedGrid(entry, "Plancurvature", 0.0, true, true);
    if (ownCurvature) ComputePlanCurvature();
    auto next = [&](const std::string& name, double value) {
        if (double** existing = OptionalGrid(name)) return existing;
        entry = NextFreeEntry(entry + 1);
        return OwnedGrid(entry, name, value, false, true);
    };
    QIn = next("SurfaceRoutingQIn", 0.0);
    QOut = next("SurfaceRoutingQOut", 0.0);
    CriticalShear = next("CriticalShearStress", 0.9);
}

void surfaceroutingclass::CreateStatistics() {
    const int zoneCount = Settings.Zones ? Settings.ZoneCount : 0;
    for (int k = 0; k < 5; ++k) {
        std::vector<ZoneRecord> zones;
        for (int z = 0; z <= zoneCount && Settings.Zones; ++z) {
            zones.push_back(Settings.Zones[z]);
            zones.back().n = 0;
            zones.back().sx = 0;
        }
        Stats[k] = CreateOwnedStatistics(std::move(zones), zoneCount, StatisticsTable, StatisticsTableSize, StatCode[k],
                                         StatisticsPrecision[k], StatFile[k], Settings.DefaultOutputDirectory,
                                         StatisticsTitle[k], ModuleName);
    }
}

void surfaceroutingclass::CheckSubbasins(const SubbasinTable& soil) {
    if (Method == 0) return;
    const int n = Settings.Zones ? Settings.ZoneCount : 0;
    bool same = soil.Count == n && soil.Records;
    for (int j = 1; same && j <= n; ++j) same = soil.Records[j].zonenwert == Settings.Zones[j].zonenwert;
    if (same) return;
    if (Writer) {
        *Writer << "FATAL: the subbasin codes of the zone grid of " << ModuleName << " (" << GridTable[1].FileName
                << ", " << n << " subbasins) differ from those of the soil model's subbasin grid (" << soil.Count
                << " subbasins); both models must use the same subbasins" << "[end-entry]";
    }
    throw 3;
}

void surfaceroutingclass::InitTracers(int* status, int n, TracerInfo* table, StatisticsTableEntry* statisticsTable,
                                      int statisticsTableSize) {
    *status = 0;
    if (Method == 0) return;
    try {
        teilmodellklasse::InitTracers(status, n, table, statisticsTable, statisticsTableSize);
        if (*status != 0) throw *status;
        const int t = std::max(n, 0);
        InitFlowTimeZones();
        TracerQD.assign(static_cast<size_t>(t) + 1, nullptr);
        TracerQI.assign(static_cast<size_t>(t) + 1, nullptr);
        TracerSurface.assign(static_cast<size_t>(t) + 1, nullptr);
        TracerSnapshot.assign(static_cast<size_t>(t) + 1, nullptr);
        TracerSurfaceEntry.assign(static_cast<size_t>(t) + 1, 0);
        TracerSharedEntry.assign(static_cast<size_t>(t) + 1, 0);
        TracerDecay.assign(static_cast<size_t>(t) + 1, 1.0);
        SiltingUpRunoff = FindGrid("DirectRunoffSiltingUp") > 0;
        if (t > 0) {
            int entry = NextFreeEntry(FirstGridIndex);
            ConcentrationsFromSiltingUp = true;
            for (int k = 1; k <= t; ++k) {
                char name[64];
                std::snprintf(name, sizeof name, "_CONC_QD_%i_", k);
                TracerQD[static_cast<size_t>(k)] = RequiredGrid(name);
                std::snprintf(name, sizeof name, "_CONC_QI_%i_", k);
                TracerQI[static_cast<size_t>(k)] = RequiredGrid(name);
                std::snprintf(name, sizeof name, "concstor_tracer_%d_%s", k, "SiltingUpModel");
                if (double** silting = OptionalGrid(name)) {
                    TracerSurface[static_cast<size_t>(k)] = silting;
                    TracerSharedEntry[static_cast<size_t>(k)] = FindGrid(name);
                } else {
                    ConcentrationsFromSiltingUp = false;
                    entry = NextFreeEntry(entry);
                    double** grid = matrix(1, NRows, 1, NCols, NRows);
                    OwnGrids.push_back({entry, grid, nullptr, 0, true});
                    for (int32_t i = 1; i <= NRows; ++i)
                        for (int32_t j = 1; j <= NCols; ++j) grid[i][j] = IsModelCell(i, j) ? 0.0 : NoData;
                    StoreGrid(entry, TracerStorage[static_cast<size_t>(k)].GridFileName, grid, nullptr, 1, name,
                              table[k].gridcode, 1, NRows);
                    TracerSurface[static_cast<size_t>(k)] = grid;
                    TracerSurfaceEntry[static_cast<size_t>(k)] = entry;
                    entry = entry + 1;
                }
                double** snapshot = matrix(1, NRows, 1, NCols, NRows);
                OwnGrids.push_back({0, snapshot, nullptr, 0, false});
                TracerSnapshot[static_cast<size_t>(k)] = snapshot;
                // This model's own factor: later set-ups overwrite the shared record.
                if (table[k].radioactive) TracerDecay[static_cast<size_t>(k)] = table[k].decay_factor;
            }
        }
        const int zones = Settings.Zones ? Settings.ZoneCount : 0;
        for (ExchangeTable<double>* q : {&Qg, &QD, &QDd, &QI, &QIi}) q->Allocate(t + 1, zones + 1);
        if (ReadCode == 1) ReadStorageContent();
    } catch (int code) {
        *status = code;
    } catch (...) {
        *status = 103;
    }
}

void surfaceroutingclass::ReleaseTracers() {
    if (Method == 0) return;
    teilmodellklasse::ReleaseTracers();
    for (ExchangeTable<double>* q : {&Qg, &QD, &QDd, &QI, &QIi}) q->Release();
    zoneFZT_QD.Release();
    zoneFZT_QI.Release();
}

void surfaceroutingclass::SetSubSteps(int n) { SubSteps = n; }

void surfaceroutingclass::SetQBb(RunoffTable qbb) {
    if (Method != 0) QBb = qbb;
}

void surfaceroutingclass::SetGlacierRunoff(RunoffTable glacier) {
    if (Method != 0) GlacierRunoff = glacier;
}

void surfaceroutingclass::SetKelsqd(double* kelsqd) {
    if (Method != 0) Kelsqd = kelsqd;
}

void surfaceroutingclass::SetKelsqi(double* kelsqi) {
    if (Method != 0) Kelsqi = kelsqi;
}

void surfaceroutingclass::SetDirectRunoffConcArrays(RunoffTable) {}
void surfaceroutingclass::SetInterflowConcArrays(RunoffTable) {}

RunoffTable surfaceroutingclass::GetQg() {
    if (Method == 0) return nullptr;
    double** rows = Qg.Rows();
    if (!rows || !rows[0]) {
        if (Writer) {
            *Writer << (rows ? "FATAL: Qg[0] (surface routing) not initialized (may be, tracer module not linked? -> "
                               "programmers error!)"
                             : "FATAL: Qg (surface routing) not initialized (may be, tracer module not linked? -> "
                               "programmers error!)")
                    << "[end-entry]";
        }
        throw 57;
    }
    return rows;
}

void surfaceroutingclass::FlushStatistics() {
    if (Method == 0) return;
    for (zonalstatistic* s : Stats)
        if (s && s->IsOn()) s->Flush();
    for (size_t k = 1; k < TracerStorage.size(); ++k) {
        zonalstatistic* s = TracerStorage[k].Statistics.get();
        if (s && s->IsOn()) s->Flush();
    }
}

void surfaceroutingclass::ReleaseAll() {
    ReleaseOwnedStatistics();
    for (zonalstatistic*& s : Stats) s = nullptr;
    for (OwnGrid& g : OwnGrids) {
        if (GridTable && g.Index > 0) ReleaseGrid(g.Index);
        if (g.Stack) free_matrix3d(g.Stack, 1, NRows);
        if (g.Data) free_matrix(g.Data, 1, NRows, 1, NCols);
    }
    OwnGrids.clear();
    Velocity = Fluxes = Weights = nullptr;
    Depth = Curvature = QIn = QOut = CriticalShear = nullptr;
    Landuse.clear();
    TracerQD.clear();
    TracerQI.clear();
    TracerSurface.clear();
    TracerSnapshot.clear();
    TracerSurfaceEntry.clear();
    TracerSharedEntry.clear();
}

void surfaceroutingclass::FinishRun(int append) {
    if (Deleted()) return;
    if (Method > 0) {
        if (Status != 0) WriteStorageContent(append);
        ReleaseTracers();
        ReleaseAll();
        maxzeit.clear();
    }
    QBb = nullptr;
    Kelsqd = Kelsqi = nullptr;
    modelobject::DeleteModule();
}
