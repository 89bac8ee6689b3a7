// Lakes in the soil model: cells marked in "lake_codes" (a code of 0 or
// above) start saturated with the groundwater table at the surface. With
// initialisation method 2 the lakes are also cut into the terrain: the
// elevation model is lowered by the lake depth ("max_ponding_storage", mm),
// and slope, drainage and irrigation are flattened in lake cells.

#include <cstdio>
#include <string>

#include "framework/diagnostics_writer.h"
#include "parameters/soil.h"
#include "soil/unsatzon.h"

namespace {

// Ponding above which a warm-started lake cell is taken as a lake again.
constexpr double Method1Ponding = 1.0;
constexpr double Method2Ponding = 0.3;

const char* const Rule = "\n\n=======================================\n";

}  // namespace

void unsatzonmodellklasse::InitLakes(const std::string& sectionName) {
    LakesActive = 0;
    LakeInitMethod = 0;
    LakeCodes = nullptr;
    if (FindGrid("lake_codes") <= 0) {
        if (Writer) {
            *Writer << "INFO: no LAKE-grid was found in " << ModuleName << "\n"
                    << "Lake modelling is switched off for " << ModuleName << "." << "[end-entry]";
        }
        return;
    }
    FILE* file = std::fopen(ControlFilePath.c_str(), "rt");
    if (!file) {
        if (Writer) *Writer << "FATAL: error opening " << ControlFilePath << "[end-entry]";
        throw 28;
    }
    int flag = 0, method = 0;
    {
        LentControlFile lent(*this, file);
        try {
            FindSection(sectionName, true);
            ReadValue(file, "%d", &flag, "flow control parameter for ", &LineBuffer);
            const bool responseUnits =
                FindGrid("HydrologicResponseUnits") > 0 || FindGrid("MasterHydrologicResponseUnits") > 0;
            if (responseUnits) flag = 0;
            if (flag != 0 && pondSwitch != 1) {
                if (Writer) {
                    *Writer << "ERROR:" << Rule << "!!!! ERROR !!!! \n\n"
                            << "Error in initialization method for " << sectionName << ".\n"
                            << "pond_use must be set in " << ModuleName << "\n"
                            << "for using the " << sectionName << Rule << "[end-entry]";
                }
                throw 215;
            }
            if (flag != 0) ReadValue(file, "%d", &method, "initialization method for ", &LineBuffer);
        } catch (...) {
            std::fclose(file);
            throw;
        }
    }
    if (std::fclose(file) != 0) {
        if (Writer) {
            *Writer << "FATAL: error closing " << ControlFilePath << "after reading initialization method for "
                    << sectionName << "[end-entry]";
        }
        throw 11;
    }
    if (flag == 0) return;
    if (method != 1 && method != 2) {
        if (Writer) {
            *Writer << "FATAL: " << Rule << "!!!! ERROR !!!! \n\n "
                    << "Error in initialization method for " << sectionName << ".\n"
                    << "Allowed values are 1 (no change of grids) or 2 (adjust DEM, SLOPE, DRAIN).\n"
                    << "In either case, theta_soil will be set to saturation,\n"
                    << "if the cell is marked as lake and POND is > 0. Also, the groudwater level\n"
                    << "will be set to 0." << Rule << "[end-entry]";
        }
        throw 215;
    }
    LakesActive = flag;
    LakeInitMethod = method;
    LakeCodes = RequiredGrid("lake_codes");
    double** irrigation = IrrigationAmounts ? IrrigationAmounts : OptionalGrid("irrigation_amounts");
    const double threshold = method == 1 ? Method1Ponding : Method2Ponding;
    const int L = maxLayers;
    for (int i = 1; i <= NRows; ++i) {
        for (int j = 1; j <= NCols; ++j) {
            if (!OwnModelCell(i, j) || !(LakeCodes[i][j] >= 0)) continue;
            const double pond = PondingStorage ? PondingStorage[i][j] : 0.0;
            const bool saturate = readgrid == 0 || (readgrid > 0 && pond > threshold);
            if (saturate) {
                if (method == 2) {
                    if (DrainageLevel) DrainageLevel[i][j] = -1;
                    SlopeAngle[i][j] = 0;
                    if (irrigation) irrigation[i][j] = 0;
                }
                GroundwaterDistance[i][j] = 0;
                GroundwaterLevel[i][j] = 1;
                if (L > 1) {
                    const SoilType& soil = CellSoil(i, j);
                    for (int l = 1; l <= L - 1; ++l) Theta[i][j][l] = soil.theta_sat[static_cast<size_t>(l)];
                }
            }
            if (method == 2 && MaxPonding) Elevation[i][j] -= MaxPonding[i][j] / 1000;
        }
    }
}
