[output_interval]
24                         # log interval [h]
0                          # warnings of the meteorological inputs
0                          # output unit: mm
[routing_model]
1                          # routing on
60                         # time step [min]
1 1000 10 2                # q min, q max [l/s/km2], w-q intervals, sub-intervals
Qrouted.sta 0              # routed-discharge statistics and write code
none                       # observed discharge
0                          # gauge descriptors
0                          # offset of the efficiency sums
TG 3 A = 100 f = 0.8
end of the routing network
