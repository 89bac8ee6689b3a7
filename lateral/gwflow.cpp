#include "lateral/gwflow.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "framework/diagnostics_writer.h"
#include "framework/gridfiles.h"
#include "framework/gridtable.h"
#include "framework/parallel_rows.h"
#include "framework/signals.h"
#include "framework/zonalstatistic.h"
#include "lateral/gwflow_physics.h"
#include "parameters/soil.h"
#include "setup/tracer_ini.h"
#include "surface/glacier_share.h"

namespace {

constexpr const char* ModuleText = "groundwater_flow";

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, args);
    va_end(args);
    return text;
}

}  // namespace

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

bool gwflowclass::ModelCell(int32_t row, int32_t col) const {
    if (!ZoneGrid || ZoneGrid[row][col] == NoData) return false;
    return !Regions || Regions[row][col] == ProcessNumber;
}

double gwflowclass::GlacierOf(int32_t row, int32_t col) const { return GlacierShareOf(Glacier, row, col); }

double gwflowclass::WidthX(int32_t row, int32_t col) const { return CellSizeX ? CellSizeX[row][col] : CellSize; }
double gwflowclass::WidthY(int32_t row, int32_t col) const { return CellSizeY ? CellSizeY[row][col] : CellSize; }

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
                       &Leak, &Top})
        list->assign(n, nullptr);
    for (auto* list : {&HeadIndex, &HeadStartIndex, &FlowXIndex, &FlowYIndex, &BalanceIndex}) list->assign(n, 0);

    for (int k = 1; k <= Layers; ++k) {
        const std::string s = std::to_string(k);
        if (GridReadCode == 1) {
            double** h = nullptr;
            ReadGrid(HeadFileName[k], h, 0, true, true, 0, false);
            Register(h, HeadFileName[k], "gw_head_" + s, HeadWriteCode[k], &HeadIndex[k]);
            double** hs = nullptr;
            ReadGrid(OldHeadFileName[k], hs, 0, true, true, 0, false);
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
        for (int32_t r = 1; r <= NRows; ++r) {
            for (int32_t c = 1; c <= NCols; ++c) {
                if (!ModelCell(r, c)) {
                    for (double** g : {HeadPrevious[k], HeadIterate[k], TransX[k], TransY[k], FlowX[k], FlowY[k],
                                       Balance[k], Leak[k], Top[k]})
                        g[r][c] = NoData;
                    continue;
                }
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

// --- Tracers -------------------------------------------------------------

void gwflowclass::InitTracers(int* status, int n, TracerInfo* table, StatisticsTableEntry* statisticsTable,
                              int statisticsTableSize) {
    *status = 0;
    if (Method == 0 || n <= 0) return;
    try {
        TracerCount = n;
        Tracers = table;
        const size_t count = static_cast<size_t>(n) + 1;
        const size_t layers = static_cast<size_t>(Layers) + 1;
        DecayPerSubStep.assign(count, 1.0);
        Concentration.assign(count, std::vector<double**>(layers, nullptr));
        ConcentrationIndex.assign(count, std::vector<int>(layers, 0));
        TracerStatistics.assign(count, std::vector<zonalstatistic*>(layers, nullptr));
        TracerTemporary.assign(count, nullptr);
        for (int t = 1; t <= n; ++t) {
            TracerInfo& tracer = table[t];
            for (int k = 1; k <= Layers; ++k) {
                if (tracer.radioactive) {
                    // Kept here: the shared record is overwritten by later set-ups.
                    DecayPerSubStep[static_cast<size_t>(t)] =
                        gwflow::DecayFactor(TimeInterval, SubSteps, tracer.half_time);
                    tracer.decay_factor = DecayPerSubStep[static_cast<size_t>(t)];
                }
                auto own = std::make_unique<OwnStatistics>();
                const int zones = Subbasins.Records ? Subbasins.Count : 0;
                own->Zones.assign(static_cast<size_t>(zones) + 1, ZoneRecord{});
                for (int z = 0; z <= zones && Subbasins.Records; ++z) {
                    const ZoneRecord& source = Subbasins.Records[z];
                    ZoneRecord& copy = own->Zones[static_cast<size_t>(z)];
                    copy.zonenwert = source.zonenwert;
                    copy.rel = source.rel;
                    copy.RelCellSum = source.RelCellSum;
                }
                std::string fileName = Format("%s%.3s%.4s%.1d.%s", tracer.path.c_str(), tracer.name.c_str(),
                                              ModuleText, k, tracer.statext.c_str());
                int st = 0;
                own->Statistics = std::make_unique<zonalstatistic>(
                    &st, Writer, statisticsTable, statisticsTableSize, RelCellArea, NRows, NCols,
                    Subbasins.Records ? own->Zones.data() : nullptr, zones, tracer.statcode, 5, fileName,
                    Settings.DefaultOutputDirectory, Settings.OutputListCount, Settings.OutputListCodes);
                if (st != 0) throw st;
                own->Statistics->WriteHeader(
                    Format("tracer concentration for tracer %d in layer %d (%s) ", t, k, tracer.name.c_str()),
                    ModuleName);
                TracerStatistics[static_cast<size_t>(t)][static_cast<size_t>(k)] = own->Statistics.get();
                OwnStats.push_back(std::move(own));

                const int entry = FindFreeGridEntry(GridTable);
                if (entry == NoFreeGridEntry) {
                    if (Writer) *Writer << "FATAL: no free grid left " << 1000 << "[end-entry]";
                    throw 12;
                }
                const std::string name = Format("concstor_tracer_%d_layer_%d_%s", t, k, ModuleText);
                const std::string gridFile = Format("%s%.3s%.1d%.4s.%s", tracer.path.c_str(), tracer.name.c_str(), k,
                                                    ModuleText, tracer.gridext.c_str());
                double** grid = nullptr;
                if (GridReadCode == 1) {
                    ReadGrid(gridFile, grid, 0, true, true, 0, false);
                } else {
                    grid = NewGrid();
                    for (int32_t r = 1; r <= NRows; ++r) {
                        for (int32_t c = 1; c <= NCols; ++c) {
                            if (!ModelCell(r, c)) {
                                grid[r][c] = NoData;
                            } else if (tracer.evaporating) {
                                grid[r][c] = tracer.gwini;
                            } else {
                                grid[r][c] = Thickness[k][r][c] * StorageCoeff[k][r][c] * 1000 * tracer.gwini;
                            }
                        }
                    }
                }
                int index = 0;
                Register(grid, gridFile, name, tracer.gridcode, &index);
                Concentration[static_cast<size_t>(t)][static_cast<size_t>(k)] = grid;
                ConcentrationIndex[static_cast<size_t>(t)][static_cast<size_t>(k)] = index;
            }
            const std::string temporary = Format("concflux_tracer_%d_%s", t, ModuleText);
            if (FindFreeGridEntry(GridTable) == NoFreeGridEntry) {
                if (Writer) *Writer << "FATAL: no free grid left " << 1000 << "[end-entry]";
                throw 12;
            }
            TracerTemporary[static_cast<size_t>(t)] = Register(NewGrid(), temporary, temporary, 0);
        }
    } catch (int code) {
        *status = code;
    } catch (...) {
        *status = 103;
    }
}

void gwflowclass::ReleaseTracerStorage() {
    for (auto& s : OwnStats) {
        if (s->Statistics) s->Statistics->Close();
    }
    OwnStats.clear();
    TracerStatistics.clear();
    // The grids are among the owned grids; forget the views.
    Concentration.clear();
    ConcentrationIndex.clear();
    TracerTemporary.clear();
}

void gwflowclass::ReleaseTracers() {
    if (Method == 0) return;
    std::vector<double**> tracerGrids;
    for (auto& layers : Concentration)
        for (double** g : layers)
            if (g) tracerGrids.push_back(g);
    for (double** g : TracerTemporary)
        if (g) tracerGrids.push_back(g);
    ReleaseTracerStorage();
    for (auto it = OwnGrids.begin(); it != OwnGrids.end();) {
        if (std::find(tracerGrids.begin(), tracerGrids.end(), it->Data) != tracerGrids.end()) {
            if (GridTable && it->Index > 0) ReleaseGrid(it->Index);
            free_matrix(it->Data, 1, NRows, 1, NCols);
            it = OwnGrids.erase(it);
        } else {
            ++it;
        }
    }
    TracerCount = 0;
}

// --- Wiring and outputs ----------------------------------------------------

void gwflowclass::SetRiverflowTable(riverflow_table* table) {
    if (Method != 0) RiverFlows = table;
}

void gwflowclass::SetQg(RunoffTable qg) {
    if (Method != 0) Qg = qg;
}

void gwflowclass::SetSubSteps(int n) { SubSteps = n; }

void gwflowclass::BeginTimeStep(int64_t hour, int64_t day, int64_t month, int64_t year) {
    if (Method == 0) return;
    teilmodellklasse::RunTimeStep(hour, day, month, year);
}

int gwflowclass::RankOfZone(int32_t row, int32_t col) const {
    if (!Subbasins.CodeToRank) return 0;
    const int code = static_cast<int>(ZoneGrid[row][col]);
    // A code the subbasin table does not hold belongs to no subbasin.
    if (code < 0 || code > Subbasins.LargestCode) return 0;
    return Subbasins.CodeToRank[code];
}

void gwflowclass::WriteOutput(int64_t, int64_t, int64_t, int64_t) {
    if (Method == 0) return;
    if (BaseflowIndex > 0) WriteGridByCode(BaseflowIndex, true, false);
    for (int k = 1; k <= Layers; ++k) {
        WriteGridByCode(HeadIndex[k], true, false);
        WriteGridByCode(HeadStartIndex[k], true, false);
        WriteGridByCode(FlowXIndex[k], true, false);
        WriteGridByCode(FlowYIndex[k], true, false);
        WriteGridByCode(BalanceIndex[k], true, false);
    }
    if (TracerCount <= 0 || TracerStatistics.empty()) return;
    // The statistics describe the last sub-step: the mixed concentrations
    // of every balanced cell, per subbasin of its zone.
    for (int t = 1; t <= TracerCount; ++t) {
        for (int k = 1; k <= Layers; ++k) {
            WriteGridByCode(ConcentrationIndex[static_cast<size_t>(t)][static_cast<size_t>(k)], true, false);
            zonalstatistic* s = TracerStatistics[static_cast<size_t>(t)][static_cast<size_t>(k)];
            if (!s || !s->IsOn()) continue;
            s->ResetStep();
            double** conc = Concentration[static_cast<size_t>(t)][static_cast<size_t>(k)];
#pragma omp parallel for schedule(static) if (Parallel())
            for (int32_t r = 1; r <= NRows; ++r) {
                for (int32_t c = 1; c <= NCols; ++c) {
                    if (!ModelCell(r, c) || !(ZoneGrid[r][c] > NoData) || GlacierOf(r, c) >= 1) continue;
                    const int rank = RankOfZone(r, c);
                    if (rank < 1) continue;
                    s->AddToRow(r, c, rank, conc[r][c], 1.0);
                }
            }
            s->CloseStep(StepYear, StepMonth, StepDay, StepHour);
        }
    }
}

void gwflowclass::FlushOutputs() {
    if (Method == 0) return;
    for (auto& layers : TracerStatistics)
        for (zonalstatistic* s : layers)
            if (s && s->IsOn()) s->Flush();
    if (ControlRow > 0) WriteControlPointFluxes();
}

void gwflowclass::WriteControlPointFluxes() {
    if (ControlCount == 0) return;
    CtrlCIgnored quiet;
    const int64_t bytes = (48 * static_cast<int64_t>(Layers) + 40) * ControlCount;
    if (Writer) *Writer << "write " << ControlPointFileName;
    FILE* f = std::fopen(ControlPointFileName.c_str(), "a+");
    if (!f) {
        if (Writer) {
            *Writer << "[end-entry]";
            *Writer << "FATAL: error opening file " << ControlPointFileName << "[end-entry]";
        }
        throw 65;
    }
    bool ok = true;
    for (int64_t i = 1; i <= ControlCount && ok; ++i) {
        const ControlPointRecord& record = ControlRecords[static_cast<size_t>(i)];
        ok = std::fprintf(f, "%ld\t%ld\t%ld\t%ld", static_cast<long>(record.Year), static_cast<long>(record.Month),
                          static_cast<long>(record.Day), static_cast<long>(record.Hour)) > 0;
        for (int v = 1; v <= 6 * Layers && ok; ++v) ok = std::fprintf(f, "\t%g", record.Values[v]) > 0;
        ok = ok && std::fputc('\n', f) != EOF;
    }
    ok = std::fclose(f) == 0 && ok;
    if (!ok) {
        if (Writer) {
            *Writer << "[end-entry]";
            *Writer << "FATAL: error writing file " << ControlPointFileName << "[end-entry]";
        }
        throw 65;
    }
    if (Writer) *Writer << "(" << static_cast<long long>(bytes) << " of " << 2097152 << " buffer-bytes)" << "[end-entry]";
    ControlCount = 0;
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
                       &Leak, &Top})
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
