#pragma once
// One class of the land-use table: its code and name, the vegetation
// parameters at the fix points of the year, the constants the soil,
// interception, surface-routing, silting-up and frozen-soil models need, and
// the operations that give a parameter's value at a day for a cell.
//
// The record is read once on the main thread (old one-line entry or brace
// block). Afterwards the value operations, the balance tests, the n-factor
// and the accessors are const and keep no state between calls, so the cell
// loops of the sub-models may call them concurrently on the same record.
// Only CheckMaxStartDay and AttachCellGrids write to it (main thread only).

#include <cstdint>
#include <string>
#include <vector>

#include "framework/memory_handling.h"

class DiagnosticsWriter;

// Ways a class describes the course of its parameters over the year.
enum LanduseMethod : int32_t {
    LanduseMethodNone = 0,
    LanduseMethodFixed = 1,            // old one-line entry: monthly resistances, four fix points
    LanduseMethodVariableDayCount = 2,
    LanduseMethodDynamicPhenology1 = 3,
    LanduseMethodDynamicPhenology2 = 4,
    LanduseMethodDynamicPhenology3 = 5,
    LanduseMethodDynamicPhenology4 = 6,
};

// Linear interpolation through (x1, y1) and (x2, y2), extrapolating outside
// [x1, x2]; y1 when x2 equals x1.
double InterpolateLinear(double x1, double y1, double x2, double y2, double x);

// Gregorian rule: divisible by 4 and not by 100, or divisible by 400.
bool IsGregorianLeapYear(int year);

// A day of the year outside 0..366: code 150 without a message of its own.
[[noreturn]] void ThrowError150();

class LanduseType {
public:
    LanduseType();

    // ----- reading -----------------------------------------------------------

    // Fills the record from an old one-line entry: code, name, albedo, twelve
    // monthly canopy resistances, four fix-point days, four values each of
    // LAI, Z0, VCF and RootDepth, and in model variant 2 RootDist and
    // HReduDry. Any item that cannot be read ends the run with code 29.
    void ParseOldFormat(DiagnosticsWriter* log, const std::string& line, int modelVariant);

    // Fills the record from a gathered brace block; `methodName` is one of
    // "VariableDayCount", "DynamicPhenology_1" ... "DynamicPhenology_4".
    // Every failure writes its messages and throws 29.
    void ParseEntry(DiagnosticsWriter* log, const std::string& entryText, const std::string& methodName);

    // Outcome of reading a list key from a block.
    enum class ListRead { Read, Missing, Unreadable };
    // Reads `count` numbers of `key` into entries 1..count of `target`
    // (resized to count + 1) and sets entry 0 to entry count. Fewer numbers
    // than `count`, or an entry without "=" and ";", is Unreadable.
    static ListRead ReadValueList(const std::string& blockText, const std::string& key, std::vector<double>& target,
                                  int count);
    // The two day lists whose length comes from the text. False when the
    // value cannot be read (for JulDays also when it is missing or empty).
    bool ReadJulDays(DiagnosticsWriter* log, const std::string& blockText);
    bool ReadSoilTillage(DiagnosticsWriter* log, const std::string& blockText);

    // Links the per-layer grids of the daily land-use parameters (arrays
    // indexed by layer 1..layerCount; the record does not own them). Any of
    // the arrays may be null when the set-up has no such grids.
    void AttachCellGrids(int layerCount, int largestFixPointCount, double*** dynamicStartGrids,
                         double*** forcingThresholdGrids, double*** forcingSumGrids, GridStack* sampleDayStacks);

    // ----- values at a day ----------------------------------------------------
    // At a Julian day: (log, day of the year, layer, row, column, altitude [m]).
    // At a date: (log, day, month, year, layer, altitude [m], row, column).

