#include "lateral/gwflow.h"

#include <algorithm>
#include <cstdio>

#include "framework/diagnostics_writer.h"
#include "framework/gridfiles.h"
#include "framework/gridtable.h"
#include "framework/parallel_rows.h"
#include "framework/state_checks.h"
#include "lateral/gwflow_physics.h"
#include "lateral/gwflow_text.h"
#include "parameters/soil.h"
#include "surface/glacier_share.h"

using gwflow::Format;

gwflowclass::gwflowclass(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                         int statisticsTableSize, const std::string& sectionName, const ModelSettings& settings,
                         MemoryGrid* gridTable, IrrigationRule* irrigationTable, const SubbasinTable& subbasins,
                         int subSteps, int spinUpSwitch)
    : teilmodellklasse(writer, sectionName, settings, gridTable, subSteps),
      StatisticsTable(statisticsTable),
      StatisticsTableSize(statisticsTableSize),
      IrrigationTable(irrigationTable),
      Subbasins(subbasins),
      SpinUpSwitch(spinUpSwitch) {
    *status = 0;
    if (Method == 0) return;
    if (SpinUpSwitch != 0) {
        // A spin-up runs without the aquifer; the section stays unread.
        Method = 0;
        CloseControlFile();
        return;
    }
    try {
        ConstructOrRelease([this] { Construct(); }, [this] { ReleaseAll(); });
    } catch (int code) {
        *status = code;
    } catch (...) {
        *status = 103;
    }
}

gwflowclass::~gwflowclass() {
    ReleaseTracerStorage();
    ReleaseAll();
}

bool gwflowclass::Parallel() const {
    return AlwaysParallel || WorthThreads(static_cast<int64_t>(NRows) * NCols);
}

double gwflowclass::SubStepSeconds() const { return TimeInterval * 60.0 / std::max(SubSteps, 1); }

void gwflowclass::Construct() {
    Regions = OptionalGrid("MPIRegions");
    if (Writer) {
        *Writer << "file "
                << "gwflow"
                << ", compiled at " << __DATE__ << ", " << __TIME__ << "[end-entry]";
    }
    ReadSection();
    CheckControlPoint();
    ReadPondFlag();
    ReadLayerLines();
    const int closed = std::fclose(ControlFile);
    ControlFile = nullptr;
    if (closed != 0) {
        if (Writer) *Writer << "FATAL: error closing " << ControlFilePath << "[end-entry]";
        throw 11;
    }
    LookUpInputs();
    SetLayerOneThickness();
    if (FindFreeGridEntry(GridTable) == NoFreeGridEntry) {
        if (Writer) *Writer << "FATAL: no free grid (gridmaxanzahl must be larger than " << 1000 << ")!\n" << "[end-entry]";
        throw 12;
    }
    CreateGrids();
    CreateControlPointFile();
    SetStatus(0);
    InitLakes("[lake_model]");
}

void gwflowclass::ReadSection() {
    FILE* f = ControlFile;
    ReadValue(f, "%d", &MethodLine, "method in ", &LineBuffer);
    ReadValue(f, "%d", &MaxSweeps, "maxiter in ", &LineBuffer);
    ReadValue(f, "%lf", &Tolerance, "maxerror_allowed in ", &LineBuffer);
    ReadValue(f, "%lf", &Alpha, "alpha in ", &LineBuffer);
    ReadValue(f, "%lf", &SorParameter, "sor-parameter in ", &LineBuffer);
    // The solver's controls: at least one sweep, a positive tolerance, a
    // weight of the time levels in [0, 1], and a fixed relaxation factor
    // below 2 (above it the sweeps diverge and the heads become nan).
    RequireRange(MaxSweeps, 1, 1000000, "maxiter in ");
    RequireRange(Tolerance, 1e-15, 1e3, "maxerror_allowed in ");
    RequireRange(Alpha, 0, 1, "alpha in ");
    if (SorParameter > 0) RequireRange(SorParameter, 0, std::nextafter(2.0, 0.0), "sor-parameter in ");
    ReadValue(f, "%d", &GridReadCode, "grid read parameter in ", &LineBuffer);
    ReadValue(f, "%d", &Layers, "number of layers in ", &LineBuffer);
    // Without a layer there is nothing to solve and nothing to hand back.
    RequireRange(Layers, 1, 999, "number of layers in ");
    ReadTwoValues(f, "%d%d", &ControlRow, &ControlColumn, "control_row/column for control point fluxes in ",
                  &LineBuffer);
    ReadValue(f, "%s", &ControlPointFileName, "name of the control point file  ", &LineBuffer);
    AdaptiveRelaxation = SorParameter <= 0;
    PrefixDirectory(OutputDirectory, ControlPointFileName);
}

