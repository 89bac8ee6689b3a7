// The channel routing step of one routing description and its kernels.

#include "routing/abfluss_route.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "framework/tracer_info.h"
#include "routing/abfluss_routingclass.h"
#include "soil/unsatzon.h"

namespace {

// The water in transit and the step's input, `sourceLength` values, spread
// evenly over `targetLength` elements: target k takes from source j the share
// of j that the stretch or squeeze lays on it, so that the water (and the
// tracers' loads) of the sources is what the targets hold. Targets go to
// `scratch` (per tracer `targetLength` values; concentrations for t >= 1).
template <typename Source>
void SpreadOver(int T, int sourceLength, int targetLength, Source source, double* scratch) {
    const size_t n = static_cast<size_t>(targetLength);
    std::fill(scratch, scratch + (static_cast<size_t>(T) + 1) * n, 0.0);
    const int64_t Ls = sourceLength, Ln = targetLength;
    int64_t j = 0, k = 0, at = 0;
    while (j < Ls && k < Ln) {
        const int64_t end = std::min((j + 1) * Ln, (k + 1) * Ls);
        const double water = source(0, static_cast<int>(j)) * (static_cast<double>(end - at) / static_cast<double>(Ln));
        scratch[static_cast<size_t>(k)] += water;
        for (int t = 1; t <= T; ++t)
            scratch[static_cast<size_t>(t) * n + static_cast<size_t>(k)] += water * source(t, static_cast<int>(j));
        at = end;
        if (end == (j + 1) * Ln) ++j;
        if (end == (k + 1) * Ls) ++k;
    }
}

}  // namespace

void TranslateSubChannel(double* const* E, const double* const* U, int T, const SubChannelBlock& block, int D,
                         int& P, double* store, const double* decay, double* scratch) {
    const int Ns = block.subIntervals;
    const int b = block.b;
    const int q0 = b + Ns;       // first element in transit
    const int p0 = q0 + D;       // where the step's input goes
    const int queued = std::max(0, P - q0 + 1);
    if (queued == D && store[0] == 0) {
        for (int s = 1; s <= Ns; ++s) {
            const int p = p0 + s - 1;
            E[0][p] = U[0][s];
            for (int t = 1; t <= T; ++t) E[t][p] = U[t][s] * decay[t];
        }
    } else {
        // The translation changed: what is in transit and the step's input
        // are spread over the new length, stretched when it grew, squeezed
        // when it shrank.
        const int Ln = D + Ns;
        const size_t n = static_cast<size_t>(Ln);
        SpreadOver(T, queued + Ns, Ln,
                   [&](int t, int j) {
                       if (j < queued) return E[t][q0 + j];
                       return t == 0 ? U[0][j - queued + 1] : U[t][j - queued + 1] * decay[t];
                   },
                   scratch);
        // Water a store still holds (from a state written before) goes with it.
        if (store[0] > 0) {
            const double share = store[0] / Ln;
            for (size_t k = 0; k < n; ++k) {
                scratch[k] += share;
                for (int t = 1; t <= T; ++t) scratch[static_cast<size_t>(t) * n + k] += share * store[t];
            }
            store[0] = 0;
        } else if (store[0] < 0) {
            double held = 0;
            for (size_t k = 0; k < n; ++k) held += scratch[k];
            const double owed = -store[0];
            const double paid = held > 0 ? std::min(owed, held) : 0.0;
            const double keep = held > 0 ? (held - paid) / held : 1.0;
            for (int t = 0; t <= T; ++t)
                for (size_t k = 0; k < n; ++k) scratch[static_cast<size_t>(t) * n + k] *= keep;
            store[0] = paid == owed ? 0.0 : store[0] + paid;
        }
        if (store[0] == 0)
            for (int t = 1; t <= T; ++t) store[t] = 0;
        for (size_t k = 0; k < n; ++k) {
            const int p = q0 + static_cast<int>(k);
            const double water = scratch[k];
            E[0][p] = water;
            // A dry element carries no concentration.
            for (int t = 1; t <= T; ++t) E[t][p] = water != 0 ? scratch[static_cast<size_t>(t) * n + k] / water : 0.0;
        }
    }
    const int last = b + block.blockLength - 1;
    for (int t = 0; t <= T; ++t) {
        double* e = E[t];
        for (int p = b; p <= last; ++p) e[p] = e[p + Ns];
    }
    P = p0 - 1;
}

double LinearStorageOutflow(double x, double y, double phi, double phi0, double kh, double kv) {
    return (1 - kh) * (1 - phi) * x + kh * (1 - phi0) * y + (1 - kv) * phi * x + kv * phi0 * y;
}