    double GetRscAtJulDay(DiagnosticsWriter* log, int julDay, int layer, int row, int col, double altitude) const;
    double GetRscAtDate(DiagnosticsWriter* log, int day, int month, int year, int layer, double altitude, int row,
                        int col) const;
    double GetRsInterceptionAtJulDay(DiagnosticsWriter* log, int julDay, int layer, int row, int col,
                                     double altitude) const;
    double GetRsInterceptionAtDate(DiagnosticsWriter* log, int day, int month, int year, int layer, double altitude,
                                   int row, int col) const;
    double GetRsEvaporationAtJulDay(DiagnosticsWriter* log, int julDay, int layer, int row, int col,
                                    double altitude) const;
    double GetRsEvaporationAtDate(DiagnosticsWriter* log, int day, int month, int year, int layer, double altitude,
                                  int row, int col) const;
    double GetZ0AtJulDay(DiagnosticsWriter* log, int julDay, int layer, int row, int col, double altitude) const;
    double GetZ0AtDate(DiagnosticsWriter* log, int day, int month, int year, int layer, double altitude, int row,
                       int col) const;
    double GetLAIAtJulDay(DiagnosticsWriter* log, int julDay, int layer, int row, int col, double altitude) const;
    double GetLAIAtDate(DiagnosticsWriter* log, int day, int month, int year, int layer, double altitude, int row,
                        int col) const;
    double GetVCFAtJulDay(DiagnosticsWriter* log, int julDay, int layer, int row, int col, double altitude) const;
    double GetVCFAtDate(DiagnosticsWriter* log, int day, int month, int year, int layer, double altitude, int row,
                        int col) const;
    double GetRootDepthAtJulDay(DiagnosticsWriter* log, int julDay, int layer, int row, int col,
                                double altitude) const;
    double GetRootDepthAtDate(DiagnosticsWriter* log, int day, int month, int year, int layer, double altitude,
                              int row, int col) const;
    double GetAlbedoAtJulDay(DiagnosticsWriter* log, int julDay, int layer, int row, int col, double altitude) const;
    double GetAlbedoAtDate(DiagnosticsWriter* log, int day, int month, int year, int layer, double altitude, int row,
                           int col) const;
    double GetSRStemDiameterAtJulDay(DiagnosticsWriter* log, int julDay, int layer, int row, int col,
                                     double altitude) const;
    double GetSRStemDiameterAtDate(DiagnosticsWriter* log, int day, int month, int year, int layer, double altitude,
                                   int row, int col) const;
    double GetSRResidCovrgAtJulDay(DiagnosticsWriter* log, int julDay, int layer, int row, int col,
                                   double altitude) const;
    double GetSRResidCovrgAtDate(DiagnosticsWriter* log, int day, int month, int year, int layer, double altitude,
                                 int row, int col) const;

    // Day of the year of a date, February by the Gregorian rule of `year`.
    // Outside 0..366: code 150.
    int DayOfYear(int day, int month, int year) const;
    // Actual days of the fix points 0..n for a cell (altitude shift, dynamic
    // start of methods 3 and 4). A day outside -1..366: FATAL entry, code 152.
    std::vector<int> ComputeFixPointDays(DiagnosticsWriter* log, int dynamicStartDay, double altitude) const;
    // Index 1..n+1 of the fix point that closes the interval of `julDay`.
    int FindFixPointInterval(DiagnosticsWriter* log, int julDay, int dynamicStartDay, double altitude) const;

    // Vegetation period of the balance: the day inside the period, -1
    // outside, 0 when the class has no balance period (results are doubles).
    double BalancePeriodDayAtJulDay(DiagnosticsWriter* log, int julDay, int layer, int row, int col,
                                    double altitude) const;
    double BalancePeriodDayAtDate(DiagnosticsWriter* log, int day, int month, int year, int layer, double altitude,
                                  int row, int col) const;
    double BalanceStopDayAtJulDay(DiagnosticsWriter* log, int julDay, int layer, int row, int col,
                                  double altitude) const;
    double BalanceStopDayAtDate(DiagnosticsWriter* log, int day, int month, int year, int layer, double altitude,
                                int row, int col) const;

