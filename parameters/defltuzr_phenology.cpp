#include "parameters/defltuzr_phenology.h"

#include <cmath>

double SigmoidForcingRate(double meanTemperature, double baseTemperature) {
    if (!(meanTemperature > baseTemperature)) return 0;
    return 28.4 / (1.0 + std::exp(-0.185 * (meanTemperature - baseTemperature - 18.4)));
}

double ChillRate(double meanTemperature, double offset1, double baseChilling, double offset2) {
    const double T = meanTemperature;
    if (T <= offset1) return 0;
    if (T <= baseChilling) return T < offset2 ? (T - offset1) / (baseChilling - offset1) : 0;
    return T < offset2 ? (T - offset2) / (baseChilling - offset2) : 0;
}

double PhenologyStressFactor(bool hasMoisture, double meanTheta, double hReduDry) {
    if (!hasMoisture || !(meanTheta >= hReduDry) || !(hReduDry < 150)) return 0;
    return (meanTheta - hReduDry) / (150 - hReduDry);
}

double WeightedForcing(double rate, double stressFactor, double stressWeight) {
    if (stressWeight > 0) return (1 + stressFactor * stressWeight) * rate;
    return rate;
}

int StartTimesSearch(const double* levels, int dayOfYear, int largestFixPointCount, double noData) {
    int m = 1;
    while (dayOfYear > levels[m] && levels[m] > 0 && m + 1 <= largestFixPointCount + 1 &&
           levels[m + 1] > noData + 1) {
        ++m;
    }
    return m;
}

