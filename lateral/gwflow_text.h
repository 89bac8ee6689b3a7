#pragma once
// Text helpers of the groundwater model: the module name in file and grid
// names, and printf-style formatting into a string of any length.

#include <cstdarg>
#include <cstdio>
#include <string>

namespace gwflow {

constexpr const char* ModuleText = "groundwater_flow";

inline std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, args);
    va_end(args);
    return text;
}

}  // namespace gwflow
