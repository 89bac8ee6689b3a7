// The grids the soil model reads and creates, and the initial soil state:
// geodetic heads, water contents in hydrostatic equilibrium with the
// groundwater table, hydraulic heads and the groundwater level of a cold
// start, or the state grids and stacks of a warm start.

#include <algorithm>
#include <cmath>
#include <limits>

#include "framework/state_checks.h"
#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "parameters/landuse.h"
#include "parameters/soil.h"
#include "setup/irrigation_table.h"
#include "framework/parallel_rows.h"
#include "soil/unsatzon.h"
#include "soil/unsatzon_initial.h"

namespace {

constexpr int NoFailure = std::numeric_limits<int>::max();

}  // namespace

void unsatzonmodellklasse::RaiseCellFailure(const std::vector<int>& failedColumn, int code, const std::string& what) {
    for (int i = 1; i <= NRows; ++i) {
        const int j = failedColumn[static_cast<size_t>(i)];
        if (j == NoFailure) continue;
        if (Writer) *Writer << "FATAL: " << what << " in row " << i << ", column " << j << "[end-entry]";
        throw code;
    }
}

void unsatzonmodellklasse::LookUpInputGrids() {
    Elevation = GridTable[2].Data;
    if (!Elevation) Elevation = RequiredGrid("[elevation_model]");
    const size_t layers = static_cast<size_t>(vegetationLayers) + 1;
    for (auto* list : {&Landuse, &RootDepth, &Coverage, &LeafArea, &CanopyResistance, &InterceptResistance,
                       &Roughness, &PotTranspiration, &RealTranspiration})
        list->assign(layers, nullptr);
    for (int k = 1; k <= vegetationLayers; ++k) {
        const std::string n = std::to_string(k);
        Landuse[k] = RequiredGrid("landuse" + n);
        RootDepth[k] = RequiredGrid("root_depth" + n);
        Coverage[k] = RequiredGrid("vegetation_coverage_degree" + n);
        LeafArea[k] = RequiredGrid("leaf_area_index" + n);
        CanopyResistance[k] = RequiredGrid("SurfaceCanopyResistance" + n);
        InterceptResistance[k] = RequiredGrid("SurfaceIntercepResistance" + n);
        Roughness[k] = RequiredGrid("RoughnessLength" + n);
    }
    for (int k = 0; k <= vegetationLayers; ++k) {
        const std::string n = std::to_string(k);
        PotTranspiration[k] = RequiredGrid("pot_transpiration" + n);
        RealTranspiration[k] = RequiredGrid("real_transpiration" + n);
    }
    SurfaceEvaporationResistance = RequiredGrid("SurfaceEvaporationResistance");
    Albedo = RequiredGrid("albedo");
    PotEvaporation = RequiredGrid("potential_evaporation");
    RealEvaporation = RequiredGrid("real_evaporation");
    SlopeAngle = RequiredGrid("slope_angle");
    SoilTypeGrid = RequiredGrid("soil_types");
    WaterInput = GridTable[FindOneOfThreeGrids("throughfall0", "snowcover_outflow", "precipitation")].Data;
    GwStorageCoeff = OptionalGrid("gw_storage_coeff_1");
    GwKx = OptionalGrid("gw_k_x_1");
    GwKy = OptionalGrid("gw_k_y_1");
    if (pondSwitch == 1) {
        MaxPonding = RequiredGrid("max_ponding_storage");
        // Every later reader sees the ponding capacity in mm.
        if (ProcessNumber == 0) {
            for (int i = 1; i <= NRows; ++i)
                for (int j = 1; j <= NCols; ++j)
                    if (SubbasinGrid[i][j] != NoData) MaxPonding[i][j] *= 1000;
        }
    }
    if (drainageSwitch == 1) {
        DrainageDepth = RequiredGrid("drainage_depth");
        DrainageDistance = RequiredGrid("drainage_distance");
    }
    if (claySwitch == 1) ClayDepth = RequiredGrid("clay_depth");
    SnowStorage = OptionalGrid("snowstorage_solid");
    FlowTimes = OptionalGrid("flow_times");
    if (!FlowTimes && Writer) {
        *Writer << "INFO: \n------------------------------------------------------------------------\n\nWarning! There "
                   "was no flow travel time grid for surface runoff read in\nAll surface runoof will be routed "
                   "immediately to the outlet of the sub-basin\n(except the effects of a linear reservoir).\nA flow "
                   "travel time grid may be created by GLENTOR, writing the\nflow travel times for each grid cell to "
                   "the sub basins outlet in secounds\nwhich are reclassified into model time steps in Ruvex.\n\n"
                   "------------------------------------------------------------------------\n"
                << "[end-entry]";
    }
    if (heatTransferSwitch > 0) {
        AirTemperature = RequiredGrid("temperature");
        const int lower = FindGrid("T_Lower_Boundary_Condition");
        LowerBoundaryIndex = lower > 0 ? lower : -99;
        if (lower > 0) LowerBoundaryTemperature = GridTable[lower].Data;
        HeatFluxLowerBoundary = FindGrid("HeatFlux_Lower_Boundary_Condition") > 0 ? 1 : 0;
    }
    if (irrigationRules) {
        IrrigationCodes = RequiredGrid("irrigation_codes");
        const int etr2etp = FindGrid("ETR2ETP");
        if (etr2etp > 0) {
            Etr2Etp = GridTable[etr2etp].Data;
            Etr2EtpIndex = -etr2etp;
        }
    }
    SiltingUpIsSurfaceStorage = 0;
    SiltingUp = OptionalGrid("DirectRunoffSiltingUp");
    if (!SiltingUp) {
        SiltingUp = OptionalGrid("SurfStorSiltingUp");
        if (SiltingUp) SiltingUpIsSurfaceStorage = 1;
    }
}

