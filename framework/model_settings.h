#pragma once
// The model-wide values that the set-up hands to the application once after
// its initialisation and that the application passes on to every component.
// Tables and arrays are references: the set-up object owns them and frees them
// at teardown; receivers must never free them.

#include <cstdint>
#include <string>

struct ZoneRecord;
struct RowExtent;
struct RegionRecord;
struct IrrigationRule;
class LanduseType;
class SoilType;
class MultilayerLanduseType;

struct ModelSettings {
    // Path of the control-file copy with its symbols replaced; every component
    // reads its sections from it.
    std::string CompiledControlFile;

    int LogInterval = 1;          // [h] between the progress lines of the sub-models
    int SearchRadiusWarning = 0;  // 0/1, handed to every meteorological input
    double MinToIntEnd = 0;       // [min] from the hour of a meteorological record to the end of its step

    int MeteoInputCount = 0;
    double Latitude = 0;           // geographic latitude [deg]
    double Longitude = 0;          // geographic longitude [deg]
    double ReferenceMeridian = 0;  // [deg]
    double TimeShift = 0;          // data time to local time [h]
    std::string* MeteoNames = nullptr;  // 1-based, MeteoInputCount names; null when there are none

    int OutputListCount = 0;
    int* OutputListCodes = nullptr;  // 1-based, strictly ascending subbasin codes; null when the count is 0

    int SetupGridCount = 0;  // grids stored by the set-up after grid-table entries 1 and 2

    int* ZoneRank = nullptr;  // zone code -> rank, codes 0 to MaxZoneCode
    ZoneRecord* Zones = nullptr;  // per rank 0 to ZoneCount, record 0 with the total area
    RowExtent* RowExtents = nullptr;
    int ZoneCount = 0;
    int MaxZoneCode = 0;

    RegionRecord* Regions = nullptr;
    int RegionCount = 0;
    int MaxRegionCode = 0;
    int* RegionRank = nullptr;  // region code -> rank

    int32_t NCols = 0, NRows = 0, FirstRow = 0, LastRow = 0;
    double XllCorner = 0, YllCorner = 0, CellSize = 0, NoData = -9999;

    int64_t StartHour = 0, StartDay = 0, StartMonth = 0, StartYear = 0;
    int64_t EndHour = 0, EndDay = 0, EndMonth = 0, EndYear = 0;

    LanduseType* LanduseTable = nullptr;
    SoilType* SoilTable = nullptr;
    IrrigationRule* IrrigationTable = nullptr;  // null unless irrigation is on
    MultilayerLanduseType* MultilayerLanduseTable = nullptr;
    // Number of entries of each table (entries 1 to the count; 0 when absent).
    int LanduseCount = 0, SoilCount = 0, IrrigationCount = 0, MultilayerLanduseCount = 0;

    bool WriteAsciiGrids = false;
    bool WriteDoubleGrids = false;
    std::string InitialStateDirectory;   // empty: none
    std::string DefaultOutputDirectory;  // empty: none

    // Region decomposition: cells per process (element p for process p) and
    // the two exchange lists, which stay empty in a run of one process.
    int64_t* CellsPerProcess = nullptr;
    int* ExchangeListFirst = nullptr;
    int* ExchangeListSecond = nullptr;
};
