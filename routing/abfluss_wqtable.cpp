#include "routing/abfluss_wqtable.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>

#include "framework/diagnostics_writer.h"
#include "routing/abfluss_routingclass.h"

void wqtab::Release() { *this = wqtab{}; }

double IterateManningVelocity(double discharge, double width, double& depth, double& radius, double& velocity,
                              double manning, double rootSlope, double tolerance, int maxIterations) {
    double v = velocity;
    for (int iteration = 1;; ++iteration) {
        const double area = v > 0 ? discharge / v : 0.0;
        depth = area / width;
        const double perimeter = 2.0 * depth + width;
        double next = 0.0;
        if (perimeter > 0) {
            radius = area / perimeter;
            next = radius > 0 ? std::pow(radius, 0.66667) * manning * rootSlope : 0.0;
        } else {
            radius = 0.0;
        }
        velocity = next;
        if (iteration < maxIterations && std::fabs(v - next) > tolerance) {
            v = next;
            continue;
        }
        return next;
    }
}

SectionFlow SplitSectionFlow(const ChannelSection& s, double Q, double vmStart) {
    constexpr double Tolerance = 0.005;
    constexpr int Iterations = 50;
    SectionFlow f;
    f.Qm = Q;
    f.vm = vmStart;
    IterateManningVelocity(f.Qm, s.MainWidth, f.dm, f.Rm, f.vm, s.MainManning, s.RootSlope, Tolerance, Iterations);
    if (!(f.dm > s.MainDepth)) return f;
    f.vf = f.vm;
    for (int pass = 1; pass <= 50; ++pass) {
        const double previous = f.dm;
        // Common water level of main channel and flood plains.
        f.dm = (f.df + previous + s.MainDepth) / 2.0;
        f.df = f.dm - s.MainDepth;
        const double rise = std::fabs(previous - f.dm);
        double transfer = std::min(s.MainWidth * rise * f.vm, s.PlainWidth * rise * f.vf);
        if (previous > f.dm) {
            // Level in the main channel went down: flow moves to the plains,
            // at most what the main channel carries.
            transfer = std::min(transfer, f.Qm);
            f.Qm -= transfer;
            f.Qf += transfer;
        } else {
            transfer = std::min(transfer, f.Qf);
            f.Qm += transfer;
            f.Qf -= transfer;
        }
        IterateManningVelocity(f.Qm, s.MainWidth, f.dm, f.Rm, f.vm, s.MainManning, s.RootSlope, Tolerance,
                               Iterations);
        IterateManningVelocity(f.Qf, s.PlainWidth, f.df, f.Rf, f.vf, s.PlainManning, s.RootSlope, Tolerance,
                               Iterations);
        if (std::fabs(f.dm - f.df - s.MainDepth) <= 0.01) break;
    }
    return f;
}

int TableRowOf(double s, double qMin, double logStep, int rows) {
    double row = 1.0;
    if (logStep > 0) {
        row = std::ceil(std::log(std::max(1e-7, s) / qMin) / logStep);
        if (!(row >= 1.0)) row = 1.0;
    }
    return row < rows ? static_cast<int>(row) : rows;
}

double SubChannelCount(double tLow, double tHigh, double dtHours, double limit) {
    if (!std::isfinite(tLow) || !std::isfinite(tHigh) || !(dtHours > 0)) return 0.0;
    auto tooLong = [&](double n) { return tLow / n > tHigh / n + dtHours; };
    if (!tooLong(1.0)) return 1.0;
    double n = std::ceil((tLow - tHigh) / dtHours);
    if (!(n <= limit)) return 0.0;
    n = std::max(1.0, n);
    // The closed form may be one off through rounding; settle it on the test
    // itself.
    while (n > 1.0 && !tooLong(n - 1.0)) n -= 1.0;
    while (tooLong(n)) n += 1.0;
    return n <= limit ? n : 0.0;
}

double StorageConstantOf(double factor) {
    if (factor == 1.0) return 0.0;
    if (!(factor > 0)) return -9999.0;
    return -1.0 / std::log(factor);
}

