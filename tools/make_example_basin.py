#!/usr/bin/env python3
"""Writes the example basin under examples/basin/input/.

A valley of 80 x 60 cells of 100 m drains westwards to an outlet on the west
edge of the raster; a northern and a southern tributary join it. The files:

  dem.asc         elevation model [m], about 430 m at the outlet to 2000 m
  zones.asc       three subbasins: 1 lower valley with the outlet,
                  2 northern tributary, 3 upper valley with the southern
                  tributary; nodata outside the basin
  landuse.asc     land-use codes 11 meadow, 21 forest, 31 alpine pasture
  soils.asc       soil codes 3 loam, 7 stony soil
  glacier.asc     glacier share of each cell: a small glacier on the
                  highest cells of subbasin 3, 1 inside and 0.5 at its
                  border, 0 elsewhere in the basin
  glacier_codes.asc  the glacier's code 1 on its cells, nodata elsewhere
                  (glacier.asc and glacier_codes.asc feed the dynamic
                  glacier; the example itself keeps its ice fixed)
  ice_firn.asc    the same glacier as a glacier of fixed extent that covers
                  its cells whole: 2 (firn) on its upper half, 1 (ice) on
                  the rest, 0 elsewhere in the basin
  flow_times.asc  travel time of the runoff to the outlet of its subbasin
                  [s]: along the steepest descent at 0.5 m/s
  river_depth.asc, river_width.asc  bed depth and width of the channels
                  [m]: cells that drain at least 0.3 km2 along the
                  steepest descent, and every cell without a lower
                  neighbour in the basin; 0 on the other cells of the basin
  river_links.asc  0 on every cell of the basin
  irrigation.asc  irrigation codes: 2 on the meadows below the median
                  elevation of the basin's meadows (fields that take river
                  water in summer), 1 on the higher meadows (groundwater
                  pumped on demand), 3 on forest and alpine pasture (never
                  irrigated)
  slidefraction1.asc .. slidefraction4.asc  the shares of the snow that
                  slides off a steep cell towards its upper, left, right and
                  lower neighbour: the drops to those neighbours, divided by
                  their sum (0 where no neighbour lies lower)
  tracer_1_input.asc  chloride in the precipitation [mg/l]: 0.6 at the
                  lowest cell of the basin, falling linearly to 0.2 at the
                  highest (sea salt and dust, washed out on the way up)
  tracer_2_input.asc  tritium in the precipitation [TU]: 7 at the lowest
                  cell, rising linearly to 9 at the highest
  inflow_1.txt    hourly discharge [m3/s] and its chloride [mg/l] and
                  tritium [TU] of a spring from a neighbouring karst
                  aquifer that joins the river at the outlet: 0.04 m3/s and
                  more after rain, the mean station precipitation through a
                  linear store of 30 days
  gw_fixed_head_2.asc  fixed heads of the aquifer under the soil at the
                  outlet cells [m], 5 m below the surface, nodata elsewhere
  observed_discharge.txt  hourly discharge at the outlet [m3/s] for 2019
                  and 2020 (-9999 while the gauge is out of order). It is
                  not a measurement and not a run of the model: a toy model
                  makes it from the station data alone (the mean station
                  precipitation, a degree-day snow store at the mean
                  station temperature less 3 K, a fast and a slow linear
                  store and a base flow; see observed_discharge()). The
                  efficiency tables of the routing therefore measure how
                  closely the model follows that toy model, not nature.
  <name>.dat      hourly station files for 2019 and 2020 of temperature
                  [degC], precipitation [mm/h], air_humidity [%],
                  wind_speed [m/s] and global_radiation [W/m2] at five
                  stations

A station file: line 1 a title, lines 2 to 4 four labels followed by the
altitudes, x and y coordinates of the stations, line 5 the station names,
then one row per hour: year, month, day, hour (1 to 24, the hour at the end
of the step) and one value per station. -9999 marks a missing value (station
3 is out of order for a few days in March 2020).

Python 3 standard library only. Every random number comes from one generator
with a fixed seed, so the files are the same on every run (up to the last
digit of the maths library on exotic platforms):

    python3 tools/make_example_basin.py [--size COLSxROWS] [output directory]

--size draws the same valley of 8 x 6 km on another raster: 400x300 gives
cells of 20 m (the default 80x60 gives the example's 100 m cells).
"""

import argparse
import datetime
import math
import os
import random

SEED = 20190101

# Raster.
NCOLS, NROWS = 80, 60
CELL = 100.0
XLL, YLL = 600000.0, 200000.0
NODATA = -9999

# Geographic position (used for the sun).
LATITUDE = 47.5
LONGITUDE = 8.25
REFERENCE_MERIDIAN = 15.0

# Period of the station data: every hour of 2019 and 2020.
FIRST_YEAR, LAST_YEAR = 2019, 2020

LOWEST, HIGHEST = 430.0, 2000.0  # elevation range of the model [m]


