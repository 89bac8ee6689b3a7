# Basin run with symbols for its directories and names
$set $base = /data/basin/
$set $out = $base//output/
$set $meteo = _1h
   # an indented comment line

[output_interval]
24             # log interval [h]
0              # warning switch
1              # output unit
60             # minutes to the end of the interval
WriteAsciiGrids = 1
    # the directories follow
DefaultOutputDirectory = $out
InitialStateDirectory = $base//state/

[output_list]
2              # two subbasins
12
15

[coordinates]
47.5           # latitude
8.25           # longitude
15             # reference meridian
1              # time shift

[meteo_data_count]
2

[meteo_names]
temperature$meteo
precipitation$meteo

[model_time]
0
1
1
95             # two-digit year
24
31             # February has no 31st
2
2005

[radiation_correction]
1 60           # method and interval; see http://example.org//doc
