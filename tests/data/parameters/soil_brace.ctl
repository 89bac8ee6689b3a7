# A control file holding only what the soil table reader needs.
[landuse_table]
1 landuse
1 grass {method = VariableDayCount; ...}

[soil_table]
3 soil types in the brace format
1 loam {method = MultipleHorizons; layers = 3 2; ksat = 1e-5 2e-6; theta_sat = 0.45 0.40; theta_res = 0.05 0.04; alpha = 2.0 1.5; Par_n = 1.5 1.3; thickness = 0.1 0.2;}
12 clay {
    method = MultipleHorizons;
    layers = 1	4;
    ksat_topmodel = 0.002;
    ksat = 4e-6 1e-6;
    theta_sat = 0.5;
    theta_res = 0.1;
    alpha = 1.0;
    Par_n = 1.2;
    Par_m = 0.2 0.3;
    Par_tau = 0.3 0.6;
    thickness = 0.1;
    k_recession = 0.5 0.25;
    MaxInterflowDepth = 0.3;
    EvapMaxDepth = 0.25;
    GrainSizeDist = 0.2 0.3 0.4 0.1 0 0 0;
    SU_PAR01 = 1.5;
    SU_PAR10 = -2;
    PMacroThresh = 36;
    MacroCapacity = 7.2;
    CapacityRedu = 0.8;
    MacroDepth = 0.6;
    DryHeatCapacity = 750 800;
    DryDensity = 1400 1600;
    DryThermalConduct = 0.3 0.4;
    KMinFrozenSoil = 1e-9;
    maxratio = 500;
    FCap = 20;
    mSB = 40;
    suction = 250;
}
7 sand { method = MultipleHorizons; layers = 5; ksat = 3e-5; theta_sat = 0.38; theta_res = 0.03;
         alpha = 3.5; Par_n = 2.2; thickness = 0.1; ThicknessScaling = 2;
         GrainSizeDist = 0.5 0.3 0.2 0 0 0 0; }

[irrigation_table]
0