    // n-factor of frozen soil on the nominal fix-point days.
    double GetNFactorAtJulDay(DiagnosticsWriter* log, int julDay) const;
    double GetNFactorAtDate(DiagnosticsWriter* log, int day, int month, int year) const;

    // Methods 3, 4 and 6: sets the dynamic-phenology flag and, when the date
    // lies after maxStartJDforDP1, moves TStart back accordingly.
    void CheckMaxStartDay(int day, int month, int year);

    // ----- accessors ------------------------------------------------------------

    double GetRootDist() const { return RootDist; }
    double GetHReduDry() const { return HReduDry; }
    double GetTReduWet() const { return TReduWet; }
    double GetLimitReduWet() const { return LimitReduWet; }
    double GetIntercepCap() const { return IntercepCap; }
    const std::string& GetName() const { return Name; }
    int GetCode() const { return Code; }
    double GetNfFreezing() const { return nf_freezing; }
    double GetNfThawing() const { return nf_thawing; }
    int GetSRCultivation() const { return SR_cultivation; }
    double GetSRCropDistX() const { return SR_CropDistX; }
    double GetSRCropDistY() const { return SR_CropDistY; }
    double GetSRKST() const { return SR_K_ST; }
    double GetSRCWR() const { return SR_C_WR; }
    // Number of tillage days m; `days` receives the list 0..m (only -9999
    // when the class has none).
    int GetSoilTillage(const std::vector<int32_t>** days) const {
        *days = &SoilTillage;
        return SoilTillageCount;
    }
    void GetSRRoughCoeff1(double* c1, double* c2, double* c3) const {
        *c1 = SR_rough_coeff1[1];
        *c2 = SR_rough_coeff1[2];
        *c3 = SR_rough_coeff1[3];
    }
    void GetSRRoughCoeff2(double* c1, double* c2, double* c3) const {
        *c1 = SR_rough_coeff2[1];
        *c2 = SR_rough_coeff2[2];
        *c3 = SR_rough_coeff2[3];
    }

    // ----- fields (every per-fix-point list holds the entries 0..n; entry 0
    // stands for the last fix point of the previous year) ------------------------

    std::string Name;
    int32_t Code = 0;  // in entry 0 of the table: the number of entries
    int32_t Method = LanduseMethodNone;
    int32_t FixPointCount = 0;         // n
    int32_t LargestFixPointCount = 0;  // largest n of the table, set with the cell grids
    int32_t StartVegetationPeriodForBalance = 0;
    int32_t StopVegetationPeriodForBalance = 1000;
    int32_t JDVegetationResetForBalance = 1;
    int32_t JDVegetationWriteForBalance = 0;
    // Bits of the parameters the daily grids compute from this class: 128 Z0,
    // 64 RootDepth, 32 VCF, 16 LAI, 8 rs_interception, 4 rsc, 2 rs_evaporation,
    // 1 Albedo.
    int32_t InternalParameterMask = 255;
    std::string useInternalParameters = "11111111";

    // Per-layer cell grids owned by the set-up, indexed [layer][row][column]
    // (stacks [layer][row][column][level]).
    int32_t LayerCount = 0;
    GridStack* SampleDayStacks = nullptr;    // "MultipleStartTimes" k
    double*** DynamicStartGrids = nullptr;   // "Pheno_start" k
    double*** ForcingThresholdGrids = nullptr;  // "FStar_ForcingThreshold" k
    double*** ForcingSumGrids = nullptr;     // "SumOfForcingUnits" k

    int32_t TStart = 0;       // day of the dynamic start; -1 when not known
    int32_t TStartIndex = 0;  // fix point that stands for the dynamic start; -1 none

