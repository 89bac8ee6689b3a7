# Continuing the example's run: this file goes on from the state that a run
# of basin.ctl left in output/ and writes to output_continued/. It is
# basin.ctl with three changes: the state is read from output/ (every read
# switch of a state is 1), the input files are named with their directory
# (../input/, seen from output/), so that the land-use and soil grids are read
# as codes rather than the table positions output/ holds under these names,
# and the run starts one step after the end of the run it continues.
# Steps:
#   1. set the end of [model_time] in basin.ctl to the last step of the first
#      part (for example 24 31 3 2019) and run it:  ../../build/ruvex basin.ctl
#   2. set the start of [model_time] below to the step after it (1 1 4 2019)
#      and the end where the run is to stop, then:
#      ../../build/ruvex basin_continue.ctl
# A state from another date than the step before the start is read with a
# warning naming both dates; a state from another configuration (grid, soil
# layers, tracers, subbasins, sub-models) is refused. To go on once more,
# point InitialStateDirectory at output_continued/ and DefaultOutputDirectory
# at a new directory.
$set $in = input/
$set $out = output/

[output_interval]
24                         # log interval [h]
0                          # warnings of the meteorological inputs
1                          # output unit
0                          # minutes from the hour of a record to the end of its step
WriteAsciiGrids = 1
InitialStateDirectory = output/
DefaultOutputDirectory = output_continued/

[output_list]
3                          # subbasins listed in statistics with codes 5 and 6
1
2
3

[coordinates]
47.5                       # latitude [deg]
8.25                       # longitude [deg]
15                         # reference meridian [deg]
0                          # time shift of the data to local time [h]: the data are in local time

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
4                          # start month
2019                       # start year
24                         # end hour
31                         # end day
12                         # end month
2020                       # end year

[zone_grid]
../input/zones.asc

[elevation_model]
../input/dem.asc

[standard_grids]
15                         # number of standard grids
../input/zones.asc zonegrid_soilmodel fillcode = 0 writecode = 0 statfile = zonegrid_soilmodel.sta statcode = 0
../input/landuse.asc landuse fillcode = 0 writecode = 0 statfile = landuse.sta statcode = 2024
../input/soils.asc soil_types fillcode = 0 writecode = 0 statfile = soil_types.sta statcode = 2024
../input/ice_firn.asc ice_firn fillcode = 0 writecode = 0 statfile = ice_firn.sta statcode = 0
../input/river_depth.asc river_depth fillcode = 0 writecode = 0 statfile = river_depth.sta statcode = 0
../input/river_width.asc river_width fillcode = 0 writecode = 0 statfile = river_width.sta statcode = 0
../input/river_links.asc river_links fillcode = 0 writecode = 0 statfile = river_links.sta statcode = 0
../input/flow_times.asc flow_times fillcode = 0 writecode = 0 statfile = flow_times.sta statcode = 0
../input/slidefraction1.asc slidefraction1 fillcode = 0 writecode = 0 statfile = slidefraction1.sta statcode = 0
../input/slidefraction2.asc slidefraction2 fillcode = 0 writecode = 0 statfile = slidefraction2.sta statcode = 0
../input/slidefraction3.asc slidefraction3 fillcode = 0 writecode = 0 statfile = slidefraction3.sta statcode = 0
../input/slidefraction4.asc slidefraction4 fillcode = 0 writecode = 0 statfile = slidefraction4.sta statcode = 0
../input/tracer_1_input.asc concflux_tracer_1_input fillcode = 0 writecode = 0 statfile = tracer_1_input.sta statcode = 0
../input/tracer_2_input.asc concflux_tracer_2_input fillcode = 0 writecode = 0 statfile = tracer_2_input.sta statcode = 0
../input/irrigation.asc irrigation_codes fillcode = 0 writecode = 0 statfile = irrigation_codes.sta statcode = 0

