#include "forcing/meteoint_precicorr_physics.h"

#include <cmath>

namespace meteoint {

double UndercatchFactor(const UndercatchParameters& p, double temperature, double windSpeed) {
    if (temperature > p.Threshold) return p.RainSlope * windSpeed + p.RainConstant;
    return p.SnowSlope * windSpeed + p.SnowConstant;
}

double UsableTemperature(double temperature, double noData, double threshold) {
    if (std::isnan(temperature) || temperature < -noData) return threshold + 1;
    return temperature;
}

double UsableWindSpeed(double windSpeed, double noData) {
    if (std::isnan(windSpeed) || windSpeed < -noData) return 0;
    return windSpeed;
}

double CorrectedPrecipitation(double value, double noData, double factor) {
    if (!(value >= -noData)) return value;
    return factor * value;
}

std::vector<double> SampleAltitudes(double start, double step, double limit) {
    std::vector<double> z;
    if (!(step > 0) || !std::isfinite(step) || !std::isfinite(start)) return z;
    for (double h = start; h <= limit && z.size() < MaxLayerSamples;) {
        z.push_back(h);
        const double next = h + step;
        if (!(next > h)) break;
        h = next;
    }
    return z;
}

LineFit FitLine(std::span<const double> z, std::span<const double> w) {
    LineFit fit;
    const std::size_t count = z.size() < w.size() ? z.size() : w.size();
    if (count == 0) return fit;
    double sz = 0, sw = 0, szw = 0, szz = 0;
    for (std::size_t i = 0; i < count; ++i) {
        sz += z[i];
        sw += w[i];
        szw += z[i] * w[i];
        szz += z[i] * z[i];
    }
    const double n = static_cast<double>(count);
    const double gradient = (n * szw - sz * sw) / (n * szz - sz * sz);
    const double intercept = (sw - gradient * sz) / n;
    if (!std::isfinite(gradient) || !std::isfinite(intercept)) return fit;
    fit.Fitted = true;
    fit.Gradient = gradient;
    fit.Intercept = intercept;
    return fit;
}

namespace {

// Resamples one layer A + B z at the altitudes; keeps it without a fit.
void ResampleLayer(double& a, double& b, const std::vector<double>& altitudes,
                   const std::function<double(double z)>& factorAt) {
    std::vector<double> w;
    w.reserve(altitudes.size());
    for (double z : altitudes) w.push_back(factorAt(z) * (a + b * z));
    const LineFit fit = FitLine(altitudes, w);
    if (!fit.Fitted) return;
    a = fit.Intercept;
    b = fit.Gradient;
}

}  // namespace

void RefitRegression(RegressionSet& set, double noData, double maxAltitude,
                     const std::function<double(double z)>& factorAt) {
    if (!(set.A1 >= -noData)) return;
    RegressionSet s = set;
    const double hl = s.Hl;
    if (hl > 0 && s.B1 != 0) {
        ResampleLayer(s.A1, s.B1, SampleAltitudes(0, hl / 10, hl), factorAt);
    } else if (s.Hu > 0) {
        ResampleLayer(s.A2, s.B2, SampleAltitudes(0, s.Hu / 10, s.Hu), factorAt);
    }
    if (s.B3 != 0 && maxAltitude > s.Hu) {
        const double limit = 2 * s.Hu > maxAltitude ? 2 * s.Hu : maxAltitude;
        ResampleLayer(s.A3, s.B3, SampleAltitudes(s.Hu, (maxAltitude - s.Hu) / 10, limit), factorAt);
    }
    if (hl > 0) {
        // A middle layer of no thickness cannot be joined; it keeps its line.
        const double b2 = (s.B3 * s.Hu + s.A3 - (hl * s.B1 + s.A1)) / (s.Hu - hl);
        const double a2 = (s.B1 - b2) * hl + s.A1;
        if (std::isfinite(b2) && std::isfinite(a2)) {
            s.B2 = b2;
            s.A2 = a2;
        }
    } else if (std::fabs(s.B3 - s.B2) > 0.0001) {
        s.Hu = (s.A2 - s.A3) / (s.B3 - s.B2);
    }
    set.A1 = s.A1;
    set.B1 = s.B1;
    set.A2 = s.A2;
    set.B2 = s.B2;
    set.A3 = s.A3;
    set.B3 = s.B3;
    set.Hu = s.Hu;
}

}  // namespace meteoint
