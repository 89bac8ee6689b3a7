#pragma once
// Kernels of surface routing: the geometry of the water surface (slope,
// aspect, plan curvature, the split of a cell's outflow among its eight
// neighbours), the overland flow velocity and flux of one direction, the flow
// resistance of the land use, the sub time step and the linear storage.
//
// Directions are numbered clockwise from north: 1 N, 2 NE, 3 E, 4 SE, 5 S,
// 6 SW, 7 W, 8 NW; index 0 of the arrays below is the cell itself or unused.

namespace surfrout {

constexpr double Gravity = 9.8159;          // [m/s2]
constexpr double SpecificWeight = 9815;     // rho g [N/m3]
constexpr double DepthExponent = 0.66667;   // Manning-Strickler depth exponent
constexpr double CubeRootExponent = 0.3333;
constexpr double SlopeDiagonal = 1.414;     // diagonal distance factor of the slope search
constexpr double Diagonal = 1.4142135;      // diagonal distance factor of weights and velocities
constexpr double NoFlow = 1e36;             // travel time when nothing flows [s]

// Row and column offsets of direction d = 1..8.
constexpr int RowOffset[9] = {0, -1, -1, 0, 1, 1, 1, 0, -1};
constexpr int ColOffset[9] = {0, 0, 1, 1, 1, 0, -1, -1, -1};
inline int Opposite(int d) { return d <= 4 ? d + 4 : d - 4; }

// A sub-step bound made an integer fraction of the sub-step length T [s]:
// T / q with q the integer part of T / bound; T when q is 0 or not finite
// (a bound of 0 or below, or one longer than T).
double FractionOfSubStep(double T, double bound);

// Sub time step of one surface-routing sub-step from the shortest travel
// time tmin [s]: dt = T / (integer part of T / tmin + 1), then at least dtMin
// and otherwise at most dtMax. `iterations` receives the integer part of
// T / dt + 1. All in floating point, so that a tiny tmin gives dt = dtMin.
double SubTimeStep(double T, double tmin, double dtMin, double dtMax, double* iterations);

// The neighbourhood of a cell as the slope search sees it: water surface H
// (index 0 the cell), ground elevation z, whether each neighbour exists and
// is valid (zone value above 0), and whether the cell is interior.
struct Neighbourhood {
    double H[9] = {};
    double z[9] = {};
    bool valid[9] = {};
    bool interior = false;
};

struct SlopeAndAspect {
    double slope = 0;  // largest directional slope, or [deg] from the mirrored difference on an edge
    double angle = 0;  // [deg] clockwise from north
};

// Steepest slope of the water surface and its direction (kinds 2 and 3 of the
// slope search). A strictly larger later direction replaces an earlier one;
// on a tie the angle is the aspect of the water surface.
SlopeAndAspect SteepestSlope(const Neighbourhood& cell, double cellSize);

// Aspect [deg] from the east and north differences of the water surface.
double Aspect(double ex, double ny);

// Weights of the eight directions from a flow angle [deg] on an interior
// cell: the main direction gets cos(a) of the deviation a, and unless the
// plan curvature is above 0 the two side neighbours the projections of the
// flow on them, the nearer the larger. Methods 2, 4 and 5 keep the main
// direction alone. `w` receives weights 1..8 summing to 1 (before the uphill
// filter of the caller); returns the main direction.
int WeightsByAngle(double angle, double curvature, int method, double w[9]);

// Weights from the drops H - H_d [m] towards valid neighbours (`valid`):
// drop, or drop / 1.4142135 on a diagonal, where the drop exceeds 0.00001.
// Methods 2, 4 and 5: the main direction gets 1 and the others 0; methods 1
// and 3: normalised. Returns the main direction (0 when none).
int WeightsByDrops(const double drop[9], const bool valid[9], int method, double w[9]);

// Plan curvature from the 3 x 3 window z[row][col] (row 0 north) [1/m].
double PlanCurvature(const double z[3][3], double cellSize);

// The land-use values of the flow resistance.
struct Resistance {
    int cultivation = 0;        // 1 conserving, 2 non-conserving, else Strickler only
    double kst = 0;             // Strickler coefficient [m^(1/3)/s]
    double rough1[3] = {};      // Reynolds law below Re 20000
    double rough2[3] = {};      // Reynolds law from Re 20000
    double residueCover = 0;    // R [-]
    double stemDiameter = 0;    // D [m]
    double cropDistX = 0, cropDistY = 0;  // [m]
    double dragHighRe = 0;      // c_W from stem Reynolds number 10000
};

// Iteration controls of the velocity law.
struct VelocityControls {
    double minDepth = 0;       // y_min: depth below which stems do not count [m]
    double wakeTolerance = 0;  // [m]
    int wakeIterations = 0;    // also the depth-ratio iterations
    double velocityTolerance = 0;  // [m/s]
    int velocityIterations = 0;
    double concentration = 1;  // c_f
    double dtMin = 0, dtMax = 0;  // [s]
};

// Velocity coefficient K [m^(1/3)/s] with v = K ye^0.66667 sqrt(s) for a
// velocity v [m/s] and depth ye [m]. A result that is not a finite number
// above 0 is replaced by K_st (the Reynolds law of a bare soil divides by 0).
double FlowResistance(const Resistance& r, const VelocityControls& c, double v, double ye, double sqrtS);

// Velocity [m/s] and flux [m3/s] of one direction.
struct DirectionFlow {
    double velocity = 0;
    double flux = 0;
};

// Method 5: v = min(L / (20 dtMin), 10 y^0.66667 sqrt(s)), flux v cs y.
DirectionFlow CappedFlow(double y, double slope, double length, double cellSize, double dtMin);

// Methods 1 to 4: the velocity iteration from the start velocity v0 with the
// land use's resistance, the shear-stress concentration and the depth bound,
// for the share w of the cell's water depth y on a slope s over a cell of
// size cs. A slope of 0 or less has no flow.
DirectionFlow ResistedFlow(const Resistance& r, const VelocityControls& c, double v0, double w, double y,
                           double slope, double cellSize, double criticalShear);

// Single linear storage over one step: outflow q (1 - B) + B o with
// B = exp(-dt / k) (dt, k [min]).
double LinearStorageOutflow(double inflow, double previousOutflow, double stepMinutes, double recessionMinutes);

}  // namespace surfrout
