#pragma once
// Kernels of the soil hydraulic and freezing characteristics: the van
// Genuchten retention curve with Mualem conductivity, the freezing curve that
// reuses the retention curve on a temperature axis, and the heat capacity of
// a partly frozen soil. Plain values in, plain values out.

namespace soilphysics {

// Effective saturation at a suction h [m]:
//   Se = (1 / (1 + (alpha h)^n))^m          alpha [1/m]
double VanGenuchtenSaturation(double suction, double alpha, double n, double m);

// Volumetric water content at effective saturation Se:
//   theta = (theta_sat - theta_res) Se + theta_res
double WaterContentFromSaturation(double saturation, double thetaSat, double thetaRes);

// Mualem relative conductivity [-] at effective saturation Se:
//   Kr = Se^tau (1 - (1 - Se^(1/m))^m)^2
double MualemRelativeConductivity(double saturation, double m, double tau);

// Unfrozen water fraction [-] at the scaled temperature u = |fT T| alpha:
//   F = (1 / (u^n + 1))^m
double UnfrozenFraction(double scaledTemperature, double n, double m);

// Slope of the unfrozen fraction with temperature [1/K] at u = |fT T| alpha:
//   S = m n alpha fT u^(n-1) (u^n + 1)^(-m-1)
// u = 0 (no freezing scale) gives 0.
double UnfrozenFractionSlope(double scaledTemperature, double alpha, double factor, double n, double m);

// Breakpoint constants of the freezing shift, computed in double arithmetic
// exactly as 1.15 + 0.15, K1 - 1.15 and K1 - 1.
inline constexpr double FreezingShiftK1 = 1.15 + 0.15;
inline constexpr double FreezingShiftK3 = FreezingShiftK1 - 1.15;
inline constexpr double FreezingShiftK4 = FreezingShiftK1 - 1;

// Temperature shift [K] of the freezing curve for the temperature T* [degC]
// at which the slope curve reaches a target slope, relative to the
// temperature Tc [degC] of the steepest slope:
//   0                                   T* >= Tc
//   T* - 1.15 Tc                        T* <  K1 Tc
//   T* - Tc (1 + (T* - Tc) K3 / (Tc K4)) otherwise
double FreezingShift(double slopeTemperature, double steepestTemperature);

// Heat capacity of ice [J/(kg K)] at T [degC]: ci0 at 0 degC and above, ci20
// below -20 degC, linear in between.
double IceHeatCapacity(double temperature, double iceCapacity0, double iceCapacity20);

// Volumetric heat capacity [J/(m3 K)] of a soil layer:
//   C = theta rhoW (f cw + (1 - f) ci) + rhoDry cDry + addend
double VolumetricHeatCapacity(double waterContent, double waterDensity, double unfrozenFraction,
                              double waterCapacity, double iceCapacity, double dryDensity, double dryCapacity,
                              double addend);

}  // namespace soilphysics