void gwflowclass::CheckControlPoint() {
    if (ControlRow < 0 || ControlRow > NRows) {
        if (Writer) {
            *Writer << "FATAL: in modul " << ModuleName << ":\n"
                    << "row index (" << ControlRow << ") for output-cell must be between " << 1 << " and " << NRows
                    << " (Input as row col) or 0 0 " << "[end-entry]";
        }
        throw 8;
    }
    // A control point in a row needs a column within the grid to be read.
    const int lowest = ControlRow >= 1 ? 1 : 0;
    if (ControlColumn < lowest || ControlColumn > NCols) {
        if (Writer) {
            *Writer << "FATAL: in modul " << ModuleName << ":\n"
                    << "column index (" << ControlColumn << ") for output-cell must be between " << 1 << " and "
                    << NCols << " (Input as row col) " << "[end-entry]";
        }
        throw 9;
    }
}

void gwflowclass::ReadPondFlag() {
    FILE* f = ControlFile;
    const long position = std::ftell(f);
    const int c = std::fgetc(f);
    if (c == '1' || c == '0') {
        UsePondFlag = c - '0';
        PondFlagPresent = true;
        ReadRestOfLine(f, &LineBuffer);
    } else {
        // No flag line: the line is the first layer's head file name.
        if (position < 0 || std::fseek(f, position, SEEK_SET) != 0) ControlFileError("Use-Pond-Flag in ", ModuleName);
        UsePondFlag = 0;
        PondFlagPresent = false;
    }
    const bool pondGrid = FindGrid("ponding_storage") > 0 || FindGrid("ponding_storage_top") > 0;
    PondsUsed = UsePondFlag == 1 && pondGrid;
    if (!Writer) return;
    *Writer << "INFO: in modul " << ModuleName;
    if (!PondFlagPresent) {
        *Writer << ": no POND-Grid will be used because Use-Pond-Flag is not present";
    } else if (UsePondFlag == 1 && pondGrid) {
        *Writer << ": Use-Pond-Flag is " << 1 << "\n POND-Grid was found --> PONDs will be used in GW-Model";
    } else if (UsePondFlag == 1) {
        *Writer << ": Use-Pond-Flag is " << 1 << "\n POND-Grid was not found --> no PONDs will be used in GW-Model";
    } else {
        *Writer << ": Use-Pond-Flag is " << 0 << "; --> no PONDs will be used in GW-Model";
    }
    *Writer << "[end-entry]";
}

