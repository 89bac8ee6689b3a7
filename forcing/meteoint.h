#pragma once
// One meteorological input: it reads its own section, opens its station
// files, regression file or grid list at the run's start date, and in every
// time step turns the current record into its result grid, which it keeps in
// the grid table under the input's name. The first input carries the model
// clock: its current record is the date of the step.
//
// The files are read by MeteoFileSet (meteoint_files_set.h), the values of a
// cell by the kernels of meteoint_methods.h; this class holds the settings,
// the grids and the statistics and runs the cell loop.
//
// Source files: meteoint.cpp (construction, clock, teardown),
// meteoint_section.cpp (the control-file section and the description line),
// meteoint_geometry.cpp (station geometry set-up), meteoint_step.cpp (the
// time step and its cell loop), meteoint_point.cpp (the point service and the
// scenario value), meteoint_splines_step.cpp (the station mesh and the splines
// of methods 7 and 8), meteoint_regression_step.cpp (the regression fit of
// methods 10 and 11), meteoint_postprocess.h/.cpp (pure post-processing
// kernels).

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "forcing/meteoint_methods.h"
#include "forcing/meteoint_methods_mesh.h"
#include "forcing/meteoint_postprocess.h"
#include "forcing/splines.h"
#include "framework/model_settings.h"
#include "framework/modelobject.h"
#include "framework/zonalstatistic_rows.h"

struct StatisticsTableEntry;
class zonalstatistic;
class MeteoFileSet;
class StationFileReader;

// Takes over the model-wide values every component keeps in its base: the
// grid geometry, the zone table, the time shift, the log interval and the end
// date of the run.
void AdoptModelSettings(modelobject& component, const ModelSettings& settings, MemoryGrid* gridTable);

class meteointerpol : public modelobject {
public:
    // `name` is the input's name and section; `gridIndex` (1 to 999) the free
    // grid-table entry that receives the result grid. The status is 0 on
    // success; on failure it holds the code, which is also thrown.
    meteointerpol(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                  int statisticsTableSize, const std::string& name, int gridIndex, const ModelSettings& settings,
                  MemoryGrid* gridTable);
    // Frees the memory of an input that was never torn down; writes nothing
    // and leaves the grid table alone.
    ~meteointerpol() override;
    meteointerpol(const meteointerpol&) = delete;
    meteointerpol& operator=(const meteointerpol&) = delete;

    // 1: the input may warn about cells without a station in the search
    // radius.
    virtual void SetWarnings(int on);
    // The hours from the hour of a record to the end of its step.
    virtual void SetTimeStep(double hours);
    virtual void GetActualDate(int64_t* hour, int64_t* day, int64_t* month, int64_t* year);
    // One time step: checks that the current record carries this date (code
    // 52), fills the result grid and the statistics.
    virtual void InterpolateStep(int64_t hour, int64_t day, int64_t month, int64_t year);
    // Advances every file of the input by one record (codes 73 and 52 when
    // the files disagree); sets the end of data at the end date or the end of
    // a file.
    virtual void ReadNextStep();
    virtual bool EndOfData();
    // The current record becomes the last one: the next ReadNextStep ends the
    // data.
    virtual void StopAtActualDate();
    virtual void FlushStatistics();
    // Back to the start row of every file; the next ReadNextStep takes it
    // again.
    virtual void ResetToStart();
    // Fits the regression set of methods 10 and 11 to the current station
    // values of a station file.
    virtual void CalcElevationRegression(int stationFile);
    // Writes or aggregates the result grid by its write code.
    virtual void WriteResultGrid();
    void DeleteModule() override;

    // The input's value at a point (x, y) of altitude z [m], scaled, limited
    // and changed by the scenario; a value below -N when there is nothing to
    // interpolate from. Main thread only. `work` is scratch space of the
    // caller that the kernels do not need; it may be null.
    virtual double InterpolatePoint(double* work, double x, double y, double z);
    // The scenario change of a cell (row, column) at (x, y) for the current
    // day: added for SzenMeth 1 and 6, multiplied for the others.
    virtual double ScenarioValue(int row, int column, double x, double y);

