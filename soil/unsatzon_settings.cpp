// The soil model's control-file sections: "[unsatzon_model]" line by line,
// "[heat_transfer]", "[unsatzon_tuning]" and "[permafrost]", and the thermal
// tables of the soil table when heat is modelled.

#include <cstdlib>
#include <cstring>

#include "framework/diagnostics_writer.h"
#include "framework/gridfiles.h"
#include "framework/gridtable.h"
#include "parameters/soil.h"
#include "soil/unsatzon.h"

namespace {

const char* const StatisticsDescriptions[unsatzonmodellklasse::StatisticsLines] = {
    "name of the QDRAINstatfiles in ", "name of the GWSTANDstatfiles in ", "name of the GWNstatfiles in ",
    "name of the SB_1_statfiles in ",  "name of the SB_2_statfiles in ",   "name of the ROOTstatfiles in ",
    "name of the INFEXstatfiles in ",  "name of the PONDstatfiles in ",    "name of the QDstatfiles in ",
    "name of the QIstatfiles in ",     "name of the QBstatfiles in ",      "name of the Qgstatfiles in ",
    "name of the GWINstatfiles in ",   "name of the GWEXstatfiles in ",    "name of the MACROstatfiles in ",
    "name of the INFILTstatfiles in "};

const char* const GridDescriptions[25][2] = {
    {"", ""},
    {"name of the SB05-Grids in ", "Writegrid SB05-Grid in   "},
    {"name of the SB1_-Grids in ", "Writegrid SB1_-Grid in   "},
    {"name of the WURZ-Grids in ", "Writegrid WURZ-Grid in   "},
    {"name of the Theta_stacks in ", "Writecode Theta in "},
    {"name of the hh-stacks in ", "Writecode hh in "},
    {"name of the hgeo-stacks in ", "Writecode hgeo  in "},
    {"name of the q_unten-stacks in ", "Writecode qunten in "},
    {"name of the GWSTAND-Grids in ", "Writegrid GWSTAND-Grid in   "},
    {"name of the GWtheta-Grids in ", "Writegrid GWtheta-Grid in   "},
    {"name of the GWN-Grids in ", "Writegrid GWN-Grid in   "},
    {"name of the GWLEVEL-Grids in ", "Writegrid GWLEVEL-Grid in   "},
    {"name of the QDRAIN-Grids in ", "Writegrid QDRAIN-Grid in   "},
    {"name of the saturation grid in ", "Writegrid Satt-Merker in "},
    {"name of the infiltration excess grid in ", "Writegrid INFEX in "},
    {"name of the QD-Grids in ", "Writegrid QD-Grid in   "},
    {"name of the QI-Grids in ", "Writegrid QI-Grid in   "},
    {"name of the DELTAGW-Grids in ", "Writegrid DELTAGW-Grid in   "},
    {"name of the GWIN-Grids in ", "Writegrid GWIN-Grid in   "},
    {"name of the GWEX-Grids in ", "Writegrid GWEX-Grid in   "},
    {"name of the POND-Grids in ", "Writegrid POND-Grid in   "},
    {"name of the GWN-Uprise-Grids in ", "Writegrid GWN-Uprise-Grid in   "},
    {"name of the GWN-PERCOL-Grids in ", "Writegrid GWN-PERCOL-Grid in   "},
    {"name of MACROPORE-Infiltration-Grids for ", "Writegrid MACROPORE-Infiltration-Grid in   "},
    {"name of the IRRIG-Grids in ", "Writegrid IRRIG-Grid in   "}};

const char* const PointDescriptions[unsatzonmodellklasse::PointFiles] = {
    "Name of the Qbottom-file in ",   "Name of the Theta-file in ",      "Name of the hhyd-file in ",
    "Name of the Otherdata file in ", "Name of the etr-detail file in ", "Name of the interflow file in "};

}  // namespace