[variable_grids]
15                         # number of variable grids
albedo.asc albedo 0 0.2      # created with 0.2, then set daily from the land-use table
0                          # write code
0                          # created, not read
surfstor.asc SurfStorSiltingUp 0 0  # water on the surface for the silting-up model [mm]
3
1                          # read
# The two aquifer layers of the groundwater model: layer 1 is the soil (its
# thickness becomes the soil depth), layer 2 an aquifer of 20 m below it.
# Conductivities [m/s], storage coefficients [-] and the leakage coefficient
# between the layers [1/s] are uniform; fixed heads only at the outlet cells
# of layer 2, no fixed inflows.
aquifer_thickness_1.asc aquifer_thickness_1 0 1
0
0
aquifer_thickness_2.asc aquifer_thickness_2 0 20
0
0
gw_k_x_1.asc gw_k_x_1 0 1e-6
0
0
gw_k_y_1.asc gw_k_y_1 0 1e-6
0
0
gw_k_x_2.asc gw_k_x_2 0 1e-6
0
0
gw_k_y_2.asc gw_k_y_2 0 1e-6
0
0
gw_storage_coeff_1.asc gw_storage_coeff_1 0 0.2
0
0
gw_storage_coeff_2.asc gw_storage_coeff_2 0 0.1
0
0
gw_kolmation_1.asc gw_kolmation_1 0 1e-7
0
0
gw_boundary_fix_h_1.asc gw_boundary_fix_h_1 0 -9999
0
0
../input/gw_fixed_head_2.asc gw_boundary_fix_h_2 0 -9999  # 5 m below the surface at the outlet cells
0
1                          # read from input/
gw_boundary_fix_q_1.asc gw_boundary_fix_q_1 0 -9999
0
0
gw_boundary_fix_q_2.asc gw_boundary_fix_q_2 0 -9999
0
0

# The stands of the land-use grid: the forest has an understorey of meadow
# grass below its trees, meadows and alpine pastures one layer only. The
# codes of the land-use grid are these stands' codes; evapotranspiration and
# interception work layer by layer, the upper layer's throughfall feeding
# the lower one.
[multilayer_landuse]
3                          # stands of one or two vegetation layers
11 meadow_stand {Landuse_Layers = 11, -9999;}
21 forest_stand {Landuse_Layers = 21, 11; k_extinct = 0.5; LAI_scale = 10;}
31 pasture_stand {Landuse_Layers = 31, -9999;}

[landuse_table]
3                          # land-use classes
11 meadow method = VariableDayCount {
  SoilTillage = 105 280;
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
  RootDist = 1.0; TReduWet = 0.95; LimitReduWet = 0.5; HReduDry = 3.45; IntercepCap = 0.25;
  JulDays = 15 105 135 166 258 319;
  Albedo = 0.12 0.12 0.12 0.12 0.12 0.12;
  rsc = 70 60 50 50 60 70;
  rs_interception = 30 30 30 30 30 30;
  rs_evaporation = 500 500 500 500 500 500;
  LAI = 5 6 6.5 6.5 6.5 5;
  Z0 = 1.5 1.5 1.5 1.5 1.5 1.5;
  VCF = 0.9 0.9 0.95 0.95 0.95 0.9;
  RootDepth = 0.9 0.9 1.0 1.0 1.0 0.9;
  AltDep = 0.025 0.025 0.025 -0.025 -0.025 -0.025;
}
31 alpine_pasture method = VariableDayCount {
  RootDist = 1.0; TReduWet = 0.95; LimitReduWet = 0.5; HReduDry = 3.45; IntercepCap = 0.2;
  JulDays = 15 135 166 196 244 288;
  Albedo = 0.25 0.24 0.22 0.20 0.22 0.25;
  rsc = 120 90 70 60 80 120;
  rs_interception = 50 50 50 50 50 50;
  rs_evaporation = 200 200 200 200 200 200;
  LAI = 0.5 0.8 1.5 2.5 1.5 0.5;
  Z0 = 0.01 0.01 0.02 0.03 0.02 0.01;
  VCF = 0.3 0.4 0.6 0.7 0.6 0.3;
  RootDepth = 0.15 0.15 0.2 0.25 0.2 0.15;
  AltDep = 0.025 0.025 0.025 -0.025 -0.025 -0.025;
}

[soil_table]
2                          # soil types, each with 6 layers in three horizons
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
  PMacroThresh = 10; MacroCapacity = 5; CapacityRedu = 0.8; MacroDepth = 0.6;
  GrainSizeDist = 0.40 0.40 0.20 0 0 0 0;
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
  PMacroThresh = 15; MacroCapacity = 10; CapacityRedu = 0.7; MacroDepth = 0.4;
  GrainSizeDist = 0.65 0.25 0.10 0 0 0 0;
}

