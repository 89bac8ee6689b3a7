#pragma once
// Kernels of interception: the storage capacity of a vegetation layer, the
// filling of its storage with overflow, and the two rules by which the
// stored water evaporates. Pure functions on plain values; water in mm per
// step, storage in mm.

namespace interzep {

// Capacity [mm] = c LAI, c the land use's capacity per unit of leaf area
// (IntercepCap) or, where the land use gives none (negative), SIdicke.
// A negative result (a leaf area below 0) counts as 0.
double Capacity(double intercepCap, double siDicke, double leafAreaIndex);

struct FillResult {
    double throughfall = 0;       // T [mm]
    double storage = 0;           // S after the overflow [mm]
    double throughfallBefore = 0; // (1 - v) P, before the overflow [mm]
    double overflow = 0;          // S + v P - Cap when positive [mm]
};

// The cover fraction v (taken within [0, 1]) of the input P reaches the
// storage, the rest falls through: T = (1 - v) P, S += v P; a storage above
// the capacity spills the excess into the throughfall.
FillResult FillStorage(double input, double coverage, double storage, double capacity);

struct EvaporationResult {
    double evaporation = 0;        // E [mm]
    double storage = 0;            // S after the evaporation [mm]
    double potTranspiration = 0;   // the layer's potential transpiration afterwards [mm]
    double totalReduction = 0;     // what the total (layer 0) potential loses [mm]
};

// Rule 1: the potential transpiration Tp evaporates the storage,
// E = min(S, Tp), and is lowered by E.
EvaporationResult EvaporateByTranspiration(double storage, double potTranspiration);

// Rule 2: the potential interception evaporation Ep evaporates the storage,
// E = min(S, Ep); the potential transpiration is lowered by min(Tp, E).
EvaporationResult EvaporateByInterception(double storage, double potInterception, double potTranspiration);

}  // namespace interzep
