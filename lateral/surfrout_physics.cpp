#include "lateral/surfrout_physics.h"

#include <algorithm>
#include <cmath>

namespace surfrout {

namespace {
constexpr double DegreesPerRadian = 57.29577951307855;
constexpr double RadiansPerDegree = 0.017453;
}  // namespace

double FractionOfSubStep(double T, double bound) {
    if (!(bound > 0)) return T;
    const double q = std::floor(T / bound);
    if (!(q > 0) || !std::isfinite(q)) return T;
    return T / q;
}

double SubTimeStep(double T, double tmin, double dtMin, double dtMax, double* iterations) {
    double dt = T / (std::floor(T / tmin) + 1);
    if (!std::isfinite(dt)) dt = 0;
    if (dtMin > dt)
        dt = dtMin;
    else
        dt = std::min(dtMax, dt);
    if (iterations) *iterations = dt > 0 ? std::floor(T / dt) + 1 : 1;
    return dt;
}

double Aspect(double ex, double ny) {
    if (ex != 0) return 180 - std::atan(ny / ex) * DegreesPerRadian + (ex / std::fabs(ex)) * 90;
    return ny > 0 ? 180 : 0;
}

SlopeAndAspect SteepestSlope(const Neighbourhood& cell, double cellSize) {
    SlopeAndAspect result;
    double s[9] = {};
    for (int d = 1; d <= 8; ++d) {
        const double length = (d % 2 == 0) ? SlopeDiagonal * cellSize : cellSize;
        s[d] = (cell.interior || cell.valid[d]) ? (cell.H[0] - cell.H[d]) / length : -9999;
    }
    int best = 1;
    for (int d = 2; d <= 8; ++d)
        if (s[d] > s[best]) best = d;
    int ties = 0;
    for (int d = 1; d <= 8; ++d)
        if (s[d] == s[best]) ++ties;
    result.slope = s[best];
    result.angle = (best - 1) * 45.0;
    if (ties < 2) return result;

    if (cell.interior) {
        const double ex = (cell.H[3] - cell.H[7]) / (2 * cellSize);
        const double ny = (cell.H[1] - cell.H[5]) / (2 * cellSize);
        result.angle = Aspect(ex, ny);
        return result;
    }
    // On an edge the missing side of a central difference is mirrored.
    auto side = [&](int d) {
        const int o = Opposite(d);
        if (cell.valid[d]) return cell.H[d];
        if (cell.valid[o]) return 2 * cell.H[0] - cell.z[o];
        return cell.H[0];
    };
    const double ex = (side(3) - side(7)) / (2 * cellSize);
    const double ny = (side(1) - side(5)) / (2 * cellSize);
    if (ex == 0 && ny == 0) {
        result.slope = 0;
        result.angle = 0;
        return result;
    }
    result.slope = std::atan(std::sqrt(ex * ex + ny * ny)) * DegreesPerRadian;
    result.angle = Aspect(ex, ny);
    return result;
}

int WeightsByAngle(double angle, double curvature, int method, double w[9]) {
    for (int d = 0; d <= 8; ++d) w[d] = 0;
    int main = 1;
    if (!(angle < 22.5 || angle >= 337.5)) {
        main = static_cast<int>(std::floor((angle - 22.5) / 45)) + 2;
        main = std::clamp(main, 2, 8);
    }
    double a = angle - 45.0 * (main - 1);
    if (a > 22.5) a -= 360;
    const double alpha = a * RadiansPerDegree;
    const double beta = (45 - std::fabs(a)) * RadiansPerDegree;
    double g = std::cos(alpha);
    // The side neighbour nearer the flow gets the larger projection.
    double nearer = std::fabs(std::cos(beta) * g), farther = std::fabs(std::sin(beta) * g);
    double P = alpha > 0 ? farther : nearer;  // counter-clockwise neighbour
    double Q = alpha > 0 ? nearer : farther;  // clockwise neighbour
    if (g < 0.0001) g = 0;
    if (P < 0.0001) P = 0;
    if (Q < 0.0001) Q = 0;
    if (method == 2 || method == 4 || method == 5) P = Q = 0;
    const double sum = g + P + Q;
    if (sum != 0) {
        g /= sum;
        P /= sum;
        Q /= sum;
    }
    w[main] = g;
    if (curvature <= 0) {
        w[main == 1 ? 8 : main - 1] = P;
        w[main == 8 ? 1 : main + 1] = Q;
    }
    return main;
}

int WeightsByDrops(const double drop[9], const bool valid[9], int method, double w[9]) {
    for (int d = 0; d <= 8; ++d) w[d] = 0;
    int main = 0;
    double sum = 0;
    for (int d = 1; d <= 8; ++d) {
        if (!valid[d] || !(drop[d] > 0.00001)) continue;
        w[d] = (d % 2 == 0) ? drop[d] / Diagonal : drop[d];
        if (main == 0 || w[d] > w[main]) main = d;
        sum += w[d];
    }
    if (method == 2 || method == 4 || method == 5) {
        for (int d = 1; d <= 8; ++d) w[d] = (d == main) ? 1.0 : 0.0;
    } else if (sum > 0) {
        for (int d = 1; d <= 8; ++d) w[d] /= sum;
    }
    return main;
}

double PlanCurvature(const double z[3][3], double cs) {
    const double G = (z[1][2] - z[1][0]) / (2 * cs);
    const double Hh = (z[0][1] - z[2][1]) / (2 * cs);
    const double D = ((z[1][0] + z[1][2]) / 2 - z[1][1]) / (cs * cs);
    const double Ee = ((z[0][1] + z[2][1]) / 2 - z[1][1]) / (cs * cs);
    const double F = (z[2][0] - z[0][0] + z[0][2] - z[2][2]) / (4 * cs * cs);
    if (G == 0 && Hh == 0) return 0;
    return 2 * (Ee * G * G + D * Hh * Hh - F * Hh * G) / (Hh * Hh + G * G);
}

namespace {

// Friction of the plant stems of a non-conserving cultivation (wake-length
// method); 0 without stems, below the minimum depth or without flow.
double StemFriction(const Resistance& r, const VelocityControls& c, double v, double ye, double sqrtS) {
    const double D = r.stemDiameter;
    if (D < 0.001 || ye < c.minDepth || !(v > 0) || !(ye > 0)) return 0;
    const double ax = r.cropDistX, ay = r.cropDistY;
    const double red = v * D * 1000000;
    double cw;
    if (red < 800)
        cw = 3.07 * std::pow(red, -0.168);
    else if (red < 8000)
        cw = 1.0;
    else if (red < 10000)
        cw = 1.2;
    else
        cw = r.dragHighRe;
    double I = sqrtS;
    if (cw * sqrtS / (v * v) > 0.04) I = v * v / cw / 25;
    double aNL = 50 * D;
    if (aNL > c.wakeTolerance && c.wakeIterations > 0) {
        int count = 0;
        double change;
        do {
            const double next = 128.9 * cw * D * std::pow(aNL * Gravity * I / (0.5 * v * v) + 1, -2.14);
            change = std::fabs(next - aNL);
            aNL = next;
            ++count;
        } while (change > c.wakeTolerance && count < c.wakeIterations);
    }
    const double aNB = 0.24 * std::pow(aNL, 0.59) * std::pow(cw * D, 0.41);
    const double C1 = 1.15 * std::pow(aNL / ax, -0.48) + 0.5 * std::pow(aNB / ay, 1.1);
    double Fr = v / std::sqrt(Gravity * ye);
    const double ayEff = ay <= 5 * D ? 5 * D : ay;
    const double beta = ayEff / (ayEff - D);
    if (beta * beta * beta * Fr > 0.666) Fr = 2 / (3 * beta * beta * beta);
    double FrEff, F;
    if (Fr < 0.05) {
        FrEff = 0.05;
        F = 799.9999999999999;
    } else {
        FrEff = Fr;
        F = 2 / (Fr * Fr);
    }
    double oneMinusX;
    if (c.wakeIterations <= 0) {
        oneMinusX = 0.4;
    } else {
        double x = 0.6, next = x;
        for (int k = 0; k < c.wakeIterations; ++k) {
            next = (x - beta) * 2 * FrEff / (x * x - 1);
            if (std::fabs(x - next) <= 0.0001) break;
            x = next;
        }
        oneMinusX = 1 - next;
    }
    return 4 * ye * D / (ax * ayEff) * (1.31 * cw * C1 + F * oneMinusX);
}

}  // namespace

double FlowResistance(const Resistance& r, const VelocityControls& c, double v, double ye, double sqrtS) {
    const double kst = r.kst;
    double K = kst;
    if (r.cultivation == 1) {
        const double Re = 4000000 * v * ye;
        const double* rc = Re < 20000 ? r.rough1 : r.rough2;
        K = std::pow(Re, rc[2]) / (rc[0] * std::pow(100 * r.residueCover, rc[1]));
    } else if (r.cultivation == 2) {
        const double lambda = StemFriction(r, c, v, ye, sqrtS);
        const double root = std::pow(ye, CubeRootExponent);
        const double K2 = 78.5272 / (root * (78.5272 / (root * kst * kst) + lambda));
        K = K2 > 0 ? std::sqrt(K2) : 0.001;
    }
    if (!std::isfinite(K)) K = kst;
    return K;
}

DirectionFlow CappedFlow(double y, double slope, double length, double cellSize, double dtMin) {
    DirectionFlow f;
    if (!(slope > 0) || !(y > 0)) return f;
    f.velocity = std::min(length / (20 * dtMin), 10 * std::pow(y, DepthExponent) * std::sqrt(slope));
    f.flux = f.velocity * cellSize * y;
    return f;
}

DirectionFlow ResistedFlow(const Resistance& r, const VelocityControls& c, double v0, double w, double y,
                           double slope, double cs, double criticalShear) {
    DirectionFlow f;
    if (!(slope > 0) || !(y > 0) || !(w > 0)) return f;
    const double sqrtS = std::sqrt(slope);
    const double qmax = cs * cs * w * y / c.dtMax;
    double v = v0 > 0 ? v0 : 0.1;
    double vPrev = v;
    double ye = qmax / v / cs;
    double K = FlowResistance(r, c, v, ye, sqrtS);
    // The iteration towards the velocity that carries Qmax at depth ye.
    auto iterate = [&](double factor) {
        vPrev = v;
        for (int j = 0; (std::fabs(vPrev - v) > c.velocityTolerance || j == 0) && j < c.velocityIterations; ++j) {
            const double mean = (vPrev + v) / 2;
            if (!(mean > 0)) {
                v = 0;
                break;
            }
            ye = qmax / mean / cs * factor;
            K = FlowResistance(r, c, mean, ye, sqrtS);
            vPrev = v;
            v = K * std::pow(ye, DepthExponent) * sqrtS;
        }
    };
    iterate(1.0);
    double fc = 1;
    const double tau = ye * SpecificWeight * slope;
    const double tauEff = r.kst > 0 ? tau * std::pow(K / r.kst, 1.5) : tau;
    if (tauEff >= criticalShear && c.concentration > 1) {
        fc = c.concentration;
        iterate(fc);
    }
    if (ye / fc > y) {
        ye = fc * y;
        K = FlowResistance(r, c, v, ye, sqrtS);
        v = K * std::pow(ye, DepthExponent) * sqrtS;
        for (int j = 0; (std::fabs(vPrev - v) > c.velocityTolerance || j == 0) && j < c.velocityIterations; ++j) {
            K = FlowResistance(r, c, v, ye, sqrtS);
            vPrev = v;
            v = K * std::pow(ye, DepthExponent) * sqrtS;
        }
    }
    if (ye < 0.0001 || !std::isfinite(v) || !std::isfinite(ye)) {
        ye = 0;
        v = 0;
    }
    f.velocity = v;
    f.flux = v * cs * ye / fc;
    return f;
}

double LinearStorageOutflow(double inflow, double previousOutflow, double stepMinutes, double recessionMinutes) {
    const double B = std::exp(-stepMinutes / recessionMinutes);
    return inflow * (1 - B) + B * previousOutflow;
}

}  // namespace surfrout
