// The silting-up model's construction: its section of the control file, the
// minimum rain pause per subbasin, the method-3 expressions, its grids and
// statistics, the tracer links, flush and teardown.

#include "lateral/siltingup.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <climits>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/state_checks.h"
#include "framework/subbasin_groups.h"
#include "framework/zonalstatistic.h"
#include "parameters/multilayer_landuse.h"
#include "setup/tracer_ini.h"

namespace {

const char* const ErrorHead = "FATAL: \n-----------------error------------\n";

// One line of the file, its line feed included; false at the end of the file
// when nothing was read.
bool ReadLine(FILE* f, std::string& line) {
    line.clear();
    int c;
    while ((c = std::fgetc(f)) != EOF) {
        line.push_back(static_cast<char>(c));
        if (c == '\n') break;
    }
    return !line.empty();
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool OnlyBlanks(const std::string& text, size_t from) {
    for (size_t i = from; i < text.size(); ++i) {
        if (!IsBlank(text[i])) return false;
    }
    return true;
}

// The integer a line begins with (blanks before it allowed), as "%d" reads it.
bool LeadingInteger(const std::string& line, int* value) {
    size_t i = 0;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    size_t digits = i;
    if (digits < line.size() && (line[digits] == '+' || line[digits] == '-')) ++digits;
    if (digits >= line.size() || !std::isdigit(static_cast<unsigned char>(line[digits]))) return false;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(line.c_str() + i, &end, 10);
    if (errno != 0 || v < INT_MIN || v > INT_MAX) return false;
    *value = static_cast<int>(v);
    return true;
}

}  // namespace

const char* const siltingupclass::GroupHelp =
    "\npossible error by using the same parameters\nfor groups of subbasins:\nat least the first AND the last "
    "subbasin code have\nto be specified with all their parameters like this:\n(if the smallest code is 1 and the "
    "largest code is 8)\n1\t8\n3\t3\n8\t8\n14\t14\n0.4\t0.4\n0.01\t0.01\n0.1\t0.1\n..\t..\nThen, to all "
    "subcatchments with zone-codes ranging from 1 to 7 the \nparameters of subbasin 1 will be assigned!";

siltingupclass::siltingupclass(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                               int statisticsTableSize, const std::string& sectionName, const ModelSettings& settings,
                               MemoryGrid* gridTable)
    : teilmodellklasse(writer, sectionName, settings, gridTable, 1),
      StatisticsTable(statisticsTable),
      StatisticsTableSize(statisticsTableSize) {
    *status = 0;
    if (Method == 0) return;
    try {
        ConstructOrRelease([this] { Construct(); }, [this] { ReleaseAll(); });
    } catch (int code) {
        *status = code;
    } catch (...) {
        *status = 103;
    }
}

siltingupclass::~siltingupclass() { ReleaseAll(); }

void siltingupclass::Construct() {
    if (Writer) {
        *Writer << "file "
                << "siltingup"
                << ", compiled at " << __DATE__ << ", " << __TIME__ << "[end-entry]";
    }
    Regions = OptionalGrid("MPIRegions");
    RefuseChangingGlacier("Silting-Up");
    Elevation = RequiredGrid("[elevation_model]");
    LayerCount = VegetationLayerCount(Settings.MultilayerLanduseTable, Settings.MultilayerLanduseCount);
    Landuse.assign(static_cast<size_t>(LayerCount) + 1, nullptr);
    Coverage.assign(static_cast<size_t>(LayerCount) + 1, nullptr);
    for (int k = 1; k <= LayerCount; ++k) {
        Landuse[static_cast<size_t>(k)] = RequiredGrid("landuse" + std::to_string(k));
        Coverage[static_cast<size_t>(k)] = RequiredGrid("vegetation_coverage_degree" + std::to_string(k));
    }
    SoilTypes = RequiredGrid("soil_types");
    SurfaceStorage = RequiredGrid("SurfStorSiltingUp");
    IceShare = OptionalGrid("ice_firn");
    const int input = FindOneOfThreeGrids("throughfall0", "snowcover_outflow", "precipitation");
    WaterInput = RequiredGrid(GridTable[input].InternalName);
    if (FindGrid("HydrologicResponseUnits") > 0 && FindGrid("MasterHydrologicResponseUnits") > 0) {
        UnitGrid = RequiredGrid("HydrologicResponseUnits");
        MasterGrid = RequiredGrid("MasterHydrologicResponseUnits");
        HruMasters = FindHruMasterCells(MasterGrid, NRows, NCols, NoData);
    }

    ReadSection();
    const int closed = std::fclose(ControlFile);
    ControlFile = nullptr;
    if (closed != 0) {
        if (Writer) *Writer << "FATAL: error closing control file \"" << ControlFilePath << "\"" << "[end-entry]";
        throw 11;
    }
    CreateStatisticsAndGrids();
}

void siltingupclass::ReadSection() {
    ReadMethodAndStatistics();
    FILE* f = ControlFile;
    const char* names[GridCount] = {"silting-up-disposition-grid", "RAINPAUSE-grid", "EKIN-grid", "TSBB-grid",
                                    "QDSU-grid"};
    for (int g = 0; g < GridCount; ++g) {
        ReadValue(f, "%s", &GridFile[g], std::string("name of the ") + names[g] + ", ", &LineBuffer);
        ReadValue(f, "%d", &GridWrite[g], std::string("Writegrid for ") + names[g] + ", ", &LineBuffer);
    }
    ReadRainPauseTable();
    ReadValue(f, "%d", &ReadCode, "read control parameter for storage grids for ", &LineBuffer);
    ReadGridsCode = ReadCode;
    if (ComputationMethod == 2) {
        double* targets[8] = {&Parameters.A, &Parameters.B, &Parameters.C, &Parameters.D,
                              &Parameters.E, &Parameters.F, &Parameters.G, &Parameters.H};
        const char* descriptions[8] = {
            "parameter A for method 2 (I_0) ", "parameter B for method 2 (I_inf) ", "parameter C for method 2 (I_inf) ",
            "parameter D for method 2 (I_inf) ", "parameter E for method 2 (C_v) ", "parameter F for method 2 (C_v) ",
            "parameter G for method 2 (C_v) ",  "parameter H for method 2 (C_v) "};
        for (int k = 0; k < 8; ++k) ReadValue(f, "%lf", targets[k], descriptions[k], &LineBuffer);
    } else if (ComputationMethod == 3) {
        ReadExpressionBlock();
    }
}

// The optional method line, then the two statistics lines. A first line that
// does not begin with an integer is the SDISP line of method 1.
void siltingupclass::ReadMethodAndStatistics() {
    FILE* f = ControlFile;
    const std::string sdisp = "name of the statistics for silting disposition SDISP ";
    const std::string qdsu = "name of the statistics for direct runoff from silting up model (QDSU) ";
    std::string line;
    ReadLine(f, line);
    int method = 0;
    ComputationMethod = 1;
    if (LeadingInteger(line, &method)) {
        ComputationMethod = method;
        if (!ReadWord(f, &DispositionStatFile)) ControlFileError(sdisp, ModuleName);
        ReadValue(f, "%d", &DispositionStatCode, sdisp, &LineBuffer);
    } else {
        // The line already read holds the SDISP name and code.
        char* end = nullptr;
        size_t i = 0;
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
        size_t j = i;
        while (j < line.size() && !std::isspace(static_cast<unsigned char>(line[j]))) ++j;
        if (j == i) ControlFileError(sdisp, ModuleName);
        DispositionStatFile = line.substr(i, j - i);
        const std::string rest = line.substr(j);
        errno = 0;
        const long long code = std::strtoll(rest.c_str(), &end, 10);
        if (end == rest.c_str() || errno != 0 || code < INT_MIN || code > INT_MAX) ControlFileError(sdisp, ModuleName);
        DispositionStatCode = static_cast<int>(code);
    }
    if (!ReadWord(f, &RunoffStatFile)) ControlFileError(qdsu, ModuleName);
    ReadValue(f, "%d", &RunoffStatCode, qdsu, &LineBuffer);
}

// The minimum rain pause per subbasin, with the group rule of this model.
void siltingupclass::ReadRainPauseTable() {
    FILE* f = ControlFile;
    const int n = Settings.Zones ? Settings.ZoneCount : 0;
    const int largest = Settings.MaxZoneCode;
    const int smallest = n > 0 ? static_cast<int>(Settings.Zones[1].zonenwert) : 0;
    SubbasinGroupList list(Settings.ZoneRank, largest, n, smallest, GroupRule::SiltingUp);
    long long previous = 0;
    while (!list.Complete()) {
        long long code = 0;
        std::string text;
        const IntegerScan scan = ScanInteger(f, INT_MIN, INT_MAX, &code, &text);
        if (scan == IntegerScan::NoNumber) {
            if (Writer) {
                *Writer << ErrorHead << "error reading code[" << previous << "] for " << ModuleName << GroupHelp
                        << "[end-entry]";
            }
            throw 10;
        }
        if (scan == IntegerScan::OutOfRange || !list.Add(static_cast<int>(code))) {
            if (Writer) {
                *Writer << ErrorHead << "error! there is no code " << text << " (from " << ControlFilePath
                        << ") for a subbasin in " << ModuleName << GroupHelp << "[end-entry]";
            }
            throw 10;
        }
        previous = code;
        if (n == 0) break;
    }
    ReadRestOfLine(f, nullptr);
    ListedCodes = list.Marks();
    int failedRank = 0;
    auto next = [&](double* v) {
        std::string word;
        return ScanNumberWord(f, v, &word) == WordScan::Read && std::isfinite(*v);
    };
    if (!AssignGroupedValues(ListedCodes, MinimumRainPause, next, [](double v) { return v; }, &failedRank)) {
        if (Writer) {
            *Writer << ErrorHead << "error reading RainPause[" << static_cast<int>(Settings.Zones[failedRank].zonenwert)
                    << "] for " << ModuleName << " (minimum rainpause)" << GroupHelp << "[end-entry]";
        }
        throw 10;
    }
    ReadRestOfLine(f, nullptr);
}

// The block "SiltingUpExpressions { e1; e2; ... }" after the read code.
void siltingupclass::ReadExpressionBlock() {
    FILE* f = ControlFile;
    const std::string keyword = "SiltingUpExpressions";
    Expressions.clear();
    bool found = false;
    std::string line;
    while (!found) {
        const bool read = ReadLine(f, line);
        if (read && line.compare(0, keyword.size(), keyword) == 0) {
            std::string text = line.substr(keyword.size());
            std::string last = text;
            while (text.find('{') == std::string::npos && OnlyBlanks(last, 0)) {
                if (!ReadLine(f, last)) break;
                text += last;
            }
            const size_t open = text.find('{');
            if (open == std::string::npos) {
                if (Writer) {
                    *Writer << "FATAL: error looking for opening bracket \"{\" after \"SiltingUpExpressions\" in "
                               "control file \""
                            << ControlFilePath << "\"" << "[end-entry]";
                }
                throw 400;
            }
            while (text.find('}', open) == std::string::npos) {
                if (!ReadLine(f, last)) {
                    if (Writer) {
                        *Writer << "FATAL: error looking for closing bracket \"}\" after \"SiltingUpExpressions\" "
                                   "in control file \""
                                << ControlFilePath << "\"" << "[end-entry]";
                    }
                    throw 401;
                }
                text += last;
            }
            std::string body = text.substr(open + 1, text.find('}', open) - open - 1);
            if (body.find(';') != std::string::npos) {
                body += ' ';
                for (;;) {
                    size_t start = 0;
                    while (start < body.size() && IsBlank(body[start])) ++start;
                    const size_t semicolon = body.find(';', start);
                    if (semicolon == std::string::npos) break;
                    std::string piece;
                    for (size_t i = start; i < semicolon; ++i) {
                        if (!IsBlank(body[i])) piece.push_back(body[i]);
                    }
                    Expressions.push_back(piece);
                    body.erase(0, semicolon + 1);
                }
                found = true;
            }
        }
        if (found) break;
        if (!read || line.find('\n', 1) == std::string::npos) {
            if (Writer) {
                *Writer << "FATAL: no SiltingUpExpressios found (at least X, Y and Z must be initialized) in control "
                           "file \""
                        << ControlFilePath << "\"" << "[end-entry]";
            }
            throw 402;
        }
    }
    // The second batch starts with the first assignment to V: the name V
    // (either case) and a lone "=" at the start of the expression, whose
    // blanks are gone. "DEV=3" or "V==3" assign no V.
    SecondBatch = Expressions.size();
    for (size_t k = 0; k < Expressions.size(); ++k) {
        if (AssignsV(Expressions[k])) {
            SecondBatch = k;
            break;
        }
    }
}

zonalstatistic* siltingupclass::CreateStatistics(const std::string& fileName, int code, const std::string& header) {
    const int zoneCount = Settings.Zones ? Settings.ZoneCount : 0;
    return CreateOwnedStatistics(ZoneKeys(Settings.Zones, zoneCount), zoneCount, StatisticsTable, StatisticsTableSize,
                                 code, 4, fileName, Settings.DefaultOutputDirectory, header, ModuleName);
}

void siltingupclass::NoFreeGrid() {
    if (Writer) {
        *Writer << "FATAL: no free grid left, allowed number of grids is (contact the author)" << 1000 << "!"
                << "[end-entry]";
    }
    throw 12;
}

double** siltingupclass::CreateGrid(int entry, GridId id, const char* internalName, bool read) {
    if (entry < FirstGridIndex || entry > LastGridIndex) NoFreeGrid();
    double** grid = nullptr;
    if (read) {
        ReadGrid(GridFile[id], grid, 0, true, true, 0, false);
        // The state of a warm start: none of the four can be negative.
        static const char* const what[GridCount] = {"disposition", "rain pause", "kinetic energy [J/m2]",
                                                    "time since the last tillage", "direct runoff [mm]"};
        const double top = id == KineticEnergy ? statecheck::MaxKineticEnergy : statecheck::MaxWaterMm;
        statecheck::CheckGrid(*this, statecheck::InputPath(*this, GridFile[id]), grid, what[id], {0, top});
    } else {
        grid = matrix(1, NRows, 1, NCols, NRows);
        for (int32_t i = 1; i <= NRows; ++i) {
            for (int32_t j = 1; j <= NCols; ++j) grid[i][j] = ZoneGrid[i][j] == NoData ? NoData : 0.0;
        }
    }
    OwnData[id] = grid;
    StoreGrid(entry, GridFile[id], grid, nullptr, 1, internalName, GridWrite[id], 1, NRows);
    Grids[id] = grid;
    GridIndex[id] = entry;
    return grid;
}

void siltingupclass::CreateStatisticsAndGrids() {
    DispositionStatistics = CreateStatistics(DispositionStatFile, DispositionStatCode, "Silting_up_disposition_");
    RunoffStatistics = CreateStatistics(RunoffStatFile, RunoffStatCode, "Direct_Discharge_Silting_Up");
    const char* internal[GridCount] = {"SiltingUpDisposition", "RainPause", "KineticEnergy",
                                       "TimeSinceLastSoilTillage", "DirectRunoffSiltingUp"};
    int entry = FindFreeGridEntry(GridTable);
    if (entry < FirstGridIndex || entry > LastGridIndex) NoFreeGrid();
    for (int g = 0; g < GridCount; ++g) {
        if (g > 0) entry = FindFreeGridEntry(GridTable, entry + 1);
        CreateGrid(entry, static_cast<GridId>(g), internal[g], ReadCode == 1 && g != DirectRunoff);
    }
}

void siltingupclass::InitTracers(int* status, int n, TracerInfo* table, StatisticsTableEntry* statisticsTable,
                                 int statisticsTableSize) {
    *status = 0;
    if (Method == 0) return;
    try {
        teilmodellklasse::InitTracers(status, n, table, statisticsTable, statisticsTableSize);
        if (*status != 0) throw *status;
        TracerInput.assign(static_cast<size_t>(std::max(n, 0)) + 1, nullptr);
        TracerDecay.assign(static_cast<size_t>(std::max(n, 0)) + 1, 1.0);
        for (int i = 1; i <= n; ++i) {
            auto name = [i](const char* module) {
                char text[96];
                std::snprintf(text, sizeof text, "concflux_tracer_%1d_%s", i, module);
                return std::string(text);
            };
            const int index = FindOneOfFourGrids(name("interception_model"), name("snow_model"), name("irrigation"),
                                                 name("input"));
            TracerInput[static_cast<size_t>(i)] = RequiredGrid(GridTable[index].InternalName);
            // This model's own factor, kept before a later set-up overwrites
            // the shared record.
            if (table[i].radioactive) TracerDecay[static_cast<size_t>(i)] = table[i].decay_factor;
        }
    } catch (int code) {
        *status = code;
    } catch (...) {
        *status = 103;
    }
    // A failed set-up leaves no tracer grids behind.
    if (*status != 0) teilmodellklasse::ReleaseTracers();
}

void siltingupclass::ReleaseTracers() {
    if (Method != 0) teilmodellklasse::ReleaseTracers();
}

void siltingupclass::FlushStatistics() {
    if (Method == 0) return;
    for (zonalstatistic* s : {DispositionStatistics, RunoffStatistics}) {
        if (s && s->IsOn()) s->Flush();
    }
    for (int n = 1; n <= TracerCount && static_cast<size_t>(n) < TracerStorage.size(); ++n) {
        zonalstatistic* s = TracerStorage[static_cast<size_t>(n)].Statistics.get();
        if (s && s->IsOn()) s->Flush();
    }
}

void siltingupclass::ReleaseAll() {
    ReleaseOwnedStatistics();
    DispositionStatistics = RunoffStatistics = nullptr;
    for (int g = 0; g < GridCount; ++g) {
        if (GridTable && GridIndex[g] > 0) ReleaseGrid(GridIndex[g]);
        GridIndex[g] = 0;
        free_matrix(OwnData[g], 1, NRows, 1, NCols);
        OwnData[g] = nullptr;
        Grids[g] = nullptr;
    }
    MinimumRainPause.clear();
    ListedCodes.clear();
    Expressions.clear();
    Landuse.clear();
    Coverage.clear();
}

void siltingupclass::DeleteModule() {
    if (Deleted()) return;
    if (Method != 0) ReleaseAll();
    modelobject::DeleteModule();
}

bool AssignsV(std::string_view expression) {
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    auto isOperator = [](char c) { return std::string_view("&|<>=+/*%^!").find(c) != std::string_view::npos; };
    size_t at = 0;
    while (at < expression.size() && blank(expression[at])) ++at;
    if (at >= expression.size() || (expression[at] != 'V' && expression[at] != 'v')) return false;
    ++at;
    while (at < expression.size() && blank(expression[at])) ++at;
    if (at >= expression.size() || expression[at] != '=') return false;
    ++at;
    return at >= expression.size() || !isOperator(expression[at]);
}
