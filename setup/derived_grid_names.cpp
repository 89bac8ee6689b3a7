#include "setup/derived_grid_names.h"

std::string DerivedGridFileName(const std::string& sourceFileName, const std::string& suffix) {
    const size_t slash = sourceFileName.find_last_of('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = sourceFileName.find_last_of('.');
    if (dot == std::string::npos || dot < nameStart) return sourceFileName + suffix;
    return sourceFileName.substr(0, dot) + suffix;
}
