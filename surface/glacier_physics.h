#pragma once
// Glacier physics on plain values: ice and firn melt of a time step and the
// linear storages that carry glacier melt to the runoff. Melt and storage
// outflows in mm per time step, air temperatures in degC, storage constants
// in time steps, `spd` steps per day.

#include <cmath>

namespace glacierphys {

// Share of the previous outflow a linear storage keeps over one step:
// exp(-1/k); a constant of 0 (or below) passes the inflow without delay.
inline double StorageDecay(double k) { return k > 0 ? std::exp(-1.0 / k) : 0.0; }

// Outflow of a linear storage after one step with the inflow `inflow` (per
// unit of glacier area).
inline double LinearStorageStep(double outflow, double k, double inflow) {
    const double e = StorageDecay(k);
    return outflow * e + (1 - e) * inflow;
}

// Water held by a linear storage whose outflow is `outflow`: Q e / (1 - e),
// 0 for a storage without delay.
inline double StoredWater(double outflow, double k) {
    const double e = StorageDecay(k);
    return e > 0 ? outflow * e / (1 - e) : 0.0;
}

// Degree-day melt of ice or firn above `t0`, less the snow melt `snowMelt`
// of the step on the same glacier part; may be negative (no melt then).
inline double DegreeDayIceMelt(double factor, double t, double t0, double spd, double snowMelt) {
    return factor * (t - t0) / spd - snowMelt;
}

// Temperature and radiation melt: (mf / spd + a r) (t - t0), less `snowMelt`.
inline double RadiationIceMelt(double mf, double a, double r, double t, double t0, double spd, double snowMelt) {
    return (mf / spd + a * r) * (t - t0) - snowMelt;
}

// Debris factor of a cell: the grid's value when it holds one, else 1.
inline double DebrisFactor(double value, double noData) { return value > noData + 1 ? value : 1.0; }

}  // namespace glacierphys
