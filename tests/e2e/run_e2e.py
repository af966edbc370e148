#!/usr/bin/env python3
"""The end-to-end suite: each scenario packs a payload, starts loopback
servers, runs the real bootstrapper under Wine in a fresh prefix on a private
X display, acts as the user would, and checks what the run left behind.

  tests/e2e/run_e2e.py [NAME...]      run all scenarios, or those named
  tests/e2e/run_e2e.py --list         list the scenarios
  tests/e2e/run_e2e.py cancel-any-moment --repeat 50 --seed S
                                      the seeded cancel, 50 runs from seed S
  tests/e2e/run_e2e.py --jobs 1       one road at a time (default: two side
                                      by side, or $KESTREL_E2E_JOBS)

Needs the win32 build (bootstrapper.exe, bootpack.exe) and the win32-tests
build (the fixtures). Prints one line per scenario and ends with
"N passed, M failed"; exits 1 when any failed."""

import argparse
import os
import shutil
import sys
import time

import importlib

import payload
import rig
import road
import road_pool

# Every scenarios*.py here registers its roads when imported; a new file of
# roads needs no change here.
for _module in sorted(f[:-3] for f in os.listdir(os.path.dirname(os.path.abspath(__file__)))
                      if f.startswith("scenarios") and f.endswith(".py")):
    importlib.import_module(_module)


class Context:
    """What all runs share: builds, the display, the probe, the input."""

    def __init__(self, args):
        self.work = os.path.abspath(args.work)
        self.keep = args.keep
        self.seed = args.seed
        self.stub = os.path.join(args.win32, "bootstrapper.exe")
        self.fixtures = os.path.join(args.tests, "tests", "fixtures")
        for path in (self.stub, os.path.join(self.fixtures, "TestAgent.msi")):
            if not os.path.exists(path):
                raise SystemExit(f"e2e: {path} is missing; build the win32 and win32-tests presets")
        host_bootpack = args.bootpack or os.path.join(rig.ROOT, "build", "host", "bootpack")
        if os.path.exists(host_bootpack) and not host_bootpack.endswith(".exe"):
            self.bootpack, self.bootpack_on_wine = [host_bootpack], False
        else:
            # The Windows build of the packing tool, run in the scenario's prefix.
            self.bootpack = ["wine", os.path.join(args.win32, "bootpack.exe")]
            self.bootpack_on_wine = True
        os.makedirs(self.work, exist_ok=True)
        self.probe = rig.Probe(os.path.join(self.work, "tools"))
        self.display = rig.Display()
        self.input = rig.Input(self.display.env)

    def fixture(self, name):
        return os.path.join(self.fixtures, name)

    def pack(self, run, entries):
        if self.bootpack_on_wine:
            payload.pack(self.bootpack, self.stub, run.exe, entries, os.path.join(run.dir, "payload"),
                         force=run.setup.get("force_pack", False), path_arg=rig.windows_path,
                         env=run.prefix.env)
        else:
            payload.pack(self.bootpack, self.stub, run.exe, entries, os.path.join(run.dir, "payload"),
                         force=run.setup.get("force_pack", False))

    def close(self):
        self.display.stop()


def result_of(name, context, seed):
    """Runs one road; what the report needs of it, as plain data."""
    context.seed = seed
    ok, seconds, run = road.execute(name, context)
    return {"name": name, "ok": ok, "seconds": seconds, "skipped": run.skipped,
            "failures": run.failures, "notes": run.notes, "leftovers": run.leftovers, "dir": run.dir}


class Tally:
    """The lines of the roads as they end, and the counts."""

    def __init__(self):
        self.passed = self.failed = self.skipped = 0

    def __call__(self, result):
        name, ok, seconds = result["name"], result["ok"], result["seconds"]
        if result.get("skipped") and ok:
            print(f"{name:<28} SKIP {seconds:6.1f} s: {result['skipped']}", flush=True)
            self.skipped += 1
            return
        print(f"{name:<28} {'PASS' if ok else 'FAIL'} {seconds:6.1f} s")
        for failure in result.get("failures", []):
            print(f"    - {failure}")
        for note in result.get("notes", []):
            print(f"    note: {note}")
        if result.get("leftovers"):
            print(f"    left running at exit (ended by the harness): {', '.join(result['leftovers'])}")
        if not ok and result.get("dir"):
            print(f"    files: {result['dir']}")
        sys.stdout.flush()
        self.passed += ok
        self.failed += not ok


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    parser.add_argument("names", nargs="*", help="scenarios to run (default: all)")
    parser.add_argument("--list", action="store_true", help="list the scenarios and stop")
    parser.add_argument("--win32", default=os.path.join(rig.ROOT, "build", "win32"),
                        help="win32 build folder (default build/win32)")
    parser.add_argument("--tests", default=os.path.join(rig.ROOT, "build", "win32-tests"),
                        help="win32-tests build folder (default build/win32-tests)")
    parser.add_argument("--bootpack", help="host bootpack (default build/host/bootpack, "
                        "else the win32 bootpack.exe under Wine)")
    parser.add_argument("--work", default=os.path.join(rig.ROOT, "build", "e2e"),
                        help="where runs keep their files (default build/e2e)")
    parser.add_argument("--keep", action="store_true", help="keep each run's Wine prefix")
    parser.add_argument("--repeat", type=int, default=1, help="run the selection this many times")
    parser.add_argument("--seed", type=int, help="first seed of the seeded roads (cancel-any-moment; "
                        "default: from the clock), one more for each repeat")
    parser.add_argument("--jobs", type=int, default=road_pool.default_jobs(),
                        help="roads run side by side (default 2, or $KESTREL_E2E_JOBS)")
    parser.add_argument("--worker", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()

    if args.worker:
        context = Context(args)
        try:
            return road_pool.worker_loop(lambda job: result_of(job["name"], context, job["seed"]))
        finally:
            context.close()

    if args.list:
        for name in road.SCENARIOS:
            print(name)
        return 0
    # Seeded series (in_suite=False) run only when named.
    names = args.names or [n for n, (_, setup) in road.SCENARIOS.items()
                           if setup.get("in_suite", True)]
    unknown = [n for n in names if n not in road.SCENARIOS]
    if unknown:
        print(f"e2e: unknown scenarios {unknown}; --list shows them", file=sys.stderr)
        return 2

    first_seed = args.seed if args.seed is not None else int(time.time() * 1000) % 1000000
    jobs = [{"name": name, "seed": first_seed + repeat}
            for repeat in range(args.repeat) for name in names]
    tally = Tally()
    began = time.time()
    side_by_side = args.jobs > 1 and len(jobs) > 1
    if side_by_side:
        rig.Probe(os.path.join(os.path.abspath(args.work), "tools"))  # built once, before the workers
        slow = {n for n, (_, setup) in road.SCENARIOS.items() if setup.get("slow")}
        road_pool.run_jobs(jobs, slow, args.jobs,
                           road_pool.worker_command(os.path.abspath(__file__), args), tally)
    else:
        context = Context(args)
        try:
            for job in jobs:
                tally(result_of(job["name"], context, job["seed"]))
        finally:
            context.close()
    print(f"e2e: {time.time() - began:.0f} s in all"
          + (f", {args.jobs} busy roads at a time beside the waiting ones" if side_by_side else ""))
    print(f"{tally.passed} passed, {tally.failed} failed"
          + (f", {tally.skipped} skipped" if tally.skipped else ""))
    return 1 if tally.failed else 0


if __name__ == "__main__":
    sys.exit(main())
