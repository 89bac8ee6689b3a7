# Example basin: two subbasins on a small raster. Every sub-model is off; the
# set-up reads the grids, derives cell geometry, slope and aspect, and writes
# the elevation model with its zonal statistics in every step. One
# meteorological input, the daily temperature of three stations, is
# interpolated onto the grid by inverse-distance weighting and written as a
# dated grid and as zonal statistics in every step.
$set $in = input/
$set $out = output/

[output_interval]
24             # log interval [h]
0              # warnings of the meteorological inputs
1              # output unit
0              # minutes from the hour of a record to the end of its step
WriteAsciiGrids = 1
InitialStateDirectory = $in
DefaultOutputDirectory = $out

[output_list]
0

[coordinates]
47.5           # latitude [deg]
8.25           # longitude [deg]
15             # reference meridian [deg]
1              # time shift to local time [h]

[meteo_data_count]
1

[meteo_names]
temperature

[temperature]
1                    # method: inverse-distance weighting
temperature.txt      # station file (in the input directory)
none                 # regression file (not used by this method)
temperature.asc      # result grid (in the output directory)
2                    # write code: a dated grid in every step
1                    # scaling factor
temperature.sta 2001 # statistics file and code: zone means in every step
9999                 # station values below -9999 or above 9999 are missing
2                    # weight: inverse squared distance
0                    # share of inverse-distance weighting (methods 3 and 11 only)
5000                 # maximum distance [m]
0                    # slope of the main axis of the anisotropy ellipse [deg]
1                    # anisotropy b/a: none
-60                  # lower limit of results
-60                  # replacement below the lower limit
60                   # upper limit of results
60                   # replacement above the upper limit
0                    # no climate scenario

[model_time]
24             # start hour
1              # start day
1              # start month
2020           # start year
24             # end hour
10             # end day
1              # end month
2020           # end year

[zone_grid]
zones.asc

[elevation_model]
dem.asc

[standard_grids]
1
dem.asc elevation 0 writecode = 1 statfile = elevation.sta statcode = 2001 outname = elevation.asc

[variable_grids]
0

[multilayer_landuse]
0

[landuse_table]
0

[soil_table]
0

[irrigation_table]
0

[substance_transport]
0

[region_transition_distance]
500

[precipitation_correction]
0              # correction off
0
1
0
1
0

[radiation_correction]
0
1440

[RegionalSuperposition]
0
1440

[evapotranspiration]
0
1440

[snow_model]
0
1440

[interception_model]
0
1440

[SiltingUpModel]
0
1440

[unsatzon_model]
0
1440

[SurfaceRoutingModel]
0
1440

[irrigation]
0
1440

[groundwater_flow]
0
1440

[routing_model]
0
1440

[special_output]
0
1440
