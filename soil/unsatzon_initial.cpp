#include "soil/unsatzon_initial.h"

#include <algorithm>
#include <cmath>

#include "parameters/soil.h"

namespace unsatzon {

int ColdStartGroundwaterLayer(int layers, double iniGwLevel) {
    const int k = static_cast<int>(std::floor((layers - 1) / iniGwLevel) + 1.4999);
    return std::clamp(k, 1, std::max(layers, 1));
}

int GroundwaterLayerFromDistance(std::span<const double> bottom, int layers, double distance) {
    int k = 0;
    for (int l = 1; l <= layers; ++l) {
        if (bottom[0] - bottom[l] < -distance) ++k;
    }
    return k;
}

void HydrostaticWaterContent(const SoilType& soil, std::span<const double> bottom, std::span<const double> thickness,
                             int layers, int k, std::span<double> theta) {
    theta[0] = soil.theta_sat[1];
    const double reference = k < layers ? bottom[k + 1] + thickness[k + 1] / 2 : bottom[layers];
    for (int l = 1; l <= layers; ++l) {
        if (l <= k) {
            const double suction = bottom[l] + thickness[l] / 2 - reference;
            theta[l] = soil.ThetaFromSuction(l, suction);
        } else {
            theta[l] = soil.theta_sat[l];
        }
    }
}

void HydraulicHeadsFromTheta(const SoilType& soil, std::span<const double> bottom, int layers,
                             std::span<const double> theta, std::span<double> head) {
    head[0] = bottom[0];
    for (int l = 1; l <= layers; ++l) head[l] = (bottom[l - 1] + bottom[l]) / 2 - soil.SuctionFromTheta(l, theta[l]);
}

GroundwaterScan ScanGroundwaterLevel(std::span<const double> theta, std::span<const double> thetaSat,
                                     std::span<const double> bottom, int layers, bool setDistance) {
    GroundwaterScan scan;
    scan.thetaAbove = theta[1];
    scan.distance = bottom[layers] - bottom[0];
    enum { Searching, InBlock, Done } state = Searching;
    for (int l = layers - 1; l >= 1; --l) {
        const bool saturated = theta[l] > 0.9995 * thetaSat[l];
        if (saturated && state != Done) {
            if (setDistance) scan.distance = bottom[l - 1] - bottom[0];
            scan.level = l;
            scan.thetaAbove = theta[l - 1];
            state = InBlock;
        } else if (!saturated && state == InBlock) {
            state = Done;
        } else if (thetaSat[l] != theta[layers]) {
            state = Done;
        }
    }
    if (scan.level == 0) {
        // No saturated block above the bottom layer: the table lies in layer L.
        scan.level = layers;
        scan.thetaAbove = theta[layers - 1];
    }
    return scan;
}

int DrainageLayer(std::span<const double> bottom, int layers, double drainageDepth) {
    const double x = drainageDepth - 0.01;
    if (!(x > 0)) return 0;
    for (int j = 1; j <= layers; ++j) {
        if (!(x > bottom[0] - bottom[j])) return j;
    }
    return layers;
}

double RootZoneWaterContent(std::span<const double> theta, std::span<const double> thickness, int layers,
                            double rootDepth) {
    if (!(rootDepth > 0)) return theta[1];
    double profile = 0;
    for (int l = 1; l <= layers; ++l) profile += thickness[l];
    const double limit = profile - 1e-8;
    const double depth = rootDepth == 9999 ? limit : std::min(rootDepth, limit);
    if (!(depth > 1e-8)) return 1;
    double water = 0, top = 0;
    for (int l = 1; l <= layers && top < depth; ++l) {
        const double part = std::min(thickness[l], depth - top);
        water += theta[l] * part;
        top += thickness[l];
    }
    return water / depth;
}

}  // namespace unsatzon
