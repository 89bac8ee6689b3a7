#include "soil/unsatzon_column.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "parameters/soil.h"

namespace unsatzon {

namespace {

constexpr double HeadTolerance = 0.001;  // [m] heads this close count as equal
constexpr int LimiterTrials = 51;
constexpr double FieldCapacitySuction = 3.45;  // [m]

double Centre(const SoilColumn& c, int j) { return (c.boundaryElevation[j - 1] + c.boundaryElevation[j]) / 2; }

// Suction [m] at theta on a layer's retention curve `w` (its row of the
// water-content table, falling from entry 1 to entry 30): the same lookup as
// SoilType::SuctionFromTheta, for a row the caller has checked once. The
// limiter's trials call it twice each.
constexpr int CurvePoints = SoilType::TablePoints;

// Interval j (1..29) of the curve with w[j] > theta >= w[j+1], by bisection.
int CurveInterval(const double* w, double theta) {
    int lo = 1, hi = CurvePoints;
    while (lo <= hi) {
        const int probe = lo + (hi - lo) / 2;
        if (theta >= w[probe]) {
            hi = probe - 1;
        } else {
            lo = probe + 1;
        }
    }
    return std::clamp(hi, 1, CurvePoints - 1);
}

double SuctionInInterval(const double* w, int j, double theta) {
    const double weight = (theta - w[j + 1]) / (w[j] - w[j + 1]);
    return SoilType::SuctionAxis[j] * weight + SoilType::SuctionAxis[j + 1] * (1 - weight);
}

double SuctionOnCurve(const double* w, double theta) {
    if (theta <= w[CurvePoints]) return SoilType::SuctionAxis[CurvePoints];
    if (theta >= w[1]) return 0;
    return SuctionInInterval(w, CurveInterval(w, theta), theta);
}

// The same lookup for a run of nearby water contents (the limiter's trials):
// the interval of the last lookup is tried first. On a curve that never
// rises an interval holding theta is the one the bisection finds, so only
// such a curve takes the shortcut. `steepness` is the curve's
// SoilType::SuctionCurveSteepness.
class CurveWalker {
public:
    CurveWalker(const double* w, double steepness) : W(w), Steep(steepness), Falling(steepness >= 0) {}
    double Suction(double theta) {
        if (theta <= W[CurvePoints]) return SoilType::SuctionAxis[CurvePoints];
        if (theta >= W[1]) return 0;
        if (!(Falling && Last >= 1 && W[Last] > theta && theta >= W[Last + 1])) Last = CurveInterval(W, theta);
        return SuctionInInterval(W, Last, theta);
    }
    // On a falling curve the suction never rises with theta.
    bool Monotone() const { return Falling; }
    // A bound of |d suction / d theta| on the curve [m]; infinite at a step.
    double Steepness() const { return Falling ? Steep : std::numeric_limits<double>::infinity(); }

private:
    const double* W;
    double Steep;
    bool Falling;
    int Last = 0;
};

// What a trial of the limiter decides from the head difference D = h2 - h1.
enum class TrialOutcome { Down, Up, Done };

// The outcome every D in [low, high] gives, with `margin` [m] to spare on
// each side of the tolerance band; Done when the range is not in one region.
// `direction` is the sign of hU - hL (0 when equal or not a number).
TrialOutcome CommonOutcome(double low, double high, int direction, double margin) {
    const double above = HeadTolerance + margin, below = -HeadTolerance - margin;
    if (!(low <= high)) return TrialOutcome::Done;
    if (direction > 0) {
        if (low > above) return TrialOutcome::Down;
        if (high < below) return TrialOutcome::Up;
    } else if (direction < 0) {
        if (high < below) return TrialOutcome::Down;
        if (low > above) return TrialOutcome::Up;
    } else if (low > above || high < below) {
        return TrialOutcome::Up;
    }
    return TrialOutcome::Done;
}

}  // namespace

int ExtendForRiver(const SoilColumn& c, int start) {
    const int n = c.LayerCount;
    int i = std::max(start, 0);
    while (i < n && (c.riverInfiltration[i + 1] > 0 || c.riverExfiltration[i + 1] > 0)) ++i;
    return std::min(i, n);
}

int HeadsLastLayer(const SoilColumn& c) {
    const int n = c.LayerCount;
    const int i = ExtendForRiver(c, std::max(c.GroundwaterLayer, c.InputDepthLayer));
    return std::min(std::min(i, n) + 2, n - 1);
}

int FluxesLastInterface(const SoilColumn& c) {
    const int i = ExtendForRiver(c, std::max(c.GroundwaterLayer + 1, c.InputDepthLayer));
    return std::min(i, c.LayerCount - 1);
}

int RedistributionLastLayer(const SoilColumn& c) {
    const int i = ExtendForRiver(c, std::max(c.GroundwaterLayer + 3, c.InputDepthLayer));
    return std::min(i + 2, c.LayerCount);
}

int UpdateLastLayer(const SoilColumn& c) {
    const int i = ExtendForRiver(c, std::max(c.GroundwaterLayer, c.InputDepthLayer));
    return std::max(std::min(i + 2, c.LayerCount), RedistributionLastLayer(c));
}

double DarcyFlux(double k, double hUpper, double hLower, double dzUpper, double dzLower) {
    const double distance = (dzUpper + dzLower) * -0.5;
    if (!(distance < 0)) return 0;
    return k * (hUpper - hLower) / distance;
}

void HydraulicHeads(const SoilType& soil, SoilColumn& c, int pass, double groundwaterDistance) {
    const int g = c.GroundwaterLayer;
    const int last = HeadsLastLayer(c);
    for (int j = 1; j <= last; ++j) {
        const double f = c.Unfrozen(j);
        if (pass == 0) c.suctionStart[j] = soil.SuctionFromTheta(j, f * c.thetaStart[j]);
        const double meanSuction = (soil.SuctionFromTheta(j, f * c.thetaIter[j]) + c.suctionStart[j]) / 2;
        const double z = Centre(c, j);
        double head = z - meanSuction;
        if (j == g) {
            const double table = c.boundaryElevation[0] + groundwaterDistance;
            if (c.boundaryElevation[j - 1] >= table && table >= c.boundaryElevation[j]) head = table;
        } else if (j > g && g >= 1 && c.hydraulicHead[g] > z) {
            head = c.hydraulicHead[g];
        }
        c.hydraulicHead[j] = head;
    }
}

double InterfaceConductivity(double k1, double k2, double ksatUpper, double ksatLower, double dzUpper,
                             double dzLower, double maxRatio, bool harmonic) {
    if (k1 > k2 * maxRatio)
        k2 = k1 / maxRatio;
    else if (k2 > k1 * maxRatio)
        k1 = k2 / maxRatio;
    if (k1 == 0)
        k1 = k2;
    else if (k2 == 0)
        k2 = k1;
    const double K1 = k1 * ksatUpper, K2 = k2 * ksatLower;
    if (!harmonic) return std::max(K1, K2);
    const double denominator = K2 * dzUpper + K1 * dzLower;
    if (K1 == 0 && K2 == 0) return 0;
    if (!(denominator > 0)) return 0;
    return K1 * K2 * (dzUpper + dzLower) / denominator;
}

double LimitInterfaceFlux(const SoilType& soil, const SoilColumn& c, int L, std::span<double> layerInterflow,
                          double thetaUpper, double thetaLower, double fluxAbove, double flux, double fluxBelow,
                          double dt) {
    const double dz1 = c.boundaryElevation[L - 1] - c.boundaryElevation[L];
    const double dz2 = c.boundaryElevation[L] - c.boundaryElevation[L + 1];
    if (!(dz1 > 0) || !(dz2 > 0) || !(dt > 0) || !std::isfinite(flux)) return 0;
    const double interflowBelow = layerInterflow[L + 1];
    auto upper = [&](double q, double interflow) { return thetaUpper + (q - fluxAbove - interflow) * dt / dz1; };
    auto lower = [&](double q) { return thetaLower + (fluxBelow - interflowBelow - q) * dt / dz2; };
    // Both heads after the step from the upper layer's retention curve, as
    // the interface conductivity is taken from it. A layer the step drives
    // past saturation or residual is put right by the redistribution.
    const double* curveUpper = soil.ThetaSuctionTable(L);
    const double* curveLower = curveUpper;
    const double centreUpper = Centre(c, L), centreLower = Centre(c, L + 1);
    auto headUpper = [&](double t) { return centreUpper - SuctionOnCurve(curveUpper, t); };
    auto headLower = [&](double t) { return centreLower - SuctionOnCurve(curveLower, t); };
    const double satU = c.thetaSat[L];

    double q = flux;
    const double interflow0 = layerInterflow[L];
    if (upper(q, interflow0) > satU && q > 0) {
        const double ratio = std::fabs((satU - thetaUpper) * dz1 / dt) / q;
        q = ratio < 1 ? q * ratio : 0;
    }

    const double hU = c.hydraulicHead[L], hL = c.hydraulicHead[L + 1];
    auto overshoots = [&](double h1, double h2) {
        return (hU > hL && h2 > h1 + HeadTolerance) || (hU < hL && h2 < h1 - HeadTolerance);
    };
    if (!overshoots(headUpper(upper(q, interflow0)), headLower(lower(q)))) return q;

    // Bisection on the share of the flux (and of the layer's interflow) that
    // keeps the heads in order. Scales are sums of powers of two, so every
    // scale below is exact.
    double scale = 1, step = 0.5;
    bool down = true;
    double scaled = q, scaledInterflow = interflow0;
    CurveWalker walkUpper(curveUpper, soil.SuctionCurveSteepness(L)),
        walkLower(curveLower, soil.SuctionCurveSteepness(L));
    // Both heads are monotone in the scale on falling curves: once the head
    // difference stays in one region over every scale the remaining trials
    // can reach, they all decide alike and only the scale arithmetic is left.
    // The margin covers the rounding of the heads at the trial scales.
    const bool shortcut = walkUpper.Monotone() && walkLower.Monotone();
    const int direction = hU > hL ? 1 : (hU < hL ? -1 : 0);
    double margin = 0;
    if (shortcut) {
        const double thetaScale = std::fabs(thetaUpper) + std::fabs(thetaLower) +
                                  (std::fabs(q) + std::fabs(fluxAbove) + std::fabs(fluxBelow) +
                                   std::fabs(interflow0) + std::fabs(interflowBelow)) *
                                      dt * (1 / dz1 + 1 / dz2);
        const double headScale = std::fabs(centreUpper) + std::fabs(centreLower) + SoilType::SuctionAxis[CurvePoints];
        margin = 1e-7 + 1e-12 * (std::max(walkUpper.Steepness(), walkLower.Steepness()) * thetaScale + headScale);
    }
    for (int trial = 0; trial < LimiterTrials; ++trial) {
        scale = down ? scale - step : scale + step;
        scaled = q * scale;
        scaledInterflow = interflow0 * scale;
        const double h1 = centreUpper - walkUpper.Suction(upper(scaled, scaledInterflow));
        const double h2 = centreLower - walkLower.Suction(lower(scaled));
        step /= 2;
        if (overshoots(h1, h2)) {
            down = true;
        } else if (std::fabs(h2 - h1) <= HeadTolerance) {
            break;
        } else {
            down = false;
        }
        if (!shortcut || !std::isfinite(margin) || trial + 1 >= LimiterTrials) continue;
        // The remaining trials lie between this scale and `far`.
        const double far = down ? scale - 2 * step : scale + 2 * step;
        const double g1 = centreUpper - SuctionOnCurve(curveUpper, upper(q * far, interflow0 * far));
        const double g2 = centreLower - SuctionOnCurve(curveLower, lower(q * far));
        if (!std::isfinite(h1) || !std::isfinite(h2) || !std::isfinite(g1) || !std::isfinite(g2)) continue;
        const double low = std::min(h2, g2) - std::max(h1, g1), high = std::max(h2, g2) - std::min(h1, g1);
        const TrialOutcome outcome = CommonOutcome(low, high, direction, margin);
        if (outcome == TrialOutcome::Done || (outcome == TrialOutcome::Down) != down) continue;
        // The remaining steps halve from `step` to `last`: their sum is
        // 2 step - last, and like every scale it is exact.
        const double last = std::ldexp(step, -(LimiterTrials - 2 - trial));
        scale = down ? scale - (2 * step - last) : scale + (2 * step - last);
        scaled = q * scale;
        scaledInterflow = interflow0 * scale;
        break;
    }
    layerInterflow[L] = scaledInterflow;
    return scaled;
}

void ComputeFluxes(const SoilType& soil, SoilColumn& c, const FluxSettings& s, double surfaceInfiltration,
                   double dt) {
    const int n = c.LayerCount;
    const int g = c.GroundwaterLayer;
    const std::vector<double>& ksatTable = soil.GetKsat();

    // Saturated conductivity [m/s], the permafrost value below the thaw depth.
    auto ksat = [&](int j) {
        if (s.permafrost) {
            double depth = 0;
            for (int k = 1; k <= j; ++k) depth += c.layerThickness[k];
            if (depth > s.permafrostThawDepth) return s.permafrostKsat;
        }
        return ksatTable[j];
    };
    if (n >= 1 && s.permafrost && c.layerThickness[1] > s.permafrostThawDepth &&
        std::fabs(surfaceInfiltration) > s.permafrostKsat)
        surfaceInfiltration = std::copysign(s.permafrostKsat, surfaceInfiltration);
    c.interfaceFlux[0] = -surfaceInfiltration;

    const int last = FluxesLastInterface(c);
    for (int L = 1; L <= last; ++L) {
        const double fL = c.Unfrozen(L), fL1 = c.Unfrozen(L + 1);
        const double dzL = c.layerThickness[L], dzL1 = c.layerThickness[L + 1];
        double K;
        if (s.clayLayer > 0 && (L == s.clayLayer || L + 1 == s.clayLayer)) {
            const int clay = s.clayLayer;
            K = soil.KrelFromTheta(L, (c.thetaStart[clay] + c.thetaIter[clay]) / 2, fL) * s.clayKsat;
        } else if (L > g) {
            K = ksat(L);
        } else {
            const double thetaL = (c.thetaStart[L] + c.thetaIter[L]) / 2;
            const double thetaL1 = (c.thetaStart[L + 1] + c.thetaIter[L + 1]) / 2;
            const double k1 = soil.KrelFromTheta(L, thetaL, fL);
            const double k2 = soil.KrelFromTheta(L, thetaL1, fL1);
            K = InterfaceConductivity(k1, k2, ksat(L), ksat(L + 1), dzL, dzL1, soil.maxratio, L >= g - 1);
        }
        c.interfaceFlux[L] = DarcyFlux(K, c.hydraulicHead[L], c.hydraulicHead[L + 1], dzL, dzL1);

        double outflow = 0;
        if (L < g && c.boundaryElevation[L] - c.hydraulicHead[L] < FieldCapacitySuction && dt > 0) {
            const double thetaFc = soil.ThetaFromSuction(L, FieldCapacitySuction);
            const double available = std::max(0.0, c.thetaIter[L] - thetaFc) * dzL / dt;
            const double krel = soil.KrelFromTheta(L, c.thetaIter[L], fL);
            double interflow = 0;
            if (ksat(L) > ksat(L + 1))
                interflow = krel * ksat(L) * dzL * s.drainageDensity * std::min(1.0, s.tanBeta);
            if (s.drainage && L == s.drainageLevel) {
                double drain = 0;
                if (s.drainSpacing > 0)
                    drain = std::min(available, 2 * krel * ksat(L) * dzL * s.cellSize / (s.drainSpacing * s.drainSpacing));
                c.drainageFlux = drain;
                interflow += drain;
            }
            outflow = std::min(interflow, available);
        }
        c.layerInterflow[L] = outflow;
    }

    for (int L = 1; L <= std::min(last, n - 1); ++L)
        c.interfaceFlux[L] = LimitInterfaceFlux(soil, c, L, c.layerInterflow, c.thetaStart[L], c.thetaStart[L + 1],
                                                c.interfaceFlux[L - 1], c.interfaceFlux[L], c.interfaceFlux[L + 1], dt);
}

void RedistributeExcessWater(SoilColumn& c, const RiverSettings& river, int maxSweeps, double dt) {
    if (!(dt > 0)) return;
    const int last = RedistributionLastLayer(c);
    const bool absorbs = river.groundwaterModelOn && river.surfaceWaterInteraction == 2;
    const bool gives =
        river.groundwaterModelOn && (river.surfaceWaterInteraction == 1 || river.surfaceWaterInteraction == 2);
    double& inTotal = c.riverInfiltrationTotal;
    double& exTotal = c.riverExfiltrationTotal;

    for (int sweep = 0; sweep < maxSweeps; ++sweep) {
        bool changed = false;
        for (int k = last; k >= 1; --k) {
            const double dz = c.layerThickness[k];
            if (!(dz > 0)) continue;  // a layer without thickness holds no water to move
            double& T = c.interfaceFlux[k - 1];
            // The column bottom is closed: a change to its flux would move
            // water out of or into nothing, so it is not kept.
            double closedBottom = 0;
            double& B = k == c.LayerCount ? closedBottom : c.interfaceFlux[k];
            double& I = c.layerInterflow[k];
            double& S = c.riverInfiltration[k];
            double& R = c.riverExfiltration[k];
            const double trial = c.thetaStart[k] + (B - T - I - R + S) * dt / dz;
            c.thetaTrial[k] = trial;
            const bool riverAbsorbs = absorbs && S > 0;
            const bool riverGives = gives && R > 0;

            // Negative B after a cut: the river takes what the layer below cannot.
            auto intoRiver = [&]() {
                if (B < 0 && riverAbsorbs) {
                    S += B;
                    inTotal += B;
                    B = 0;
                }
            };
            // Positive B after a cut: taken from the layer's interflow.
            auto fromInterflow = [&]() {
                if (I >= B) {
                    I -= B;
                    B = 0;
                } else {
                    B -= I;
                    I = 0;
                }
            };
            // A deficit B met from the water the river gives to the layer.
            auto fromRiver = [&]() {
                if (R >= B) {
                    R -= B;
                    exTotal -= B;
                    B = 0;
                } else {
                    B -= R;
                    exTotal -= R;
                    R = 0;
                }
            };

            if (trial > c.thetaSat[k]) {
                changed = true;
                const double E = (trial - c.thetaSat[k]) * dz / dt;
                if (T <= 0 && B > 0) {
                    T += E;
                    if (T > 0) {
                        B -= T;
                        T = 0;
                        intoRiver();
                    }
                } else if (T <= 0) {
                    T += E;
                    if (T > 0 && riverAbsorbs) {
                        if (S >= T) {
                            S -= T;
                            inTotal -= T;
                            T = 0;
                        } else {
                            T -= S;
                            inTotal -= S;
                            S = 0;
                        }
                    }
                } else if (B >= 0) {
                    B -= E;
                    intoRiver();
                } else if (riverAbsorbs) {
                    if (S >= E) {
                        S -= E;
                        inTotal -= E;
                    } else {
                        inTotal -= S;
                        S = 0;
                    }
                }
                continue;  // a layer in excess keeps its interflow
            }

            if (trial < c.thetaRes[k]) {
                changed = true;
                double D;
                if (c.thetaStart[k] > c.thetaRes[k])
                    D = (c.thetaRes[k] - trial) * dz / dt;
                else if ((c.thetaStart[k] - trial) * dz / dt > 0)
                    D = (c.thetaStart[k] - trial) * dz / dt;
                else
                    D = -B;
                if (T <= 0 && B <= 0) {
                    B += D;
                    if (B > 0) {
                        if (I > 0) {
                            fromInterflow();
                        } else if (riverGives) {
                            fromRiver();
                        } else {
                            B = 0;
                        }
                    }
                } else if (T > 0 && B <= 0) {
                    T -= D;
                    if (T < 0) {
                        B -= T;
                        T = 0;
                        if (B > 0) {
                            if (I > 0) {
                                fromInterflow();
                            } else if (riverGives) {
                                fromRiver();
                            }
                        }
                    }
                } else if (T <= 0) {  // B > 0
                    if (I > 0) {
                        I = std::max(I - D, 0.0);
                    } else if (riverGives) {
                        if (R >= D) {
                            R -= D;
                            exTotal -= D;
                        } else {
                            exTotal -= R;
                            R = 0;
                        }
                    }
                } else {  // T > 0, B > 0
                    T -= D;
                    if (T < 0) {
                        if (I > 0) {
                            if (I + T >= 0) {
                                I += T;
                                T = 0;
                            } else {
                                T = I + T;
                                I = 0;
                            }
                        } else if (riverGives) {
                            if (R + T > 0) {
                                R += T;
                                exTotal += T;
                                T = 0;
                            } else {
                                T = R + T;
                                exTotal -= R;
                                R = 0;
                            }
                        }
                    }
                }
            }
            if (I < 0) I = 0;
        }
        if (!changed) break;
    }
}

double UpdateTheta(SoilColumn& c, int pass, double dt, int& passCount) {
    const int last = UpdateLastLayer(c);
    double largest = 0;
    for (int j = 1; j <= last; ++j) {
        const double dz = c.layerThickness[j];
        double theta = c.thetaStart[j];
        if (dz > 0)
            theta += (c.interfaceFlux[j] - c.interfaceFlux[j - 1] - c.layerInterflow[j] - c.riverExfiltration[j] +
                      c.riverInfiltration[j]) *
                     dt / dz;
        largest = std::max(largest, std::fabs(theta - c.thetaNew[j]));
        if (pass <= 3) {
            c.thetaIter[j] = (c.thetaNew[j] + theta) / 2;
        } else {
            const double m = pass - 3;
            c.thetaIter[j] = (m * c.thetaIter[j] + theta) / (m + 1);
        }
        c.thetaNew[j] = theta;
    }
    if (pass >= 4) passCount = pass - 3;
    return largest;
}

double MeanWaterContent(std::span<const double> layerThickness, std::span<const double> theta,
                        std::span<const double> thetaSat, int layerCount, int mode, double top, double bottom,
                        double nodata) {
    constexpr double Eps = 1e-8;
    if (bottom <= 0 || top < -0.0001) return nodata;
    double total = 0;
    for (int j = 1; j <= layerCount; ++j) total += layerThickness[j];
    const double D = total - Eps;
    const double end = (bottom > D || bottom == 9999) ? D : bottom;
    if (end - top <= Eps) return 1;
    const double span = end - top;
    auto value = [&](int j, double part) {
        if (mode == 1) return theta[j] * part;
        return thetaSat[j] > 0 ? theta[j] / thetaSat[j] * part / span : 0.0;
    };

    double result = 0;
    double upperBoundary = 0;  // depth of the current layer's top [m]
    for (int j = 1; j <= layerCount; ++j) {
        const double lowerBoundary = upperBoundary + layerThickness[j];
        const double from = std::max(top < Eps ? 0.0 : top, upperBoundary);
        const double to = std::min(end, lowerBoundary);
        const double part = to - from;
        // Skips layers above the interval (a top within 1e-8 of a boundary
        // starts at the layer below it) and a last part thinner than 1e-8.
        if (lowerBoundary - top > Eps && part >= Eps) result += value(j, part);
        upperBoundary = lowerBoundary;
        if (lowerBoundary >= end) break;
    }
    return result;
}

}  // namespace unsatzon
