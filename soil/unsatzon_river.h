#pragma once
// Exchange of water between a soil column and the river that crosses its
// cell: groundwater above the river bed exfiltrates into the river, river
// water above the table infiltrates into the column, limited by the water
// the river still carries.

#include <span>

#include "soil/unsatzon_column.h"

class SoilType;

namespace unsatzon {

// The river of one cell and what it offers in this iteration step.
struct RiverCell {
    double depth = 0;       // d_R, river bed below the surface [m]
    double width = 0;       // w_R [m]
    double kolmation = 0;   // K, leakage coefficient of the bed [1/s]
    double cellSize = 0;    // [m]
    bool infiltration = false;  // the cell links to a routed river and infiltration is switched on
    double flowm3s = 0;     // discharge of the linked river [m3/s]
    double speed = 0;       // its flow velocity [m/s]
    double available = 0;   // river water this cell may still take [m3/s]
};

// The river-bed layer: the first layer whose lower boundary lies at least
// `depth` [m] below the surface, at most n (1 without layers).
int RiverBedLayer(std::span<const double> layerThickness, int layers, double depth);

// Fills c.riverInfiltration / c.riverExfiltration [m/s] and their column
// totals for the groundwater layer c.GroundwaterLayer and the table at
// `groundwaterDistance` [m, <= 0] below the surface.
//   exfiltration  F = K (H - B) w_R / cellSize              when H > B
//   infiltration  I = K (B + h_w - h_ref) w_R cellSize [m3/s] when H <= B
// with B the bed, H the table, h_w = flowm3s / speed / w_R the water depth
// in the river and h_ref the table (g above the bed layer) or the head of
// the bed layer. Each is placed into layers only as far as they hold water
// above field capacity (exfiltration) or room below saturation
// (infiltration); what finds no place is taken off the total. Returns true
// when river water entered a layer.
bool RiverExchange(const SoilType& soil, SoilColumn& c, const RiverCell& river, double groundwaterDistance,
                   double dt);

}  // namespace unsatzon
