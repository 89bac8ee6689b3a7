#include "framework/diagnostics_writer.h"
#include "framework/gridfiles.h"
#include "framework/modelobject.h"

// Without a GIF decoder a GIF grid cannot be read.
void ReadGifGridHook(modelobject& reader, const std::string& path, double** /*grid*/) {
    if (reader.Writer) *reader.Writer << "FATAL: GIF input not available for " << path << "[end-entry]";
    throw 22;
}