double routingclass::IterateManning(double discharge, double width, double& depth, double& radius,
                                    double& velocity, double manning, double rootSlope, double tolerance,
                                    int maxIterations) {
    return IterateManningVelocity(discharge, width, depth, radius, velocity, manning, rootSlope, tolerance,
                                  maxIterations);
}

void routingclass::ChannelSetupError(int element, const std::string& what) {
    if (Writer) {
        *Writer << "FATAL: routing description " << DescriptionNumber << " (TG " << OutletCode << "), element "
                << element << ": " << what << "[end-entry]";
    }
    throw 17;
}

int routingclass::SetChannelParams(int e, int code, const std::vector<int>& tributaries, int subIntervals,
                                   int substitution, const ChannelValues& x, double qMin, double qMax,
                                   double intervals) {
    if (e < 1 || e > ChannelCount) ChannelSetupError(e, "no channel with this number");
    Code[static_cast<size_t>(e)] = code;
    Tributaries[static_cast<size_t>(e)] = IsSumtrib(e) ? tributaries : std::vector<int>{};
    auto positive = [](double value, double fallback) { return value > 0 ? value : fallback; };
    const size_t i = static_cast<size_t>(e);
    RetentionMain[i] = positive(x.kMain, 0.01);
    RetentionPlain[i] = positive(x.kPlain, 0.01);
    MainWidth[i] = positive(x.MainWidth, 0.1);
    PlainWidth[i] = positive(x.PlainWidth, 0.1);
    MainDepth[i] = positive(x.MainDepth, 0.1);
    MainManning[i] = positive(x.MainManning, 1.0);
    PlainManning[i] = positive(x.PlainManning, 1.0);
    RootSlope[i] = x.Slope > 0 ? std::sqrt(x.Slope) : 0.0316;
    Length[i] = positive(x.Length, 1.0);
    ChannelArea[i] = positive(x.Area, 0.000001);
    QMin[i] = qMin;
    QMax[i] = qMax;
    Intervals[i] = intervals;
    SubIntervals = subIntervals;
    Substitution = substitution;
    const int T = Links.TracerCount;
    if (e == 1) {
        OutletFlows.assign(static_cast<size_t>(T + 1), std::vector<double>(static_cast<size_t>(subIntervals + 1)));
        ChannelFlows.assign(static_cast<size_t>(T + 1), std::vector<double>(static_cast<size_t>(subIntervals + 1)));
    }

    if (!(intervals >= 1.0) || !(intervals < INT_MAX - 1)) ChannelSetupError(e, "bad number of w-q intervals");
    const int R = static_cast<int>(intervals) + 1;
    wqtab& w = Tables[i];
    w = wqtab{};
    w.Rows = R;
    for (auto* row : {&w.q, &w.qmm, &w.Q, &w.v, &w.vm, &w.vf, &w.t, &w.Rm, &w.Rf, &w.dm, &w.df, &w.QmQ})
        row->assign(static_cast<size_t>(R + 1), 0.0);
    w.delta.assign(static_cast<size_t>(R + 1), 0);

    const double d = std::log(qMax / qMin) / intervals;
    LogStep[i] = d;
    const ChannelSection section{MainWidth[i], PlainWidth[i], MainDepth[i], MainManning[i], PlainManning[i],
                                 RootSlope[i]};
    double logarithm = std::log(qMax) + d;
    double vm = 1.0;
    for (int r = R; r >= 1; --r) {
        logarithm -= d;
        const double q = std::exp(logarithm);
        w.q[static_cast<size_t>(r)] = q;
        w.qmm[static_cast<size_t>(r)] = 0.0036 * q * TimeStep / 60.0;
        const double Q = q / 1000.0 * ChannelArea[i];
        w.Q[static_cast<size_t>(r)] = Q;
        const SectionFlow f = SplitSectionFlow(section, Q, vm);
        // A channel that ran dry at this row would hold every lower row at
        // zero velocity: carry only a flowing start value.
        if (f.vm > 0) vm = f.vm;
        const size_t k = static_cast<size_t>(r);
        w.vm[k] = f.vm;
        w.vf[k] = f.vf;
        w.Rm[k] = f.Rm;
        w.Rf[k] = f.Rf;
        w.dm[k] = f.dm;
        w.df[k] = f.df;
        const double total = f.Qm + f.Qf;
        w.v[k] = total > 0 ? f.Qm / total * f.vm + f.Qf / total * f.vf : 0.0;
        w.QmQ[k] = total > 0 ? f.Qf / total : 0.0;
        w.t[k] = Length[i] / w.v[k] / 3600.0;
        if (!std::isfinite(w.t[k])) {
            ChannelSetupError(e, "the travel time through the channel is not finite at a specific discharge of " +
                                     std::to_string(q) + " l/s/km2; check the channel values and line 3");
        }
    }

    // The storage elements of a channel and the initial routing passes grow
    // with its travel time at the lowest discharge: a channel that would hold
    // that flow for more than MaxTravelSteps routing steps has values that
    // cannot be meant (an area or a slope near 0, a length far too long).
    constexpr double MaxTravelSteps = 10000;
    if (!(w.t[1] <= MaxTravelSteps * TimeStep / 60.0)) {
        char hours[32];
        std::snprintf(hours, sizeof hours, "%.6g", w.t[1]);
        ChannelSetupError(e, std::string("the travel time through the channel at the lowest specific discharge, ") +
                                 hours + " h, is longer than 10000 routing steps; check its length L, its area A "
                                 "and its other values");
    }
    const int Ns = subIntervals;
    const double S = SubChannelCount(w.t[1], w.t[static_cast<size_t>(R)], TimeStep / 60.0, INT_MAX / 4);
    if (!(S >= 1.0)) ChannelSetupError(e, "the channel needs too many sub-channels; check its values and line 3");
    w.S = S;
    const size_t subChannels = static_cast<size_t>(S) + 2;
    w.Qaus.assign(subChannels, std::vector<double>(static_cast<size_t>(Ns + 2), 0.0));
    w.QausMain = w.Qaus;
    w.QausPlain = w.Qaus;
    w.qvzuq.assign(subChannels, 0.0);
    w.FillPosition.assign(subChannels, 0);
    w.Correction.assign(static_cast<size_t>(T + 1), std::vector<double>(subChannels, 0.0));

    RetentionMain[i] = std::exp(-1.0 / RetentionMain[i]);
    RetentionPlain[i] = std::exp(-1.0 / RetentionPlain[i]);

    double largest = 0;
    for (int r = 1; r <= R; ++r) {
        const double elements = std::floor(w.t[static_cast<size_t>(r)] / S / TimeStep * 60.0 * Ns);
        if (!(elements <= INT_MAX)) ChannelSetupError(e, "the channel needs too many storage elements");
        w.delta[static_cast<size_t>(r)] = static_cast<int>(elements);
        largest = std::max(largest, elements);
    }
    const double total = std::floor((Ns + largest) * S);
    if (!(total <= static_cast<double>(INT_MAX) - Ns - 1)) {
        ChannelSetupError(e, "the channel needs too many storage elements");
    }
    w.StorageElements = static_cast<int>(total);
    return w.StorageElements;
}

