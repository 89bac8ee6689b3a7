# Tutorial, step 5: step 4 and the routing: subbasin 1 drains through a river
# reach into subbasin 2, whose outlet is the basin's outlet.
# Run it from this directory:  ../../build/ruvex step5_routing.ctl
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
5

[meteo_names]
temperature
precipitation
air_humidity
wind_speed
global_radiation

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

[precipitation]
1                          # method
precipitation.txt            # station file
none                       # regression file (not read by this method)
precipitation.asc
0                          # write code
1                          # scaling factor
precipitation.sta 4024
9998                       # values beyond -9998 .. 9998 are missing
2                          # weight of the inverse distance
0.5                        # share of inverse-distance weighting (combined methods only)
50000                      # maximum distance [m]
0                          # slope of the main axis of the anisotropy ellipse [deg]
1                          # anisotropy b/a: isotropic
0                          # lower limit of the results
0                          # replacement below the lower limit
200                          # upper limit of the results
200                          # replacement above the upper limit
0                          # no scenarios

[air_humidity]
4                          # method
humidity.txt            # station file
none                       # regression file (not read by this method)
air_humidity.asc
0                          # write code
0.01                       # scaling factor: % to 1/1
air_humidity.sta 2024
9998                       # values beyond -9998 .. 9998 are missing
2                          # weight of the inverse distance
0.5                        # share of inverse-distance weighting (combined methods only)
50000                      # maximum distance [m]
0                          # slope of the main axis of the anisotropy ellipse [deg]
1                          # anisotropy b/a: isotropic
0.01                          # lower limit of the results
0.01                          # replacement below the lower limit
1                          # upper limit of the results
1                          # replacement above the upper limit
0                          # no scenarios

[wind_speed]
1                          # method
wind.txt            # station file
none                       # regression file (not read by this method)
wind_speed.asc
0                          # write code
1                          # scaling factor
wind_speed.sta 2024
9998                       # values beyond -9998 .. 9998 are missing
2                          # weight of the inverse distance
0.5                        # share of inverse-distance weighting (combined methods only)
50000                      # maximum distance [m]
0                          # slope of the main axis of the anisotropy ellipse [deg]
1                          # anisotropy b/a: isotropic
0.1                          # lower limit of the results
0.1                          # replacement below the lower limit
60                          # upper limit of the results
60                          # replacement above the upper limit
0                          # no scenarios

[global_radiation]
1                          # method
radiation.txt            # station file
none                       # regression file (not read by this method)
global_radiation.asc
0                          # write code
1                          # scaling factor
global_radiation.sta 2024
9998                       # values beyond -9998 .. 9998 are missing
2                          # weight of the inverse distance
0.5                        # share of inverse-distance weighting (combined methods only)
50000                      # maximum distance [m]
0                          # slope of the main axis of the anisotropy ellipse [deg]
1                          # anisotropy b/a: isotropic
0                          # lower limit of the results
0                          # replacement below the lower limit
1400                          # upper limit of the results
1400                          # replacement above the upper limit
0                          # no scenarios

[radiation_correction]
1                          # on
60                         # time step [min]
1                          # method: terrain shadow
tkorr.asc                  # corrected temperature grid
0                          # write code
1                          # scaling factor of the temperature correction
exkorr.asc                 # correction ratio grid
0                          # write code
shade.asc                  # shadow grid
0                          # write code
1                          # computed every step
1                          # sub-steps per step

[RegionalSuperposition]
0
60

[evapotranspiration]
1                          # on
60                         # time step [min]
1                          # method: Penman-Monteith
0 0 0 0 0 0 0 0 0 0 0 0
0 0 0 0 0 0 0 0 0 0 0 0
1                          # coast factor (Wendling only)
etp.asc                    # potential transpiration grid
10                         # write code: sum over the run
etp.sta 4024               # statistics: daily sums per subbasin
etr.asc                    # real evapotranspiration grid
0
etr.sta 4024
evap.asc                   # potential soil evaporation grid
0
evap.sta 0
evar.asc                   # real soil evaporation grid
0
evar.sta 0
snowevap.asc               # snow evaporation grid
0
snowevap.sta 0
eip.asc                    # potential interception evaporation grid
0
eip.sta 4024
rgex.sta 2024              # corrected global radiation statistics: daily means
0.23 0.52 0.16 0.09        # radiation from sunshine: a0 (diffuse fraction) to a3
0.072 -0.808 1.749 -0.239  # sunshine from radiation: CS[0] to CS[3]
0.7 0.1                    # transmissivity T0, T1
1000                       # scale height of the temperature amplitude [m]
4 5 6 7 8 8 8 8 7 6 5 4    # monthly day/night temperature amplitudes [K]
0.5 0                      # day fraction of the amplitude, annual variability
cloudiness.sta 0           # cloudiness statistics: off

