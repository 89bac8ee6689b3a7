#pragma once
// File names of the vegetation layers: "etp.grd" of layer 2 is
// "etp_Layer_2.grd" (the layer inserted before the last point); a name
// without a point gets the suffix at its end.

#include <string>

inline std::string LayerFileName(const std::string& name, int layer) {
    const size_t point = name.rfind('.');
    const std::string head = point == std::string::npos ? name : name.substr(0, point);
    const std::string tail = point == std::string::npos ? std::string() : name.substr(point);
    return head + "_Layer_" + std::to_string(layer) + tail;
}