int unsatzonmodellklasse::TakeFreeEntry() {
    const int entry = FindFreeGridEntry(GridTable);
    if (entry < FirstGridIndex || entry > LastGridIndex) {
        if (Writer) *Writer << "FATAL: no more free grids in memeory, (max. " << 1000 << ")!" << "[end-entry]";
        throw 12;
    }
    return entry;
}

double** unsatzonmodellklasse::CreateGrid(const std::string& fileName, const std::string& name, int writeCode,
                                          double modelValue, bool everyCell) {
    const int entry = TakeFreeEntry();
    double** grid = matrix(1, NRows, 1, NCols, NRows);
    OwnGrids.push_back({entry, grid, nullptr});
#pragma omp parallel for schedule(static, 1) if (WorthThreadsForLightPass(Cells()))
    for (int i = 1; i <= NRows; ++i)
        for (int j = 1; j <= NCols; ++j) grid[i][j] = everyCell || OwnModelCell(i, j) ? modelValue : NoData;
    StoreGrid(entry, fileName, grid, nullptr, 1, name, writeCode, 1, NRows);
    return grid;
}

GridStack unsatzonmodellklasse::CreateStack(const std::string& fileName, const std::string& name, int writeCode) {
    const int entry = TakeFreeEntry();
    const int L = maxLayers;
    GridStack stack = matrix3d(1, NRows, 1, NCols, L, NRows);
    OwnGrids.push_back({entry, nullptr, stack});
    double** grid = matrix(1, NRows, 1, NCols, NRows);
    OwnGrids.back().Data = grid;
#pragma omp parallel for schedule(static, 1) if (WorthThreads(Cells()))
    for (int i = 1; i <= NRows; ++i) {
        for (int j = 1; j <= NCols; ++j) {
            const double value = OwnModelCell(i, j) ? 0.0 : NoData;
            grid[i][j] = value;
            for (int l = 1; l <= L; ++l) stack[i][j][l] = value;
        }
    }
    StoreGrid(entry, fileName, grid, stack, L, name, writeCode, 1, NRows);
    return stack;
}

