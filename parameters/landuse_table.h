#pragma once
// Reading the land-use table of the control file, section "[landuse_table]":
// the number of entries N on the first line, then N entries, each either an
// old one-line entry or a brace block whose first line names the method.

#include <vector>

#include "parameters/landuse.h"

class modelobject;

// Reads the section through the reader's open control file (`ControlFile`),
// writing messages to its diagnostics writer. Returns N + 1 records: entry 0
// stands for no land use (its code holds N, and it carries the table-wide
// reset and write days of the vegetation-period balance); entries 1..N are
// the classes in the order of the section. Failures end the run: a missing
// section or an unreadable or negative count with code 17, a bad entry, an
// entry missing before the end of the file or a block without its closing
// brace with code 29.
std::vector<LanduseType> ReadLanduseTable(modelobject& reader, int modelVariant);