int routingclass::GetTableRow(int e, double flowMm) {
    const size_t i = static_cast<size_t>(e);
    const double s = flowMm * 16666.668 / TimeStep;
    return TableRowOf(s, QMin[i], LogStep[i], static_cast<int>(Intervals[i] + 1));
}

int routingclass::GetMaxStorageElements(int previousMaximum) {
    int m = previousMaximum;
    for (int e = 1; e <= ChannelCount; ++e) m = std::max(m, Tables[static_cast<size_t>(e)].StorageElements);
    return m;
}

namespace {

// printf into a string.
template <typename... A>
std::string Format(const char* format, A... args) {
    const int n = std::snprintf(nullptr, 0, format, args...);
    std::string text(static_cast<size_t>(n > 0 ? n : 0), '\0');
    std::snprintf(text.data(), text.size() + 1, format, args...);
    return text;
}

}  // namespace

void routingclass::WriteWQTables() {
    for (int e = 1; e <= ChannelCount; ++e) {
        const size_t i = static_cast<size_t>(e);
        const wqtab& w = Tables[i];
        const std::string name =
            IsZL(e) ? Format("wq_tabZL.%.3d", Code[i]) : Format("wq_table.%.3d", RankOf(Code[i]));
        std::string text;
        if (IsOL(e)) {
            text += Format("waterlevel-discharge-table for the channel of subbasin %d to the outlet of subbasin %d\n",
                           Code[i], OutletCode);
        } else if (IsSumtrib(e)) {
            const std::vector<int>& list = Tributaries[i];
            const int m = list.empty() ? 0 : list[0];
            text += Format("waterlevel-discharge-table for the channel of subbasins %d", Code[i]);
            for (int j = 1; j <= m - 1; ++j) text += Format(", %d", list[static_cast<size_t>(j)]);
            if (m >= 1) {
                text += Format(" and %d to the outlet of subbasin %d\n", list[static_cast<size_t>(m)], OutletCode);
            } else {
                text += Format(" to the outlet of subbasin %d\n", OutletCode);
            }
        } else {
            text += Format("waterlevel-discharge-table for the channel of inflow %d to the outlet of subbasin %d\n",
                           Code[i], OutletCode);
        }
        text += "input parameters from the control file:\n";
        text += "------------------------------------------\n";
        text += Format("storage constant mean channel [h] : %7.2f\n", StorageConstantOf(RetentionMain[i]));
        text += Format("storage constant flood plain [h]  : %7.2f\n", StorageConstantOf(RetentionPlain[i]));
        text += Format("width of the mean channel [m]     : %7.2f\n", MainWidth[i]);
        text += Format("width of flood plains  [m]        : %7.2f\n", PlainWidth[i]);
        text += Format("depth of mean channel  [m]        : %7.2f\n", MainDepth[i]);
        text += Format("Manning-coef. mean chan[m^(1/3)/s]: %7.2f\n", MainManning[i]);
        text += Format("Manning-ceof. flood pl.[m^(1/3)/s]: %7.2f\n", PlainManning[i]);
        text += Format("slope angle            [1/1]      : %7.4f\n", RootSlope[i] * RootSlope[i]);
        text += Format("channel length         [m]        : %7.1f\n", Length[i]);
        text += Format("catchment area         [km^2]     : %7.2f\n", ChannelArea[i]);
        text += Format("min. spec. discharge   [l/s/km^2] : %7.1f\n", QMin[i]);
        text += Format("max. spec. discharge   [l/s/km^2] : %7.1f\n", QMax[i]);
        text += Format("intervals for w-q-table[-]        : %7.0f\n", Intervals[i] + 1);
        text += Format("sub-intervals (time)   [-]        : %7d  \n", SubIntervals);
        text += Format("number of sub-channels            : %7.0f\n", w.S);
        text += Format("total number of storage elements  : %7d  \n", w.StorageElements + SubIntervals);
        text += "-------------------------------------------------------------------------------\n";
        text += "  #    q      q       Q     dm    df     v      vm     vf     t   delta   Qm/Q \n";
        text += "     [mm]  l/s/km2 [m^3/s]  [m]   [m]   [m/s]  [m/s]  [m/s]  [h]  [Int]   [1/1]\n";
        text += "-------------------------------------------------------------------------------\n";
        for (int r = 1; r <= w.Rows; ++r) {
            const size_t k = static_cast<size_t>(r);
            text += Format("%3d  %5.3f %6.1f %7.2f  %5.2f %5.2f %5.2f  %5.2f  %5.2f  %5.2f  %3d   %5.3f\n", r,
                           w.qmm[k], w.q[k], w.Q[k], w.dm[k], w.df[k], w.v[k], w.vm[k], w.vf[k], w.t[k],
                           w.delta[k], w.QmQ[k]);
        }

        FILE* file = std::fopen(name.c_str(), "wt");
        if (!file) {
            if (Writer) {
                *Writer << "FATAL: error opening file " << name << " (check user rights or disk space)"
                        << "[end-entry]";
            }
            throw 15;
        }
        const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
        const bool closed = std::fclose(file) == 0;
        if (!written || !closed) {
            if (Writer) {
                *Writer << "FATAL: error writing file " << name << " (check user rights or disk space)"
                        << "[end-entry]";
            }
            throw 15;
        }
    }
}
