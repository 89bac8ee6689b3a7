[output_interval]
24                         # log interval [h]
0                          # warnings of the meteorological inputs
1                          # output unit: m3/s
0                          # minutes to the end of a step
[routing_model]
1                          # routing on
60                         # time step [min]
2 1200 20 2                # q min, q max [l/s/km2], w-q intervals, sub-intervals
Qrouted.sta 0              # routed-discharge statistics and write code
none                       # observed discharge
0                          # gauge descriptors
0                          # offset of the efficiency sums
TG 3 A = 30 f = 1.0
  OL 1 kh = 2 kv = 10 bm = 2 bf = 100 tm = 0.5 nm = 40 nf = 20 I = 0.0005 L = 10000 A = 10
  OL 2 kh = 3 kv = 3 bm = 10 bf = 50 tm = 1 nm = 30 nf = 15 I = 0.001 L = 4000 A = 10
  SP 1 file = reservoir_1.txt V0 = 200000 C0 = 0 0 0 0 0 0 0 0 0 dTmin = 600
TG 30 A = 100 f = 1.0
  OL 3 kh = 2 kv = 10 bm = 2 bf = 100 tm = 0.5 nm = 40 nf = 20 I = 0.0005 L = 10000 A = 30
  OL 20 kh = 1 kv = 5 bm = 5 bf = 20 tm = 0.5 nm = 25 nf = 10 I = 0.003 L = 2000 A = 30
end of the routing network

[abstraction_rule_reservoir_1]
4 90 270                   # rows, day keys of the seasons
0        0     0           # volume [m3], release [m3/s] per season
100000   0.5   0.2
500000   3     2
1000000  8     6
WeekDays = 1234567 12345
start_hour = 0 6
stop_hour = 24 20