# ----------------------------------------------------------------------------
# Terrain
# ----------------------------------------------------------------------------

def main_channel(u):
    """Centre line of the main valley: v [m] at u [m] from the west edge."""
    return 3000.0 + 450.0 * math.sin(u / 2200.0) - 250.0 * u / 8000.0


def main_floor(u):
    """Floor elevation of the main valley [m] before rescaling."""
    return 430.0 + 0.06 * u + 0.000005 * u * u


JUNCTION_NORTH = 2600.0  # u of the northern tributary's mouth
JUNCTION_SOUTH = 5300.0  # u of the southern tributary's mouth

# Channels whose cells make up the subbasins; the others are the valleys of
# the neighbouring basins, whose slopes meet ours at the divide.
ZONE_OF_CHANNEL = {0: 1, 1: 2, 2: 3, 3: 3}


def channels():
    """Sampled channel points (u, v, floor) per channel, 25 m apart.

    Channel 0: main valley below the northern junction, 1: northern
    tributary, 2: main valley above the junction, 3: southern tributary;
    4 to 6: the neighbouring valleys north, south and east of the basin.
    """
    result = [[] for _ in range(7)]
    u = 0.0
    while u <= 6400.0:
        channel = 0 if u <= JUNCTION_NORTH else 2
        result[channel].append((u, main_channel(u), main_floor(u)))
        u += 25.0

    def line(u0, v0, z0, u1, v1, z1, bend, index, power=1.0):
        length = math.hypot(u1 - u0, v1 - v0)
        steps = int(length / 25.0)
        for k in range(1, steps + 1):
            t = k / steps
            uu = u0 + (u1 - u0) * t + bend * math.sin(math.pi * t)
            vv = v0 + (v1 - v0) * t
            result[index].append((uu, vv, z0 + (z1 - z0) * t ** power))

    def tributary(u0, u_end, v_end, bend, rise, index):
        line(u0, main_channel(u0), main_floor(u0), u_end, v_end, main_floor(u0) + rise, bend, index, 1.2)

    tributary(JUNCTION_NORTH, 4300.0, 5300.0, 350.0, 650.0, 1)
    tributary(JUNCTION_SOUTH, 6300.0, 700.0, -300.0, 600.0, 3)
    line(-800.0, 4300.0, 420.0, 9500.0, 8200.0, 1300.0, 300.0, 4)
    line(-800.0, 1800.0, 420.0, 9500.0, -1800.0, 1300.0, -300.0, 5)
    line(8700.0, -2000.0, 1000.0, 8700.0, 8000.0, 1100.0, 300.0, 6)
    return result


def relief(d):
    """Rise of the valley side [m] at distance d [m] from the channel: a
    flat floor and steepening slopes, levelling off towards the ridges."""
    return 1250.0 * (1.0 - math.exp(-((d / 1500.0) ** 1.6)))


def cell_centre(row, col):
    """Local coordinates (u east, v north) [m] of a cell, rows from the top."""
    return (col - 0.5) * CELL, (NROWS - row + 0.5) * CELL


def build_terrain(rng):
    """Elevation and zone grids, each [row][col] with 1-based indices."""
    chans = channels()
    waves = []
    for _ in range(7):
        angle = rng.uniform(0.0, math.pi)
        wavelength = rng.uniform(700.0, 2500.0)
        waves.append((math.cos(angle) * 2 * math.pi / wavelength,
                      math.sin(angle) * 2 * math.pi / wavelength,
                      rng.uniform(0.0, 2 * math.pi), rng.uniform(12.0, 30.0)))

    raw = [[0.0] * (NCOLS + 1) for _ in range(NROWS + 1)]
    zones = [[NODATA] * (NCOLS + 1) for _ in range(NROWS + 1)]
    for r in range(1, NROWS + 1):
        for c in range(1, NCOLS + 1):
            u, v = cell_centre(r, c)
            best, best_channel, best_d = None, 0, 0.0
            for index, points in enumerate(chans):
                for (pu, pv, pz) in points:
                    d = math.hypot(u - pu, v - pv)
                    z = pz + relief(d)
                    if best is None or z < best:
                        best, best_channel, best_d = z, index, d
            texture = sum(a * math.sin(ku * u + kv * v + p) for (ku, kv, p, a) in waves)
            raw[r][c] = best + texture * (1.0 - math.exp(-best_d / 300.0))
            zones[r][c] = ZONE_OF_CHANNEL.get(best_channel, NODATA)

    low = min(raw[r][c] for r in range(1, NROWS + 1) for c in range(1, NCOLS + 1))
    high = max(raw[r][c] for r in range(1, NROWS + 1) for c in range(1, NCOLS + 1))
    dem = [[0.0] * (NCOLS + 1) for _ in range(NROWS + 1)]
    for r in range(1, NROWS + 1):
        for c in range(1, NCOLS + 1):
            dem[r][c] = round(LOWEST + (raw[r][c] - low) * (HIGHEST - LOWEST) / (high - low), 1)
    return dem, zones