[irrigation_table]
3                          # irrigation codes of input/irrigation.asc
1 meadow_pump 3 1 4 2.5    # higher meadows: by soil suction [m], starts at 4, refills to 2.5; from groundwater
2 fields_river 1 2 0 0 9 5 15 10 6 1 10 6 15 10 7 1 10 7 10 10 7 20 10 8 1 10 8 10 10 8 20 10   # valley meadows: 10 mm a day on nine days from mid-May to August, from rivers
3 never_irrigated 1 1 0 0 0  # forest and alpine pasture

# Two substances travel with the water: chloride [mg/l], which does not
# decay, and tritium [TU], radioactive with a half-life of 12.3 years. Both
# stay behind when water evaporates ("evaporating": their storages hold
# concentrations, mixed by the amounts of water). Their concentrations in the precipitation are the standard grids
# "concflux_tracer_1_input" and "concflux_tracer_2_input" above; the soil and
# the aquifer start with the concentrations soilini and gwini. Every
# sub-model writes their daily mean concentrations per subbasin to
# output/tracer_<name><sub-model>.sta and its concentration grids at the end
# of the run (a warm start reads them back).
[substance_transport]
2                          # tracers
Chloride non_radioactive evaporating min_conc = 0 max_conc = 100 mg/l soilini = 2 gwini = 4 statcode = 2024 gridcode = 3 path = tracer_ statext = sta gridext = asc
Tritium radioactive half_time = 4493 d evaporating min_conc = 0 max_conc = 100 mg/l soilini = 7 gwini = 5 statcode = 2024 gridcode = 3 path = tracer_ statext = sta gridext = asc

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
../input/temperature.dat       # station file: air temperature [degC], hourly
-0.0065                    # lapse rate [K/m]
temperature.asc            # result grid
60                         # write code: yearly means
1                          # scaling factor
temperature.sta 2024       # statistics file and code: daily means per subbasin
9998                       # station nodata bound: -9999 marks a missing value
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
1                          # method: inverse-distance weighting
../input/precipitation.dat     # station file: precipitation [mm/h], hourly
none                       # regression file (not read by this method)
precipitation.asc          # result grid
20                         # write code: yearly sums
1                          # scaling factor
precipitation.sta 4024     # statistics file and code: daily sums per subbasin
9998                       # station nodata bound: -9999 marks a missing value
2                          # weight of the inverse distance
0.5                        # share of inverse-distance weighting (combined methods only)
50000                      # maximum distance [m]
0                          # slope of the main axis of the anisotropy ellipse [deg]
1                          # anisotropy b/a: isotropic
0                          # lower limit of the results
0                          # replacement below the lower limit
200                        # upper limit of the results
200                        # replacement above the upper limit
0                          # no scenarios

[air_humidity]
4                          # method: nearest station (Thiessen polygons)
../input/air_humidity.dat      # station file: relative air humidity [%], hourly
none                       # regression file (not read by this method)
air_humidity.asc           # result grid
0                          # write code: no grids
0.01                       # scaling factor: % to 1/1, as evapotranspiration reads it
air_humidity.sta 2024      # statistics file and code: daily means per subbasin
9998                       # station nodata bound: -9999 marks a missing value
2                          # weight of the inverse distance
0.5                        # share of inverse-distance weighting (combined methods only)
50000                      # maximum distance [m]
0                          # slope of the main axis of the anisotropy ellipse [deg]
1                          # anisotropy b/a: isotropic
0.01                       # lower limit of the results [1/1]
0.01                       # replacement below the lower limit
1                          # upper limit of the results
1                          # replacement above the upper limit
0                          # no scenarios

[wind_speed]
1                          # method: inverse-distance weighting
../input/wind_speed.dat        # station file: wind speed [m/s], hourly
none                       # regression file (not read by this method)
wind_speed.asc             # result grid
0                          # write code: no grids
1                          # scaling factor
wind_speed.sta 2024        # statistics file and code: daily means per subbasin
9998                       # station nodata bound: -9999 marks a missing value
2                          # weight of the inverse distance
0.5                        # share of inverse-distance weighting (combined methods only)
50000                      # maximum distance [m]
0                          # slope of the main axis of the anisotropy ellipse [deg]
1                          # anisotropy b/a: isotropic
0.1                        # lower limit of the results
0.1                        # replacement below the lower limit
60                         # upper limit of the results
60                         # replacement above the upper limit
0                          # no scenarios

