#pragma once
// A small but complete model run for end-to-end tests: a zone grid with two
// subbasins, an elevation model and a control file with every section, every
// sub-model off unless a test switches it on.

#include <map>
#include <string>

#include "support/test_support.h"

namespace testsupport {

struct ModelFiles {
    // Sub-model sections and their method (0 = off); a negative method leaves
    // the section out.
    std::map<std::string, int> Methods;
    // Text inserted before the sub-model sections (extra sections).
    std::string Extra;
    // Text following the method and interval lines of a sub-model section.
    // Without one, an active "RegionalSuperposition" gets "NumberOfEntities = 0;".
    std::map<std::string, std::string> SectionBodies;
    // Further files written into "input/", by name.
    std::map<std::string, std::string> InputFiles;
    // The standard grids section body (count line and grid lines).
    std::string StandardGrids = "1\ndem.asc elevation 0 writecode = 1 statfile = elevation.sta statcode = 2001\n";
    std::string ModelTime = "24\n1\n1\n2020\n24\n10\n1\n2020\n";
    // The warnings switch of the meteorological inputs ("[output_interval]").
    int SearchRadiusWarning = 0;
    std::string MeteoInputs = "[meteo_data_count]\n0\n[meteo_names]\n";
    // The "[precipitation_correction]" section body: do_it, threshold
    // temperature, rain constant and slope, snow constant and slope.
    std::string PrecipitationCorrection = "0\n0\n1\n0\n1\n0\n";
    std::string ZoneGrid =
        "ncols 4\nnrows 3\nxllcorner 1000\nyllcorner 2000\ncellsize 100\nnodata_value -9999\n"
        "-9999 1 1 2\n1 1 2 2\n-9999 1 2 -9999\n";
    std::string Elevation =
        "ncols 4\nnrows 3\nxllcorner 1000\nyllcorner 2000\ncellsize 100\nnodata_value -9999\n"
        "-9999 500 520 610\n480 505 600 640\n-9999 470 580 -9999\n";

    // Writes the grids and "model.ctl" into `dir`; returns the control file name.
    std::string Write(const TempDir& dir) const;
    std::string ControlText() const;
};

}  // namespace testsupport
