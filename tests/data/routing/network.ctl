[output_interval]
24                         # log interval [h]
0                          # warnings of the meteorological inputs
1                          # output unit: m3/s
0                          # minutes to the end of a step
[routing_model]
1                          # routing on
60                         # time step [min]
1 1000 10 2                # q min, q max [l/s/km2], w-q intervals, sub-intervals
Qrouted.sta 0              # routed-discharge statistics and write code
none                       # observed discharge
1                          # gauge descriptors
3 1
0                          # offset of the efficiency sums
TG 3 A = 13.26 f = 1.0
  OL 1 kh = 2 kv = 10 bm = 10 bf = 50 tm = 1 nm = 30 nf = 15 I = 0.001 L = 4000 A = 5.49
  OL 2 kh = 2 kv = 10 bm = 8 bf = 40 tm = 1 nm = 30 nf = 15 I = 0.002 L = 3000 A = 2.78
TG 20 A = 32.26 f = 1.0
  SUMTRIB 12&13&14 kh = 3 kv = 12 bm = 12 bf = 60 tm = 1.5 nm = 32 nf = 12 I = 0.001 L = 6000 A = 9
  OL 3 kh = 4 kv = 14 bm = 15 bf = 80 tm = 2 nm = 35 nf = 10 I = 0.0005 L = 8000 A = 13.26
  ZL 1 = constant 2.5 kh = 1 kv = 5 bm = 5 bf = 20 tm = 0.5 nm = 25 nf = 10 I = 0.003 L = 2000 A = 3
end of the routing network