void unsatzonmodellklasse::ReadModelSection() {
    FILE* f = ControlFile;
    auto integer = [&](int& target, const char* description) {
        ReadValue(f, "%d", &target, description, &LineBuffer);
    };
    auto real = [&](double& target, const char* description) {
        ReadValue(f, "%lf", &target, description, &LineBuffer);
    };
    auto nameAndCode = [&](NamedCode& target, const char* description) {
        if (!ReadWord(f, &target.Name)) ControlFileError(description, ModuleName);
        ReadValue(f, "%d", &target.Code, description, &LineBuffer);
    };

    integer(solverMethod, " methode of ");
    integer(surfaceWaterInteraction, " surface water interaction parameter of ");
    integer(pondSwitch, " pond parameter of ");
    integer(drainageSwitch, " drainage parameter of ");
    integer(claySwitch, " clay parameter ");
    ReadValueInRange(f, &ksatClay, 0, 1, " k_sat. for clay  ", &LineBuffer);
    real(ini_gw_level, " ini_gw_level  ");
    // The cold start divides the layer count by it.
    if (!(ini_gw_level > 0)) ControlFileError(" ini_gw_level  ", ModuleName);
    for (int i = 0; i < StatisticsLines; ++i) nameAndCode(StatisticsFiles[i], StatisticsDescriptions[i]);
    for (int k = 1; k <= 24; ++k) {
        ReadValue(f, "%s", &GridFiles[k].Name, GridDescriptions[k][0], &LineBuffer);
        integer(GridFiles[k].Code, GridDescriptions[k][1]);
    }
    ReadTwoValues(f, "%d%d", &controlRow, &controlColumn, "control_row/column for control point in ", &LineBuffer);
    for (int i = 0; i < PointFiles; ++i) {
        ReadValue(f, "%s", &PointFileNames[i], PointDescriptions[i], &LineBuffer);
        PrefixDirectory(OutputDirectory, PointFileNames[i]);
    }

    const auto pointError = [&](const char* what, int value, int limit, const char* tail, int code) {
        if (Writer) {
            *Writer << "FATAL: in modul " << ModuleName << ":\n"
                    << what << " index (" << value << ") for output-cell must be between " << 1 << " and " << limit
                    << tail << "[end-entry]";
        }
        throw code;
    };
    if (controlRow < 0 || controlRow > NRows) pointError("row", controlRow, NRows, " (Input as row col) or 0 0 ", 8);
    // A control row needs a column of the grid: the grids count from 1.
    const int lowestColumn = controlRow > 0 ? 1 : 0;
    if (controlColumn < lowestColumn || controlColumn > NCols)
        pointError("column", controlColumn, NCols, " (Input as row col) ", 9);
    if (solverMethod != 2 && solverMethod != 3) {
        if (Writer) {
            *Writer << "FATAL: in modul " << ModuleName << ":\n"
                    << "invalid method (" << solverMethod << ")\n"
                    << "possible values are:\n 2 for Finite Differences with fixed timestep\n 3 for Finite "
                       "Differences with dynamically calculated timestep\n"
                    << "[end-entry]";
        }
        throw 91;
    }
}

void unsatzonmodellklasse::CloseSectionFile() {
    if (!ControlFile) return;
    const int closed = std::fclose(ControlFile);
    ControlFile = nullptr;
    if (closed != 0) {
        if (Writer) {
            *Writer << "FATAL: control file " << "\"" << ControlFilePath << "\"" << " cannot be closed"
                    << "[end-entry]";
        }
        throw 11;
    }
}

void unsatzonmodellklasse::ReopenControlFile() {
    CloseSectionFile();
    ControlFile = std::fopen(ControlFilePath.c_str(), "r");
    if (!ControlFile) {
        if (Writer) *Writer << "FATAL: error opening " << ControlFilePath << "[end-entry]";
        throw 28;
    }
}

void unsatzonmodellklasse::ReadHeatSection() {
    if (!FindSection("[heat_transfer]", false)) return;
    FILE* f = ControlFile;
    auto integer = [&](int& target, const char* description) {
        ReadValue(f, "%d", &target, description, &LineBuffer);
    };
    integer(heatTransferSwitch, "");
    if (heatTransferSwitch <= 0) return;
    integer(heatMethod, " method of heat transfer modelling ");
    int unused = 0;
    integer(unused, "");
    integer(unused, "");
    // Each value within its physical range: temperatures [degC], a lapse rate
    // [K/m], heat capacities [J/(kg K)], densities [kg/m3], conductivities
    // [W/(m K)] and the latent heat [J/kg] above 0, steps [s] above 0.
    auto ranged = [&](double& target, double lowest, double highest, const char* description) {
        ReadValueInRange(f, &target, lowest, highest, description, &LineBuffer);
    };
    constexpr double Positive = 1e-300;
    ranged(dTModLowBoundBase, -100, 100, " dTModLowBoundBase ");
    ranged(dTModLapseRate, -0.1, 0.1, " dTModLapseRate ");
    ranged(dTModCDrySoil, Positive, 1e5, " dTModCDrySoil ");
    ranged(dTModRhoDrySoil, Positive, 1e5, " dTModRhoDrySoil ");
    ranged(dTModLamDrySoil, Positive, 1e3, " dTModLamDrySoil ");
    ranged(dTModKmin, 0, 1, " dTModKmin ");
    ranged(dTModLamWat, Positive, 1e3, " dTModLamWat ");
    ranged(dTModLamIce, Positive, 1e3, " dTModLamIce ");
    ranged(dTModCWater, Positive, 1e5, " dTModCWater ");
    ranged(dTModCIce20, Positive, 1e5, " dTModCIce20 ");
    ranged(dTModCIce0, Positive, 1e5, " dTModCIce0 ");
    ranged(dTModLatHeat, Positive, 1e7, " dTModLatHeat ");
    ranged(dTModRhoWater, Positive, 1e5, " dTModRhoWater ");
    ranged(dTModFactor, Positive, 1e3, " dTModFactor ");
    ranged(dTModSEForStat, 0, 1e3, " dTModSEForStat ");
    // The heat step divides the model step by these: they must be positive.
    ranged(dTModShortestStep, Positive, 1e7, " dTModShortestStep ");
    ranged(dTModLongestStep, Positive, 1e7, " dTModLongestStep ");
    ranged(dTModNFactorFreezing, 0, 10, " dTModNFactorFreezing ");
    ranged(dTModNFactorThawing, 0, 10, " dTModNFactorThawing ");
    ReadValue(f, "%s", &TemperatureFileName, "Name of the temperature-file in ", &LineBuffer);
    PrefixDirectory(OutputDirectory, TemperatureFileName);
    if (!ReadWord(f, &TemperatureStatistics.Name)) ControlFileError("name of the temperstatfiles in ", ModuleName);
    integer(TemperatureStatistics.Code, "name of the temperstatfiles in ");
    ReadValue(f, "%s", &TemperatureStack.Name, "name of the temper-stacks in ", &LineBuffer);
    integer(TemperatureStack.Code, "Writecode temper in ");
    ReadValue(f, "%s", &ThawDepthGrid.Name, "name of the thawdepth-grid (heat-tr.mod.) in ", &LineBuffer);
    integer(ThawDepthGrid.Code, "Writecode thawdepth (heat-tr.mod.) in ");
}

