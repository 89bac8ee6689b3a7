#!/usr/bin/env python3
"""Whole runs of the model at 1, 2, 4 and 8 threads.

Default phases (`make bench`, about ten minutes):
  valley    the example's control file (every sub-model of the example on) on
            its valley written on a raster of 400 x 300 cells (20 m) by
            tools/make_example_basin.py --size 400x300 into the work
            directory once and kept there; 3 hourly days at 1, 2, 4 and 8
            threads. Cell-steps per second of the time loop (a run of 3 days
            less a run of one step), the speed-up and the parallel regions
            and team barriers per step (the difference of the two runs over
            the steps between them, counted by the omp_region_count library
            loaded into a run of its own, --region-counter).
  whole     the whole vertical model on a generated valley of 300 x 300
            cells (--whole-size): interpolation, radiation correction with
            terrain shadow, evapotranspiration, interception, snow and the soil
            columns with heat, the lateral models off; --whole-days hourly
            days at 1 and N threads (--whole-threads): cell-steps per second of
            the time loop (a run of that length less a run of one step), the
            parallel efficiency and the peak resident memory per cell (of the
            longer run).
The bench target then runs the in-process phases of ruvex_bench on a small
grid.

Long phases (`make bench-full`, --phases example,400x300,busy,split and the
whole model on 1000 x 1000 cells):
  example   the example basin (80 x 60 cells) over its whole period
  400x300   the 400 x 300 valley over one month
  busy      the example basin over three months while every core runs a
            competing process, at 1 and 8 threads
  split     the share of the zonal statistics in a one-thread run: the
            example with and without its statistics

Every run's output files (all but the diagnostics) must be the same, byte for
byte, as those of the first thread count's run. Each time is the best of
--repeat runs. The share outside parallel regions is the Karp-Flatt estimate
(1/S - 1/p) / (1 - 1/p) from the speed-up S on p threads. The machine's load
(/proc/loadavg) is printed with every phase: other work on the machine takes
cores from the runs, and the aims hold for a quiet machine.

    bench_runs.py --ruvex build/ruvex --source . --work build/bench_runs
"""

import argparse
import datetime
import hashlib
import os
import re
import shutil
import subprocess
import sys
import time

THREADS = [1, 2, 4, 8]
last_peak_kib = 0  # peak resident set of the last run's child [KiB]
MODEL_TIME = re.compile(r"\[model_time\]\n(.*\n){4}24 .*\n31 .*\n12 .*\n2020 .*\n")


def model_time(end_day, end_month, end_year):
    return "[model_time]\n1\n1\n1\n2019\n24\n%d\n%d\n%d\n" % (end_day, end_month, end_year)


