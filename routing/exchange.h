#pragma once
// The routing's side of the exchange of river water with irrigation and with
// the soil model: which subbasins gave their withdrawal in this step, and the
// withdrawals that a river could not supply, carried into the next step.

#include <cstddef>
#include <vector>

// Takes up to `rate` [mm per step] from one sub-interval flow `q` without
// driving it below 0; returns the part that could not be taken.
double WithdrawAtMost(double& q, double rate);

// What the withdrawals of one step took out of the rivers [m3]: measured on
// the flows themselves, for balances over the network.
struct WithdrawnVolumes {
    double IrrigationFromRivers = 0;
    double SoilFromRivers = 0;
    double Abstractions = 0;  // from outlets without a reservoir
};

struct RiverExchange {
    // Per subbasin 1..n.
    std::vector<char> Taken;                 // irrigation withdrawal made in this step
    std::vector<double> IrrigationDeficit;   // carried irrigation withdrawal [mm per step over the subbasin]
    std::vector<double> SoilDeficit;         // carried soil withdrawal [mm per step over the river-flow area]
    std::vector<double> ReservoirDepth;      // delivered irrigation its reservoir supplies [mm over the subbasin]

    void Resize(int n) {
        Taken.assign(static_cast<size_t>(n) + 1, 0);
        IrrigationDeficit.assign(static_cast<size_t>(n) + 1, 0.0);
        SoilDeficit.assign(static_cast<size_t>(n) + 1, 0.0);
        ReservoirDepth.assign(static_cast<size_t>(n) + 1, 0.0);
    }
    bool Empty() const { return Taken.empty(); }

    WithdrawnVolumes LastStep;

};
