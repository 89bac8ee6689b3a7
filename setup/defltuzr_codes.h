#pragma once
// Checks of the code grids against their tables, and the land-use layer
// grids. The land-use, soil and irrigation grids hold the codes the user wrote
// into the tables; after the check each cell inside the zone grid holds the
// position (1 to n) of its table entry, so the sub-models index the tables
// with the cell value. With a multilayer land-use table the land-use grid
// holds multilayer codes, each multilayer entry's layer codes become land-use
// positions and one grid per layer ("landuse1" ... "landuseN") gives the
// land-use position of that layer in every cell.
//
// Every operation works on the set-up object's part as a model object: its
// grid table (entry 1 is the zone grid, the mask of the cells checked), its
// geometry and nodata value, its writer and its process number. A code grid is
// passed by its grid-table index, 0 when the grid is absent (nothing is done).
// Failures write a FATAL entry and throw the code.

#include <string>
#include <vector>

#include "parameters/landuse.h"
#include "parameters/multilayer_landuse.h"
#include "parameters/soil.h"
#include "setup/irrigation_table.h"

class modelobject;

// Checks the grid "landuse" (grid-table entry `landuseIndex`) against the
// land-use table, or against the multilayer table when `multilayerTable` is
// not empty, and renumbers it to table positions. With a multilayer table the
// layer codes of its entries are then checked against the land-use table and
// renumbered to land-use positions (`LayerCodes`; `LayerCodesAsRead` keeps the
// codes). Returns the grid's matrix, or null when there is no grid.
// Codes: 31 a grid code missing from the land-use table, 311 from the
// multilayer table, 312 a layer code missing from the land-use table or an
// absent first layer, 12 an index outside 1 to 999, 33 no zone grid.
double** CheckLanduseCodes(modelobject& setup, int landuseIndex, const std::vector<LanduseType>& landuseTable,
                           std::vector<MultilayerLanduseType>& multilayerTable);

// Checks the grid "soil_types" (entry `soilIndex`) against the soil table and
// renumbers it. Returns the grid's matrix or null. Codes: 32 a code missing
// from the table, 12, 33 as above.
double** check_SOIL_Codes(modelobject& setup, int soilIndex, const std::vector<SoilType>& soilTable);

// Checks the grid "irrigation_codes" (entry `irrigationIndex`) against the
// irrigation table when the index is not 0. Returns the grid's matrix or null.
double** check_irrig_Codes(modelobject& setup, int irrigationIndex, const std::vector<IrrigationRule>& irrigationTable);

// The check itself: cells above 0 inside the zone grid must hold a table code;
// cells of 0 or below mark cells without irrigation and are left alone unless
// they equal a table code. Codes: 31 a code missing from the table, 12, 33.
double** CheckIrrigationCodes(modelobject& setup, int irrigationIndex,
                              const std::vector<IrrigationRule>& irrigationTable);

// Builds the layer grids of a multilayer land use from the renumbered grid
// "landuse" (entry `landuseIndex`, already checked by CheckLanduseCodes).
// `layers` becomes the land-use layer array of N + 1 slots: slot 0 the
// land-use grid, slot k the grid "landuse" k (internal and file name, write
// code 0, rows 1 to NRows), stored in the next free grid-table entries. N is
// the layer count of the table's first entry (1 for a table without entries).
// A cell holds the land-use position of layer k of its multilayer entry, and
// nodata outside the zone grid, on cells of other processes ("MPIRegions") and
// where the entry has no land use in that layer. Each grid raises
// `*setupGridCount` (when given) by one; the matrices belong to the grid
// table's owner. Returns N, or 0 (and the array holds slot 0 only) when the
// land-use grid has no data. Codes: 12 fewer than N free grid-table entries
// or an invalid index, 311 a cell inside the zone grid that holds no
// multilayer position, 33 no zone grid.
int MakeLanduseLayerGrids(modelobject& setup, int landuseIndex,
                          const std::vector<MultilayerLanduseType>& multilayerTable, std::vector<double**>& layers,
                          int* setupGridCount);

// The land-use part of the initialisation: CheckLanduseCodes, then, when the
// grid exists, either the layer grids of the multilayer table or, without
// one, a single layer that is the land-use grid itself (two slots holding its
// matrix; its internal name becomes "landuse1"). Without a land-use grid the
// array is emptied. Returns the layer count (0 without a land-use grid).
int SetUpLanduseLayers(modelobject& setup, int landuseIndex, const std::vector<LanduseType>& landuseTable,
                       std::vector<MultilayerLanduseType>& multilayerTable, std::vector<double**>& layers,
                       int* setupGridCount);

// Land use, soil and irrigation codes are whole numbers. A cell value is the
// code `*code` when it is exactly that whole number.
bool CellCode(double value, int32_t* code);
