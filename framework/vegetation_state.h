#pragma once
// The vegetation period's state in the section "[vegetation_period]" of the
// storage content file: the grids "VegetationStart", "VegetationStop" and
// "VegetationDuration" and the daily land-use parameter grids of every
// land-use layer, and the running
// vegetation-period sum (and its due flags) of every grid whose write code
// has a thousands digit. A run that goes on from the file continues the
// period where the earlier run left it, so that its vegetation-period
// outputs are those of one run.

#include <string>

class DiagnosticsWriter;
struct MemoryGrid;
class StorageContentStage;

// The section's text for the grids of `table` (rows and columns of the model
// grid); empty when there is nothing to keep. Taken before any component
// releases its grids.
std::string VegetationStateText(const MemoryGrid* table, int rows, int columns);

// Loads the section from the storage content file `path` into the grids of
// `table`. A file or section without it leaves the start values, with a
// WARNING; a vegetation grid this run does not have, or another grid size,
// is code 71 naming what does not fit.
void ReadVegetationState(MemoryGrid* table, int rows, int columns, const std::string& path,
                         DiagnosticsWriter* writer);
