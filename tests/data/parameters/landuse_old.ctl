[model_time]
0     start hour
1     start day

[landuse_table]
2     number of land use classes
12 meadow 0.2 100 200 130 140 150 160 170 180 190 110 120 90 100 150 250 300 1 2 3 4 0.01 0.02 0.03 0.04 0.1 0.2 0.3 0.4 100 200 300 400 1.5 3.45   free text after the values
7 water 0.08 0 0 0 0 0 0 0 0 0 0 0 0 5 6 7 8 0 0 0 0 0.001 0.001 0.001 0.001 0 0 0 0 0.01 0.01 0.01 0.01 1 2
[soil_table]
1