void gwflowclass::ReadLayerLines() {
    const size_t n = static_cast<size_t>(Layers) + 1;
    HeadFileName.assign(n, "");
    OldHeadFileName.assign(n, "");
    FlowXFileName.assign(n, "");
    FlowYFileName.assign(n, "");
    BalanceFileName.assign(n, "");
    HeadWriteCode.assign(n, 0);
    FlowXWriteCode.assign(n, 0);
    FlowYWriteCode.assign(n, 0);
    BalanceWriteCode.assign(n, 0);
    FILE* f = ControlFile;
    for (size_t k = 1; k < n; ++k) {
        ReadValue(f, "%s", &HeadFileName[k], "name of grid with hydraulic heads in ", &LineBuffer);
        ReadValue(f, "%d", &HeadWriteCode[k], "Writegrid (hydraulic heads) in ", &LineBuffer);
        ReadValue(f, "%s", &FlowXFileName[k], "name of grid with x-transmissivities in ", &LineBuffer);
        ReadValue(f, "%d", &FlowXWriteCode[k], "Writegrid x-transmissivities in ", &LineBuffer);
        ReadValue(f, "%s", &FlowYFileName[k], "name of grid with y-transmissivities in ", &LineBuffer);
        ReadValue(f, "%d", &FlowYWriteCode[k], "Writegrid y-transmissivities in ", &LineBuffer);
        ReadValue(f, "%s", &BalanceFileName[k], "name of grid with balances in ", &LineBuffer);
        ReadValue(f, "%d", &BalanceWriteCode[k], "Writegrid balances in ", &LineBuffer);
        OldHeadFileName[k] = gwflow::OldHeadFileName(HeadFileName[k]);
    }
}

void gwflowclass::LookUpInputs() {
    Elevation = RequiredGrid("[elevation_model]");
    RequiredGrid("groundwater_recharge");
    Distance = RequiredGrid("groundwater_distance");
    SoilTypes = RequiredGrid("soil_types");
    BaseflowIndex = GetGridIndex("baseflow");
    BaseflowGrid = RequiredGrid("baseflow");
    if (RelCellArea) {
        CellSizeX = RequiredGrid("CellSizeX");
        CellSizeY = RequiredGrid("CellSizeY");
    }
    Glacier = OptionalGrid("GlacierizedCells");
    if (!Glacier) Glacier = OptionalGrid("ice_firn");
    const size_t n = static_cast<size_t>(Layers) + 1;
    for (auto* list : {&Thickness, &Kx, &Ky, &StorageCoeff, &FixedHead, &FixedInflow, &Kolmation})
        list->assign(n, nullptr);
    for (int k = 1; k <= Layers; ++k) {
        const std::string s = std::to_string(k);
        Thickness[k] = RequiredGrid("aquifer_thickness_" + s);
        Kx[k] = RequiredGrid("gw_k_x_" + s);
        Ky[k] = RequiredGrid("gw_k_y_" + s);
        StorageCoeff[k] = RequiredGrid("gw_storage_coeff_" + s);
        FixedHead[k] = RequiredGrid("gw_boundary_fix_h_" + s);
        FixedInflow[k] = RequiredGrid("gw_boundary_fix_q_" + s);
        if (k < Layers) Kolmation[k] = RequiredGrid("gw_kolmation_" + s);
    }
    if (FindGrid("PermafrostThawDepth") > 0 && FindGrid("SnowFreeDaysGrid") > 0 &&
        FindGrid("ThawCoeffPermaFrost") > 0) {
        Permafrost = OptionalGrid("PermafrostThawDepth");
    } else if (FindGrid("ThawDepthTMod") > 0) {
        FrozenFromThawModel = true;
        FrozenSoil = RequiredGrid("frozenSoilInGroundwater");
    }
    if (FindGrid("DirectRunoffSiltingUp") <= 0) SurfaceStorage = OptionalGrid("SurfStorSiltingUp");
    if (PondsUsed) {
        Ponding = OptionalGrid("ponding_storage");
        if (!Ponding) Ponding = OptionalGrid("ponding_storage_top");
    }
}

void gwflowclass::SetLayerOneThickness() {
    double** m = Thickness[1];
    for (int32_t r = 1; r <= NRows; ++r) {
        for (int32_t c = 1; c <= NCols; ++c) {
            if (!ModelCell(r, c)) continue;
            const double soil = SoilTypes[r][c];
            const int position = soil > NoData && soil >= 1 && soil <= Settings.SoilCount ? static_cast<int>(soil) : 0;
            // A soil-type position outside the table has no depth either.
            if (m[r][c] > NoData && position >= 1 && Settings.SoilTable) {
                m[r][c] = Settings.SoilTable[position].TotalDepth;
            } else {
                m[r][c] = NoData;
            }
        }
    }
}

