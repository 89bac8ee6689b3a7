#pragma once
// The parameters of one tracer (a dissolved substance carried along the
// water paths), as the set-up reads them and every component receives them.

#include <string>

// Parameters of one tracer. Table entries count from 1; entry 0 is unused.
struct TracerInfo {
    std::string name;           // three characters: lower case, padded with "_"
    int radioactive = 0;        // 1 radioactive, 0 not
    int evaporating = 0;        // 1 evaporating, 0 not
    double min_conc = 0;        // minimum concentration
    double max_conc = 0;        // maximum concentration, as written
    double half_time = -9999;   // half-life [d]; -9999 when not radioactive
    double gwini = 0;           // initial concentration in the groundwater
    double soilini = 0;         // initial concentration in the soil
    double decay_factor = 0;    // per time step, set by each sub-model
    std::string path;           // output directory or path prefix
    std::string statext;        // extension of the statistics files
    std::string gridext;        // extension of the grid files
    int statcode = 0;           // write code of the statistics
    int gridcode = 0;           // write code of the grids
};