GridStack unsatzonmodellklasse::ReadStateStack(const std::string& fileName, const std::string& name, int writeCode) {
    GridStack stack = nullptr;
    const int levels = ReadStack(fileName, stack);
    if (levels != maxLayers) {
        free_matrix3d(stack, 1, NRows);
        if (Writer) {
            *Writer << "FATAL: wrong number of levels in stack " << fileName << " (there are " << levels
                    << " level, it must be " << maxLayers << "[end-entry]";
        }
        throw 13;
    }
    const int entry = TakeFreeEntry();
    OwnGrids.push_back({entry, nullptr, stack});
    double** grid = matrix(1, NRows, 1, NCols, NRows);
    OwnGrids.back().Data = grid;
    for (int i = 1; i <= NRows; ++i)
        for (int j = 1; j <= NCols; ++j) grid[i][j] = OwnModelCell(i, j) ? 0.0 : NoData;
    StoreGrid(entry, fileName, grid, stack, maxLayers, name, writeCode, 1, NRows);
    return stack;
}

double** unsatzonmodellklasse::ReadStateGrid(const std::string& fileName, const std::string& name, int writeCode) {
    double** grid = nullptr;
    ReadGrid(fileName, grid, 0, true, false, 0, false);
    const int entry = TakeFreeEntry();
    OwnGrids.push_back({entry, grid, nullptr});
    StoreGrid(entry, fileName, grid, nullptr, 1, name, writeCode, 1, NRows);
    return grid;
}

void unsatzonmodellklasse::ComputeGeodeticHeads() {
    const int L = maxLayers;
#pragma omp parallel for schedule(static, 1) if (WorthThreads(Cells()))
    for (int i = 1; i <= NRows; ++i) {
        for (int j = 1; j <= NCols; ++j) {
            double* g = GeodeticHeads[i][j];
            if (SubbasinGrid[i][j] == NoData) {
                for (int l = 1; l <= L; ++l) g[l] = NoData;
                continue;
            }
            const SoilType& soil = CellSoil(i, j);
            g[0] = Elevation[i][j];
            for (int l = 1; l <= L; ++l) g[l] = g[l - 1] - soil.thickness[static_cast<size_t>(l)];
        }
    }
}

void unsatzonmodellklasse::CreateLowerBoundaryTemperature() {
    if (LowerBoundaryIndex != -99) return;
    LowerBoundaryTemperature = CreateGrid("T_Lower_Boundary_Condition", "T_Lower_Boundary_Condition", 0, 0);
    LowerBoundaryIndex = OwnGrids.back().Index;
    for (int i = 1; i <= NRows; ++i)
        for (int j = 1; j <= NCols; ++j)
            if (OwnModelCell(i, j))
                LowerBoundaryTemperature[i][j] = dTModLapseRate * GeodeticHeads[i][j][0] + dTModLowBoundBase;
    WriteGrid("T_Lower_Boundary_Condition", LowerBoundaryTemperature, WriteAsciiGrids, WriteDoubleGrids);
}

// The state read at a warm start: water contents between 0 and the
// saturation of their layer, heads, temperatures and storages within what
// they can be.
void unsatzonmodellklasse::CheckStateValues() {
    using namespace statecheck;
    const NamedCode* p = GridFiles;
    const int L = maxLayers;
    CheckStack(*this, InputPath(*this, p[4].Name), Theta, 0, L, "water content theta", [&](long i, long j, int l) {
        if (l == 0 || !OwnModelCell(static_cast<int>(i), static_cast<int>(j))) return Range{0, 1};
        const std::vector<double>& saturation = CellSoil(static_cast<int>(i), static_cast<int>(j)).theta_sat;
        const double top = static_cast<size_t>(l) < saturation.size() ? saturation[static_cast<size_t>(l)] : 1.0;
        return Range{0, top + ThetaTolerance};
    });
    const auto heads = [](long, long, int) { return Range{-MaxHeadM, MaxHeadM}; };
    CheckStack(*this, InputPath(*this, p[5].Name), HydraulicHeads, 0, L, "hydraulic head [m]", heads);
    if (SoilTemperature) {
        CheckStack(*this, InputPath(*this, TemperatureStack.Name), SoilTemperature, 0, L, "soil temperature [degC]",
                   [](long, long, int) { return Range{MinTemperatureC, MaxTemperatureC}; });
    }
    CheckGrid(*this, InputPath(*this, p[8].Name), GroundwaterDistance, "groundwater distance [m]",
              {-MaxHeadM, MaxHeadM});
    CheckGrid(*this, InputPath(*this, p[9].Name), ThetaInGwLevel, "water content in the groundwater layer", {0, 1});
    CheckGrid(*this, InputPath(*this, p[17].Name), Baseflow, "baseflow [mm]", {-MaxWaterMm, MaxWaterMm});
    if (PondingStorage) {
        CheckGrid(*this, InputPath(*this, p[20].Name), PondingStorage, "ponding storage [mm]", {0, MaxWaterMm});
    }
}

