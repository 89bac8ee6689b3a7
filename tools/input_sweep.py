#!/usr/bin/env python3
"""Sets every number of chosen sections of the example basin's control file in
turn to nan, inf, -1, 0 and 1e300, runs a short copy of the example for each,
and counts how the runs end:

  fatal   the run ends with a FATAL entry and a non-zero exit code
  finite  exit code 0 and every number of the text outputs is finite
  other   exit code 0 with a non-finite output, a crash (signal), an exit
          code without a FATAL entry, or no end within the time limit

Usage (from the repository):
  tools/input_sweep.py build/ruvex [--sections coordinates snow_model ...]
                       [--days 2] [--jobs 3] [--timeout 120] [--values nan inf -1 0 1e300]
Every case that ends as "other" is listed with its section, line and value.
"""

import argparse
import concurrent.futures
import math
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
BASIN = os.path.join(HERE, "..", "examples", "basin")
NUMBER = re.compile(r"(?<![\w.$/])[-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?(?![\w./])")
DEFAULT_SECTIONS = ["coordinates", "variable_grids", "soil_table", "substance_transport", "snow_model",
                    "ice_firn", "unsatzon_model", "heat_transfer"]


def shortened(control, days):
    pattern = re.compile(r"\[model_time\]\n((?:.*\n){4})24 .*\n31 .*\n12 .*\n2020 .*\n")
    replaced = pattern.sub("[model_time]\n1\n1\n1\n2019\n24\n%d\n1\n2019\n" % days, control)
    if replaced == control:
        sys.exit("the model time of the example has moved")
    return replaced


def targets(control, sections):
    """(section, line index, start, end) of every number of the sections."""
    lines = control.split("\n")
    found = []
    section = None
    for index, line in enumerate(lines):
        head = re.match(r"\s*\[([^\]]+)\]", line)
        if head:
            section = head.group(1)
            continue
        if section not in sections or line.lstrip().startswith("#"):
            continue
        body = line.split("#", 1)[0]
        for match in NUMBER.finditer(body):
            found.append((section, index, match.start(), match.end()))
    return lines, found


def non_finite_outputs(directory):
    bad = []
    token = re.compile(r"(?i)(?<![\w.])[-+]?(nan|inf|infinity)(?![\w])")
    for root, _, files in os.walk(directory):
        for name in files:
            path = os.path.join(root, name)
            if name.endswith((".flt", ".bin", ".stk")) and not name.endswith(".stk"):
                continue
            try:
                with open(path, "r", errors="replace") as f:
                    text = f.read()
            except OSError:
                continue
            if token.search(text):
                bad.append(os.path.relpath(path, directory))
    return bad


def run_case(binary, base, lines, case, value, timeout):
    section, index, start, end = case
    work = tempfile.mkdtemp(prefix="sweep_")
    try:
        os.symlink(os.path.join(base, "input"), os.path.join(work, "input"))
        os.makedirs(os.path.join(work, "output"))
        changed = list(lines)
        changed[index] = lines[index][:start] + value + lines[index][end:]
        with open(os.path.join(work, "basin.ctl"), "w") as f:
            f.write("\n".join(changed))
        try:
            proc = subprocess.run([binary, "basin.ctl"], cwd=work, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL, timeout=timeout)
        except subprocess.TimeoutExpired:
            return "other", "timeout"
        diag = ""
        try:
            with open(os.path.join(work, "Ruvex_Diag.xml"), errors="replace") as f:
                diag = f.read()
        except OSError:
            pass
        if proc.returncode < 0:
            return "other", "signal %d" % -proc.returncode
        if proc.returncode != 0:
            if "Program aborted with exit code" in diag:
                return "fatal", ""
            return "other", "exit %d without FATAL" % proc.returncode
        bad = non_finite_outputs(os.path.join(work, "output"))
        if bad:
            return "other", "exit 0, non-finite in " + ", ".join(sorted(bad)[:3])
        return "finite", ""
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("binary")
    parser.add_argument("--sections", nargs="*", default=DEFAULT_SECTIONS)
    parser.add_argument("--values", nargs="*", default=["nan", "inf", "-1", "0", "1e300"])
    parser.add_argument("--days", type=int, default=2)
    parser.add_argument("--jobs", type=int, default=3)
    parser.add_argument("--timeout", type=float, default=120)
    args = parser.parse_args()
    binary = os.path.abspath(args.binary)

    base = tempfile.mkdtemp(prefix="sweep_base_")
    try:
        shutil.copytree(os.path.join(BASIN, "input"), os.path.join(base, "input"))
        with open(os.path.join(BASIN, "basin.ctl")) as f:
            control = shortened(f.read(), args.days)
        lines, cases = targets(control, set(args.sections))
        jobs = [(case, value) for case in cases for value in args.values]
        counts = {}
        others = []
        with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
            futures = {pool.submit(run_case, binary, base, lines, case, value, args.timeout): (case, value)
                       for case, value in jobs}
            for future in concurrent.futures.as_completed(futures):
                (section, index, start, end), value = futures[future]
                kind, detail = future.result()
                print("%s line %d %s -> %s %s" % (section, index + 1, value, kind, detail), flush=True)
                counts.setdefault(section, {"fatal": 0, "finite": 0, "other": 0})[kind] += 1
                if kind == "other":
                    others.append("[%s] line %d (%s): %s -> %s" % (section, index + 1, lines[index][start:end],
                                                                    value, detail))
        total = {"fatal": 0, "finite": 0, "other": 0}
        for section in sorted(counts):
            c = counts[section]
            for k in total:
                total[k] += c[k]
            print("%-22s fatal %4d  finite %4d  other %4d" % (section, c["fatal"], c["finite"], c["other"]))
        print("%-22s fatal %4d  finite %4d  other %4d" % ("all", total["fatal"], total["finite"], total["other"]))
        for line in sorted(others):
            print("  " + line)
        return 1 if total["other"] else 0
    finally:
        shutil.rmtree(base, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
