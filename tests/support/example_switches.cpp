#include "support/example_switches.h"

#include <stdexcept>
#include <utility>

#include "support/test_support.h"

namespace testsupport {

std::string SwitchOffWithDependents(const std::string& control, const std::vector<std::string>& sections) {
    static const std::vector<std::pair<std::string, std::vector<std::string>>> dependents = {
        {"unsatzon_model", {"SurfaceRoutingModel", "SiltingUpModel", "groundwater_flow", "irrigation", "routing_model"}},
        {"routing_model", {"irrigation"}},
    };
    std::string text = control;
    std::vector<std::string> pending = sections;
    while (!pending.empty()) {
        const std::string section = pending.back();
        pending.pop_back();
        text = SetSectionSwitch(text, section, 0);
        for (const auto& [owner, users] : dependents)
            if (owner == section) pending.insert(pending.end(), users.begin(), users.end());
    }
    return text;
}

std::string WithDynamicGlacier(const std::string& control) {
    if (control.find("[ice_firn]\n") == std::string::npos) throw std::runtime_error("no [ice_firn] in the control text");
    std::string text = RemoveStandardGrids(control, {"ice_firn.asc"});
    text = AddStandardGrids(text,
                            "glacier.asc GlacierizedCells fillcode = 0 writecode = 3 statfile = glacier.sta statcode = 0\n"
                            "glacier_codes.asc GlacierCodes fillcode = 0 writecode = 3 statfile = glacier_codes.sta "
                            "statcode = 0\n");
    text = SetSectionSwitch(text, "ice_firn", 11);
    return SwitchOffWithDependents(text, {"SurfaceRoutingModel", "SiltingUpModel"});
}

std::string WithDegreeDaySnow(const std::string& control) {
    const std::string method = "6                          # method: energy balance, with slides on steep cells\n";
    const size_t at = control.find(method, control.find("[snow_model]\n"));
    if (at == std::string::npos) throw std::runtime_error("the snow method of the example has changed");
    return control.substr(0, at) + "1                          # method: degree-day\n" +
           control.substr(at + method.size());
}

}  // namespace testsupport