void unsatzonmodellklasse::CreateStateGrids() {
    maxLayers = 0;
    for (int t = 1; t <= Settings.SoilCount; ++t) maxLayers = std::max(maxLayers, soilTypes[t].LayerCount);
    // Every model cell needs a soil type with all the layers.
    std::vector<int> failed(static_cast<size_t>(NRows) + 1, NoFailure);
#pragma omp parallel for schedule(static, 1) if (WorthThreads(Cells()))
    for (int i = 1; i <= NRows; ++i) {
        for (int j = 1; j <= NCols; ++j) {
            if (SubbasinGrid[i][j] == NoData) continue;
            const double t = SoilTypeGrid[i][j];
            const bool valid = t >= 1 && t <= Settings.SoilCount && t == std::floor(t) &&
                               soilTypes[static_cast<int>(t)].LayerCount == maxLayers;
            if (!valid) {
                failed[static_cast<size_t>(i)] = j;
                break;
            }
        }
    }
    RaiseCellFailure(failed, 22, "the soil model finds no soil type with " + std::to_string(maxLayers) +
                                     " layers in the grid soil_types");

    const NamedCode* p = GridFiles;
    const int mode = readgrid;
    if (mode == 1 || mode == 3) {
        Theta = ReadStateStack(p[4].Name, "theta", p[4].Code);
        GeodeticHeads = ReadStateStack(p[6].Name, "geodetic_heads", p[6].Code);
        ComputeGeodeticHeads();
        HydraulicHeads = ReadStateStack(p[5].Name, "hydraulic_heads", p[5].Code);
        if (heatTransferSwitch > 0) {
            CreateLowerBoundaryTemperature();
            SoilTemperature = ReadStateStack(TemperatureStack.Name, "Soil_Temperature_Stack", TemperatureStack.Code);
        }
        GroundwaterDistance = ReadStateGrid(p[8].Name, "groundwater_distance", p[8].Code);
        GroundwaterLevel = ReadStateGrid(p[11].Name, "groundwater_level", p[11].Code);
        ThetaInGwLevel = ReadStateGrid(p[9].Name, "Theta_in_GWLEVEL", p[9].Code);
        Baseflow = ReadStateGrid(p[17].Name, "baseflow", p[17].Code);
        if (MaxPonding) PondingStorage = ReadStateGrid(p[20].Name, "ponding_storage", p[20].Code);
        CheckGroundwaterLevels(p[11].Name);
        CheckStateValues();
        return;
    }
    if (mode == 2) {
        GroundwaterDistance = ReadStateGrid(p[8].Name, "groundwater_distance", p[8].Code);
        if (MaxPonding) PondingStorage = ReadStateGrid(p[20].Name, "ponding_storage", p[20].Code);
        using namespace statecheck;
        CheckGrid(*this, InputPath(*this, p[8].Name), GroundwaterDistance, "groundwater distance [m]",
                  {-MaxHeadM, MaxHeadM});
        if (PondingStorage) {
            CheckGrid(*this, InputPath(*this, p[20].Name), PondingStorage, "ponding storage [mm]", {0, MaxWaterMm});
        }
    } else {
        GroundwaterDistance = CreateGrid(p[8].Name, "groundwater_distance", p[8].Code, 0);
        if (MaxPonding) PondingStorage = CreateGrid(p[20].Name, "ponding_storage", p[20].Code, 0);
    }
    ColdStart(mode == 2 ? 2 : 0);
}

