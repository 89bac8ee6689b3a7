#include "support/model_fixture.h"

#include <filesystem>

namespace testsupport {

namespace {
const char* const SubModelSections[] = {"radiation_correction", "RegionalSuperposition", "evapotranspiration",
                                        "snow_model",           "interception_model",    "SiltingUpModel",
                                        "unsatzon_model",       "SurfaceRoutingModel",   "irrigation",
                                        "groundwater_flow",     "routing_model",         "special_output"};
}

std::string ModelFiles::ControlText() const {
    std::string text =
        "[output_interval]\n24\n" + std::to_string(SearchRadiusWarning) +
        "\n1\n0\nWriteAsciiGrids = 1\nInitialStateDirectory = input/\n"
        "DefaultOutputDirectory = output/\n\n"
        "[output_list]\n0\n[coordinates]\n47.5\n8.25\n15\n1\n" +
        MeteoInputs + "\n[model_time]\n" + ModelTime +
        "[zone_grid]\nzones.asc\n[elevation_model]\ndem.asc\n[standard_grids]\n" + StandardGrids +
        "[variable_grids]\n0\n[multilayer_landuse]\n0\n[landuse_table]\n0\n[soil_table]\n0\n"
        "[irrigation_table]\n0\n[substance_transport]\n0\n[region_transition_distance]\n500\n"
        "[precipitation_correction]\n" + PrecipitationCorrection +
        Extra;
    for (const char* section : SubModelSections) {
        const auto it = Methods.find(section);
        const int method = it == Methods.end() ? 0 : it->second;
        if (method < 0) continue;
        text += std::string("[") + section + "]\n" + std::to_string(method) + "\n1440\n";
        const auto body = SectionBodies.find(section);
        // A superposition without a body of its own has no entities.
        if (std::string(section) == "RegionalSuperposition" && method != 0 && body == SectionBodies.end())
            text += "NumberOfEntities = 0;\n";
        if (body != SectionBodies.end()) text += body->second;
        // A routing without a body of its own has no routing descriptions.
        if (std::string(section) == "routing_model" && method != 0 && body == SectionBodies.end())
            text += "1 1000 10 2\nQ.sta 0\nnone\n0\n0\n\n";
    }
    return text;
}

std::string ModelFiles::Write(const TempDir& dir) const {
    std::filesystem::create_directories(dir.file("input"));
    std::filesystem::create_directories(dir.file("output"));
    WriteFile(dir.file("input/zones.asc"), ZoneGrid);
    WriteFile(dir.file("input/dem.asc"), Elevation);
    for (const auto& [name, content] : InputFiles) WriteFile(dir.file("input/" + name), content);
    WriteFile(dir.file("model.ctl"), ControlText());
    return "model.ctl";
}

}  // namespace testsupport
