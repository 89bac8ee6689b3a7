[output_interval]
24                         # log interval [h]
0                          # warnings of the meteorological inputs
1                          # output unit: m3/s
0                          # minutes to the end of a step
[routing_model]
1                          # routing on
60                         # time step [min]
1 1000 10 1                # q min, q max [l/s/km2], w-q intervals, sub-intervals
Qrouted.sta 0              # routed-discharge statistics and write code
none                       # observed discharge
0                          # gauge descriptors
0                          # offset of the efficiency sums
TG 3 A = 100 f = 1.0
  OL 1 kh = 0.01 kv = 0.01 bm = 50 bf = 10 tm = 20 nm = 30 nf = 15 I = 0.01 L = 10 A = 10
end of the routing network