double** gwflowclass::NewGrid() { return matrix(1, NRows, 1, NCols, NRows); }

double** gwflowclass::Register(double** grid, const std::string& fileName, const std::string& name, int writeCode,
                               int* index) {
    const int entry = FindFreeGridEntry(GridTable);
    OwnGrids.push_back({0, grid});
    StoreGrid(entry, fileName, grid, nullptr, 1, name, writeCode, 1, NRows);
    OwnGrids.back().Index = entry;
    if (index) *index = entry;
    return grid;
}

double gwflowclass::StartHeadOf(int32_t row, int32_t col) const {
    const double pond = Ponding ? Ponding[row][col] : 0.0;
    const double surface = SurfaceStorage ? SurfaceStorage[row][col] : 0.0;
    return gwflow::StartHead(Elevation[row][col], Distance[row][col], PondsUsed && Ponding, pond,
                             SurfaceStorage != nullptr, surface);
}

void gwflowclass::CreateGrids() {
    const size_t n = static_cast<size_t>(Layers) + 1;
    for (auto* list : {&Head, &HeadStart, &HeadPrevious, &HeadIterate, &TransX, &TransY, &FlowX, &FlowY, &Balance,
                       &Leak, &Top, &StoredWater, &ConductX, &ConductY})
        list->assign(n, nullptr);
    for (auto* list : {&HeadIndex, &HeadStartIndex, &FlowXIndex, &FlowYIndex, &BalanceIndex}) list->assign(n, 0);

    for (int k = 1; k <= Layers; ++k) {
        const std::string s = std::to_string(k);
        if (GridReadCode == 1) {
            double** h = nullptr;
            ReadGrid(HeadFileName[k], h, 0, true, true, 0, false);
            const statecheck::Range heads{-statecheck::MaxHeadM, statecheck::MaxHeadM};
            statecheck::CheckGrid(*this, statecheck::InputPath(*this, HeadFileName[k]), h, "groundwater head [m]",
                                  heads);
            Register(h, HeadFileName[k], "gw_head_" + s, HeadWriteCode[k], &HeadIndex[k]);
            double** hs = nullptr;
            ReadGrid(OldHeadFileName[k], hs, 0, true, true, 0, false);
            statecheck::CheckGrid(*this, statecheck::InputPath(*this, OldHeadFileName[k]), hs,
                                  "groundwater head [m]", heads);
            Register(hs, OldHeadFileName[k], "gw_head_old_" + s, HeadWriteCode[k], &HeadStartIndex[k]);
            Head[k] = h;
            HeadStart[k] = hs;
        } else {
            double** h = Register(NewGrid(), HeadFileName[k], "gw_head_" + s, HeadWriteCode[k], &HeadIndex[k]);
            double** hs =
                Register(NewGrid(), OldHeadFileName[k], "gw_head_old_" + s, HeadWriteCode[k], &HeadStartIndex[k]);
            for (int32_t r = 1; r <= NRows; ++r) {
                for (int32_t c = 1; c <= NCols; ++c) {
                    h[r][c] = hs[r][c] = ModelCell(r, c) ? StartHeadOf(r, c) : NoData;
                }
            }
            Head[k] = h;
            HeadStart[k] = hs;
        }
    }
    for (int k = 1; k <= Layers; ++k) {
        const std::string s = std::to_string(k);
        const std::string previous = "gw_head_old_old_" + s;
        HeadPrevious[k] = Register(NewGrid(), previous, previous, 0);
        HeadIterate[k] = Register(NewGrid(), previous, previous, 0);
        TransX[k] = Register(NewGrid(), "gw_transmissivity_x_" + s, "gw_transmissivity_x_" + s, 0);
        TransY[k] = Register(NewGrid(), "gw_transmissivity_y_" + s, "gw_transmissivity_y_" + s, 0);
        FlowX[k] = Register(NewGrid(), FlowXFileName[k], "gw_flow_x_" + s, FlowXWriteCode[k], &FlowXIndex[k]);
        FlowY[k] = Register(NewGrid(), FlowYFileName[k], "gw_flow_y_" + s, FlowYWriteCode[k], &FlowYIndex[k]);
        Balance[k] = Register(NewGrid(), BalanceFileName[k], "gw_balance" + s, BalanceWriteCode[k], &BalanceIndex[k]);
        Leak[k] = Register(NewGrid(), "gw_leakage_" + s, "gw_leakage_" + s, 0);
        Top[k] = Register(NewGrid(), "aquifer_upper_limit" + s, "aquifer_upper_limit" + s, 0);
        // Kept by the model alone, not in the grid table.
        StoredWater[k] = NewGrid();
        OwnGrids.push_back({0, StoredWater[k]});
        for (auto* list : {&ConductX, &ConductY}) {
            (*list)[k] = NewGrid();
            OwnGrids.push_back({0, (*list)[k]});
        }
        for (int32_t r = 1; r <= NRows; ++r) {
            for (int32_t c = 1; c <= NCols; ++c) {
                if (!ModelCell(r, c)) {
                    for (double** g : {HeadPrevious[k], HeadIterate[k], TransX[k], TransY[k], FlowX[k], FlowY[k],
                                       Balance[k], Leak[k], Top[k]})
                        g[r][c] = NoData;
                    StoredWater[k][r][c] = 0;
                    continue;
                }
                StoredWater[k][r][c] = 0;
                HeadPrevious[k][r][c] = HeadIterate[k][r][c] = Head[k][r][c];
                TransX[k][r][c] = (Thickness[k][r][c] + Distance[r][c]) * Kx[k][r][c];
                TransY[k][r][c] = (Thickness[k][r][c] + Distance[r][c]) * Ky[k][r][c];
                if (k == 1) {
                    Top[k][r][c] = Elevation[r][c];
                } else {
                    const double above = Top[k - 1][r][c], m = Thickness[k - 1][r][c];
                    Top[k][r][c] = above > NoData && m > NoData ? above - m : NoData;
                }
            }
        }
    }
}