[snow_model]
1                          # on
60                         # time step [min]
1                          # method: temperature index (degree-day)
1                          # transzone: half width of the rain/snow transition [K]
1                          # T0R: threshold temperature rain/snow [degC]
0                          # T0: threshold temperature of melt [degC]
0.1                        # CWH: liquid water holding capacity [-]
0.5                        # CRFR: refreezing coefficient (methods 3, 4)
3                          # C0: degree-day factor [mm/(K d)]
2                          # C1: temperature-wind factor [mm/(K d)]
0.5                        # C2: wind term [mm/(K d) per m/s]
0.01                       # z0: roughness length [m]
1                          # RMFMIN: minimum seasonal melt factor
3                          # RMFMAX: maximum seasonal melt factor
0.5                        # ALBsnow_min
0.85                       # ALBsnow_max
rain_fraction.asc          # rainfall grid
20                         # write code: yearly sums
rain.sta 4024              # rainfall statistics: daily sums per subbasin
snow_fraction.asc          # snowfall grid
20                         # write code: yearly sums
snow.sta 4024              # snowfall statistics: daily sums per subbasin
days_snow.asc              # snow days grid
20                         # write code: yearly sums
days_snow.sta 4024         # snow days statistics
snow_age.asc               # snow age grid
0                          # write code
snow_age.sta 0             # snow age statistics
snow_albedo.sta 0          # albedo statistics
snowcover_outflow.asc      # outflow of the snow cover
20                         # write code: yearly sums
snowcover_outflow.sta 4024 # outflow statistics: daily sums per subbasin
snowmelt.asc               # outflow of steps with melt
0                          # write code
snowmelt.sta 0             # its statistics
snowstorage_solid.asc      # solid snow storage
0                          # write code
snowstorage_liquid.asc     # liquid water in the snow
0                          # write code
snow_storage.sta 2024      # total snow storage: daily means per subbasin
snow_storage_total.asc     # total snow storage grid
3                          # write code: at the end of the run
0                          # state grids are not read: a cold start

[interception_model]
1                          # on
60                         # time step [min]
1                          # evaporation by the potential transpiration
throughfall.asc            # throughfall grid
10                         # write code: sum over the run
throughfall.sta 4024       # statistics: daily sums per subbasin
interception_evaporation.asc
10
interception_evaporation.sta 4024
interception_storage.asc
3                          # write code: at the end of the run
interception_storage.sta 2024
0.2                        # storage per unit of leaf area where the land use gives none [mm]
0                          # storages start empty

[SiltingUpModel]
0
60

[unsatzon_model]
1                          # on
60                         # time step [min]
3                          # method: finite differences with a dynamically calculated time step
0                          # surface water interaction
0                          # ponding
0                          # tile drainage
0                          # clay layer
1e-8                       # k_sat of the clay [m/s]
2                          # ini_gw_level: the table of the cold start lies halfway down the profile
qdrain.sta 2024            # QDRAIN statistics
gwstand.sta 2024           # GWSTAND statistics
gwn.sta 2024               # GWN statistics
sb1.sta 2024               # SB_1 statistics
sb2.sta 2024               # SB_2 statistics
root.sta 2024              # ROOT statistics
infex.sta 2024             # INFEX statistics
pond.sta 2024              # POND statistics
qd.sta 2024                # QD statistics
qi.sta 2024                # QI statistics
qb.sta 2024                # QB statistics
qg.sta 2024                # Qg statistics
gwin.sta 2024              # GWIN statistics
gwex.sta 2024              # GWEX statistics
macro.sta 2024             # MACRO statistics
infilt.sta 2024            # INFILT statistics
sb05.asc                   # grid or stack 1
0
sb1.asc                    # grid or stack 2
0
wurz.asc                   # grid or stack 3
0
theta.stk                  # grid or stack 4
3                          # write code: at the end of the run
hh.stk                     # grid or stack 5
3                          # write code: at the end of the run (warm-start state)
hgeo.stk                   # grid or stack 6
3                          # write code: at the end of the run (warm-start state)
qunten.stk                 # grid or stack 7
0
gwstand.asc                # grid or stack 8
3                          # write code: at the end of the run
gwtheta.asc                # grid or stack 9
3                          # write code: at the end of the run (warm-start state)
gwn.asc                    # grid or stack 10
23                         # write code: yearly sums and at the end of the run
gwlevel.asc                # grid or stack 11
3                          # write code: at the end of the run (warm-start state)
qdrain.asc                 # grid or stack 12
0
satt.asc                   # grid or stack 13
0
infex.asc                  # grid or stack 14
0
qd.asc                     # grid or stack 15
23                         # write code: yearly sums and at the end of the run
qi.asc                     # grid or stack 16
23                         # write code: yearly sums and at the end of the run
deltagw.asc                # grid or stack 17
23                         # write code: yearly sums and at the end of the run
gwin.asc                   # grid or stack 18
0
gwex.asc                   # grid or stack 19
0
pond.asc                   # grid or stack 20
3                          # write code: at the end of the run (warm-start state, with ponding on)
uprise.asc                 # grid or stack 21
0
percol.asc                 # grid or stack 22
0
macro.asc                  # grid or stack 23
0
irrig.asc                  # grid or stack 24
3                          # write code: at the end of the run
0 0                        # control point (row column): none
qbottom.txt
theta.txt
hhyd.txt
otherdata.txt
etr.txt
interflow.txt
1 2                        # subbasin codes
1 2                        # kelsqd [h]
20 30                      # kelsqi [h]
1 1                        # channel network density
-1 -1                      # kelsqlat
0.5 0.5                    # QB-Red.Faktor (Q0)
0 0                        # SnowRunoff_fraction
0                          # read mode of the state grids: cold start
storage_content.txt        # storage content file
60                         # shortest dynamic time step [s]
substeps.sta 2024          # sub-steps per step: daily means per subbasin
substeps.asc               # sub-steps grid
0                          # write code

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
1                          # on
60                         # time step [min]
1 1500 50 2                # q min, q max [l/s/km2], w-q intervals, sub-intervals per step
Qrouted.sta 2001           # routed discharge per subbasin [m3/s], every step
none                       # observed discharge (none: no gauge columns below)
0                          # gauge descriptors
0                          # offset of the efficiency sums
TG 1 A = 1.4 f = 1.0
TG 2 A = 2.96 f = 1.0
  OL 1 kh = 2 kv = 10 bm = 3 bf = 30 tm = 0.8 nm = 30 nf = 15 I = 0.02 L = 1200 A = 1.4
end of the routing network

[special_output]
0
60