void unsatzonmodellklasse::CheckGroundwaterLevels(const std::string& fileName) {
    std::vector<int> failed(static_cast<size_t>(NRows) + 1, NoFailure);
#pragma omp parallel for schedule(static, 1) if (WorthThreads(Cells()))
    for (int i = 1; i <= NRows; ++i) {
        for (int j = 1; j <= NCols; ++j) {
            if (!OwnModelCell(i, j)) continue;
            const double g = GroundwaterLevel[i][j];
            if (!(g >= 1 && g <= maxLayers)) {
                failed[static_cast<size_t>(i)] = j;
                break;
            }
        }
    }
    for (int i = 1; i <= NRows; ++i) {
        const int j = failed[static_cast<size_t>(i)];
        if (j == NoFailure) continue;
        if (Writer) {
            *Writer << "FATAL: the groundwater level " << GroundwaterLevel[i][j] << " of the grid " << fileName
                    << " in row " << i << ", column " << j << " is not a soil layer (1 to " << maxLayers << ")"
                    << "[end-entry]";
        }
        throw 22;
    }
}

void unsatzonmodellklasse::ColdStart(int mode) {
    const NamedCode* p = GridFiles;
    GeodeticHeads = CreateStack(p[6].Name, "geodetic_heads", p[6].Code);
    ComputeGeodeticHeads();
    Theta = CreateStack(p[4].Name, "theta", p[4].Code);
    HydraulicHeads = CreateStack(p[5].Name, "hydraulic_heads", p[5].Code);
    if (heatTransferSwitch > 0) {
        CreateLowerBoundaryTemperature();
        SoilTemperature = CreateStack(TemperatureStack.Name, "Soil_Temperature_Stack", TemperatureStack.Code);
        InitialTemperatureProfile = 1;
    }
    Baseflow = CreateGrid(p[17].Name, "baseflow", p[17].Code, 0);
    GroundwaterLevel = CreateGrid(p[11].Name, "groundwater_level", p[11].Code, 0);
    ThetaInGwLevel = CreateGrid(p[9].Name, "Theta_in_GWLEVEL", p[9].Code, 0);

    const int L = maxLayers;
    const int coldLayer = unsatzon::ColdStartGroundwaterLayer(L, ini_gw_level);
    const size_t n = static_cast<size_t>(L) + 1;
#pragma omp parallel for schedule(static, 1) if (WorthThreads(Cells()))
    for (int i = 1; i <= NRows; ++i) {
        for (int j = 1; j <= NCols; ++j) {
            if (!OwnModelCell(i, j)) {
                GroundwaterDistance[i][j] = GroundwaterLevel[i][j] = ThetaInGwLevel[i][j] = NoData;
                continue;
            }
            const SoilType& soil = CellSoil(i, j);
            std::span<const double> bottom(GeodeticHeads[i][j], n);
            std::span<double> theta(Theta[i][j], n);
            const int k = mode == 2 ? unsatzon::GroundwaterLayerFromDistance(bottom, L, GroundwaterDistance[i][j])
                                    : coldLayer;
            unsatzon::HydrostaticWaterContent(soil, bottom, soil.thickness, L, k, theta);
            unsatzon::HydraulicHeadsFromTheta(soil, bottom, L, theta, std::span<double>(HydraulicHeads[i][j], n));
            const unsatzon::GroundwaterScan scan =
                unsatzon::ScanGroundwaterLevel(theta, soil.theta_sat, bottom, L, mode == 0);
            GroundwaterLevel[i][j] = scan.level;
            ThetaInGwLevel[i][j] = scan.thetaAbove;
            if (mode == 0) GroundwaterDistance[i][j] = scan.distance;
        }
    }
}