def slope_of(dem, r, c):
    """Slope [m/m] by central differences (one-sided at the edges)."""
    r0, r1 = max(1, r - 1), min(NROWS, r + 1)
    c0, c1 = max(1, c - 1), min(NCOLS, c + 1)
    dzdx = (dem[r][c1] - dem[r][c0]) / ((c1 - c0) * CELL)
    dzdy = (dem[r0][c] - dem[r1][c]) / ((r1 - r0) * CELL)
    return math.hypot(dzdx, dzdy)


def quantile(values, fraction):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(fraction * len(ordered)))]


def build_cover(rng, dem, zones):
    """Land-use and soil code grids from elevation, slope and a smooth noise:
    meadows on the lowest quarter of the basin, alpine pasture on its highest
    sixth and forest in between; loam on the lower, gentler half, stony soil
    elsewhere. Cells outside the basin get codes too."""
    phase = [rng.uniform(0.0, 2 * math.pi) for _ in range(4)]
    inside = [dem[r][c] for r in range(1, NROWS + 1) for c in range(1, NCOLS + 1) if zones[r][c] != NODATA]
    meadow_top = quantile(inside, 0.3)
    forest_top = quantile(inside, 0.83)
    loam_top = quantile(inside, 0.5)
    landuse = [[NODATA] * (NCOLS + 1) for _ in range(NROWS + 1)]
    soils = [[NODATA] * (NCOLS + 1) for _ in range(NROWS + 1)]
    for r in range(1, NROWS + 1):
        for c in range(1, NCOLS + 1):
            u, v = cell_centre(r, c)
            noise = (math.sin(u / 430.0 + phase[0]) * math.cos(v / 370.0 + phase[1])
                     + 0.5 * math.sin((u + v) / 190.0 + phase[2]))
            z = dem[r][c]
            s = slope_of(dem, r, c)
            if z < meadow_top + 60.0 * noise and s < 0.5:
                landuse[r][c] = 11
            elif z < forest_top + 70.0 * noise:
                landuse[r][c] = 21
            else:
                landuse[r][c] = 31
            soil_noise = math.sin(u / 510.0 + phase[3]) * math.cos(v / 640.0 + phase[0])
            soils[r][c] = 3 if (z < loam_top + 100.0 * soil_noise and s < 0.6) else 7
    return landuse, soils


def build_glacier(dem, zones, radius=2.6):
    """A glacier on the highest cells of subbasin 3: the cells of the
    subbasin within `radius` cells of its top cell; share 1 where all four
    neighbours belong to it, 0.5 at its border; code 1."""
    top = max((dem[r][c], r, c) for r in range(1, NROWS + 1) for c in range(1, NCOLS + 1) if zones[r][c] == 3)
    ice = set((r, c) for r in range(1, NROWS + 1) for c in range(1, NCOLS + 1)
              if zones[r][c] == 3 and (r - top[1]) ** 2 + (c - top[2]) ** 2 <= radius ** 2)
    steps = ((-1, 0), (1, 0), (0, -1), (0, 1))
    share = [[NODATA if zones[r][c] == NODATA else 0.0 for c in range(NCOLS + 1)] for r in range(NROWS + 1)]
    codes = [[NODATA] * (NCOLS + 1) for _ in range(NROWS + 1)]
    for (r, c) in ice:
        inner = all((r + dr, c + dc) in ice for (dr, dc) in steps)
        share[r][c] = 1.0 if inner else 0.5
        codes[r][c] = 1
    return share, codes


