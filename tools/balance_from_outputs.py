#!/usr/bin/env python3
"""The example basin's water balance, year by year, from a run's outputs alone.

    balance_from_outputs.py [output directory] [control file]

Reads what the run wrote (the statistics files, the routing's discharge,
abstraction and reservoir files and a soil grid for the basin's area) and,
from the control file, only the names of the routing's inflow files (the
"ZL ... = extern <file>" lines; m3/s in the first value column), whose
water enters the basin's channels from outside
and prints for every calendar year the inputs, the outputs, the change of
each storage the outputs hold and the residual, in mm over the basin.

The statistics hold per zone and step either sums or means. A daily mean of
an hourly model holds mm per step: it is multiplied by the number of steps
of its row. A storage is taken at the last row of each year (and, for the
first year, at the first row): with statistics written every step these are
the storages at the year's end; with daily means they are the mean of the
last day, and the residual carries the difference.

Storages the example does not write as statistics (the aquifer's second
layer, the travel-time zones and linear storages of the soil model and of
surface routing, the glacier's runoff storages, the channels) are listed as
missing: the residual holds their change.
"""

import math
import os
import sys


def read_statistics(path):
    """Rows (year, month, day, hour, values...) and the column names."""
    rows = []
    with open(path) as f:
        lines = f.read().splitlines()
    if not lines:
        return [], []
    names = [n.strip('"') for n in lines[0].split("\t")[4:]]
    for line in lines[1:]:
        parts = line.split()
        if len(parts) < 5 or not parts[0].lstrip("-").isdigit() or parts[0] == "--":
            continue
        try:
            rows.append([int(parts[0]), int(parts[1]), int(parts[2]), int(parts[3])] +
                        [float(v) for v in parts[4:]])
        except ValueError:
            continue
    return rows, names


def step_hours(rows):
    """Hours covered by one row (1 for every step, 24 for daily rows)."""
    if len(rows) < 2:
        return 1
    a, b = rows[0], rows[1]
    if (a[0], a[1], a[2]) == (b[0], b[1], b[2]):
        return b[3] - a[3]
    return 24 if a[3] == b[3] else 1


def column(names, wanted):
    return names.index(wanted) + 4 if wanted in names else None


def statistics_column(path, total_column, col):
    """The rows of a statistics file and the index of the wanted column, or
    None when the file, the column or its rows are missing."""
    if not os.path.exists(path):
        return None
    rows, names = read_statistics(path)
    c = col if col is not None else column(names, total_column)
    if c is None or not rows:
        return None
    return rows, c


def yearly_flux(path, total_column="tot_average", mean=False, factor=1.0, col=None):
    """Sum per year of a flux statistic [mm]; means times steps per row."""
    found = statistics_column(path, total_column, col)
    if found is None:
        return None
    rows, c = found
    per_row = step_hours(rows) if mean else 1
    sums = {}
    for r in rows:
        sums[r[0]] = sums.get(r[0], 0.0) + r[c] * per_row * factor
    return sums


def yearly_storage(path, total_column="tot_average", col=None):
    """Per year: (first row's value, last row's value)."""
    found = statistics_column(path, total_column, col)
    if found is None:
        return None
    rows, c = found
    held = {}
    for r in rows:
        first, _ = held.get(r[0], (r[c], r[c]))
        held[r[0]] = (first, r[c])
    return held


def inflow_files(control):
    """The routing's inflow files named in the control file, relative to it."""
    files = []
    if not control or not os.path.exists(control):
        return files
    base = os.path.dirname(os.path.abspath(control))
    with open(control) as f:
        for line in f:
            words = line.split("#")[0].split()
            if len(words) >= 5 and words[0] == "ZL" and words[2] == "=" and words[3] == "extern":
                files.append(os.path.join(base, words[4]))
    return files


def basin_area(directory):
    """Area of the model cells [m2] from the soil model's end-of-run grid of
    the groundwater table (nodata outside the basin)."""
    path = os.path.join(directory, "gwstand.asc")
    with open(path) as f:
        header = {}
        for _ in range(6):
            key, value = f.readline().split()
            header[key.lower()] = float(value)
        cells = sum(1 for v in f.read().split() if float(v) != header.get("nodata_value", -9999))
    return cells * header["cellsize"] ** 2