    // Station file f (0, or 1 for methods 6 and 8), or null. Its current
    // values may be changed in place for the current step (precipitation
    // correction).
    StationFileReader* StationFile(int f) const;
    int StationFileCount() const;
    // N: a station value v is valid when v >= -N.
    double StationNoData() const { return NoDataBound; }
    // The regression set the step evaluates (methods 2, 3, 10, 11); may be
    // changed in place for the current step.
    meteoint::RegressionSet& Regression() { return Method.Regression; }
    // The statistics header line.
    const std::string& Description() const { return DescriptionLine; }

    int InterpolationMethod = 0;  // 1 to 12
    int WarningsOn = 0;
    int ResultGridIndex = 0;
    double** ResultGrid = nullptr;
    int64_t CurrentHour = 0, CurrentDay = 0, CurrentMonth = 0, CurrentYear = 0;
    StatisticsTableEntry* StatisticsTable = nullptr;
    int StatisticsTableSize = 0;
    ModelSettings Settings;

    // Section values.
    struct StationFileLine {
        std::string FileName;  // with the input directory in front when relative
        int64_t AdditionalColumns = 0;
    };
    std::vector<StationFileLine> StationFileLines;  // one, or two for methods 6 and 8
    std::string RegressionFileName;                 // methods 1 to 8
    double GifParameters[5] = {0, 0, 0, 0, 0};      // method 9: f1, x1, threshold, f2, x2
    // Methods 10 and 11: lower and upper inversion, tolerance, overlap,
    // cluster range and the lapse rate above the upper inversion (-9999 when
    // not given).
    double RegressionLowerInversion = 0, RegressionUpperInversion = 0, RegressionTolerance = 0;
    int32_t RegressionOverlap = 0;
    double RegressionClusterRange = 0, RegressionUpperLapseRate = -9999;
    std::string ResultFileName;
    int32_t ResultWriteCode = 0;
    double ScalingFactor = 1;
    std::string StatisticsFileName;
    int32_t StatisticsCode = 0;
    double NoDataBound = 9999;   // N
    double IdwWeight = 2;        // w
    double IdwFraction = 0;      // f
    double MaxDistance = 0;      // D [m], as read
    double AnisotropySlope = 0;  // degrees as read, radians after construction
    double AnisotropyRatio = 1;  // b/a
    double LowerLimit = 0, LowerReplacement = 0, UpperLimit = 0, UpperReplacement = 0;
    int32_t SzenUse = 0, SzenMeth = 0, SzenNum = 0;
    std::vector<std::string> ScenarioGridNames;        // SzenMeth 5 and 6: January to December
    std::vector<meteoint::ScenarioRow> ScenarioTable;  // SzenMeth 0 to 4

private:
    // Construction.
    void Construct(const std::string& name, int gridIndex);
    void ReadControlSection();
    void ReadStationFileLine(int f);
    void ReadMethodLine();
    void ReadScenarioSection();
    void CheckMethod();
    void ComposeDescription();
    void CreateResultGrid(int gridIndex);
    void CreateScenarioGrid();
    void CreateStatistics();
    void OpenFiles();
    void SetUpStationGeometry();
    void CreateRotatedCoordGrids();
    // Methods 7 and 8: the station mesh of a station file and its splines
    // (meteoint_splines_step.cpp).
    void StationsToMesh(int stationFile);
    // Ends the run (code 70) when the mesh's sub-grid would exceed the limit
    // the model grid sets, naming the station farthest outside the grid.
    void RefuseFarStations(int stationFile);
    void ReleaseSplines();
    void BuildMethodData();
    void FindHydrologicResponseUnits();
    void TakeDateFromFiles();
    void TakeRegressionFromFile();
    void ReleaseAll(bool touchGridTable);

