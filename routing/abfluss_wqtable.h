#pragma once
// Water-level/discharge tables of the routing channels: the record of one
// channel and the hydraulic kernels that fill it (Manning iteration, the
// split between main channel and flood plains, the row lookup, the number of
// sub-channels).

#include <string>
#include <vector>

// The water-level/discharge table of one channel. Row arrays hold rows 1..R
// (entry 0 unused); sub-channel arrays hold 0..S+1.
struct wqtab {
    std::vector<double> q;        // specific discharge [l/s/km2]
    std::vector<double> qmm;      // the same flow [mm per step] over the channel catchment
    std::vector<double> Q;        // discharge [m3/s]
    std::vector<double> v;        // mean velocity [m/s]
    std::vector<double> vm;       // main-channel velocity [m/s]
    std::vector<double> vf;       // flood-plain velocity [m/s]
    std::vector<double> t;        // travel time through the channel [h]
    double S = 1;                 // number of sub-channels
    std::vector<double> Rm;       // hydraulic radius, main channel [m]
    std::vector<double> Rf;       // hydraulic radius, flood plains [m]
    std::vector<double> dm;       // depth in the main channel [m]
    std::vector<double> df;       // depth on the flood plains [m]
    int StorageElements = 0;      // total storage elements of the channel
    std::vector<int> delta;       // storage elements of one sub-channel per row
    std::vector<double> QmQ;      // flood-plain share of the discharge [1/1]
    std::vector<int> FillPosition;                 // per sub-channel
    std::vector<std::vector<double>> Correction;   // [tracer][sub-channel]
    std::vector<double> qvzuq;                     // per sub-channel
    std::vector<std::vector<double>> Qaus;         // [sub-channel 0..S+1][sub-interval 0..Ns+1]
    // The last outflow of the main-channel and of the flood-plain storage
    // apart (their sum is `Qaus`), so that a change of the flood-plain share
    // moves no water between storages of different constants.
    std::vector<std::vector<double>> QausMain, QausPlain;  // as `Qaus`
    int Rows = 0;                 // R

    void Release();
};

// Manning's velocity by fixed-point iteration on the velocity:
//   A = Q / v, h = A / B, R = A / (2h + B), v' = R^0.66667 * n * sqrt(I).
// `velocity` is the starting value and receives the result; `depth` [m] and
// `radius` [m] receive the values of the last pass. Returns the velocity
// [m/s].
double IterateManningVelocity(double discharge, double width, double& depth, double& radius, double& velocity,
                              double manning, double rootSlope, double tolerance, int maxIterations);

// One channel cross-section: a main channel of width `MainWidth` and depth
// `MainDepth` with flood plains of width `PlainWidth`.
struct ChannelSection {
    double MainWidth = 0, PlainWidth = 0, MainDepth = 0;  // [m]
    double MainManning = 0, PlainManning = 0;             // [m^(1/3)/s]
    double RootSlope = 0;                                 // sqrt of the slope [-]
};

// Flow state of one discharge in a cross-section.
struct SectionFlow {
    double Qm = 0, Qf = 0;    // main-channel and flood-plain flow [m3/s]
    double vm = 0, vf = 0;    // velocities [m/s]
    double dm = 0, df = 0;    // depths [m]
    double Rm = 0, Rf = 0;    // hydraulic radii [m]
};

// Flow of discharge `Q` [m3/s] in the section, starting the main-channel
// iteration at `vmStart`. Water above the main-channel depth spreads on the
// flood plains: the common level is averaged pass by pass and flow moves
// between the two parts, never more than the giving part holds, so that
// Qm, Qf >= 0 and Qm + Qf = Q.
SectionFlow SplitSectionFlow(const ChannelSection& section, double Q, double vmStart);

// Row of the table for specific discharge `s` [l/s/km2]: ceil(ln(s / qMin) /
// logStep), at least 1 and at most `rows`; s below 1e-7 counts as 1e-7.
// Without a positive logarithmic step the row is 1.
int TableRowOf(double s, double qMin, double logStep, int rows);

// The smallest number of sub-channels S >= 1 for which the travel times of
// the lowest and the highest row through one sub-channel differ by at most
// one step: tLow / S <= tHigh / S + dtHours. Returns 0 when the times are not
// finite or S exceeds `limit`.
double SubChannelCount(double tLow, double tHigh, double dtHours, double limit);

// Storage constant [h] shown for a retention factor f = exp(-1/k): 0 for
// f = 1, -9999 for f <= 0.
double StorageConstantOf(double factor);