void unsatzonmodellklasse::CreateOtherGrids() {
    const NamedCode* p = GridFiles;
    QDown = CreateStack(p[7].Name, "q_down", p[7].Code);
    QDownExt = CreateGrid("q_downext", "q_downext", 0, 0);
    SB1 = CreateGrid(p[1].Name, "SB_1_grid", p[1].Code, 0);
    MeanThetaInRootZone = CreateGrid("MeanThetaInRootZone", "MeanThetaInRootZone", 0, 0);
    if (irrigationRules) {
        IrrigationAmounts = CreateGrid(p[24].Name, "irrigation_amounts", p[24].Code, 0);
        MaxPumping = CreateGrid("Max_Pumping", "Max_Pumping", 0, 0);
        SBLow = CreateGrid("SBLOW_grid", "SBLOW_grid", 0, 0);
        SBHigh = CreateGrid("SBHIGH_grid", "SBHIGH_grid", 0, 0);
        if (!Etr2Etp) {
            Etr2Etp = CreateGrid("", "ETR2ETP", 0, 1);
            Etr2EtpIndex = OwnGrids.back().Index;
        }
    }
    GWTableExtern = CreateGrid("GWTableExtern", "GWTableExtern", 0, 0, true);
    Balance = CreateGrid("Balance", "Balance", 0, 0, true);
    TangensBeta = CreateGrid("tangens_beta", "tangens_beta", 0, 0);
#pragma omp parallel for schedule(static, 1) if (WorthThreadsForLightPass(Cells()))
    for (int i = 1; i <= NRows; ++i)
        for (int j = 1; j <= NCols; ++j)
            if (OwnModelCell(i, j)) TangensBeta[i][j] = SlopeAngle[i][j] * 3.141592653 / 180;
    SB2 = CreateGrid(p[2].Name, "SB_2_grid", p[2].Code, 0);
    MacroporeInfiltration = CreateGrid(p[23].Name, "macropore_infiltration", p[23].Code, 0);
    if (solverMethod == 3)
        NumberOfSubsteps = CreateGrid(SubstepsGrid.Name, "number_of_substeps", SubstepsGrid.Code, 0);
    RootGrid = CreateGrid(p[3].Name, "ROOTgrid", p[3].Code, 0);
    GroundwaterRecharge = CreateGrid(p[10].Name, "groundwater_recharge", p[10].Code, 0);
    CapillarUprise = CreateGrid(p[21].Name, "Capillar_Uprise", p[21].Code, 0);
    Percolation = CreateGrid(p[22].Name, "Percolation", p[22].Code, 0);
    DirectFlow = CreateGrid(p[15].Name, "directflow", p[15].Code, 0);
    InterFlow = CreateGrid(p[16].Name, "interflow", p[16].Code, 0);
    InfiltrationExcess = CreateGrid(p[14].Name, "infiltration_excess", p[14].Code, 0);
    TotalInfiltration = CreateGrid("total_infiltration", "total_infiltration", 0, 0);
    InfiltrationSaturation = CreateGrid(p[13].Name, "infiltration_saturation", p[13].Code, 0);
    if (heatTransferSwitch > 0 && GwKx && GwKy) {
        FrozenSoilInGroundwater = CreateGrid("frozenSoilInGroundwater", "frozenSoilInGroundwater", 0, 0);
        for (int i = 1; i <= NRows; ++i)
            for (int j = 1; j <= NCols; ++j)
                if (OwnModelCell(i, j))
                    FrozenSoilInGroundwater[i][j] = GeodeticHeads[i][j][0] - GeodeticHeads[i][j][maxLayers];
    }
    if (heatTransferSwitch > 0) ThawDepth = CreateGrid(ThawDepthGrid.Name, "ThawDepthTMod", ThawDepthGrid.Code, 0);
    if (DrainageDepth) {
        DrainageFlow = CreateGrid(p[12].Name, "drainage_flow", p[12].Code, 0);
        DrainageLevel = CreateGrid("drainage_level", "drainage_level", 0, 0);
        ComputeDrainageLevels();
    }
    if (irrigationRules) ComputeIrrigationGrids();
}