[global_radiation]
1                          # method: inverse-distance weighting
../input/global_radiation.dat  # station file: global radiation [W/m2], hourly
none                       # regression file (not read by this method)
global_radiation.asc       # result grid
0                          # write code: no grids
1                          # scaling factor
global_radiation.sta 2024  # statistics file and code: daily means per subbasin
9998                       # station nodata bound: -9999 marks a missing value
2                          # weight of the inverse distance
0.5                        # share of inverse-distance weighting (combined methods only)
50000                      # maximum distance [m]
0                          # slope of the main axis of the anisotropy ellipse [deg]
1                          # anisotropy b/a: isotropic
0                          # lower limit of the results
0                          # replacement below the lower limit
1400                       # upper limit of the results
1400                       # replacement above the upper limit
0                          # no scenarios

# Direct sunlight on the slopes: the ratio of the radiation on the sloped
# cell to that on a level one, with the shadows the terrain casts, corrects
# the global radiation of evapotranspiration and snow.
[radiation_correction]
1                          # on
60                         # time step [min]
1                          # method: terrain shadow, temperature as interpolated
tkorr.asc                  # corrected temperature grid
0                          # write code
1                          # scaling factor of the temperature correction (methods 2 and 4)
exkorr.asc                 # correction ratio grid
0                          # write code
shade.asc                  # shadow grid
0                          # write code
1                          # computed every step
1                          # sub-steps per step: the sun's position at the middle of the hour

[RegionalSuperposition]
0                          # off
60                         # time step [min]

[evapotranspiration]
1                          # on
60                         # time step [min]
1                          # method: Penman-Monteith
0 0 0 0 0 0 0 0 0 0 0 0
0 0 0 0 0 0 0 0 0 0 0 0
1                          # coast factor (Wendling only)
etp.asc                    # potential transpiration grid
0                          # write code: no grids
etp.sta 2024               # statistics: daily means per subbasin
etr.asc                    # real evapotranspiration grid
0                          # write code: no grids
etr.sta 2024               # statistics: daily means per subbasin
evap.asc                   # potential soil evaporation grid
0                          # write code: no grids
evap.sta 2024              # statistics: daily means per subbasin
evar.asc                   # real soil evaporation grid
0                          # write code: no grids
evar.sta 0                 # statistics: off
snowevap.asc               # snow evaporation grid
0                          # write code: no grids
snowevap.sta 0             # statistics: off
eip.asc                    # potential interception evaporation grid
0                          # write code: no grids
eip.sta 2024               # statistics: daily means per subbasin
rgex.sta 2024              # corrected global radiation statistics: daily means per subbasin
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
6                          # method: energy balance, with slides on steep cells
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
23                         # write code: yearly sums and at the end of the run (warm-start state)
days_snow.sta 4024         # snow days statistics
snow_age.asc               # snow age grid
3                          # write code: at the end of the run (warm-start state)
snow_age.sta 0             # snow age statistics
snow_albedo.sta 0          # albedo statistics
snowcover_outflow.asc      # outflow of the snow cover
20                         # write code: yearly sums
snowcover_outflow.sta 4024 # outflow statistics: daily sums per subbasin
snowmelt.asc               # outflow of steps with melt
0                          # write code
snowmelt.sta 0             # its statistics
snowstorage_solid.asc      # solid snow storage
3                          # write code: at the end of the run (warm-start state)
snowstorage_liquid.asc     # liquid water in the snow
3                          # write code: at the end of the run (warm-start state)
snow_storage.sta 2024      # total snow storage: daily means per subbasin
snow_storage_total.asc     # total snow storage grid
3                          # write code: at the end of the run
1                          # state grids are read
snowtemp.asc               # snow temperature grid
3                          # write code: at the end of the run (warm-start state)
snowtemp.sta 2024          # snow temperature statistics: daily means per subbasin
surftemp.asc               # snow surface temperature grid
3                          # write code: at the end of the run (warm-start state)
surftemp.sta 2024          # surface temperature statistics
input_mass.asc             # snow released by slides
0                          # write code
input_mass.sta 0           # its statistics: off
mobile_mass.asc            # slid snow left over at a cell: beyond its deposition capacity, or with no lower neighbour (it joins the pack as well)
0                          # write code
mobile_mass.sta 0          # its statistics: off
deposition.asc             # slid snow deposited within the capacity (at most maxDepositionFactor mm a step)
20                         # write code: yearly sums
deposition.sta 2024        # deposition statistics: daily means per subbasin
55                         # maxDepositionSlope [deg]
1                          # maxDepositionFactor
35                         # minSlideSlope [deg]: steeper cells shed snow
0.002                      # slideMassFrac: share of the pack released per step (about 5 % a day)
1                          # LWINcorr
1                          # LWOUTcorr

