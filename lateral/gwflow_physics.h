#pragma once
// Kernels of the layered groundwater model: transmissivities of cells and
// faces, leakage between layers, the theta-method Gauss-Seidel value of one
// cell, the adaptive relaxation factor, the balance residual of one cell and
// the start head of layer 1. Pure functions on plain values; heads and
// lengths in m, conductivities and rates in m/s, times in s.

#include <cstdint>
#include <string>

namespace gwflow {

// Transmissivity [m2/s] of one cell in one direction. While the head lies
// at most 0.01 m above the layer top (h <= top + 0.01 with `inclusive`,
// else h < top + 0.01) the saturated part counts: (h - top + mEffective) k;
// above that the full thickness: m k. A cell with any glacier share has 0.
double CellTransmissivity(double head, double top, double mEffective, double mFull, double conductivity,
                          double glacier, bool inclusive);

// What a face needs to know about the cell and its neighbour.
struct FaceSide {
    double transmissivity = 0;  // the side's own value (CellTransmissivity)
    double head = 0;
    double conductivity = 0;    // in the face's direction
    double glacier = 0;         // share 0..1
};

// The transmissivity of the face between a cell and its east or south
// neighbour [m2/s]: the harmonic mean of two wet sides; a dry side (0 or
// less) takes the wet side's value only when the water flows from the wet
// side to it (the wet head is higher) and the dry side conducts and is free
// of glacier; otherwise 0. `neighbourUsable` is false for a neighbour outside
// the grid or the model, or across a zone border where that stops the flow.
double FaceTransmissivity(const FaceSide& cell, const FaceSide& neighbour, bool neighbourUsable);

// Leakage from layer k + 1 into layer k [m/s, positive upwards]: the head
// difference (h_lo - h_up while the lower head is the higher one or the lower
// layer is confined, else top_lo - h_up when the upper head is at or above
// the lower top), clamped to +-1 m, times the leakage coefficient [1/s].
double Leakage(double headUpper, double headLower, double topLower, double kolmation);

// Conductance of the face between two cells [m2/s]: the face transmissivity
// times the face width over the distance of the cell centres, both taken as
// the means of the two cells' values. The cells on either side of a face see
// the same number, so what leaves one enters the other also where the cell
// sizes change from row to row; with equal cells it is width / distance x T.
double FaceConductance(double transmissivity, double widthA, double widthB, double distanceA, double distanceB);

// One cell of a sweep. Neighbours in the order N, E, S, W: conductances
// C (T x width / distance, 0 where no face), the neighbours' start heads and
// current heads.
struct CellEquation {
    double conductance[4] = {0, 0, 0, 0};
    double startHead[4] = {0, 0, 0, 0};    // h_s of the neighbour
    double currentHead[4] = {0, 0, 0, 0};  // h of the neighbour
    double ownStart = 0;                   // h_s of the cell (ho)
    double storage = 0;                    // Sc
    double leakage = 0;                    // leak_k - leak_(k-1) [m/s]
    double inflow = 0;                     // fixed inflow q [m/s]
    double area = 0;                       // dx dy [m2]
    double dt = 0;                         // [s]
    double alpha = 1;                      // implicitness weight
};

// The head h that satisfies
//   Sc A (h - ho) / dt = sum_X C_X ((1 - a)(hs_X - ho) + a (h_X - h)) + (leakage + q) A
// for the neighbours' current values; `solvable` is false (and `current`
// returned) when the denominator a SumC + Sc A / dt is 0 or not finite.
double GaussSeidelValue(const CellEquation& e, double current, bool* solvable);

// Adaptive relaxation factor: 1 when the previous iterate equals the current
// value, else (hGS - h0) / (h0 - hPrevious) + 1, with factors at or below 0
// taken as 1 and above 2 as 2.
double AdaptiveFactor(double gaussSeidel, double current, double previous);

// Balance residual of one cell [mm]: storage change S (h - ho) minus the net
// inflow (W - V) / A of the sub-step, with W - V the lateral and vertical
// volumes [m3].
double BalanceResidual(double head, double startHead, double storage, double netInflowVolume, double area);

// The concentration after mixing: (c0 V + loads) / W, 0 when W is not positive.
double MixedConcentration(double c0, double volume, double loads, double total);

// Start head of layer 1 [m] from the elevation z and the groundwater distance
// d (negative below the surface); ponded water or surface storage [mm] count
// only when the table is at the surface (|d| < 0.001).
double StartHead(double elevation, double distance, bool pondsUsed, double ponding, bool surfaceStorageUsed,
                 double surfaceStorage);

// The name of the start-of-sub-step head grid: "_old" before the extension of
// the file name (a "." after the last "/"), else at the end.
std::string OldHeadFileName(const std::string& headFileName);

// Records of the control point buffer: 2097152 bytes at 48 L + 40 bytes a
// record, at least 1.
int64_t ControlPointCapacity(int layers);

// Decay factor of one sub-step for a half-life in days.
double DecayFactor(double intervalMinutes, int subSteps, double halfLifeDays);

}  // namespace gwflow
