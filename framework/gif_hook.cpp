#include "framework/gifreader.h"
#include "framework/gridfiles.h"
#include "framework/modelobject.h"

// A GIF image is decoded, resampled onto the model grid and mapped to values.
void ReadGifGridHook(modelobject& reader, const std::string& path, double** grid) {
    ReadGifIntoModelGrid(reader, path, grid);
}
