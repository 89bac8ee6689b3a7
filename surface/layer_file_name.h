#pragma once
// File names of the vegetation layers: "etp.grd" of layer 2 is
// "etp_Layer_2.grd" (the layer inserted before the last point of the file
// name); a file name without a point gets the suffix at its end.

#include <string>

inline std::string LayerFileName(const std::string& name, int layer) {
    size_t point = name.rfind('.');
    const size_t slash = name.rfind('/');
    if (point != std::string::npos && slash != std::string::npos && point < slash) point = std::string::npos;
    const std::string head = point == std::string::npos ? name : name.substr(0, point);
    const std::string tail = point == std::string::npos ? std::string() : name.substr(point);
    return head + "_Layer_" + std::to_string(layer) + tail;
}