# The glacier of the upper valley on the grid "ice_firn" above
# (input/ice_firn.asc: 2 firn on its upper half, 1 ice below, each cell
# covered whole): a glacier of fixed extent whose ice and firn melt by
# degree-days; the rain and snow melt on it run off through its snow-on-ice
# storage. The lines after the qglac statistics are read only by the
# dynamic methods 11 to 13, which take the grids "GlacierizedCells" and
# "GlacierCodes" (input/glacier.asc and input/glacier_codes.asc) in place of
# "ice_firn" and change the glacier's volume and area once a year, on 30
# September; surface routing and the silting-up model do not run beside them.
[ice_firn]
1                          # glacier method: fixed glaciers, degree-day melt of snow, firn and ice
7                          # DDFice [mm/(K d)]
5                          # DDFfirn [mm/(K d)]
4                          # DDFsnow [mm/(K d)]
2                          # MF (methods 12, 13)
0.01                       # Aice_min
0.02                       # Aice_max
0.005                      # Asnow_min
0.01                       # Asnow_max
24                         # kice_els: storage constant of the ice melt [steps]
72                         # kfirn_els [steps]
48                         # ksnow_els [steps]
0                          # initial Qice_els
0                          # initial Qfirn_els
0                          # initial Qsnow_els
melt_from_firn.asc         # firn melt grid
20                         # write code: yearly sums
qfirn.sta 4024             # firn melt statistics: daily sums per subbasin
melt_from_ice.asc          # ice melt grid
20                         # write code: yearly sums
qice.sta 4024              # ice melt statistics: daily sums per subbasin
qglac.sta 4024             # glacier runoff (outflow of the storages): daily sums per subbasin
qsnowonglac.sta 4024       # snow melt on the ice: daily sums per subbasin
1                          # glacier grids are read
3 1800 0.5                 # firn_levels, firn_base [m], deltafirnper100m [mm per level and 100 m]
30 9                       # evaluation of the mass balance: day, month
28.5 1.36 3 0              # VAscaling, VAexponent, numElevBands, extraWeightFactorBand0
firn_WE_stack.asc          # firn stack
3                          # write code: at the end of the run (warm-start state)
firn.sta 2024              # firn statistics: daily means per subbasin
glacier_mass_balance.asc   # glacier mass balance grid
3                          # write code: at the end of the run
glacier_mass_balance_old.asc  # mass balance at the last evaluation
3                          # write code: at the end of the run (warm-start state)
glacier_mb.sta 2024        # mass balance statistics: daily means per subbasin
glacier_mb_glacier.sta 2024  # mass balance of the glacier part: daily means per subbasin
1                          # global debris factor
snow_without_glaciers.sta 2024  # snow storage without glaciers: daily means
glacier_snowstorage_solid.asc  # solid snow on the glacier part
3                          # write code: at the end of the run (warm-start state)
glacier_snowstorage_liquid.asc  # liquid water in the snow on the glacier part
3                          # write code: at the end of the run (warm-start state)
glacier_snow_storage_total.asc  # total snow on the glacier part
3                          # write code: at the end of the run
glacier_snowmelt.asc       # outflow of the snow on the glacier part
20                         # write code: yearly sums
glacier_surftemp.asc       # snow surface temperature on the glacier part (energy-balance methods)
3                          # write code: at the end of the run (warm-start state)
glacier_snowtemp.asc       # snow temperature on the glacier part (energy-balance methods)
3                          # write code: at the end of the run (warm-start state)
glacier_snowevap.asc       # snow evaporation on the glacier part
0                          # write code

[interception_model]
1                          # on
60                         # time step [min]
1                          # evaporation by the potential transpiration
throughfall.asc            # throughfall grid
10                         # write code: sum over the run
throughfall.sta 2024       # statistics: daily means per subbasin
interception_evaporation.asc  # interception evaporation grid
10                         # write code: sum over the run
interception_evaporation.sta 2024  # statistics: daily means per subbasin
interception_storage.asc   # interception storage grid
3                          # write code: at the end of the run
interception_storage.sta 2024  # statistics: daily means per subbasin
0.2                        # SIdicke: storage per unit of leaf area where the land use gives none [mm]
1                          # storages are read