def main(argv):
    directory = argv[1] if len(argv) > 1 else "examples/basin/output"
    control = argv[2] if len(argv) > 2 else os.path.join(os.path.dirname(os.path.abspath(directory)), "basin.ctl")
    area = basin_area(directory)
    mm = 1000.0 / area  # mm per m3 over the basin
    path = lambda name: os.path.join(directory, name)

    inputs = {
        "precipitation": yearly_flux(path("precipitation.sta")),
        "glacier ice melt": yearly_flux(path("qice.sta")),
        "glacier firn melt": yearly_flux(path("qfirn.sta")),
    }
    outputs = {
        # Real evapotranspiration: transpiration, interception, soil and snow
        # evaporation; daily means of mm per step.
        "real evapotranspiration": yearly_flux(path("etr.sta"), mean=True),
    }
    # Only the inflow of the steps the run routed: a file may reach past them.
    routed_steps = {tuple(r[:4]) for r in read_statistics(path("Qrouted.sta"))[0]}
    for k, name in enumerate(inflow_files(control)):
        sums = {}
        with open(name) as f:
            for line in f:
                words = line.split()
                if len(words) >= 5 and all(w.isdigit() for w in words[:4]):
                    if tuple(int(w) for w in words[:4]) not in routed_steps:
                        continue
                    sums[int(words[0])] = sums.get(int(words[0]), 0.0) + float(words[4]) * 3600 * mm
        inputs["inflow from " + os.path.basename(name)] = sums
    # The routing's files: m3/s of every step.
    q = yearly_flux(path("Qrouted.sta"), total_column="3", factor=3600 * mm)
    outputs["outlet discharge"] = q
    outputs["abstractions"] = yearly_flux(path("abstraction_1.txt"), col=4, factor=3600 * mm)
    reservoir = path("reservoir_1.txt")
    storages = {
        "snow": yearly_storage(path("snow_storage.sta")),
        "interception": yearly_storage(path("interception_storage.sta")),
        "soil columns": yearly_storage(path("sb2.sta")),
        "water on the surface": yearly_storage(path("sr_storage.sta")),
    }
    if os.path.exists(reservoir):
        rows, names = read_statistics(reservoir)
        v = 6  # V[m3]
        etr = 4 + (names.index("ETR[m3]") if "ETR[m3]" in names else 15)
        prec = 4 + (names.index("PREC[m3]") if "PREC[m3]" in names else 18)
        held, e, p = {}, {}, {}
        for r in rows:
            first, _ = held.get(r[0], (r[v] * mm, r[v] * mm))
            held[r[0]] = (first, r[v] * mm)
            e[r[0]] = e.get(r[0], 0.0) + r[etr] * mm
            p[r[0]] = p.get(r[0], 0.0) + r[prec] * mm
        storages["reservoir"] = held
        outputs["reservoir evaporation"] = e
        inputs["precipitation on the reservoir"] = p

    years = sorted(set(y for d in list(inputs.values()) + list(outputs.values()) if d for y in d))
    missing = ["aquifer layer 2", "soil and surface-routing runoff storages",
               "glacier runoff storages", "channels", "fixed heads of the aquifer"]
    previous_end = {}
    for year in years:
        print("basin, %d, from the outputs alone (%.4g km2)" % (year, area / 1e6))
        print("%-40s %6s %12s" % ("term [mm]", "kind", "value"))
        total_in = total_out = total_change = 0.0
        for name, d in inputs.items():
            value = d.get(year, 0.0) if d else float("nan")
            total_in += 0.0 if math.isnan(value) else value
            print("%-40s %6s %12.3f" % (name, "in", value))
        for name, d in outputs.items():
            value = d.get(year, 0.0) if d else float("nan")
            total_out += 0.0 if math.isnan(value) else value
            print("%-40s %6s %12.3f" % (name, "out", value))
        for name, d in storages.items():
            if not d or year not in d:
                print("%-40s %6s %12s" % (name, "change", "n/a"))
                continue
            start = previous_end.get(name, d[year][0])
            end = d[year][1]
            previous_end[name] = end
            total_change += end - start
            print("%-40s %6s %12.3f   (%.3f to %.3f)" % (name, "change", end - start, start, end))
        residual = total_in - total_out - total_change
        precipitation = inputs["precipitation"].get(year, 0.0) if inputs["precipitation"] else 0.0
        print("%-40s %6s %12.3f" % ("residual (in - out - change)", "", residual))
        if precipitation:
            print("%-40s %6s %12.4f" % ("residual / precipitation", "", residual / precipitation))
        print("not in the outputs: " + ", ".join(missing) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