def build_ice_firn(dem, share):
    """The fixed glacier's grid holds a kind, not a share: every cell of the
    glacier is covered whole, firn (2) on the cells at or above the median
    elevation of the glacier, ice (1) below it."""
    cells = [(r, c) for r in range(1, NROWS + 1) for c in range(1, NCOLS + 1) if share[r][c] not in (NODATA, 0.0)]
    heights = sorted(dem[r][c] for (r, c) in cells)
    median = heights[len(heights) // 2] if heights else 0.0
    kinds = [[value if value in (NODATA, 0.0) else 0.0 for value in row] for row in share]
    for (r, c) in cells:
        kinds[r][c] = 2 if dem[r][c] >= median else 1
    return kinds


NEIGHBOURS = ((-1, 0), (-1, 1), (0, 1), (1, 1), (1, 0), (1, -1), (0, -1), (-1, -1))


FLOW_SPEED = 0.5  # mean speed of the runoff on its way to the subbasin's outlet [m/s]


def build_rivers(dem, zones, threshold=0.3):
    """Channel depth and width [m] and the link grid. Every cell of the basin
    drains to its steepest lower neighbour in the basin; a cell that drains
    at least `threshold` km2 (itself included) is a channel, and so is every
    cell without a lower neighbour, where the water of the slopes
    would otherwise stay. Depth and width grow with the square root of the
    drained area."""
    inside = lambda r, c: 1 <= r <= NROWS and 1 <= c <= NCOLS and zones[r][c] != NODATA
    target = {}
    for r in range(1, NROWS + 1):
        for c in range(1, NCOLS + 1):
            if zones[r][c] == NODATA:
                continue
            best, step = 0.0, None
            for (dr, dc) in NEIGHBOURS:
                if inside(r + dr, c + dc):
                    drop = (dem[r][c] - dem[r + dr][c + dc]) / (CELL * math.hypot(dr, dc))
                    if drop > best:
                        best, step = drop, (r + dr, c + dc)
            target[(r, c)] = step
    drained = {cell: 1 for cell in target}
    for cell in sorted(target, key=lambda rc: -dem[rc[0]][rc[1]]):
        if target[cell] is not None:
            drained[target[cell]] += drained[cell]
    depth = [[NODATA] * (NCOLS + 1) for _ in range(NROWS + 1)]
    width = [[NODATA] * (NCOLS + 1) for _ in range(NROWS + 1)]
    links = [[NODATA] * (NCOLS + 1) for _ in range(NROWS + 1)]
    area = CELL * CELL / 1e6  # [km2]
    cells = max(1, int(round(threshold * 1e6 / (CELL * CELL))))
    for (r, c), count in drained.items():
        links[r][c] = 0
        if count >= cells or target[(r, c)] is None:
            km2 = count * area
            depth[r][c] = round(0.3 + 0.25 * math.sqrt(km2), 2)
            width[r][c] = round(1.0 + 2.0 * math.sqrt(km2), 2)
        else:
            depth[r][c] = 0.0
            width[r][c] = 0.0
    # Travel time of the runoff to the subbasin's outlet: along the same
    # steepest descent at FLOW_SPEED, ending where the path leaves the
    # subbasin or reaches a cell without a lower neighbour.
    times = [[NODATA] * (NCOLS + 1) for _ in range(NROWS + 1)]
    for (r, c) in sorted(target, key=lambda rc: dem[rc[0]][rc[1]]):
        down = target[(r, c)]
        if down is None or zones[down[0]][down[1]] != zones[r][c]:
            times[r][c] = 0.0
        else:
            step = CELL * math.hypot(down[0] - r, down[1] - c)
            times[r][c] = times[down[0]][down[1]] + step / FLOW_SPEED
    for (r, c) in target:
        times[r][c] = round(times[r][c])
    return depth, width, links, times


def build_irrigation(dem, landuse, zones):
    """Irrigation codes: 2 on the meadows below the median elevation of the
    basin's meadows (the valley fields, watered from the rivers), 1 on the
    higher meadows (pumped groundwater on demand), 3 on forest and alpine
    pasture (never irrigated); nodata outside the basin."""
    meadows = sorted(dem[r][c] for r in range(1, NROWS + 1) for c in range(1, NCOLS + 1)
                     if zones[r][c] != NODATA and landuse[r][c] == 11)
    median = meadows[len(meadows) // 2] if meadows else 0.0
    codes = [[NODATA] * (NCOLS + 1) for _ in range(NROWS + 1)]
    for r in range(1, NROWS + 1):
        for c in range(1, NCOLS + 1):
            if zones[r][c] == NODATA:
                continue
            if landuse[r][c] == 11:
                codes[r][c] = 2 if dem[r][c] < median else 1
            else:
                codes[r][c] = 3
    return codes


def build_slide_fractions(dem, zones):
    """Four grids: the share of sliding snow that goes up, left, right and
    down the raster, by the drop to each neighbour."""
    steps = ((-1, 0), (0, -1), (0, 1), (1, 0))
    grids = [[[NODATA] * (NCOLS + 1) for _ in range(NROWS + 1)] for _ in steps]
    for r in range(1, NROWS + 1):
        for c in range(1, NCOLS + 1):
            if zones[r][c] == NODATA:
                continue
            drops = []
            for (dr, dc) in steps:
                rr, cc = r + dr, c + dc
                inside = 1 <= rr <= NROWS and 1 <= cc <= NCOLS and zones[rr][cc] != NODATA
                drops.append(max(0.0, dem[r][c] - dem[rr][cc]) if inside else 0.0)
            total = sum(drops)
            for k in range(len(steps)):
                grids[k][r][c] = round(drops[k] / total, 3) if total > 0 else 0.0
    return grids


def build_tracer_inputs(dem, zones):
    """Chloride and tritium in the precipitation, linear in elevation."""
    inside = [dem[r][c] for r in range(1, NROWS + 1) for c in range(1, NCOLS + 1) if zones[r][c] != NODATA]
    low, high = min(inside), max(inside)

    def grid(at_low, at_high):
        return [[NODATA if r == 0 or c == 0 or zones[r][c] == NODATA
                 else round(at_low + (at_high - at_low) * (dem[r][c] - low) / (high - low), 3)
                 for c in range(NCOLS + 1)] for r in range(NROWS + 1)]
    return grid(0.6, 0.2), grid(7.0, 9.0)


def external_inflow(rows):
    """The spring's hourly discharge [m3/s], chloride [mg/l] and tritium
    [TU]: a base flow of 0.04 m3/s plus the mean station precipitation
    through a linear store of 30 days over 2 km2; the karst water carries
    more chloride when it runs low and old tritium."""
    store = math.exp(-1.0 / (30 * 24.0))
    q = 0.0
    series = []
    for (year, month, day, hour, values) in rows:
        rain = [v for v in values["precipitation"] if v != NODATA]
        p = sum(rain) / len(rain) if rain else 0.0  # [mm/h]
        q = store * q + (1.0 - store) * p * 2.0 / 3.6
        discharge = 0.04 + q
        chloride = 1.0 + 2.0 * 0.04 / discharge
        series.append((year, month, day, hour, round(discharge, 4), round(chloride, 3), 5.5))
    return series


def write_inflow(path, series):
    with open(path, "w", newline="\n") as f:
        f.write("YY MM DD HH discharge chloride tritium\n")
        for (year, month, day, hour, q, c1, c2) in series:
            f.write("%d %d %d %d %s %s %s\n" % (year, month, day, hour, format_value(q, 4),
                                                format_value(c1, 3), format_value(c2, 1)))


def build_fixed_heads(dem, zones, depth=5.0, rise=20.0):
    """Fixed heads of the aquifer under the soil (groundwater layer 2) at the
    outlet: the basin's cells of the first column whose surface lies at most
    `rise` m above the lowest one, each `depth` m below its surface; nodata
    elsewhere."""
    edge = [dem[r][1] for r in range(1, NROWS + 1) if zones[r][1] != NODATA]
    lowest = min(edge)
    heads = [[NODATA] * (NCOLS + 1) for _ in range(NROWS + 1)]
    for r in range(1, NROWS + 1):
        if zones[r][1] != NODATA and dem[r][1] <= lowest + rise:
            heads[r][1] = round(dem[r][1] - depth, 1)
    return heads


def observed_discharge(rows, stations):
    """A discharge series at the outlet [m3/s] as a gauge would record it:
    the mean station precipitation, held back as snow while the basin's
    temperature (the mean station temperature less 3 K: the basin lies
    higher than most stations) is below 1 degC and released by 4 mm per
    degree above 0 and day, through a fast and a slow linear store over the
    basin's 21.53 km2, above a base flow, with three decimals; the gauge is
    out of order for a day in July 2019 (-9999)."""
    area = 21.53  # [km2]
    fast = math.exp(-1.0 / 12.0)
    slow = math.exp(-1.0 / 400.0)
    q_fast, q_slow = 0.0, 0.25
    snow = 0.0  # [mm]
    outage_start = (2019, 7, 10)
    series = []
    for (year, month, day, hour, values) in rows:
        rain = [v for v in values["precipitation"] if v != NODATA]
        p = sum(rain) / len(rain) if rain else 0.0  # [mm/h]
        air = [v for v in values["temperature"] if v != NODATA]
        t = sum(air) / len(air) - 3.0 if air else 0.0  # [degC]
        if t < 1.0:
            snow += p
            p = 0.0
        melt = min(snow, max(0.0, t) * 4.0 / 24.0)
        snow -= melt
        inflow = (p + melt) * area / 3.6  # [m3/s]
        q_fast = fast * q_fast + (1.0 - fast) * 0.45 * inflow
        q_slow = slow * q_slow + (1.0 - slow) * (0.25 * inflow + 0.2)
        value = round(q_fast + q_slow, 3)
        if (year, month, day) == outage_start:
            value = NODATA
        series.append((year, month, day, hour, value))
    return series


def write_observed_discharge(path, series):
    with open(path, "w", newline="\n") as f:
        f.write("YY MM DD HH outlet\n")
        for (year, month, day, hour, value) in series:
            f.write("%d %d %d %d %s\n" % (year, month, day, hour, format_value(value, 3)))


def write_grid(path, grid, decimals):
    with open(path, "w", newline="\n") as f:
        f.write("ncols %d\nnrows %d\nxllcorner %.0f\nyllcorner %.0f\ncellsize %g\nnodata_value %d\n"
                % (NCOLS, NROWS, XLL, YLL, CELL, NODATA))
        for r in range(1, NROWS + 1):
            f.write(" ".join(format_value(grid[r][c], decimals) for c in range(1, NCOLS + 1)))
            f.write("\n")


def format_value(value, decimals):
    if value == NODATA:
        return str(NODATA)
    if decimals == 0 or value == 0:
        return str(int(round(value)))
    text = "%.*f" % (decimals, value)
    if text.startswith("-") and float(text) == 0.0:
        text = text[1:]
    return text


# ----------------------------------------------------------------------------
# Stations and weather
# ----------------------------------------------------------------------------

class Station:
    def __init__(self, name, row, col, dem):
        self.name = name
        u, v = cell_centre(row, col)
        self.x = XLL + u
        self.y = YLL + v
        self.z = round(dem[row][col])


def place_stations(dem, zones):
    """Five stations on cells of the raster: the main valley from the outlet
    up, the northern tributary and the highest cell of the basin."""
    def cell_at(u, v):
        col = min(NCOLS, max(1, int(u / CELL) + 1))
        row = min(NROWS, max(1, NROWS - int(v / CELL)))
        return row, col

    north = channels()[1]
    brook = north[int(0.55 * len(north))]
    top = max((dem[r][c], r, c) for r in range(1, NROWS + 1) for c in range(1, NCOLS + 1)
              if zones[r][c] != NODATA)
    places = [
        ("Outlet",) + cell_at(450.0, main_channel(450.0)),
        ("Midvalley",) + cell_at(4000.0, main_channel(4000.0)),
        ("Northbrook",) + cell_at(brook[0], brook[1]),
        ("Upperdale",) + cell_at(6000.0, main_channel(6000.0)),
        ("Summit", top[1], top[2]),
    ]
    return [Station(name, row, col, dem) for (name, row, col) in places]


def hours_of_period():
    """(year, month, day, hour 1..24, end of step) for every hour."""
    end = datetime.datetime(FIRST_YEAR, 1, 1, 1)
    stop = datetime.datetime(LAST_YEAR + 1, 1, 1, 0)
    one = datetime.timedelta(hours=1)
    while end <= stop:
        if end.hour == 0:
            day = end - one
            yield day.year, day.month, day.day, 24, end
        else:
            yield end.year, end.month, end.day, end.hour, end
        end += one


def season(doy):
    """-1 in mid-January to +1 in mid-July."""
    return -math.cos(2 * math.pi * (doy - 15) / 365.25)


def sun_elevation_sine(moment):
    """Sine of the sun's elevation at a moment of local standard time."""
    doy = moment.timetuple().tm_yday
    b = 2 * math.pi * (doy - 81) / 364.0
    equation_of_time = 9.87 * math.sin(2 * b) - 7.53 * math.cos(b) - 1.5 * math.sin(b)  # [min]
    clock = moment.hour + moment.minute / 60.0
    solar = clock + (LONGITUDE - REFERENCE_MERIDIAN) / 15.0 + equation_of_time / 60.0
    declination = math.radians(23.45) * math.sin(2 * math.pi * (284 + doy) / 365.0)
    phi = math.radians(LATITUDE)
    omega = math.radians(15.0 * (solar - 12.0))
    return math.sin(phi) * math.sin(declination) + math.cos(phi) * math.cos(declination) * math.cos(omega)


def clear_sky(end, altitude):
    """Mean clear-sky global radiation [W/m2] of the hour ending at `end`."""
    total = 0.0
    for minutes in (52.5, 37.5, 22.5, 7.5):
        s = sun_elevation_sine(end - datetime.timedelta(minutes=minutes))
        if s <= 0.0:
            continue
        doy = end.timetuple().tm_yday
        s0 = 1367.0 * (1.0 + 0.033 * math.cos(2 * math.pi * doy / 365.0))
        air_mass = 1.0 / (s + 0.50572 * (math.degrees(math.asin(s)) + 6.07995) ** -1.6364)
        transmission = 0.70 + 0.00003 * altitude
        total += 1.1 * s0 * s * transmission ** (air_mass ** 0.678)
    return total / 4.0


def diurnal_shape(hour_of_day):
    """-1 at 6 h, +1 at 15 h, cosine-shaped in between (hour 0..24)."""
    h = hour_of_day
    if 6.0 <= h <= 15.0:
        return -math.cos(math.pi * (h - 6.0) / 9.0)
    if h > 15.0:
        return math.cos(math.pi * (h - 15.0) / 15.0)
    return math.cos(math.pi * (h + 9.0) / 15.0)


class DailyWeather:
    def __init__(self):
        self.wet = False
        self.cloud = 0.0
        self.anomaly = 0.0
        self.wind = 0.0
        self.rain = []  # per station: 24 hourly amounts [mm]


def daily_weather(rng, stations, days):
    """The weather of every day: wet or dry, cloudiness, temperature anomaly,
    mean wind and the hourly rain at each station."""
    result = []
    wet = False
    anomaly = 0.0
    for date in days:
        doy = date.timetuple().tm_yday
        summer = 0.5 * (1.0 + season(doy))
        p_wet = 0.62 if wet else 0.25 + 0.05 * summer
        wet = rng.random() < p_wet
        anomaly = 0.8 * anomaly + rng.gauss(0.0, 1.6)
        w = DailyWeather()
        w.wet = wet
        w.anomaly = anomaly + (-1.2 * summer + 0.6 * (1 - summer) if wet else 0.0)
        w.cloud = rng.uniform(0.7, 0.97) if wet else rng.uniform(0.05, 0.5)
        w.wind = rng.lognormvariate(math.log(1.6), 0.35) * (1.5 if wet else 1.0)
        w.rain = [[0.0] * 24 for _ in stations]
        if wet:
            for _ in range(rng.choice((1, 1, 2, 2, 3))):
                start = rng.randrange(24)
                duration = rng.randint(2, 8)
                mean_intensity = 0.55 + 0.45 * summer  # [mm/h] at the outlet
                intensity = rng.expovariate(1.0 / mean_intensity)
                for i, st in enumerate(stations):
                    factor = (1.0 + 0.0006 * (st.z - 450.0)) * rng.lognormvariate(0.0, 0.25)
                    for k in range(duration):
                        h = start + k
                        if h < 24:
                            shape = math.sin(math.pi * (k + 0.5) / duration)
                            w.rain[i][h] += intensity * factor * (0.4 + 1.2 * shape) * rng.uniform(0.6, 1.4)
        elif summer > 0.55 and rng.random() < 0.22:
            # An afternoon thunderstorm that hits some of the stations.
            start = rng.randint(13, 18)
            duration = rng.randint(1, 3)
            intensity = rng.uniform(2.5, 9.0)
            w.cloud = min(0.8, w.cloud + 0.25)
            for i, st in enumerate(stations):
                if rng.random() < 0.55:
                    for k in range(duration):
                        if start + k < 24:
                            w.rain[i][start + k] += intensity * rng.uniform(0.3, 1.2)
        result.append(w)
    return result


def generate_series(rng, stations):
    """Hourly rows: (year, month, day, hour, {variable: [values per station]})."""
    hours = list(hours_of_period())
    days = []
    for (_, _, _, _, end) in hours:
        day = (end - datetime.timedelta(minutes=1)).date()
        if not days or days[-1] != day:
            days.append(day)
    weather = daily_weather(rng, stations, days)
    day_index = {d: i for i, d in enumerate(days)}

    n = len(stations)
    temperature_noise = [0.0] * n
    cloud_noise = 0.0
    wind_noise = [0.0] * n
    wind_factor = {"Outlet": 1.0, "Midvalley": 0.85, "Northbrook": 0.75, "Upperdale": 1.1, "Summit": 2.3}
    outage_start = datetime.datetime(2020, 3, 5, 10)
    outage_end = datetime.datetime(2020, 3, 7, 16)

    rows = []
    for (year, month, day, hour, end) in hours:
        middle = end - datetime.timedelta(minutes=30)
        d = day_index[middle.date()]
        w = weather[d]
        following = weather[min(d + 1, len(weather) - 1)]
        doy = middle.timetuple().tm_yday
        summer = 0.5 * (1.0 + season(doy))
        hod = middle.hour + middle.minute / 60.0
        # Synoptic anomaly and cloudiness change smoothly from day to day.
        blend = hod / 24.0
        anomaly = (1 - blend) * w.anomaly + blend * following.anomaly
        cloud_noise = 0.85 * cloud_noise + rng.gauss(0.0, 0.08)
        wind_day = (1 - blend) * w.wind + blend * following.wind

        values = {"temperature": [], "precipitation": [], "air_humidity": [], "wind_speed": [],
                  "global_radiation": []}
        for i, st in enumerate(stations):
            rain = w.rain[i][int(hod)]
            cloud = min(1.0, max(0.0, w.cloud + cloud_noise + rng.gauss(0.0, 0.03)))
            if rain > 0.0:
                cloud = max(cloud, 0.85)

            amplitude = (2.3 + 2.7 * summer) * (1.0 - 0.6 * cloud) * (0.6 if st.name == "Summit" else 1.0)
            mean = 9.0 + 9.5 * season(doy - 12) - 0.0058 * (st.z - 450.0)
            temperature_noise[i] = 0.9 * temperature_noise[i] + rng.gauss(0.0, 0.18)
            diurnal = amplitude * diurnal_shape(hod)
            temperature = mean + diurnal + anomaly + temperature_noise[i] - (1.0 if rain > 0.5 else 0.0)

            humidity = 70.0 - 7.0 * season(doy) - 4.5 * diurnal + 14.0 * cloud - 0.003 * (st.z - 450.0)
            humidity += rng.gauss(0.0, 2.5)
            if rain > 0.0:
                humidity = max(humidity, rng.uniform(90.0, 99.0))
            humidity = min(100.0, max(15.0, humidity))

            gust = 1.0 + 0.35 * math.sin(math.pi * (hod - 9.0) / 12.0) if 9.0 <= hod <= 21.0 else 0.85
            wind_noise[i] = 0.7 * wind_noise[i] + rng.gauss(0.0, 0.12)
            wind = max(0.1, wind_day * wind_factor[st.name] * gust * math.exp(wind_noise[i]))

            radiation = clear_sky(end, st.z) * (1.0 - 0.75 * cloud ** 3.4)

            missing = st.name == "Northbrook" and outage_start <= end <= outage_end
            values["temperature"].append(NODATA if missing else round(temperature, 1))
            values["precipitation"].append(NODATA if missing else round(rain, 1))
            values["air_humidity"].append(NODATA if missing else round(humidity))
            values["wind_speed"].append(NODATA if missing else round(wind, 1))
            values["global_radiation"].append(NODATA if missing else round(radiation))
        rows.append((year, month, day, hour, values))
    return rows


VARIABLES = [
    ("temperature", "air temperature [degC]", 1),
    ("precipitation", "precipitation [mm/h]", 1),
    ("air_humidity", "relative air humidity [%]", 0),
    ("wind_speed", "wind speed [m/s]", 1),
    ("global_radiation", "global radiation [W/m2], mean of the hour", 0),
]


def write_station_file(path, variable, title, decimals, stations, rows):
    with open(path, "w", newline="\n") as f:
        f.write("%s, hourly means or sums of the hour ending at HH; example basin, written by "
                "tools/make_example_basin.py\n" % title)
        f.write("YY MM DD HH " + " ".join("%d" % s.z for s in stations) + "\n")
        f.write("YY MM DD HH " + " ".join("%.0f" % s.x for s in stations) + "\n")
        f.write("YY MM DD HH " + " ".join("%.0f" % s.y for s in stations) + "\n")
        f.write("YY MM DD HH " + " ".join(s.name for s in stations) + "\n")
        for (year, month, day, hour, values) in rows:
            f.write("%d %d %d %d " % (year, month, day, hour))
            f.write(" ".join(format_value(v, decimals) for v in values[variable]))
            f.write("\n")


def set_raster(size):
    """Columns and rows from "COLSxROWS"; the cell size keeps the valley's
    8 km from west to east."""
    global NCOLS, NROWS, CELL
    try:
        cols, rows = (int(part) for part in size.lower().split("x"))
    except ValueError:
        raise SystemExit("--size wants COLSxROWS, as 400x300, not %r" % size)
    if cols < 2 or rows < 2:
        raise SystemExit("--size wants at least 2 columns and 2 rows")
    extent = NCOLS * CELL
    NCOLS, NROWS = cols, rows
    CELL = extent / cols


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description="Writes the example basin's input files.")
    parser.add_argument("target", nargs="?", default=os.path.join(here, "..", "examples", "basin", "input"),
                        help="output directory")
    parser.add_argument("--size", default="%dx%d" % (NCOLS, NROWS), help="raster as COLSxROWS (default 80x60)")
    arguments = parser.parse_args()
    set_raster(arguments.size)
    target = arguments.target
    os.makedirs(target, exist_ok=True)
    rng = random.Random(SEED)

    dem, zones = build_terrain(rng)
    landuse, soils = build_cover(rng, dem, zones)
    write_grid(os.path.join(target, "dem.asc"), dem, 1)
    write_grid(os.path.join(target, "zones.asc"), zones, 0)
    write_grid(os.path.join(target, "landuse.asc"), landuse, 0)
    write_grid(os.path.join(target, "soils.asc"), soils, 0)
    glacier, glacier_codes = build_glacier(dem, zones)
    write_grid(os.path.join(target, "glacier.asc"), glacier, 1)
    write_grid(os.path.join(target, "glacier_codes.asc"), glacier_codes, 0)
    write_grid(os.path.join(target, "ice_firn.asc"), build_ice_firn(dem, glacier), 0)
    depth, width, links, times = build_rivers(dem, zones)
    write_grid(os.path.join(target, "river_depth.asc"), depth, 2)
    write_grid(os.path.join(target, "river_width.asc"), width, 2)
    write_grid(os.path.join(target, "river_links.asc"), links, 0)
    write_grid(os.path.join(target, "flow_times.asc"), times, 0)
    write_grid(os.path.join(target, "irrigation.asc"), build_irrigation(dem, landuse, zones), 0)
    for k, grid in enumerate(build_slide_fractions(dem, zones), start=1):
        write_grid(os.path.join(target, "slidefraction%d.asc" % k), grid, 3)
    chloride, tritium = build_tracer_inputs(dem, zones)
    write_grid(os.path.join(target, "tracer_1_input.asc"), chloride, 3)
    write_grid(os.path.join(target, "tracer_2_input.asc"), tritium, 3)

    write_grid(os.path.join(target, "gw_fixed_head_2.asc"), build_fixed_heads(dem, zones), 1)

    stations = place_stations(dem, zones)
    rows = generate_series(rng, stations)
    for (variable, title, decimals) in VARIABLES:
        write_station_file(os.path.join(target, variable + ".dat"), variable, title, decimals, stations, rows)
    write_observed_discharge(os.path.join(target, "observed_discharge.txt"), observed_discharge(rows, stations))
    write_inflow(os.path.join(target, "inflow_1.txt"), external_inflow(rows))


if __name__ == "__main__":
    main()
