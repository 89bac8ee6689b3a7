#pragma once
// The silting-up of tilled soil under rain (section "[SiltingUpModel]").
//
// From the last soil tillage on, the kinetic energy of the rain reaching the
// ground accumulates and the infiltration capacity of the surface decays from
// an initial towards a final rate. Every step the water reaching the surface
// (the input water plus "SurfStorSiltingUp") is split: what the capacity takes
// stays in the input water grid for the soil model, the rest becomes the
// direct runoff "DirectRunoffSiltingUp". The capacity law is built in
// (methods 1 and 2, parameters A to H) or written by the user as expressions
// (method 3) that the expression parser evaluates in every cell and step.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/hru_cells.h"
#include "framework/teilmod.h"
#include "framework/zonetable.h"
#include "lateral/siltingup_physics.h"

struct StatisticsTableEntry;
class zonalstatistic;
class ExpressionParser;
class VariableList;

// True when the expression assigns V: the name V (either case) followed by
// a lone "=" (not the start of an operator such as "==" or "=>").
bool AssignsV(std::string_view expression);

class siltingupclass : public teilmodellklasse {
public:
    // Section "SiltingUpModel". The status is 0, or the code of the failure
    // (any other failure 103); what was built is released again.
    siltingupclass(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                   int statisticsTableSize, const std::string& sectionName, const ModelSettings& settings,
                   MemoryGrid* gridTable);
    ~siltingupclass() override;

    void DeleteModule() override;
    void InitTracers(int* status, int n, TracerInfo* table, StatisticsTableEntry* statisticsTable,
                     int statisticsTableSize) override;
    void ReleaseTracers() override;
    void RunTimeStep(int64_t hour, int64_t day, int64_t month, int64_t year) override;
    virtual void FlushStatistics();

    StatisticsTableEntry* StatisticsTable = nullptr;
    int StatisticsTableSize = 0;

    // Settings.
    int ComputationMethod = 1;  // 3: user expressions; any other value: built-in laws
    int ReadCode = 0;           // 1: the state grids are read from their files
    siltingup::CapacityParameters Parameters;
    std::vector<double> MinimumRainPause;  // [d] per subbasin rank 1..n (entry 0 unused)
    std::vector<double> ListedCodes;       // per rank: code read, -1 taking the preceding rank's value
    std::vector<std::string> Expressions;  // method 3, in evaluation order
    size_t SecondBatch = 0;  // index of the first expression that assigns V

    // The five grids, in this order: disposition, rain pause, kinetic energy,
    // time since tillage, direct runoff.
    enum GridId { Disposition = 0, RainPause, KineticEnergy, TimeSinceTillage, DirectRunoff, GridCount };
    double** Grids[GridCount] = {};
    int GridIndex[GridCount] = {};
    zonalstatistic* DispositionStatistics = nullptr;  // SDISP
    zonalstatistic* RunoffStatistics = nullptr;       // QDSU

    double** WaterInput = nullptr;      // input water grid [mm per step]
    double** SurfaceStorage = nullptr;  // "SurfStorSiltingUp" [mm]
    double** IceShare = nullptr;        // "ice_firn": glacier share of a cell (null without a glacier)

    // The per-step radioactive decay factor of this model's own interval.
    std::vector<double> TracerDecay;

    // Help text of the subbasin list errors.
    static const char* const GroupHelp;

private:
    // The first failing cell of a row (row-local, filled by the row's thread).
    struct CellFailure {
        int Row = 0, Col = 0;
        int Code = 0;             // thrown code; 403 for an expression error
        std::string Expression;   // expression error: the text and the parser's result
        std::string Result;
        bool NotFinite = false;   // the expression's result (or variable `Result`) is no finite number
        double Value = 0;
    };

    void Construct();
    void ReadSection();
    void ReadMethodAndStatistics();
    void ReadRainPauseTable();
    void ReadExpressionBlock();
    void CreateStatisticsAndGrids();
    zonalstatistic* CreateStatistics(const std::string& fileName, int code, const std::string& header);
    double** CreateGrid(int entry, GridId id, const char* internalName, bool read);
    [[noreturn]] void NoFreeGrid();
    void ReleaseAll();

    bool CellIsComputed(int32_t row, int32_t col) const;
    bool CellIsModelled(int32_t row, int32_t col) const;
    void SiltingUpRows(int32_t row, CellFailure& failure);
    void ComputeCell(int32_t row, int32_t col, ExpressionParser* parser, VariableList* variables,
                     CellFailure& failure);
    bool Evaluate(ExpressionParser& parser, VariableList& variables, size_t first, size_t last, int32_t row,
                  int32_t col, CellFailure& failure);
    // Reads a result variable (0 when undefined); a value that is not finite
    // fails the cell like an expression whose result is not finite.
    bool ResultVariable(VariableList& variables, const char* name, double& value, int32_t row, int32_t col,
                        CellFailure& failure);
    void CopyFromMasterAndGather(int32_t row);

    double** Regions = nullptr;
    double** Elevation = nullptr;
    double** SoilTypes = nullptr;
    int LayerCount = 1;
    std::vector<double**> Landuse, Coverage;  // layers 1..N
    double** UnitGrid = nullptr;
    double** MasterGrid = nullptr;
    HruMasterTable HruMasters;

    DiagnosticsWriter* CellLog = nullptr;  // the cell step's log: none inside the parallel loop
    bool SurfaceRoutingPresent = false;
    bool SurfaceRoutingChecked = false;

    std::vector<double**> TracerInput;  // 1..T
    double** OwnData[GridCount] = {};

    // Section values.
    std::string GridFile[GridCount];
    int GridWrite[GridCount] = {};
    std::string DispositionStatFile, RunoffStatFile;
    int DispositionStatCode = 0, RunoffStatCode = 0;
};
