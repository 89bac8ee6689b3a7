#pragma once
// Reader of the section "[soil_table]" of the compiled control file.

#include <cstdio>
#include <vector>

#include "parameters/soil.h"

class modelobject;

// Reads the soil table from `controlFile` (the reader's control-file stream)
// into `table`: entry 0 holds the number of soil types N as its code and the
// common layer count, entries 1..N the soil types in the order of the section,
// each with its hydraulic tables built and its freezing tables created. The
// table belongs to the caller and stays filled as far as it was read when a
// failure is thrown (an int code: 17 control file, 29 brace entry, 30 one-line
// entry or unequal layer counts). Messages go to the reader's writer; the
// reader's module name stands in its control-file errors.
void ReadSoilTable(modelobject& reader, FILE* controlFile, int modelVariant, std::vector<SoilType>& table);
