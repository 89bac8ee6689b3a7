// The lake settings of evapotranspiration: open-water albedo and roughness
// and the lake grids from "[lake_model]".

#include <cstdio>

#include "framework/diagnostics_writer.h"
#include "surface/etpetr.h"

void verdunstungsmodellklasse::InitLakes(const std::string& sectionName) {
    if (FindGrid("lake_codes") <= 0) {
        if (Writer) {
            *Writer << "INFO: no LAKE-grid was found in " << ModuleName << "\n"
                    << "Lake modelling is switched off for " << ModuleName << ".\n"
                    << "[end-entry]";
        }
        return;
    }
    OpenControlFile();
    FindSection(sectionName, true);
    FILE* f = ControlFile;
    ReadValue(f, "%d", &LakeSwitch, "flow control parameter for ", &LineBuffer);
    const bool responseUnits =
        FindGrid("HydrologicResponseUnits") > 0 && FindGrid("MasterHydrologicResponseUnits") > 0;
    if (responseUnits) {
        // Lakes are off for hydrologic response units.
        LakeSwitch = 0;
    } else if (LakeSwitch != 0) {
        ReadValue(f, "%d", &LakeInitMethod, "initialization method for ", &LineBuffer);
        ReadValue(f, "%lf", &OpenWaterAlbedo, "Albedo_OpenWater for ", &LineBuffer);
        ReadValue(f, "%lf", &OpenWaterRoughness, "z0_OpenWater for ", &LineBuffer);
        LakeCodes = RequiredGrid("lake_codes");
        if (FindGrid("ponding_storage") > 0) {
            Ponding = RequiredGrid("ponding_storage");
        } else if (FindGrid("ponding_storage_top") > 0) {
            Ponding = RequiredGrid("ponding_storage_top");
        } else {
            LakeCodes = nullptr;
            if (Writer) {
                *Writer << "FATAL: \n=======================================\n"
                        << "!!!! ERROR !!!! \n\n"
                        << "\nLAKE-grid was found, but no POND-Grid. For using lakes,"
                        << "\nboth grids as well as the MAXPOND grid must be present."
                        << "\n\n=======================================\n"
                        << "[end-entry]";
            }
            throw 28;
        }
        if (LakeInitMethod != 1 && LakeInitMethod != 2) {
            if (Writer) {
                *Writer << "FATAL: \n=======================================\n"
                        << "!!!! ERROR !!!! \n\n "
                        << "Error in initialization method for " << sectionName << ".\n"
                        << "Allowed values are 1 (no change of grids) or 2 (adjust DEM, SLOPE, DRAIN).\n"
                        << "In either case, theta_soil will be set to saturated, if the cell is marked as lake and "
                           "POND is > 0."
                        << "\n\n=======================================\n"
                        << "[end-entry]";
            }
            throw 211;
        }
    }
    const int closed = std::fclose(ControlFile);
    ControlFile = nullptr;
    if (closed != 0) {
        if (Writer) {
            *Writer << "FATAL: error closing " << ControlFilePath << "after reading initialization method for "
                    << sectionName << "[end-entry]";
        }
        throw 11;
    }
}
