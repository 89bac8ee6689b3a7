#!/usr/bin/env python3
"""Whole runs of the model at 1, 2, 4 and 8 threads.

Phases:
  example   the example basin (80 x 60 cells) over its whole period
  400x300   the same valley on a raster of 400 x 300 cells (20 m), written by
            tools/make_example_basin.py --size 400x300 into the work directory
            once and kept there; one month
  busy      the example basin over three months while every core runs a
            competing process, at 1 and 8 threads
  split     the share of the zonal statistics in a one-thread run: the
            example with and without its statistics

Every run's output files (all but the diagnostics) must be the same, byte for
byte, as those of the one-thread run. Each time is the best of --repeat runs.
The share outside parallel regions is the Karp-Flatt estimate
(1/S - 1/p) / (1 - 1/p) from the speed-up S on p threads.

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


def run(ruvex, directory, threads):
    """Seconds of one run and the digests of its output files."""
    output = os.path.join(directory, "output")
    shutil.rmtree(output)
    os.makedirs(output)
    env = dict(os.environ, OMP_NUM_THREADS=str(threads))
    start = time.perf_counter()
    done = subprocess.run([ruvex, "basin.ctl", "-diagfile:output/diag.xml"], cwd=directory, env=env,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    seconds = time.perf_counter() - start
    if done.returncode != 0:
        raise SystemExit("ruvex ended with %d in %s on %d threads" % (done.returncode, directory, threads))
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


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--ruvex", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--repeat", type=int, default=2)
    parser.add_argument("--phases", default="example,400x300,busy,split")
    arguments = parser.parse_args()
    ruvex = os.path.abspath(arguments.ruvex)
    source = os.path.abspath(arguments.source)
    work = os.path.abspath(arguments.work)
    os.makedirs(work, exist_ok=True)
    phases = arguments.phases.split(",")
    example_input = os.path.join(source, "examples", "basin", "input")
    example_cells = valid_cells(os.path.join(example_input, "zones.asc"))
    aims = []

    if "example" in phases:
        end = (31, 12, 2020)
        directory = prepare(source, work, "example", example_input, end)
        result = scaling_phase("example basin, whole period", ruvex, directory, example_cells,
                               steps_until(*end), arguments.repeat)
        aims.append(("example: 8 threads / 1 thread, time", result[8] / result[1], "<= 1.00"))

    if "400x300" in phases:
        large_input = os.path.join(work, "input_400x300")
        if not os.path.exists(os.path.join(large_input, "global_radiation.dat")):
            print("\nwriting the 400 x 300 basin (once) ...")
            sys.stdout.flush()
            subprocess.run([sys.executable, os.path.join(source, "tools", "make_example_basin.py"), "--size",
                            "400x300", large_input], check=True)
        end = (31, 1, 2019)
        directory = prepare(source, work, "large", large_input, end)
        result = scaling_phase("400 x 300 basin, one month", ruvex, directory,
                               valid_cells(os.path.join(large_input, "zones.asc")), steps_until(*end),
                               arguments.repeat)
        aims.append(("400x300: speed-up on 8 threads", result[1] / result[8], ">= 4 (aim 6)"))

    if "busy" in phases:
        directory = prepare(source, work, "busy", example_input, (31, 3, 2019))
        one, eight = busy_phase(ruvex, directory, arguments.repeat)
        aims.append(("busy machine: 8 threads / 1 thread, time", eight / one, "<= 1.50"))

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
                     "<= half the 32 % measured before"))

    print("\n%-50s %10s   %s" % ("figure", "value", "aim"))
    for name, value, aim in aims:
        print("%-50s %10.2f   %s" % (name, value, aim))


if __name__ == "__main__":
    main()