[SiltingUpModel]
1                          # on: crusting after tillage on the meadows (the land use with tillage dates)
60                         # time step [min]
sdisp.sta 2024             # method 1 (built-in laws); disposition statistics: daily means per subbasin
qdsu.sta 2024              # direct runoff statistics: daily means per subbasin
disposition.asc            # silting-up disposition grid
3
rainpause.asc              # rain pause grid
3
kinetic_energy.asc         # kinetic energy of the rain since tillage
3                          # write code: at the end of the run
tst.asc                    # days since tillage
3
qdsu.asc                   # direct runoff grid
10                         # write code: sum over the run
1 3                        # minimum rain pause: subbasin 1 for 1 and 2, subbasin 3
20 20                      # [d]
1                          # state grids are read

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
1 3                        # subbasin codes: 1 lends its values to 2
1 2                        # kelsqd [h]
20 30                      # kelsqi [h]
1 1                        # channel network density
-1 -1                      # kelsqlat
0.5 0.5                    # QB-Red.Faktor (Q0)
0 0                        # SnowRunoff_fraction
1                          # read mode of the state grids: the state of the run continued
storage_content.txt        # storage content file
60                         # shortest dynamic time step [s]
substeps.sta 2024          # sub-steps per step: daily means per subbasin
substeps.asc               # sub-steps grid
0                          # write code
# Warm start: a run leaves its soil state in the output directory, the
# stacks theta.stk, hh.stk and hgeo.stk, the grids gwstand.asc, gwtheta.asc,
# gwlevel.asc and deltagw.asc (pond.asc with ponding on) by the write codes
# above, and the flow-time zones and runoff storages in the file
# storage_content.txt_0 next to the routing state. To go on from there, set
# the read mode above to 1 and InitialStateDirectory in [output_interval] to
# that output directory (copy the input files there as well, over the
# output's landuse.asc and soils.asc, which hold the table positions of the
# codes, or give them with their directory), and start the next run one step
# after the end of the previous one. The snow and interception storages have read switches of
# their own in their sections.
# The same file carries the soil model's baseflow still owed by each subbasin
# and the evapotranspiration's sunshine of the day, and a continuing run
# starts with the land-use parameters of the last day that ended before it,
# so that it goes on exactly as one run would. For the snow, the glacier, the
# interception and the groundwater, give their state grids (snowstorage_solid,
# snowstorage_liquid, snow_age, days_snow, firn_WE_stack,
# glacier_mass_balance_old, glacier_snowstorage_solid and _liquid) write code
# 3 and set their read switches to 1 as well; the grids written with code 10
# sum over their own run only.

# Heat in the soil columns of both soils, with freezing and thawing: the
# frozen part of a layer conducts less water. The lower boundary lies at 12
# degC at sea level, 0.7 K colder per 100 m.
[heat_transfer]
1                          # on
12                         # method: implicit, heat carried by the moving water
0                          # not used
0                          # not used
12                         # dTModLowBoundBase [degC]
-0.007                     # dTModLapseRate [K/m]
800                        # dTModCDrySoil [J/(kg K)]
1500                       # dTModRhoDrySoil [kg/m3]
0.58                       # dTModLamDrySoil [W/(m K)]
1e-10                      # dTModKmin: smallest conductivity of frozen soil [m/s]
0.5562                     # dTModLamWat [W/(m K)]
2.33                       # dTModLamIce [W/(m K)]
4187                       # dTModCWater [J/(kg K)]
1940                       # dTModCIce20 [J/(kg K)]
2090                       # dTModCIce0 [J/(kg K)]
334000                     # dTModLatHeat [J/kg]
1000                       # dTModRhoWater [kg/m3]
1.22                       # dTModFactor
0.5                        # dTModSEForStat
300                        # dTModShortestStep [s]
3600                       # dTModLongestStep [s]
1                          # dTModNFactorFreezing
1                          # dTModNFactorThawing
temper.txt                 # soil temperatures at the control point
temper.sta 2024            # thaw depth statistics: daily means per subbasin
temper.stk                 # soil temperature stack
3                          # write code: at the end of the run
thaw.asc                   # thaw depth grid
3                          # write code: at the end of the run

