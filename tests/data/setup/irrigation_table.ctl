[irrigation]
1    irrigation switched on
[irrigation_table]
5    number of irrigation rules
5 wheat_list 1 2 25.5 4.0 3
  4 20 12.5
  5 10 15   6 1
  17.25
7 maize_text 2 1 30 5 starting from 05 01 with 10 mm to 05 31 with 20 mm every 10 day
8 potato_text 2 3 28 4 starting from 06 01 with 5 mm 3 times every 7 days; starting from 12 28 with 4 mm 2 times every 7 days
9 grass_suction 3 1 35 8
12 vine_ratio 4 2 0.7
[radiation_correction]
0
