#pragma once
// One soil type of the soil table: its layers with their van Genuchten /
// Mualem parameters, the hydraulic and freezing lookup tables built from
// them, and the constants the soil, heat, groundwater and silting-up models
// need per soil type.
//
// Per-layer lists have the entries 0..LayerCount: layers 1..LayerCount from
// the surface down, entry 0 repeating layer 1. Every table is built before
// the run (while the table is read, or by MakeFreezingTables and
// PrepareConductivityPowers during the soil model's set-up); the lookups only
// read the record and are safe to call from any number of threads at once.

#include <cstdint>
#include <string>
#include <vector>

class DiagnosticsWriter;

// What the search for one key of a brace entry found.
enum class SoilKeyRead {
    Absent,      // the key does not occur: its default applies
    Read,        // the value was taken
    Unreadable,  // the key occurs but its value cannot be taken
};

class SoilType {
public:
    static constexpr int TablePoints = 30;       // points of the hydraulic tables
    static constexpr int DefaultFreezingSteps = 1000;
    static constexpr size_t MaxNameLength = 199;
    // Numerical layers a soil type may have; far above any real profile, it
    // keeps a mistyped count from exhausting memory.
    static constexpr int MaxLayers = 1000;
    static constexpr int GrainSizeFractions = 7;
    static constexpr int SiltingUpParameters = 11;

    // Suction axis of the hydraulic tables [m], entries 1..30 (entry 0 unused).
    static const double SuctionAxis[TablePoints + 1];


    SoilType();
    explicit SoilType(int code);

    // --- Reading an entry of the soil table (throws the error code) ---------
    // One-line entry; with a model variant other than 2 only code, name and
    // the four TOPMODEL values are read. Refused entries end with code 30.
    void ParseOldFormat(DiagnosticsWriter* writer, const std::string& entry, int modelVariant);
    // Brace ("MultipleHorizons") entry. Refused entries end with code 29.
    void ParseEntry(DiagnosticsWriter* writer, const std::string& entry);
    // A list with one number per horizon, copied into every layer of its
    // horizon (entry 0 takes layer 1's value). With no target the key is
    // "layers": it sets the horizon count, the layers per horizon and the
    // layer count.
    SoilKeyRead ReadHorizonList(const std::string& entry, const std::string& key, std::vector<double>* target);
    // One number after the first occurrence of the key.
    SoilKeyRead ReadValue(const std::string& entry, const std::string& key, double* target) const;
    // The seven fractions of "GrainSizeDist" (all seven must be readable).
    SoilKeyRead ReadGrainSizeDist(const std::string& entry);

    // --- Building the tables (before the run, never from a cell loop) ------
    // Sizes every per-layer list and table for `layers` layers (lists filled
    // with `fill`, tables with 0).
    void CreateLayers(int layers, double fill);
    void MakeHydraulicTables(int layer);
    // Fills the unfrozen-fraction, slope and shift tables of one layer with
    // the temperature factor fT of the heat model.
    void MakeFreezingTables(int layer, double factor);
    bool FreezingTablesReady(int layer) const;
    // Keeps per layer the powers DryThermalConduct^(1 - theta_sat) and
    // lambdaWater^theta_sat that the thermal conductivity needs in every heat
    // step. Call after the dry thermal conductivities are final.
    void PrepareConductivityPowers(double waterConductivity);

    // --- Lookups (const, thread-safe, no allocation) -------------------------
    // Suction [m] at the water content theta of a layer.
    double SuctionFromTheta(int layer, double theta) const;
    // Relative conductivity at the smaller of a and b (a when either is NaN).
    double KrelFromTheta(int layer, double a, double b) const;
    // Water content at a suction [m]. The content at field capacity
    // (FieldCapacitySuction), which the column asks for in every iteration,
    // is kept per layer when the tables are made.
    double ThetaFromSuction(int layer, double suction) const;
    static constexpr double FieldCapacitySuction = 3.45;  // [m]
    const std::vector<double>& GetKsat() const { return ksat; }
    // Per layer 1..LayerCount of the caller's arrays. Without temperatures
    // (null) nothing is written.
    void CalcUnfrozenFraction(double* out, const double* temperature, const double* theta) const;
    void CalcFreezingSlope(double* out, const double* temperature, const double* theta) const;
    // Both of the above in one pass: the freezing-point shift of a layer is
    // found once for its two tables.
    void CalcUnfrozenFractionAndSlope(double* fraction, double* slope, const double* temperature,
                                      const double* theta) const;
    void CalcHeatCapacity(const double* temperature, double* out, const double* unfrozenFraction,
                          const double* addend, const double* theta, double waterDensity, double waterCapacity,
                          double iceCapacity0, double iceCapacity20) const;