void gwflowclass::CreateControlPointFile() {
    if (ControlRow <= 0) return;
    if (Regions && Regions[ControlRow][ControlColumn] != ProcessNumber) return;
    ControlCapacity = gwflow::ControlPointCapacity(Layers);
    const size_t perRecord = static_cast<size_t>(6 * Layers + 1);
    ControlValues.assign(static_cast<size_t>(ControlCapacity) * perRecord, 0.0);
    ControlRecords.assign(static_cast<size_t>(ControlCapacity) + 1, ControlPointRecord{});
    for (int64_t i = 1; i <= ControlCapacity; ++i)
        ControlRecords[static_cast<size_t>(i)].Values = ControlValues.data() + static_cast<size_t>(i - 1) * perRecord;
    ControlCount = 0;

    std::string header = Format("YY\tMM\tDD\tHH\tcontrol_point_fluxes[%d][%d]", ControlRow, ControlColumn);
    for (int lr = 1; lr <= Layers; ++lr) {
        header += Format("[lr: %d, 1]\t[lr: %d, 2]\t[lr: %d, 3]\t[lr: %d, 4]\t[lr: %d, up]\t[lr: %d, down]\t", lr, lr,
                         lr, lr, lr, lr);
    }
    header += "\n";
    FILE* f = std::fopen(ControlPointFileName.c_str(), "wt");
    bool ok = f != nullptr;
    if (ok) {
        ok = std::fwrite(header.data(), 1, header.size(), f) == header.size();
        ok = std::fclose(f) == 0 && ok;
    }
    if (!ok) {
        if (Writer) {
            *Writer << "FATAL: error opening file for gw-fluxes (single point) \n-> check disk space or user rights\n"
                    << "[end-entry]";
        }
        throw 62;
    }
}