    std::vector<int32_t> JulDays;        // nominal fix-point days
    std::vector<int32_t> ActualJulDays;  // equal to the nominal days after reading
    std::vector<double> rsc;             // method 1: monthly values 0..13
    std::vector<double> rs_interception;
    std::vector<double> rs_evaporation;
    std::vector<double> Albedo, LAI, Z0, VCF, RootDepth;
    std::vector<double> AltDep;            // [d/m] shift per metre above 400 m
    std::vector<double> ForcingThreshold;  // method 5 only

    double RootDist = 0, HReduDry = 0, TReduWet = 0, LimitReduWet = 0;

    double FStar = 0;  // key "F*"
    int32_t JDReset_TStart = 0;
    int32_t DP1_t1_dorm = 0;
    double DP1_T_Bf = 0;
    int32_t DP2_t0_dorm = 0, DP2_t1_dorm = 0;
    double DP2_T_Bc = 0, DP2_T_Bf = 0, DP2_Par_a = 0, DP2_Par_b = 0, DP2_Offset_1 = 0, DP2_Offset_2 = 0;
    int32_t DP4_t0_dorm = 0, DP4_t1_dorm = 0;
    double DP4_T0 = 0, DP4_T1 = 0, DP4_Par_a = 0, DP4_Par_b = 0, DP4_T_xylstop = 0;
    int32_t DP4_t_xs1 = 0, DP4_SPSLF = 0;
    int32_t maxStartJDforDP1 = 0;
    bool DynamicPhenology = false;
    double StressFactorDynPhen = 0;
    double IntercepCap = -1;

    int32_t SoilTillageCount = 0;
    std::vector<int32_t> SoilTillage;  // 0..m

    int32_t SR_cultivation = 0;  // 1 conserving, 2 nonconserving, 3 other
    std::vector<double> SR_StemDiameter, SR_ResidCovrg;
    double SR_CropDistX = 0, SR_CropDistY = 0, SR_K_ST = 0, SR_C_WR = 0;
    std::vector<double> SR_rough_coeff1, SR_rough_coeff2;  // 0..3

    std::vector<double> NFactor;  // key "n-factor"
    double nf_freezing = 0, nf_thawing = 0;

    // Month lengths: December of the previous year, then January to December.
    int32_t DaysPerMonth[13] = {31, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

private:
    // Length of month 0..12 (0 = December) with February of `year`.
    int MonthLength(int month, int year) const;
    // Dynamic start day of a cell (methods 3 and 4).
    long CellDynamicStart(int layer, int row, int col) const;
    // Sample day of fix point i of a cell (methods 5 and 6).
    double CellSampleDay(int i, int layer, int row, int col, double altitude) const;
    double CellForcingSum(int layer, int row, int col) const;
    // Actual day of fix point i (1..n) without a range check.
    long ActualDay(int i, long dynamicStart, double altitude) const;
    // Checks every actual day; on failure writes the entry and throws 152.
    void CheckFixPointDays(DiagnosticsWriter* log, long dynamicStart, double altitude) const;
    int IntervalIndex(int julDay, long dynamicStart, double altitude) const;
    double ValueAtJulDay(const std::vector<double>& values, DiagnosticsWriter* log, int julDay, int layer, int row,
                         int col, double altitude) const;
    double SampleDayValue(const std::vector<double>& values, int julDay, int layer, int row, int col,
                          double altitude) const;
    double MonthlyValue(const std::vector<double>& values, int day, int month, int year) const;
    double MonthlyValueAtJulDay(const std::vector<double>& values, int julDay) const;
    double ResistanceAtJulDay(const std::vector<double>& values, DiagnosticsWriter* log, int julDay, int layer,
                              int row, int col, double altitude) const;
    double ResistanceAtDate(const std::vector<double>& values, DiagnosticsWriter* log, int day, int month, int year,
                            int layer, double altitude, int row, int col) const;
    void CheckLayer(int layer) const;
    void CheckList(const std::vector<double>& values, int needed) const;
    void ParseBlock(DiagnosticsWriter* log, std::string& text, const std::string& methodName);
};