def steps_until(end_day, end_month, end_year):
    start = datetime.datetime(2019, 1, 1, 0)
    end = datetime.datetime(end_year, end_month, end_day, 0) + datetime.timedelta(days=1)
    return int((end - start).total_seconds() // 3600)


def valid_cells(zone_file):
    with open(zone_file) as f:
        header = [next(f) for _ in range(6)]
        nodata = header[5].split()[1]
        return sum(1 for line in f for value in line.split() if value != nodata)


def prepare(source, work, name, input_dir, end, statistics=True):
    """A run directory with the example's control file, the given input and
    the period ending at `end` (day, month, year)."""
    directory = os.path.join(work, name)
    shutil.rmtree(directory, ignore_errors=True)
    os.makedirs(os.path.join(directory, "output"))
    os.symlink(os.path.abspath(input_dir), os.path.join(directory, "input"))
    with open(os.path.join(source, "examples", "basin", "basin.ctl")) as f:
        control = f.read()
    replaced = MODEL_TIME.sub(model_time(*end), control, count=1)
    if replaced == control:
        raise SystemExit("the model time of the example basin has moved; the bench cannot shorten it")
    if not statistics:
        replaced = re.sub(r"statcode = \d+", "statcode = 0", replaced)
        replaced = re.sub(r"^(\S+\.sta) \d+", r"\1 0", replaced, flags=re.M)
    with open(os.path.join(directory, "basin.ctl"), "w") as f:
        f.write(replaced)
    return directory


def generated_basin(source, work, size):
    """The valley on a raster of `size` ("COLSxROWS"), written once into the
    work directory and kept there."""
    directory = os.path.join(work, "input_" + size)
    if not os.path.exists(os.path.join(directory, "global_radiation.dat")):
        print("\nwriting the %s basin (once) ..." % size)
        sys.stdout.flush()
        subprocess.run([sys.executable, os.path.join(source, "tools", "make_example_basin.py"), "--size", size,
                        directory], check=True)
    irrigation = os.path.join(directory, "irrigation.asc")
    if not os.path.exists(irrigation):
        # The example's irrigation codes follow the land use: its tens.
        with open(os.path.join(directory, "landuse.asc")) as f:
            lines = f.read().split("\n")
        nodata = lines[5].split()[1]
        rows = [" ".join(v if v == nodata else str(int(float(v)) // 10) for v in line.split())
                for line in lines[6:] if line.strip()]
        with open(irrigation + ".part", "w") as f:
            f.write("\n".join(lines[:6] + rows) + "\n")
        os.replace(irrigation + ".part", irrigation)
    return directory


def set_switch(control, section, value):
    """`control` with the first line of [section] replaced by `value`."""
    replaced, n = re.subn(r"^(\[%s\]\n)[^\n]*" % re.escape(section), lambda m: m.group(1) + str(value), control,
                          count=1, flags=re.M)
    if n != 1:
        raise SystemExit("the example basin has no section [%s]" % section)
    return replaced


# Radiation correction by method 2 (terrain shadow included) every step in 24
# splittings; no grids written.
RADIATION_BODY = "2\ntkorr.asc\n0\n2.0\nexkorr.asc\n0\nshade.asc\n0\n1\n24\n"

# Soil heat by method 1 with the usual soil constants; nothing written.
HEAT_SECTION = ("\n[heat_transfer]\n1\n1\n0\n0\n12\n-0.007\n800\n1500\n0.58\n1e-10\n0.5562\n2.33\n4187\n"
                "1940\n2090\n334000\n1000\n1.22\n0.5\n60\n1800\n1\n1\ntemperature.txt\ntemper.sta 0\n"
                "temper.stk\n0\nthaw.asc\n0\n")


def prepare_whole(source, work, name, input_dir, end, one_step=False):
    """Every vertical sub-model on, the lateral ones (groundwater, irrigation,
    routing) off; `one_step` ends the run after its first hour."""
    directory = prepare(source, work, name, input_dir, end)
    path = os.path.join(directory, "basin.ctl")
    with open(path) as f:
        control = f.read()
    if one_step:
        control = control.replace(model_time(*end), model_time(*end).replace("\n24\n", "\n1\n", 1), 1)
    for section in ("groundwater_flow", "irrigation", "routing_model", "SurfaceRoutingModel", "SiltingUpModel"):
        control = set_switch(control, section, 0)
    control = set_switch(control, "radiation_correction", 1)
    control, n = re.subn(r"^(\[radiation_correction\]\n[^\n]*\n[^\n]*\n)", lambda m: m.group(1) + RADIATION_BODY,
                         control, count=1, flags=re.M)
    if n != 1:
        raise SystemExit("the example basin's [radiation_correction] section has moved; the bench cannot switch it on")
    for section in ("evapotranspiration", "interception_model", "snow_model", "unsatzon_model"):
        if not re.search(r"^\[%s\]\n\s*[1-9]" % section, control, flags=re.M):
            raise SystemExit("the example basin has [%s] switched off; the whole-model phase needs it on" % section)
    # The bench's own soil heat replaces the example's section, if it has one:
    # the header and the lines up to the first empty or comment line.
    control, n = re.subn(r"^\[heat_transfer\]\n(?:[^\n\[#][^\n]*\n)*", lambda m: HEAT_SECTION.lstrip("\n"), control,
                         flags=re.M)
    if n > 1:
        raise SystemExit("the example basin has more than one [heat_transfer] section")
    with open(path, "w") as f:
        f.write(control if n == 1 else control + HEAT_SECTION)
    return directory


def whole_phase(ruvex, source, work, size, days, threads, repeat):
    input_dir = generated_basin(source, work, size)
    cells = valid_cells(os.path.join(input_dir, "zones.asc"))
    end = (days, 1, 2019)
    long_run = prepare_whole(source, work, "whole", input_dir, end)
    short_run = prepare_whole(source, work, "whole_step", input_dir, (1, 1, 2019), one_step=True)
    steps = steps_until(*end) - 1
    print("\nwhole model, %s basin: %d cells; time loop of %d hourly steps (a run of %d days less one of 1 step)"
          % (size, cells, steps, days))
    print("%8s %10s %12s %16s %9s %11s %17s %10s" % ("threads", "run [s]", "1 step [s]", "Mcell-steps/s",
                                                     "speed-up", "efficiency", "peak [KiB/cell]", "same files"))
    results, reference = {}, None
    for p in threads:
        seconds, digests = best_run(ruvex, long_run, p, repeat)
        peak = last_peak_kib
        one_step, _ = best_run(ruvex, short_run, p, repeat)
        loop = max(seconds - one_step, 1e-9)
        if reference is None:
            reference = (loop, digests)
        # Speed-up and efficiency against one thread; from another first
        # count they mean nothing.
        speedup = reference[0] / loop if threads[0] == 1 else float("nan")
        same = digests == reference[1]
        print("%8d %10.2f %12.2f %16.3f %8.2fx %10.0f%% %17.2f %10s" % (
            p, seconds, one_step, cells * steps / loop / 1e6, speedup, 100 * speedup / p, peak / cells,
            "yes" if same else "NO"))
        sys.stdout.flush()
        if not same:
            raise SystemExit("outputs differ between %d and %d threads in %s" % (threads[0], p, long_run))
        results[p] = (cells * steps / loop, speedup / p)
    return results


def run(ruvex, directory, threads, extra_env=None):
    """Seconds of one run and the digests of its output files."""
    output = os.path.join(directory, "output")
    shutil.rmtree(output)
    os.makedirs(output)
    env = dict(os.environ, OMP_NUM_THREADS=str(threads), **(extra_env or {}))
    start = time.perf_counter()
    child = subprocess.Popen([ruvex, "basin.ctl", "-diagfile:output/diag.xml"], cwd=directory, env=env,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    child.returncode = os.waitstatus_to_exitcode(status)
    seconds = time.perf_counter() - start
    global last_peak_kib
    last_peak_kib = usage.ru_maxrss
    if child.returncode != 0:
        raise SystemExit("ruvex ended with %d in %s on %d threads" % (child.returncode, directory, threads))
    digests = {}
    for name in sorted(os.listdir(output)):
        if name == "diag.xml":
            continue
        with open(os.path.join(output, name), "rb") as f:
            digests[name] = hashlib.sha256(f.read()).hexdigest()
    return seconds, digests


def best_run(ruvex, directory, threads, repeat):
    times, digests = [], None
    for _ in range(repeat):
        seconds, found = run(ruvex, directory, threads)
        if digests is not None and found != digests:
            raise SystemExit("two runs on %d threads differ in %s" % (threads, directory))
        digests = found
        times.append(seconds)
    return min(times), digests


def scaling_phase(title, ruvex, directory, cells, steps, repeat, threads=THREADS):
    print("\n%s: %d cells, %d steps" % (title, cells, steps))
    print("%8s %10s %16s %9s %11s %17s %10s" % ("threads", "time [s]", "Mcell-steps/s", "speed-up",
                                                "efficiency", "serial share [%]", "same files"))
    results = {}
    reference = None
    for p in threads:
        seconds, digests = best_run(ruvex, directory, p, repeat)
        if reference is None:
            reference = (seconds, digests)
        speedup = reference[0] / seconds
        efficiency = speedup / p
        serial = "" if p == 1 else "%.0f" % (100 * (1 / speedup - 1 / p) / (1 - 1 / p))
        same = digests == reference[1]
        print("%8d %10.2f %16.2f %8.2fx %10.0f%% %17s %10s" % (p, seconds, cells * steps / seconds / 1e6, speedup,
                                                                100 * efficiency, serial, "yes" if same else "NO"))
        sys.stdout.flush()
        if not same:
            raise SystemExit("outputs differ between 1 and %d threads in %s" % (p, directory))
        results[p] = seconds
    return results


def busy_phase(ruvex, directory, repeat):
    """1 and 8 threads while every core runs a competing process."""
    competitors = [subprocess.Popen([sys.executable, "-c", "while True: pass"]) for _ in range(os.cpu_count() or 8)]
    try:
        time.sleep(0.5)
        one, digests_one = best_run(ruvex, directory, 1, repeat)
        eight, digests_eight = best_run(ruvex, directory, 8, repeat)
    finally:
        for process in competitors:
            process.kill()
        for process in competitors:
            process.wait()
    if digests_one != digests_eight:
        raise SystemExit("outputs differ between 1 and 8 threads on the busy machine")
    print("\nbusy: every core runs a competing process; example basin, three months")
    print("%8s %10s" % ("threads", "time [s]"))
    print("%8d %10.2f\n%8d %10.2f" % (1, one, 8, eight))
    return one, eight


def load():
    """The machine's load averages over 1, 5 and 15 minutes and its cores."""
    try:
        with open("/proc/loadavg") as f:
            averages = f.read().split()[:3]
    except OSError:
        averages = ["?", "?", "?"]
    return "load %s %s %s on %d cores" % (averages[0], averages[1], averages[2], os.cpu_count() or 0)


def prepare_one_step(source, work, name, input_dir):
    """The example's control file on `input_dir`, ending after its first hour."""
    directory = prepare(source, work, name, input_dir, (1, 1, 2019))
    path = os.path.join(directory, "basin.ctl")
    with open(path) as f:
        control = f.read()
    with open(path, "w") as f:
        f.write(control.replace(model_time(1, 1, 2019), model_time(1, 1, 2019).replace("\n24\n", "\n1\n", 1), 1))
    return directory


def region_counts(ruvex, directory, counter, threads=2):
    """Parallel regions and team barriers of one run, from the counting
    library loaded into it."""
    path = os.path.join(directory, "region_count.txt")
    if os.path.exists(path):
        os.remove(path)
    run(ruvex, directory, threads, {"LD_PRELOAD": counter, "RUVEX_REGION_COUNT_FILE": path})
    counts = {}
    with open(path) as f:
        for line in f:
            key, value = line.split()
            counts[key] = int(value)
    return counts["regions"], counts["barriers"]


def valley_phase(ruvex, source, work, days, repeat, counter):
    """The example's whole model on the 400 x 300 valley at 1, 2, 4 and 8
    threads; time loop only (a run of `days` less a run of one step)."""
    input_dir = generated_basin(source, work, "400x300")
    cells = valid_cells(os.path.join(input_dir, "zones.asc"))
    end = (days, 1, 2019)
    long_run = prepare(source, work, "valley", input_dir, end)
    short_run = prepare_one_step(source, work, "valley_step", input_dir)
    steps = steps_until(*end) - 1
    print("\nvalley 400 x 300, every sub-model of the example: %d cells; time loop of %d hourly steps "
          "(%d days less one step); %s" % (cells, steps, days, load()))
    print("%8s %10s %12s %16s %9s %11s %10s" % ("threads", "run [s]", "1 step [s]", "Mcell-steps/s", "speed-up",
                                                "efficiency", "same files"))
    results, reference = {}, None
    for p in THREADS:
        seconds, digests = best_run(ruvex, long_run, p, repeat)
        one_step, _ = best_run(ruvex, short_run, p, repeat)
        loop = max(seconds - one_step, 1e-9)
        if reference is None:
            reference = (loop, digests)
        speedup = reference[0] / loop
        same = digests == reference[1]
        print("%8d %10.2f %12.2f %16.3f %8.2fx %10.0f%% %10s" % (p, seconds, one_step, cells * steps / loop / 1e6,
                                                                  speedup, 100 * speedup / p,
                                                                  "yes" if same else "NO"))
        sys.stdout.flush()
        if not same:
            raise SystemExit("outputs differ between 1 and %d threads in %s" % (p, long_run))
        results[p] = cells * steps / loop
    per_step = None
    if counter and os.path.exists(counter):
        regions_long, barriers_long = region_counts(ruvex, long_run, counter)
        regions_short, barriers_short = region_counts(ruvex, short_run, counter)
        per_step = ((regions_long - regions_short) / steps, (barriers_long - barriers_short) / steps)
        print("per step: %.1f parallel regions, %.1f team barriers inside them" % per_step)
    print("(%s)" % load())
    return results, per_step


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--ruvex", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--repeat", type=int, default=2)
    parser.add_argument("--phases", default="valley,whole",
                        help="comma-separated, out of valley, whole, example, 400x300, busy and split")
    parser.add_argument("--valley-days", type=int, default=3)
    parser.add_argument("--region-counter", default="",
                        help="the omp_region_count library; without it regions are not counted")
    parser.add_argument("--whole-size", default="300x300")
    parser.add_argument("--whole-days", type=int, default=2)
    parser.add_argument("--whole-threads", default="1,%d" % (os.cpu_count() or 8))
    arguments = parser.parse_args()
    ruvex = os.path.abspath(arguments.ruvex)
    source = os.path.abspath(arguments.source)
    work = os.path.abspath(arguments.work)
    os.makedirs(work, exist_ok=True)
    phases = arguments.phases.split(",")
    example_input = os.path.join(source, "examples", "basin", "input")
    example_cells = valid_cells(os.path.join(example_input, "zones.asc"))
    aims = []
    print("bench phases %s; %s" % (",".join(phases), load()))
    sys.stdout.flush()

    if "valley" in phases:
        if arguments.valley_days < 1:
            raise SystemExit("--valley-days must be 1 or more")
        speed, per_step = valley_phase(ruvex, source, work, arguments.valley_days, arguments.repeat,
                                       os.path.abspath(arguments.region_counter) if arguments.region_counter else "")
        aims.append(("valley: Mcell-steps/s on 1 thread", speed[1] / 1e6, ">= 0.50", speed[1] >= 0.5e6))
        aims.append(("valley: speed-up on 8 threads", speed[8] / speed[1], ">= 6", speed[8] >= 6 * speed[1]))
        aims.append(("valley: Mcell-steps/s on 8 threads", speed[8] / 1e6, ">= 3.00", speed[8] >= 3e6))
        slowest = min(speed[THREADS[i + 1]] / speed[THREADS[i]] for i in range(len(THREADS) - 1))
        aims.append(("valley: least speed ratio of more threads to fewer", slowest,
                     ">= 1 (more threads never slower)", slowest >= 1))
        if per_step:
            aims.append(("valley: parallel regions per step", per_step[0], "fewer than 42.0 before", per_step[0] < 42))
            aims.append(("valley: team barriers per step", per_step[1], "fewer than 43.1 before", per_step[1] < 43.1))

    if "example" in phases:
        end = (31, 12, 2020)
        directory = prepare(source, work, "example", example_input, end)
        result = scaling_phase("example basin, whole period", ruvex, directory, example_cells,
                               steps_until(*end), arguments.repeat)
        aims.append(("example: 8 threads / 1 thread, time", result[8] / result[1], "<= 1.00",
                     result[8] <= result[1]))

    if "400x300" in phases:
        large_input = generated_basin(source, work, "400x300")
        end = (31, 1, 2019)
        directory = prepare(source, work, "large", large_input, end)
        result = scaling_phase("400 x 300 basin, one month", ruvex, directory,
                               valid_cells(os.path.join(large_input, "zones.asc")), steps_until(*end),
                               arguments.repeat)
        aims.append(("400x300: speed-up on 8 threads", result[1] / result[8], ">= 6", result[1] >= 6 * result[8]))

    if "busy" in phases:
        directory = prepare(source, work, "busy", example_input, (31, 3, 2019))
        one, eight = busy_phase(ruvex, directory, arguments.repeat)
        aims.append(("busy machine: 8 threads / 1 thread, time", eight / one, "<= 1.00", eight <= one))

    if "split" in phases:
        end = (30, 6, 2019)
        on = prepare(source, work, "split_on", example_input, end)
        off = prepare(source, work, "split_off", example_input, end, statistics=False)
        with_statistics, _ = best_run(ruvex, on, 1, arguments.repeat)
        without, _ = best_run(ruvex, off, 1, arguments.repeat)
        share = max(0.0, (with_statistics - without) / with_statistics)
        print("\nphase split, one thread, example basin over six months:")
        print("  with statistics %.2f s, without %.2f s: zonal statistics %.0f %% of the run"
              % (with_statistics, without, 100 * share))
        aims.append(("zonal statistics share of a one-thread run [%]", 100 * share,
                     "<= 16 (half the 32 % measured before)", 100 * share <= 16))

    if "whole" in phases:
        threads = [int(t) for t in arguments.whole_threads.split(",")]
        if arguments.whole_days < 1:
            raise SystemExit("--whole-days must be 1 or more")
        result = whole_phase(ruvex, source, work, arguments.whole_size, arguments.whole_days, threads,
                             arguments.repeat)
        most = max(threads)
        aims.append(("whole model: Mcell-steps/s on %d threads" % most, result[most][0] / 1e6,
                     ">= 1.00 on 8 threads", result[most][0] >= 1e6))
        if threads[0] == 1:
            aims.append(("whole model: parallel efficiency on %d threads" % most, result[most][1], ">= 0.75",
                         result[most][1] >= 0.75))

    print("\n%-52s %10s   %-34s %s" % ("figure", "value", "aim", ""))
    for name, value, aim, met in aims:
        verdict = "" if met is None else ("met" if met else "not met")
        print("%-52s %10.2f   %-34s %s" % (name, value, aim, verdict))
    print("(%s)" % load())


if __name__ == "__main__":
    main()