    // Section reading helpers: a value first on its line, the rest of the
    // line free text; an unreadable value is the control-file error (17).
    void ReadInteger(int32_t& target, const std::string& description);
    void ReadNumber(double& target, const std::string& description);
    void ReadWordValue(std::string& target, const std::string& description);
    [[noreturn]] void ValueNotAllowed(const std::string& what, const std::string& allowed, const std::string& read);

    // The time step.
    void ReportStep(int64_t hour, int64_t day, int64_t month, int64_t year);
    void UpdateScenario(int64_t day, int64_t month);
    void ReadListedGrid();
    // Method 9: the grid named by the current row of the list (or the last
    // valid one for "-9999"), read once per row: the point service asks for
    // it before the step reads it into the result grid.
    double** CurrentListedGrid();
    // Methods 7 and 8: the spline values of the step in the result grid (and
    // for method 8 those of station file 1 in the second spline grid).
    void InterpolateSplines();
    void InterpolateCells(std::vector<std::vector<std::pair<double, double>>>& warnings);
    void WriteWarnings(const std::vector<std::vector<std::pair<double, double>>>& warnings);
    // Closes the step of the statistics; the cell loop gathered the sums.
    void AddStatistics(int64_t hour, int64_t day, int64_t month, int64_t year);
    // Valid cells of the rows, by the row extents.
    int64_t CellCount(int32_t firstRow, int32_t lastRow) const;
    // Copies the master cells' values to the units' cells of a row and adds
    // the row to the statistics; the thread running the row calls it.
    void FinishRow(int32_t row);
    // Finds the runs of counted cells of every row once.
    void PrepareStatisticRuns();
    double PostProcess(double value, int row, int column, double x, double y) const;
    double ScenarioChange(int row, int column, double x, double y) const;
    bool CellTakesPart(int row, int column) const;
    int ZoneRankOf(int row, int column) const;
    double** RegionGrid();
    bool StationValuesAllEqual() const;

    std::unique_ptr<MeteoFileSet> FileSet;
    std::unique_ptr<zonalstatistic> Statistics;
    ZoneRuns StatisticRuns;  // the cells the statistics count, by row
    std::vector<ZoneRecord> StatisticsZones;  // the statistic's own copy of the zone table
    std::string DescriptionLine;

    // Grids of the grid table (not owned unless said otherwise).
    double** ZoneGrid = nullptr;
    double** ElevationGrid = nullptr;
    double** CoordX = nullptr;
    double** CoordY = nullptr;
    double** IdwX = nullptr;  // the rotated grids when b/a < 1, else CoordX
    double** IdwY = nullptr;
    double** RotatedX = nullptr;  // owned
    double** RotatedY = nullptr;  // owned
    int RotatedXIndex = -1, RotatedYIndex = -1;
    double** ScalingGrid = nullptr;
    double** ScenarioGrid = nullptr;  // owned
    int ScenarioGridIndex = 0;
    int64_t ScenarioMonth = 0;
    // Hydrologic response units: both grids exist only in the spin-up mode.
    double** UnitGrid = nullptr;
    double** MasterGrid = nullptr;
    double** Regions = nullptr;                            // "MPIRegions"
    std::vector<RowExtent> Extents;                        // per row 1..NRows the valid columns, within 1..NCols
    std::vector<std::pair<int32_t, int32_t>> MasterCells;  // per unit id its master cell (FindHruMasterCells)

    // Station geometry.
    std::vector<double> RotatedStationX[2], RotatedStationY[2];
    meteoint::StationSpacing Spacing;
    std::vector<meteoint::LookUpGrids> LookUp;  // methods 5 and 6: per station file
    std::unique_ptr<SplineMeshGrids> Mesh;      // methods 7 and 8
    std::unique_ptr<TSplines> Splines;
    double** SplineGrid2 = nullptr;  // method 8: S2, owned
    meteoint::MethodData Method;

    std::string LastValidGridName;  // method 9
    double** ListedGrid = nullptr;  // method 9: the current row's grid as read, owned
    int64_t ListedGridDate = -1;    // the date of the row it belongs to
    bool EndOfDataFlag = false;
    bool Released = false;
};