void gwflowclass::InitLakes(const std::string& sectionName) {
    if (Method == 0) return;
    LakeCodes = OptionalGrid("lake_codes");
    if (!LakeCodes) {
        if (Writer) {
            *Writer << "INFO: no LAKE-grid was found in " << ModuleName << "\n"
                    << "Lake modelling is switched off for " << ModuleName << ".\n" << "[end-entry]";
        }
        return;
    }
    OpenControlFile();
    FindSection(sectionName, true);
    ReadValue(ControlFile, "%d", &LakeFlowControl, "flow control parameter for ", &LineBuffer);
    if (LakeFlowControl == 0) {
        CloseControlFile();
        return;
    }
    const std::string line = "\n\n=======================================\n";
    if (UsePondFlag == 0) {
        if (Writer) {
            *Writer << "FATAL: \n=======================================\n" << "!!!! ERROR !!!! \n\n"
                    << "Error in initialization method for " << sectionName << ".\n" << "pond_use must be set in "
                    << ModuleName << "\n" << "for using the " << sectionName << line << "[end-entry]";
        }
        throw 214;
    }
    ReadValue(ControlFile, "%d", &LakeInitMethod, "initialization method for ", &LineBuffer);
    const int closed = std::fclose(ControlFile);
    ControlFile = nullptr;
    if (closed != 0) {
        if (Writer) {
            *Writer << "FATAL: error closing " << ControlFilePath << "after reading initialization method for "
                    << sectionName << "[end-entry]";
        }
        throw 11;
    }
    if (FindGrid("ponding_storage") <= 0 && FindGrid("ponding_storage_top") <= 0) {
        if (Writer) {
            *Writer << "FATAL: \n=======================================\n" << "!!!! ERROR !!!! \n\n"
                    << "\nLAKE-grid was found, but no POND-Grid. For using lakes,"
                    << "\nboth grids must be present." << line << "[end-entry]";
        }
        throw 28;
    }
    if (LakeInitMethod != 1 && LakeInitMethod != 2) {
        if (Writer) {
            *Writer << "FATAL: \n=======================================\n" << "!!!! ERROR !!!! \n\n "
                    << "Error in initialization method for " << sectionName << ".\n"
                    << "Lake initialization method (" << LakeInitMethod << ") not valid.\n"
                    << "Allowed values are 1 (no change of grids) or 2 (adjust DEM, SLOPE, DRAIN).\n"
                    << "In either case, theta_soil will be set to saturation,\n"
                    << "if the cell is marked as lake and POND is > 0. Also, the groudwater level\n"
                    << "will be set to 0." << line << "[end-entry]";
        }
        throw 214;
    }
}

// --- Teardown ----------------------------------------------------------------

void gwflowclass::ReleaseAll() {
    ReleaseTracerStorage();
    for (OwnGrid& g : OwnGrids) {
        if (GridTable && g.Index > 0) ReleaseGrid(g.Index);
        free_matrix(g.Data, 1, NRows, 1, NCols);
    }
    OwnGrids.clear();
    for (auto* list : {&Head, &HeadStart, &HeadPrevious, &HeadIterate, &TransX, &TransY, &FlowX, &FlowY, &Balance,
                       &Leak, &Top, &StoredWater, &ConductX, &ConductY})
        list->clear();
    ControlRecords.clear();
    ControlValues.clear();
    ControlCapacity = 0;
    ControlCount = 0;
}

void gwflowclass::DeleteModule() {
    if (Deleted()) return;
    if (Method != 0) {
        if (ControlRow > 0 && Status == 1 && !ControlRecords.empty()) WriteControlPointFluxes();
        ReleaseAll();
    }
    RiverFlows = nullptr;
    Qg = nullptr;
    modelobject::DeleteModule();
}
