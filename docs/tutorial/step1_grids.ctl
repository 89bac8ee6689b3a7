# Tutorial, step 1: the basin's grids and tables, and the temperature of one
# station interpolated onto the grid. Every sub-model is still off.
# Run it from this directory:  ../../build/ruvex step1_grids.ctl
$set $in = input/
$set $out = output/

[output_interval]
24                         # log interval [h]
0                          # warnings of the meteorological inputs
1                          # output unit
0                          # minutes from the hour of a record to the end of its step
WriteAsciiGrids = 1
InitialStateDirectory = $in
DefaultOutputDirectory = $out

[output_list]
0                          # no subbasin list (statistics codes 5 and 6 unused)

[coordinates]
47.3                       # latitude [deg]
11.9                       # longitude [deg]
15                         # reference meridian [deg]
0                          # the station data are in local time

[meteo_data_count]
1

[meteo_names]
temperature

[model_time]
1                          # start hour
1                          # start day
3                          # start month
2020                       # start year
24                         # end hour
10                         # end day
3                          # end month
2020                       # end year

[zone_grid]
zones.asc

[elevation_model]
dem.asc

[standard_grids]
3                          # number of standard grids
zones.asc zonegrid_soilmodel fillcode = 0 writecode = 0 statfile = zonegrid_soilmodel.sta statcode = 0
landuse.asc landuse fillcode = 0 writecode = 3 statfile = landuse.sta statcode = 0
soils.asc soil_types fillcode = 0 writecode = 3 statfile = soil_types.sta statcode = 0

[variable_grids]
1                          # number of variable grids
albedo.asc albedo 0 0.2    # created with 0.2, then set daily from the land-use table
0                          # write code
0                          # created, not read

[multilayer_landuse]
0

[landuse_table]
2                          # land-use classes
11 meadow method = VariableDayCount {
  RootDist = 1.0; TReduWet = 0.95; LimitReduWet = 0.5; HReduDry = 3.45; IntercepCap = 0.3;
  JulDays = 15 105 135 166 258 319;
  Albedo = 0.23 0.22 0.20 0.20 0.21 0.23;
  rsc = 80 60 50 50 60 80;
  rs_interception = 50 50 50 50 50 50;
  rs_evaporation = 250 250 250 250 250 250;
  LAI = 1.5 2.5 4.0 4.5 3.0 1.5;
  Z0 = 0.01 0.02 0.04 0.05 0.03 0.01;
  VCF = 0.6 0.8 0.95 0.95 0.85 0.6;
  RootDepth = 0.2 0.3 0.4 0.4 0.3 0.2;
  AltDep = 0.025 0.025 0.025 -0.025 -0.025 -0.025;
}
21 forest method = VariableDayCount {
  RootDist = 1.0; TReduWet = 0.95; LimitReduWet = 0.5; HReduDry = 3.45; IntercepCap = 0.4;
  JulDays = 15 105 135 166 258 319;
  Albedo = 0.12 0.12 0.12 0.12 0.12 0.12;
  rsc = 100 85 75 75 85 100;
  rs_interception = 30 30 30 30 30 30;
  rs_evaporation = 300 300 300 300 300 300;
  LAI = 8 9 10 10 10 8;
  Z0 = 1.5 1.5 1.5 1.5 1.5 1.5;
  VCF = 0.9 0.9 0.95 0.95 0.95 0.9;
  RootDepth = 0.9 0.9 1.0 1.0 1.0 0.9;
  AltDep = 0.025 0.025 0.025 -0.025 -0.025 -0.025;
}

[soil_table]
2                          # soil types, each of 6 layers in three horizons
3 loam {
  method = MultipleHorizons;
  FCap = 25; mSB = 35; ksat_topmodel = 0.0001; suction = 300;
  layers = 2 2 2;
  thickness = 0.1 0.3 0.5;
  ksat = 5e-6 2e-6 8e-7;
  theta_sat = 0.45 0.43 0.40;
  theta_res = 0.05 0.05 0.04;
  alpha = 1.8 1.5 1.2;
  Par_n = 1.45 1.40 1.35;
  k_recession = 0.9 0.9 0.9;
  EvapMaxDepth = 0.15; maxratio = 1000; MaxInterflowDepth = 2;
}
7 stony {
  method = MultipleHorizons;
  FCap = 18; mSB = 28; ksat_topmodel = 0.0003; suction = 150;
  layers = 2 2 2;
  thickness = 0.1 0.24 0.3;
  ksat = 3e-5 1e-5 5e-6;
  theta_sat = 0.40 0.36 0.30;
  theta_res = 0.04 0.03 0.03;
  alpha = 3.5 3.0 2.5;
  Par_n = 1.9 1.8 1.7;
  k_recession = 0.8 0.8 0.8;
  EvapMaxDepth = 0.1; maxratio = 1000; MaxInterflowDepth = 1.5;
}

[irrigation_table]
0

[substance_transport]
0

[region_transition_distance]
500

[precipitation_correction]
0                          # correction off
0
1
0
1
0

[temperature]
12                         # method: nearest station moved to the cell's altitude
temperature.txt            # station file [degC], hourly
-0.0065                    # lapse rate [K/m]
temperature.asc            # result grid
60                         # write code: yearly means
1                          # scaling factor
temperature.sta 2024       # statistics file and code: daily means per subbasin
9998                       # values beyond -9998 .. 9998 are missing
2                          # weight of the inverse distance
0.5                        # share of inverse-distance weighting (combined methods only)
50000                      # maximum distance [m]
0                          # slope of the main axis of the anisotropy ellipse [deg]
1                          # anisotropy b/a: isotropic
-60                        # lower limit of the results
-60                        # replacement below the lower limit
60                         # upper limit of the results
60                         # replacement above the upper limit
0                          # no scenarios

[radiation_correction]
0
60

[RegionalSuperposition]
0
60

[evapotranspiration]
0
60

[snow_model]
0
60

[interception_model]
0
60

[SiltingUpModel]
0
60

[unsatzon_model]
0
60

[SurfaceRoutingModel]
0
60

[irrigation]
0
60

[groundwater_flow]
0
60

[routing_model]
0
60

[special_output]
0
60