    // Table rows of one layer: W and V have entries 0..30, K 1..30, the
    // freezing tables 0..FreezingSteps.
    const double* ThetaSuctionTable(int layer) const;
    // A bound of |d suction / d theta| [m] over the layer's retention curve
    // (its row of the water-content table): infinite where two points hold
    // the same content, negative where the content rises somewhere along the
    // suction axis or the row was never built.
    double SuctionCurveSteepness(int layer) const;
    const double* ThetaConductTable(int layer) const;
    const double* KrelTable(int layer) const;
    const double* UnfrozenFractionTable(int layer) const;
    const double* UnfrozenSlopeTable(int layer) const;
    const double* FreezingShiftTable(int layer) const;

    // --- The record ---------------------------------------------------------
    std::string Name;
    int32_t Code = 0;
    int32_t Method = 0;  // one-line format: 1 (van Genuchten); brace format: 0
    double FCap = 0;
    double mSB = 0;
    double CapacitySpan = 0;  // (mSB - FCap) x 0.01
    double ksat_topmodel = 0;
    double suction = 0;
    int32_t ConductTablePoints = 0;
    int32_t SuctionTablePoints = 0;
    int32_t LayerCount = 0;
    int32_t HorizonCount = 0;
    std::vector<int32_t> LayersPerHorizon;  // 0..HorizonCount, entry 0 = LayerCount

    std::vector<double> ksat;       // [m/s]
    std::vector<double> thickness;  // [m]
    std::vector<double> theta_sat;
    std::vector<double> theta_res;
    std::vector<double> Par_n;
    std::vector<double> Par_m;
    std::vector<double> alpha;  // [1/m]
    std::vector<double> Par_tau;
    std::vector<double> k_recession;

    double KReduction = 0;  // conductivity recession with depth, one-line format
    double maxratio = 0;
    double EvapMaxDepth = 0.1;       // [m]
    double MaxInterflowDepth = 2;    // [m]
    double ThicknessScaling = 1;
    double TotalDepth = 0;           // [m], layers 1..LayerCount
    double PMacroThresh = 1;         // [m/s]
    double MacroCapacity = 0;        // [m/s]
    double MacroDepth = 0;           // [m]
    double CapacityRedu = 1;
    // Sand, silt, clay, stones1..stones4.
    double GrainSizeDist[GrainSizeFractions] = {0.3333, 0.3333, 0.3334, 0, 0, 0, 0};
    // SU_PAR[k] is the value of the key "SU_PAR" with the two-digit index k.
    double SU_PAR[SiltingUpParameters] = {};

    std::vector<double> DryHeatCapacity;    // negative = not given
    std::vector<double> DryDensity;         // negative = not given
    std::vector<double> DryThermalConduct;  // negative = not given
    double KMinFrozenSoil = -1;             // negative = not given
    double FreezingMinTemperature = -10;    // [degC]
    int32_t FreezingSteps = DefaultFreezingSteps;

    // Per layer, from PrepareConductivityPowers; not positive = not prepared.
    std::vector<double> SolidConductivityPower;
    std::vector<double> WaterConductivityPower;

private:
    static constexpr int Row = TablePoints + 1;
    int FreezingRow() const { return FreezingSteps + 1; }
    // Inline, as the lookups call it for every layer in the column solver's
    // inner loops; the report of a missing layer stays out of line.
    void CheckLayer(int layer, const char* file, int line) const {
        if (layer >= 0 && layer <= LayerCount && static_cast<size_t>(layer + 1) * Row <= WaterContentSuction.size() &&
            static_cast<size_t>(layer + 1) * FreezingRow() <= UnfrozenFraction.size())
            return;
        LayerMissing(layer, file, line);
    }
    [[noreturn]] void LayerMissing(int layer, const char* file, int line) const;
    // ThetaFromSuction from the layer's row of the table (layer checked).
    double ThetaFromSuctionInTable(int layer, double suction) const;
    // Keeps the content at field capacity of a layer from its row.
    void KeepFieldCapacityContent(int layer);
    // False, with the reason, when a conductivity or a table value of some
    // layer is not finite.
    bool TablesFinite(std::string* problem) const;
    // Shared by the two freezing lookups: the table value at the shifted
    // temperature, or `unfrozenValue` when the shifted temperature is not
    // below 0.
    double FreezingLookup(const std::vector<double>& table, int layer, double temperature, double theta,
                          double unfrozenValue) const;
    // Where a layer's temperature falls in its freezing tables: between
    // entries `k` and k + 1 with weight `fraction` on k + 1, or not in them.
    enum class FreezingPlace { NotANumber, Unfrozen, Table };
    FreezingPlace FindFreezingPlace(int layer, double temperature, double theta, size_t& row, int& k,
                                    double& fraction) const;

    // Flat tables, one row per layer 0..LayerCount.
    std::vector<double> WaterContentSuction;  // W
    std::vector<double> FieldCapacityContent;  // per layer, ThetaFromSuction at FieldCapacitySuction
    std::vector<double> SuctionSteepness;     // per layer, see SuctionCurveSteepness
    std::vector<double> WaterContentConduct;  // V
    std::vector<double> RelativeConduct;      // K
    std::vector<double> UnfrozenFraction;     // F
    std::vector<double> UnfrozenSlope;        // S
    std::vector<double> FreezingShift;        // Z
    std::vector<uint8_t> FreezingMade;

};
