#pragma once
// Spin-up settings and hydrologic response units. A run can repeat its time
// range several times (spin-up), optionally after a pre-run of the soil
// temperature. For that mode the cells can be grouped into units of cells that
// agree in the classes of a few grids; one cell of each unit (its master cell)
// is computed and the others copy its state.

#include <cstdint>
#include <string>
#include <vector>

class modelobject;

// One hydrologic response unit.
struct HRUEntry {
    uint64_t Id = 0;        // 1..U in the order of first appearance; 0 for the placeholder
    std::string Key;        // the class key that defines the unit
    int32_t MasterRow = 0;  // the unit's first cell
    int32_t MasterCol = 0;
    bool Flag = false;
};

// What "[SpinUp]" says, with the units built from it.
struct SpinUpSettings {
    int SpinUpSwitch = 0;            // 0: no spin-up
    int doTemperaturePreSpinUp = 0;  // > 0: pre-run of the soil temperature
    int repeatCnt = 0;               // repetitions of the time range
    // Entry 0 is a placeholder (id 0, empty key, row and column 0); entry i is
    // the unit with id i, so a cell's value in "HydrologicResponseUnits" is its
    // position here.
    std::vector<HRUEntry> HRUList = std::vector<HRUEntry>(1);
    // Grid-table entries of "HydrologicResponseUnits" and
    // "MasterHydrologicResponseUnits"; 0 when no units were built.
    int UnitGridIndex = 0;
    int MasterGridIndex = 0;
};

// Reads the optional section "[SpinUp]" of the set-up's control file
// (setup.ControlFilePath) and, with spin-up on, builds the units:
// - with classification grids, every cell inside the zone grid (grid-table
//   entry 1) and owned by this process ("MPIRegions") whose first grid holds a
//   value gets the key of its classes; new grids "HydrologicResponseUnits"
//   (file "All_HydrologicResponseUnits") and "MasterHydrologicResponseUnits"
//   (file "Master_HydrologicResponseUnits") go into free grid-table entries;
// - without them, the standard grid "HydrologicResponseUnits" is renumbered
//   in place to the ids 1..U, and "MasterHydrologicResponseUnits" (file of
//   the same name) is created; the renumbered grid is written as
//   "All_HydrologicResponseUnits", never over the file it was read from.
// Units are numbered in scan order (rows, then columns within the row
// extents); each unit's first cell is its master. On process 0 both grids are
// written with the set-up's grid-output flags. `setupGridCount` is raised by
// the number of grid-table entries created.
// Failures write a FATAL entry and throw: 28 control file cannot be opened,
// 11 cannot be closed, 17 unreadable or invalid values (an integer that is not
// one, a negative grid count, a class width that is not a positive finite
// number, a bad classification line, classification grids together with a
// supplied "HydrologicResponseUnits"), 33 a classification grid that is absent
// or holds no data, 12 no free grid-table entry, 1030 no supplied unit grid,
// 1031 a class above 9999.
SpinUpSettings ReadSpinUpAndCreateHRUs(modelobject& setup, int* setupGridCount);
