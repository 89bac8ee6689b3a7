[output_interval]
24

[landuse_table]
7     number of land use classes
12 meadow 0.2 100 200 130 140 150 160 170 180 190 110 120 90 100 150 250 300 1 2 3 4 0.01 0.02 0.03 0.04 0.1 0.2 0.3 0.4 100 200 300 400 1.5 3.45
20 grassland method = VariableDayCount {
  RootDist = 1.0;
  TReduWet = 0.95;
  HReduDry = 3.45;
  JulDays = 110 250;
  Albedo = 0.2 0.25;
  rsc = 80 60;
  LAI = 1 3;
  Z0 = 0.02 0.05;
  VCF = 0.5 0.9;
  RootDepth = 200 300;
  AltDep = 0.025 -0.025;
}
21 cropland method = VariableDayCount {
  RootDist = 0.8; TReduWet = 0.9; LimitReduWet = 0.4; HReduDry = 4.5;
  useInternalParameters = 10000001;
  StartVegetationPeriodForBalance = 2; StopVegetationPeriodForBalance = 4;
  JDVegetationResetForBalance = 60; JDVegetationWriteForBalance = 330;
  IntercepCap = 0.7; StressFactorDynPhen = 1.5;
  JulDays = 1 100 -1 300
            366;
  Albedo = 0.2 0.21 0.22 0.23 0.24;
  rsc = 100 90 50 90 100;
  LAI = 0.5 1 4 2 0.5;
  Z0 = 0.01 0.05 0.2 0.1 0.01;
  VCF = 0.1 0.3 0.9 0.6 0.1;
  RootDepth = 100 150 400 300 100;
  AltDep = 0 0.01 0.01 -0.01 0;
  rs_interception = 30 31 32 33 34;
  rs_evaporation = 150 151 152 153 154;
  SoilTillage = 90 280;
  SR_cultivation = nonconserving;
  SR_CropDistX = 0.5; SR_CropDistY = 0.6; SR_K_ST = 12; SR_C_WR = 2.5;
  SR_rough_coeff1 = 0.1 0.2 0.3;
  SR_rough_coeff2 = 0.4 0.5 0.6;
  SR_StemDiameter = 0.011 0.012 0.013 0.014 0.015;
  SR_ResidCovrg = 0.5 0.4 0.3 0.2 0.1;
  n-factor = 0.5 0.6 0.7 0.8 0.9;
  nf_freezing = 0.55; nf_thawing = 0.95;
}
30 beech method = DynamicPhenology_1 {
  RootDist = 1; TReduWet = 0.95; HReduDry = 3.45;
  F* = 200; DP1_t1_dorm = 60; DP1_T_Bf = 5; JDReset_TStart = 300; maxStartJDforDP1 = 160;
  JulDays = 1 100 -1 30 366;
  Albedo = 0.15 0.15 0.15 0.18 0.15;
  rsc = 120 120 120 60 120;
  LAI = 0.5 1 2 5 0.5;
  Z0 = 1 1 1 1.5 1;
  VCF = 0.8 0.8 0.8 0.95 0.8;
  RootDepth = 800 800 800 1000 800;
  AltDep = 0 0 0 0 0;
  SR_cultivation = conserving;
}
31 oak method = DynamicPhenology_2 {
  RootDist = 1; TReduWet = 0.95; HReduDry = 3.45;
  F* = 180; DP1_t1_dorm = 50; DP1_T_Bf = 4.5; JDReset_TStart = 310; maxStartJDforDP1 = 170;
  DP2_t0_dorm = 280; DP2_t1_dorm = 30; DP2_T_Bf = 5.5; DP2_T_Bc = 4; DP2_Par_a = 500; DP2_Par_b = -0.01;
  JulDays = 1 -1 40 366;
  Albedo = 0.15 0.15 0.18 0.15;
  rsc = 120 120 60 120;
  LAI = 0.5 0.5 5 0.5;
  Z0 = 1 1 1.5 1;
  VCF = 0.8 0.8 0.95 0.8;
  RootDepth = 800 800 1000 800;
  AltDep = 0 0 0 0;
  SR_cultivation = other;
}
40 wheat method = DynamicPhenology_3 {
  RootDist = 1; TReduWet = 0.95; HReduDry = 3.45;
  DP1_t1_dorm = 1; DP1_T_Bf = 0; JDReset_TStart = 1; maxStartJDforDP1 = 366;
  JulDays = 1 120 200 366;
  ForcingThreshold = -1 100 300 -1;
  Albedo = 0.2 0.2 0.2 0.2;
  rsc = 100 80 60 100;
  LAI = 0.5 2 5 0.5;
  Z0 = 0.01 0.05 0.1 0.01;
  VCF = 0.1 0.5 0.9 0.1;
  RootDepth = 100 300 600 100;
  AltDep = 0 0 0 0;
}
50 larch method = DynamicPhenology_4 {
  RootDist = 1; TReduWet = 0.95; HReduDry = 3.45;
  F* = 150; DP1_t1_dorm = 45; DP1_T_Bf = 4; JDReset_TStart = 320; maxStartJDforDP1 = 180;
  DP4_t0_dorm = 270; DP4_t1_dorm = 20; DP4_T0 = 5; DP4_T1 = 3; DP4_Par_a = 400; DP4_Par_b = -20;
  DP4_T_xylstop = 10; DP4_t_xs1 = 200; DP4_SPSLF = 3;
  JulDays = 1 -1 30 280 366;
  Albedo = 0.12 0.12 0.14 0.14 0.12;
  rsc = 150 150 70 70 150;
  LAI = 0.3 0.3 4 4 0.3;
  Z0 = 1.2 1.2 1.4 1.4 1.2;
  VCF = 0.6 0.6 0.9 0.9 0.6;
  RootDepth = 700 700 900 900 700;
  AltDep = 0 0 0 0 0;
}
[soil_table]
1