void unsatzonmodellklasse::ComputeDrainageLevels() {
    const size_t n = static_cast<size_t>(maxLayers) + 1;
#pragma omp parallel for schedule(static, 1) if (WorthThreads(Cells()))
    for (int i = 1; i <= NRows; ++i) {
        for (int j = 1; j <= NCols; ++j) {
            if (!OwnModelCell(i, j)) continue;
            std::span<const double> bottom(GeodeticHeads[i][j], n);
            DrainageLevel[i][j] = unsatzon::DrainageLayer(bottom, maxLayers, DrainageDepth[i][j]);
        }
    }
}

void unsatzonmodellklasse::ComputeIrrigationGrids() {
    const int L = maxLayers;
    const size_t n = static_cast<size_t>(L) + 1;
    // The thresholds come from the second layer, or the only one.
    const int thresholdLayer = std::min(2, L);
    const int rules = irrigationRules[0].Code;
    std::vector<int> failed(static_cast<size_t>(NRows) + 1, NoFailure);
#pragma omp parallel for schedule(static, 1) if (WorthThreads(Cells()))
    for (int i = 1; i <= NRows; ++i) {
        for (int j = 1; j <= NCols; ++j) {
            if (!OwnModelCell(i, j)) continue;
            const SoilType& soil = CellSoil(i, j);
            std::span<const double> theta(Theta[i][j], n);
            SB1[i][j] = unsatzon::RootZoneWaterContent(theta, soil.thickness, L, RootDepth[1][i][j]);
            MeanThetaInRootZone[i][j] = soil.SuctionFromTheta(1, SB1[i][j]);
            const double position = IrrigationCodes[i][j];
            if (position == NoData) {
                SBLow[i][j] = SBHigh[i][j] = NoData;
                continue;
            }
            if (!(position >= 1 && position <= rules)) {
                if (failed[static_cast<size_t>(i)] == NoFailure) failed[static_cast<size_t>(i)] = j;
                continue;
            }
            const IrrigationRule& rule = irrigationRules[static_cast<int>(position)];
            SBLow[i][j] = soil.ThetaFromSuction(thresholdLayer, rule.psi_dry);
            double wet = rule.psi_wet;
            if (rule.Method == IrrigationRule::DemandEtrEtp) {
                const double use = Landuse[1][i][j];
                if (!(use >= 1 && use <= Settings.LanduseCount)) {
                    if (failed[static_cast<size_t>(i)] == NoFailure) failed[static_cast<size_t>(i)] = j;
                    continue;
                }
                wet = Settings.LanduseTable[static_cast<int>(use)].GetHReduDry();
            }
            SBHigh[i][j] = soil.ThetaFromSuction(thresholdLayer, wet);
        }
    }
    RaiseCellFailure(failed, 22, "no irrigation rule or land use for the irrigation thresholds");
}

void unsatzonmodellklasse::LookUpResponseUnits() {
    if (FindGrid("HydrologicResponseUnits") <= 0 && FindGrid("MasterHydrologicResponseUnits") <= 0) return;
    HydrologicResponseUnits = RequiredGrid("HydrologicResponseUnits");
    MasterHydrologicResponseUnits = RequiredGrid("MasterHydrologicResponseUnits");
}

void unsatzonmodellklasse::ReleaseAll() {
    ReleaseOwnedStatistics();
    for (auto& s : Statistics) s = nullptr;
    for (OwnGrid& g : OwnGrids) {
        if (GridTable && g.Index > 0) ReleaseGrid(g.Index);
        if (g.Data) free_matrix(g.Data, 1, NRows, 1, NCols);
        if (g.Stack) free_matrix3d(g.Stack, 1, NRows);
    }
    OwnGrids.clear();
    for (ControlPointBuffer& b : PointBuffers) b = ControlPointBuffer{};
}
