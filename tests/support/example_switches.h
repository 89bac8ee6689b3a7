#pragma once
// Switches of the example basin's sub-models that belong together, for the
// tests that run a copy of the example with part of it changed.

#include <string>
#include <vector>

namespace testsupport {

// The control text with the sub-models of `sections` switched off, and with
// them every sub-model that works on what they deliver: surface routing, the
// silting-up, the groundwater flow, the irrigation and the routing on the
// soil model's water, the irrigation on the routing's rivers.
std::string SwitchOffWithDependents(const std::string& control, const std::vector<std::string>& sections);

// The example basin's control text with the glacier that changes its extent
// once a year (method 11 on "GlacierizedCells" and "GlacierCodes", the files
// glacier.asc and glacier_codes.asc) in place of the fixed one on "ice_firn";
// surface routing and the silting-up, which refuse those grids, are off.
std::string WithDynamicGlacier(const std::string& control);

// The example basin's control text with the degree-day snow method in place
// of the energy balance with slides, so that every cell keeps its own snow.
std::string WithDegreeDaySnow(const std::string& control);

}  // namespace testsupport