double LinearStorageContent(double y, double phi, double kh, double kv) {
    const double main = kh < 1 ? kh / (1 - kh) : 0.0;
    const double plain = kv < 1 ? kv / (1 - kv) : 0.0;
    return main * (1 - phi) * y + plain * phi * y;
}

double TwoLinearStorages(double x, double phi, double kh, double kv, double& yMain, double& yPlain) {
    yMain = (1 - kh) * (1 - phi) * x + kh * yMain;
    yPlain = (1 - kv) * phi * x + kv * yPlain;
    return yMain + yPlain;
}

double TwoLinearStoragesContent(double yMain, double yPlain, double kh, double kv) {
    const double main = kh < 1 ? kh / (1 - kh) : 0.0;
    const double plain = kv < 1 ? kv / (1 - kv) : 0.0;
    return main * yMain + plain * yPlain;
}

double TranslationDecayFactor(bool decays, double h, int D, double dt, int Ns) {
    if (!decays) return 1.0;
    if (!(h > 0)) return 0.0;
    return std::exp(-(D * dt / Ns / 60.0 / 24.0) / (h * 1.442695041111));
}

// Steps of one description: the outlet's own runoff, every channel through
// its sub-channels into the outlet, the outlet totals. Withdrawals for
// irrigation and by the soil model act around these steps, then the
// abstractions (and the reservoirs after them); a zero-date step (initial
// routing) never withdraws.
void routingclass::RouteTimeStep(int64_t year, int64_t month, int64_t day, int64_t hour) {
    if (!StepFlows || !SubIntervalFlows || !Storage) return;
    const int n = Links.SubbasinCount;
    const int T = Links.TracerCount;
    const int Ns = SubIntervals;
    double** F = StepFlows;
    double*** Fs = SubIntervalFlows;
    double** abfrel = Links.Abfrel;
    const int g = RankOf(OutletCode);
    const double f = AreaFactor;
    std::vector<std::vector<double>>& O = OutletFlows;
    std::vector<std::vector<double>>& U = ChannelFlows;

    const bool zeroDate = month < 1;
    TakeUpTributaries(zeroDate);

    // The outlet's own runoff.
    for (int s = 1; s <= Ns; ++s) {
        O[0][static_cast<size_t>(s)] = Weights[0] * Fs[0][s][g];
        for (int t = 1; t <= T; ++t) O[static_cast<size_t>(t)][static_cast<size_t>(s)] = Fs[t][s][g];
    }

    for (int e = 1; e <= ChannelCount; ++e) {
        const size_t ke = static_cast<size_t>(e);
        const int i = IndexOf(e);
        if (i <= 0) continue;

        if (!IsZL(e)) SoilRiverWithdrawal(e, zeroDate);

        // A summed channel carries the area-weighted mean of its subbasins.
        double W = 0;
        if (IsSumtrib(e)) {
            const std::vector<int>& list = Tributaries[ke];
            const int m = list.empty() ? 0 : list[0];
            auto weightOf = [&](int j) { return j > 0 && abfrel[1][j] != 0 ? abfrel[0][j] / abfrel[1][j] : 0.0; };
            for (int jj = 1; jj <= m + 1; ++jj) {
                const int j = jj <= m ? RankOf(list[static_cast<size_t>(jj)]) : i;
                W += weightOf(j);
            }
            for (int s = 1; s <= Ns; ++s) {
                double Q = 0;
                for (int t = 1; t <= T; ++t) TracerLoads[static_cast<size_t>(t)] = 0;
                for (int jj = 1; jj <= m + 1; ++jj) {
                    const int j = jj <= m ? RankOf(list[static_cast<size_t>(jj)]) : i;
                    const double a = weightOf(j);
                    if (a == 0) continue;
                    Q += a * Fs[0][s][j];
                    for (int t = 1; t <= T; ++t) TracerLoads[static_cast<size_t>(t)] += a * Fs[0][s][j] * Fs[t][s][j];
                }
                Fs[0][s][i] = W != 0 ? Q / W : 0.0;
                // A dry channel carries no concentration.
                for (int t = 1; t <= T; ++t) Fs[t][s][i] = Q != 0 ? TracerLoads[static_cast<size_t>(t)] / Q : 0.0;
            }
        }

        // An internal inflow arrives in m3/s from its abstraction.
        if (IsZL(e)) {
            const size_t z = static_cast<size_t>(e - Counts.OL - Counts.SUMTRIB);
            if (InflowMode[z] == 3) {
                for (int s = 1; s <= Ns; ++s) Fs[0][s][i] = ConvertToMm(Fs[0][s][i], ChannelArea[ke], TimeStep);
                for (int t = 0; t <= T; ++t) F[t][i] = Fs[t][1][i];
            }
        }

        // Channel input, or the observed discharge where it replaces it.
        const bool observed = Substitution == 1 && i <= n && SubstituteMm && SubstituteMm[i] >= 0;
        for (int s = 1; s <= Ns; ++s) {
            for (int t = 0; t <= T; ++t) U[static_cast<size_t>(t)][static_cast<size_t>(s)] = Fs[t][s][i];
            if (observed) U[0][static_cast<size_t>(s)] = SubstituteMm[i];
        }

        wqtab& w = Tables[ke];
        const int S = static_cast<int>(w.S);
        const SubChannelBlock whole{1, BlockLength(e), Ns};
        for (int t = 0; t <= T; ++t) {
            ElementRows[static_cast<size_t>(t)] = (*Storage)[static_cast<size_t>(t)][static_cast<size_t>(i)].data();
            InputRows[static_cast<size_t>(t)] = U[static_cast<size_t>(t)].data();
        }
        const double kh = RetentionMain[ke], kv = RetentionPlain[ke];
        for (int sigma = S; sigma >= 1; --sigma) {
            const size_t ks = static_cast<size_t>(sigma);
            const int r = GetTableRow(e, GetMaxOfSubIntervals(U[0].data()));
            const int D = w.delta[static_cast<size_t>(r)];
            for (int t = 1; t <= T && Links.Tracers; ++t) {
                const TracerInfo& tracer = Links.Tracers[t];
                DecayFactors[static_cast<size_t>(t)] =
                    TranslationDecayFactor(tracer.radioactive == 1, tracer.half_time, D, TimeStep, Ns);
            }
            SubChannelBlock block = whole;
            block.b = (sigma - 1) * whole.blockLength + 1;
            for (int t = 0; t <= T; ++t) StoreValues[static_cast<size_t>(t)] = w.Correction[static_cast<size_t>(t)][ks];
            TranslateSubChannel(ElementRows.data(), InputRows.data(), T, block, D, w.FillPosition[ks],
                                StoreValues.data(), DecayFactors.data(), TranslationScratch.data());
            for (int t = 0; t <= T; ++t) w.Correction[static_cast<size_t>(t)][ks] = StoreValues[static_cast<size_t>(t)];

            const double* E0 = ElementRows[0];
            const int rOut = GetTableRow(e, GetMaxOfSubIntervals(E0 + block.b - 1));
            const double phi = w.QmQ[static_cast<size_t>(rOut)];
            for (int s = 1; s <= Ns; ++s) {
                const size_t k = static_cast<size_t>(s);
                const int p = block.b + s - 1;
                const double out = TwoLinearStorages(E0[p], phi, kh, kv, w.QausMain[ks][k], w.QausPlain[ks][k]);
                U[0][k] = out;
                w.Qaus[ks][k] = out;
                for (int t = 1; t <= T; ++t) U[static_cast<size_t>(t)][k] = ElementRows[static_cast<size_t>(t)][p];
            }
            w.qvzuq[ks] = phi;
        }

        // Into the outlet, in mm over the description's area A / f.
        for (int s = 1; s <= Ns; ++s) {
            const size_t k = static_cast<size_t>(s);
            double V;
            if (IsZL(e)) {
                V = U[0][k] * ChannelArea[ke] / CatchmentArea * f;
            } else if (IsOL(e)) {
                V = abfrel[1][i] != 0 ? Weights[ke] / abfrel[1][i] * U[0][k] : 0.0;
            } else {
                V = abfrel[0][g] != 0 ? U[0][k] * f / abfrel[0][g] * W : 0.0;
            }
            for (int t = 1; t <= T; ++t) {
                double& o = O[static_cast<size_t>(t)][k];
                o = MixConcentration(o, U[static_cast<size_t>(t)][k], O[0][k], V);
            }
            O[0][k] += V;
        }
    }

    // Outlet totals: water summed over the sub-intervals, concentrations
    // weighted by flow.
    for (int t = 0; t <= T; ++t) O[static_cast<size_t>(t)][0] = 0;
    for (int s = 1; s <= Ns; ++s) {
        for (int t = 0; t <= T; ++t) Fs[t][s][g] = O[static_cast<size_t>(t)][static_cast<size_t>(s)];
        O[0][0] += O[0][static_cast<size_t>(s)];
    }
    if (O[0][0] > 0) {
        for (int s = 1; s <= Ns; ++s)
            for (int t = 1; t <= T; ++t)
                O[static_cast<size_t>(t)][0] += O[0][static_cast<size_t>(s)] / O[0][0] * O[static_cast<size_t>(t)][static_cast<size_t>(s)];
    }
    F[0][g] = O[0][0] / Ns;
    for (int t = 1; t <= T; ++t) F[t][g] = O[static_cast<size_t>(t)][0];
    OutletAvailability(zeroDate);
    RouteAbstractions(year, month, day, hour);
    RouteReservoirs(year, month, day, hour);
}
