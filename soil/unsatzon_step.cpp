// The soil model's sub-step and the end of its time step.

#include <string>

#include "framework/gridtable.h"
#include "soil/unsatzon.h"

void unsatzonmodellklasse::RunTimeStep(int64_t hour, int64_t day, int64_t month, int64_t year) {
    if (Method == 0) return;
    if (!QDownGrid) {
        const int index = FindGrid("q_down");
        if (index > 0) QDownGrid = GridTable[index].Data;
    }
    // Every active column advances by one sub-step.
    PrepareRiverQuota();
    PrepareHeat();
    SoilColumnRows(hour, day, month, year);
    BookRiverWithdrawals();
    RunoffAfterColumns();
}

void unsatzonmodellklasse::RunoffAfterColumns() {
    CopyHruState();
    AddRunoffToFlowTimeZones();
    AppendStackPointRecords();
    AppendTracerPointRecords(true);
    WriteFullPointBuffers();
}

void unsatzonmodellklasse::EndTimeStep(int64_t, int64_t, int64_t, int64_t) {
    if (Method == 0) return;
    EndTimeStepRunoff();
    WriteStepGrids();
    EndTimeStepTracers();
}

void unsatzonmodellklasse::WriteStepGrids() {
    auto write = [&](const char* name) {
        const int index = FindGrid(name);
        if (index > 0) WriteGridByCode(index, true, false);
    };
    auto writeStack = [&](const char* name) {
        const int index = FindGrid(name);
        if (index > 0) WriteStackByCode(index);
    };
    write("SB_1_grid");
    write("SB_2_grid");
    write("ROOTgrid");
    for (const char* stack : {"theta", "hydraulic_heads", "geodetic_heads", "q_down"}) writeStack(stack);
    for (const char* grid : {"groundwater_distance", "Theta_in_GWLEVEL", "groundwater_recharge",
                             "macropore_infiltration"})
        write(grid);
    if (solverMethod == 3) write("number_of_substeps");
    for (const char* grid : {"Capillar_Uprise", "Percolation", "groundwater_level", "infiltration_excess",
                             "infiltration_saturation", "directflow", "interflow", "baseflow"})
        write(grid);
    if (GroundwaterActive == 1) {
        write("river_infiltration");
        write("river_exfiltration");
    }
    if (PondingStorage) write("ponding_storage");
    if (DrainageFlow) write("drainage_flow");
    if (heatTransferSwitch > 0 && heatMethod > 0) {
        writeStack("Soil_Temperature_Stack");
        write("ThawDepthTMod");
    }
}