namespace {

// Nominal day of fix point t (0..n) of a record.
double NominalDay(const LanduseType& R, int t) { return R.JulDays[t]; }

// Fix points back on their nominal days, as at the start of a season.
void ResetSampleDays(const LanduseType& R, PhenologyCellState& s) {
    if (!s.SampleDays) return;
    for (int t = 1; t <= R.FixPointCount; ++t) s.SampleDays[t] = NominalDay(R, t);
}

// The season starts on day a at fix point m of the sample days; the following
// fix point counts its nominal day from there.
void RecordSeasonStart(const LanduseType& R, int a, int m, PhenologyCellState& s) {
    if (!s.SampleDays) return;
    s.SampleDays[m] = a;
    if (m < R.FixPointCount) s.SampleDays[m + 1] = a + NominalDay(R, m + 1);
}

void Rule3(const LanduseType& R, int a, int L, double noData, const PhenologyCellWeather& w,
           PhenologyCellState& s) {
    if (s.StartDay < 0 && a >= R.DP1_t1_dorm) {
        s.ForcingSum += WeightedForcing(SigmoidForcingRate(w.MeanTemperature, R.DP1_T_Bf), w.StressFactor,
                                        R.StressFactorDynPhen);
        if (s.ForcingSum > R.FStar) {
            s.StartDay = a;
            if (R.Method == LanduseMethodDynamicPhenology4 && s.SampleDays) {
                RecordSeasonStart(R, a, StartTimesSearch(s.SampleDays, a, L, noData), s);
            }
        }
    }
    if (a == R.JDReset_TStart) {
        s.ForcingSum = 0;
        s.StartDay = -1;
        s.LeafFallDay = 0;
        ResetSampleDays(R, s);
    }
}

void Rule4(const LanduseType& R, int a, const PhenologyCellWeather& w, PhenologyCellState& s) {
    if (s.StartDay < 0 && a >= R.DP2_t1_dorm) {
        s.ForcingSum += WeightedForcing(SigmoidForcingRate(w.MeanTemperature, R.DP2_T_Bf), w.StressFactor,
                                        R.StressFactorDynPhen);
        if (s.ForcingSum > s.ForcingThreshold) s.StartDay = a;
    }
    if (a >= R.DP2_t0_dorm || a < R.DP2_t1_dorm) {
        s.ChillingSum += ChillRate(w.MeanTemperature, R.DP2_Offset_1, R.DP2_T_Bc, R.DP2_Offset_2);
    }
    if (a == R.JDReset_TStart) {
        s.ForcingSum = 0;
        s.StartDay = -1;
    }
    if (a == R.DP2_t0_dorm - 1) s.ChillingSum = 0;
    if (a == R.DP2_t1_dorm - 1) s.ForcingThreshold = R.DP2_Par_a * std::exp(R.DP2_Par_b * s.ChillingSum);
}

void Rule5(const LanduseType& R, int a, int L, double noData, const PhenologyCellWeather& w,
           PhenologyCellState& s) {
    double* P = s.SampleDays;
    if (!P) return;
    const int n = R.FixPointCount;
    const int m = StartTimesSearch(P, a, L, noData);
    // The nominal day is the latest day of a fix point.
    if (m <= n && a >= NominalDay(R, m) && R.ForcingThreshold[m] > 0) {
        P[m] = NominalDay(R, m);
        P[0] = R.ForcingThreshold[m];
    }
    const double rate = w.MeanTemperature > R.DP1_T_Bf ? w.MeanTemperature - R.DP1_T_Bf : 0;
    s.ForcingSum += WeightedForcing(rate, w.StressFactor, R.StressFactorDynPhen);
    const double threshold = m <= n ? R.ForcingThreshold[m] : -1;
    if (P[m] < 0 && s.ForcingSum >= threshold) {
        P[m] = a;
        P[0] = threshold;
    }
    if (a == 1) {
        s.ForcingSum = 0;
        P[0] = 0;
        for (int t = 1; t <= n; ++t) {
            P[t] = (R.ForcingThreshold[t] < 0 || NominalDay(R, t) <= 1) ? NominalDay(R, t) : -1;
        }
    }
}

void Rule6(const LanduseType& R, int a, int L, double noData, const PhenologyCellWeather& w,
           PhenologyCellState& s) {
    const int n = R.FixPointCount;
    const double T = w.MeanTemperature;
    if (s.StartDay < 0 && a >= R.DP4_t1_dorm) {
        const int m = s.SampleDays ? StartTimesSearch(s.SampleDays, a, L, noData) : 1;
        s.ForcingSum += WeightedForcing(T >= R.DP4_T1 ? T - R.DP4_T1 : 0, w.StressFactor, R.StressFactorDynPhen);
        if (s.ForcingSum > s.ForcingThreshold) {
            s.StartDay = a;
            RecordSeasonStart(R, a, m, s);
        }
    }
    if ((a >= R.DP4_t0_dorm || s.StartDay < 0) && T <= R.DP4_T0) s.ChillingSum += 1;
    if (a == R.JDReset_TStart) {
        s.ForcingSum = 0;
        s.StartDay = -1;
        s.LeafFallDay = 0;
        ResetSampleDays(R, s);
    }
    if (a == R.DP4_t0_dorm - 1) s.ChillingSum = 0;
    if (a >= R.DP4_t1_dorm - 1 && s.StartDay < 0) {
        s.ForcingThreshold = s.ChillingSum > 0 ? R.DP4_Par_a + R.DP4_Par_b * std::log(s.ChillingSum) : R.DP4_Par_a;
    }

    // Leaf fall once the season runs: five cold days in a row of the 7-day
    // mean, or the nominal day of the leaf-fall fix point q at the latest.
    if (a >= R.DP4_t_xs1 && s.LeafFallDay <= 0 && s.StartDay > 0) {
        s.ColdDayCount = w.MovingMeanTemperature < R.DP4_T_xylstop ? s.ColdDayCount + 1 : 0;
        const int q = R.DP4_SPSLF;
        const bool levelOfRecord = q >= 0 && q <= n;
        const double latest = levelOfRecord ? NominalDay(R, q) : -1;
        if (s.ColdDayCount >= 5 || a >= latest) {
            double* P = s.SampleDays;
            if (levelOfRecord && P) {
                // The fix point after q moves with it, but never into the
                // levels beyond the record's own fix points.
                if (q < n) P[q + 1] = P[q + 1] + a - P[q];
                P[q] = a;
                for (int t = 1; t <= q - 1; ++t) {
                    if (P[t] > a || P[t] < 0 || P[t - 1] > P[t]) P[t] = a - 1;
                }
            }
            s.LeafFallDay = a;
        }
    }
}

}  // namespace

void AdvancePhenologyDay(const LanduseType& R, int dayOfYear, int largestFixPointCount, double noData,
                         const PhenologyCellWeather& weather, PhenologyCellState& state) {
    const int a = dayOfYear;
    const int L = largestFixPointCount;
    if (R.Method == LanduseMethodDynamicPhenology1 || R.DynamicPhenology) {
        Rule3(R, a, L, noData, weather, state);
    } else if (R.Method == LanduseMethodDynamicPhenology2) {
        Rule4(R, a, weather, state);
    } else if (R.Method == LanduseMethodDynamicPhenology3) {
        Rule5(R, a, L, noData, weather, state);
    } else if (R.Method == LanduseMethodDynamicPhenology4) {
        Rule6(R, a, L, noData, weather, state);
    }
}

void EndFirstSeasons(std::vector<LanduseType>& table, int dayOfYear) {
    for (size_t i = 1; i < table.size(); ++i) {
        LanduseType& R = table[i];
        if ((R.Method == LanduseMethodDynamicPhenology2 && dayOfYear == R.DP2_t0_dorm) ||
            (R.Method == LanduseMethodDynamicPhenology4 && dayOfYear == R.DP4_t0_dorm)) {
            R.DynamicPhenology = false;
        }
    }
}