void ReadTuningLines(FILE* stream, double* maxError, double* maxIterations) {
    std::string line;
    for (;;) {
        line.clear();
        int c;
        while ((c = std::fgetc(stream)) != EOF && c != '\n') line.push_back(static_cast<char>(c));
        if (c == EOF) return;  // end of file, or a last line without newline
        const size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos) return;  // an empty or blank line
        line.erase(0, first);
        double* target = nullptr;
        if (line.find("max_error") != std::string::npos) {
            target = maxError;
        } else if (line.find("max_iterations") != std::string::npos) {
            target = maxIterations;
        }
        if (!target) continue;
        const size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        const char* begin = line.c_str() + equals + 1;
        char* end = nullptr;
        const double value = std::strtod(begin, &end);
        if (end != begin) *target = value;
    }
}

void unsatzonmodellklasse::ReadTuningSection() {
    if (!FindSection("[unsatzon_tuning]", false)) return;
    ReadTuningLines(ControlFile, &max_error, &max_iterations);
    // The solver iterates to this error in at most so many passes (below 0
    // it never reaches it and always takes them all).
    RequireRange(max_error, -1e6, 1e6, "max_error in [unsatzon_tuning]");
    RequireRange(max_iterations, 1, 1e7, "max_iterations in [unsatzon_tuning]");
}

void unsatzonmodellklasse::ReadPermafrostSection() {
    if (heatTransferSwitch != 0) return;
    const int thaw = FindGrid("PermafrostThawDepth");
    if (thaw <= 0 || FindGrid("SnowFreeDaysGrid") <= 0 || FindGrid("ThawCoeffPermaFrost") <= 0) return;
    PermafrostThawDepth = GridTable[thaw].Data;
    ReopenControlFile();
    FindSection("[permafrost]", true);
    FILE* f = ControlFile;
    // The first four lines are the snow model's; they must still read.
    int integer = 0;
    double number = 0;
    std::string name;
    ReadValue(f, "%d", &integer, "permafrost switch in [permafrost]", &LineBuffer);
    ReadValue(f, "%lf", &number, "first permafrost parameter in [permafrost]", &LineBuffer);
    ReadValue(f, "%lf", &number, "second permafrost parameter in [permafrost]", &LineBuffer);
    if (!ReadWord(f, &name)) ControlFileError("permafrost grid name in [permafrost]", ModuleName);
    ReadValue(f, "%d", &integer, "permafrost grid name in [permafrost]", &LineBuffer);
    ReadValue(f, "%lf", &reducedKsatPermafrost, "reduced k_sat (in m/s)", &LineBuffer);
    CloseSectionFile();
}

void unsatzonmodellklasse::PrepareThermalTables() {
    for (int t = 1; t <= Settings.SoilCount; ++t) {
        SoilType& soil = soilTypes[t];
        for (int l = 0; l <= soil.LayerCount; ++l) {
            if (soil.DryDensity[l] < 0) soil.DryDensity[l] = dTModRhoDrySoil;
            if (soil.DryHeatCapacity[l] < 0) soil.DryHeatCapacity[l] = dTModCDrySoil;
            if (soil.DryThermalConduct[l] < 0) soil.DryThermalConduct[l] = dTModLamDrySoil;
        }
        if (soil.KMinFrozenSoil < 0) soil.KMinFrozenSoil = dTModKmin;
        for (int l = 0; l <= soil.LayerCount; ++l) soil.MakeFreezingTables(l, dTModFactor);
        soil.PrepareConductivityPowers(dTModLamWat);
    }
}
