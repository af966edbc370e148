#!/usr/bin/env python3
"""A whole fresh run under Wine, timed from its own event log: the e2e
harness's fresh-machine road (the demo's road: nothing installed, the three
installers downloaded from a loopback server and run, then the fake launcher),
run a few times; prints the time from event 3000 to 3111, the fixed waits in
it and what the rest is spent on.

  bench/wine_road.py --win32 DIR --tests DIR --bootpack PATH [--runs N]

The fixed waits: the splash's 3 s timer (4060 to 4061), the harness's time
on the licence (4061 to 9003, a person's reading time in a real run) and the
fake launcher's own run (3000 ms, the road's default). The figure lines are
those of bench/run.sh's table."""

import argparse
import datetime
import os
import re
import statistics
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ROAD = "fresh-machine"
LAUNCHER_MS = 3000  # the harness's default run time of the fake launcher

# The phases of the run between two events, in the order they happen.
PHASES = [
    ("start-up (3000 to the splash, 4060)", 3000, 4060),
    ("splash (fixed 3 s timer)", 4060, 4061),
    ("licence window until accepted (the harness's input)", 4061, 9003),
    ("acceptance to the progress window (9003 to 4062)", 9003, 4062),
    ("progress window to the first install (4062 to 6001)", 4062, 6001),
    ("dotnetfx.exe install (6001 to 6003)", 6001, 6003),
    ("Service Pack install (6004 to 6006)", 6004, 6006),
    ("agent package, msiexec (6007 to 6009)", 6007, 6009),
    ("launcher step (7001 to 7003), of which 3 s the launcher's own run", 7001, 7003),
    ("shutdown (7003 to 3111)", 7003, 3111),
]


def event_times(log_path):
    """The first time of each event id in the log, in seconds."""
    times = {}
    with open(log_path, encoding="latin-1") as f:
        for line in f:
            match = re.search(r"EVENTID='(-?\d+)'.*TIMESTAMP='([^']+)'", line)
            if match and int(match.group(1)) not in times:
                stamp = datetime.datetime.strptime(match.group(2), "%Y-%m-%d %H:%M:%S.%f")
                times[int(match.group(1))] = stamp.timestamp()
    return times


def one_run(args, work):
    result = subprocess.run(
        [sys.executable, os.path.join(ROOT, "tests", "e2e", "run_e2e.py"), ROAD, "--win32",
         args.win32, "--tests", args.tests, "--bootpack", args.bootpack, "--work", work],
        capture_output=True, text=True, timeout=300)
    line = next((l for l in result.stdout.splitlines() if l.startswith(ROAD)), result.stdout)
    if result.returncode != 0:
        print(f"road: {ROAD} failed:\n{result.stdout}{result.stderr}")
        return None
    times = event_times(os.path.join(work, ROAD, "TorvaneLogFile.txt"))
    missing = [e for _, a, b in PHASES for e in (a, b) if e not in times]
    if missing:
        print(f"road: events {missing} missing from the log")
        return None
    print(f"road: {line.strip()}")
    return times


def figure(what, ours, unit, peer, theirs, goal=None):
    ratio = ours / theirs if theirs else 0
    verdict = "-" if goal is None else ("met" if ratio <= goal else "MISSED")
    print(f"FIGURE|{what}|{ours:.2f} {unit}|{peer}|{theirs:.2f} {unit}|{ratio:.3g}|"
          f"{'-' if goal is None else f'<= {goal}'}|{verdict}", flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawTextHelpFormatter)
    parser.add_argument("--win32", required=True)
    parser.add_argument("--tests", required=True)
    parser.add_argument("--bootpack", required=True)
    parser.add_argument("--work", default=os.path.join(ROOT, "build", "bench-e2e"))
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()

    totals, fixed, phases = [], [], {name: [] for name, _, _ in PHASES}
    for _ in range(args.runs):
        times = one_run(args, args.work)
        if times is None:
            return 1
        total = times[3111] - times[3000]
        waits = (times[4061] - times[4060]) + (times[9003] - times[4061]) + LAUNCHER_MS / 1000
        totals.append(total)
        fixed.append(waits)
        for name, a, b in PHASES:
            phases[name].append(times[b] - times[a])
        print(f"road: 3000 to 3111 {total:.3f} s, fixed waits {waits:.3f} s, "
              f"rest {total - waits:.3f} s")
    print("road: medians of the phases (s):")
    for name, values in phases.items():
        print(f"road:   {statistics.median(values):7.3f}  {name}")
    rest = [t - w for t, w in zip(totals, fixed)]
    figure("Wine: whole fresh run, event 3000 to 3111", statistics.median(totals), "s",
           "its fixed waits (splash 3 s, licence input, launcher's 3 s)",
           statistics.median(fixed))
    figure("Wine: whole fresh run minus its fixed waits", statistics.median(rest), "s",
           "3000 to 3111", statistics.median(totals))
    return 0


if __name__ == "__main__":
    sys.exit(main())