# Water on the surface flows from cell to cell down the elevation model until
# it reaches a channel cell (input/river_depth.asc and river_width.asc both
# above 0), where it becomes direct runoff of the subbasin.
[SurfaceRoutingModel]
1                          # on
60                         # time step [min]
1                          # flowpath method: steepest slope, outflow split between neighbours
qdsr.sta 2024              # direct runoff of surface routing: daily means per subbasin
qisr.sta 2024              # interflow
qbsr.sta 2024              # baseflow
qgsr.sta 2024              # total runoff
sr_velocity.stk            # velocity stack
0                          # write code
sr_fluxes.stk              # flux stack
0                          # write code
0.0001                     # iteration error of the wake length [m]
10                         # iterations of the wake length at most
0.000001                   # iteration error of the velocity [m/s]
50                         # iterations of the velocity at most
10                         # shortest sub time step [s]
1200                       # longest sub time step [s]
0.01                       # smallest flow depth that feels the crops' roughness [m]
1                          # concentration factor
1                          # storages are read from the storage content file
sr_storage.sta 2024        # surface storage: daily means per subbasin
surfrout_state.txt         # storage content file

[irrigation]
1                          # on: codes by land use in the standard grid "irrigation_codes"
60                         # time step [min]
irrigation_gw.sta 2001     # irrigation water from groundwater per subbasin [mm], every step
irrigation_sw.sta 2001     # irrigation water from surface water per subbasin [mm], every step

[groundwater_flow]
1                          # on
60                         # time step [min]
1                          # method
200                        # maxiter: sweeps per layer and sub-step at most
1e-6                       # maxerror: largest head change of a converged sweep [m]
1                          # alpha: fully implicit
0                          # relaxation: 0 = adaptive
1                          # start heads are read
2                          # layers
30 40                      # control point (row column)
gw_control_point.txt       # control point file
gw_head_1.asc              # layer 1: heads
3                          # write code: at the end of the run
gw_flow_x_1.asc            # flows between columns
0
gw_flow_y_1.asc            # flows between rows
0
gw_balance_1.asc           # balance residual [mm]
3
gw_head_2.asc              # layer 2: heads
3
gw_flow_x_2.asc
0
gw_flow_y_2.asc
0
gw_balance_2.asc
3

[routing_model]
1                          # on
60                         # time step [min]
1 1500 50 2                # q min, q max [l/s/km2], w-q intervals, sub-intervals per step
Qrouted.sta 2001           # routed discharge per subbasin [m3/s] and its write code
input/observed_discharge.txt  # observed discharge [m3/s]
1                          # gauge descriptors
3 1                        # subbasin 3 (the outlet): column 1
0                          # offset of the efficiency sums
TG 1 A = 5.49 f = 1.0
  SP 1 file = reservoir_1.txt V0 = 100000 C0 = 0 0 0 0 0 0 0 0 0 dTmin = 600
TG 3 A = 21.53 f = 1.0
  OL 1 kh = 2 kv = 10 bm = 4 bf = 60 tm = 1 nm = 30 nf = 15 I = 0.004 L = 3500 A = 5.49
  OL 2 kh = 1.5 kv = 8 bm = 3 bf = 40 tm = 0.8 nm = 30 nf = 15 I = 0.006 L = 2500 A = 2.78
  ZL 1 = extern input/inflow_1.txt 1 5 kh = 0.5 kv = 2 bm = 1 bf = 5 tm = 0.3 nm = 25 nf = 15 I = 0.02 L = 300 A = 2
  AL 1 = extern abstraction_1.txt 0.3 0.5 0.15 m3/s
end of the routing network

[abstraction_rule_reservoir_1]
4 90 273                   # rows, then the day keys of the two seasons
0        0     0           # volume [m3], release [m3/s] in spring and in autumn
50000    0.05  0.02
150000   0.4   0.2
300000   1.5   1.0
WeekDays = 1234567 12345   # spring every day, autumn on working days only
start_hour = 0 6
stop_hour = 24 20

[special_output]
1                          # on
60                         # interval [min]
numfiles = 1;
{
  header = two_points_of_the_example_basin;
  filename = points.txt;
  entity {
    ID = temperature;
    Symbol = T;
    Xcoords = 603050 606550;
    Ycoords = 202550 204050;
  }
  entity {
    ID = precipitation;
    Symbol = P;
    Xcoords = 603050 606550;
    Ycoords = 202550 204050;
  }
  entity {
    ID = leaf_area_index1;
    Symbol = LAI;
    Xcoords = 603050 606550;
    Ycoords = 202550 204050;
  }
}