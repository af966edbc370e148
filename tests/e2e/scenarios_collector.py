"""The project's own log server on a road: kestrel-collector receives the
reports of a fresh-machine run and its funnel shows that run's steps."""

import json
import re
import subprocess

import scenarios
from road import scenario

# The funnel rows a fresh-machine run reaches; every other row stays at 0.
FRESH_MACHINE_STEPS = {
    "started", "configuration read", ".NET needed", "Service Pack needed", "agent needed",
    "licence shown", "licence accepted", "progress shown",
    ".NET download done", "Service Pack download done", "agent download done",
    ".NET install done", "Service Pack install done", "agent install done", "game launched",
    "exited",
}


@scenario("collector-funnel", log_server="collector")
def collector_funnel(r):
    """The fresh-machine road reporting to kestrel-collector: every record of
    the log stored once, in order, under one run id, and the run's funnel."""
    scenarios.fresh_machine_run(r)
    stored = r.reports()
    tokens = set()
    texts = []
    for _, target, _ in stored:
        match = re.match(r"^/\?TOKEN='([^']*)',(.*)$", target, re.S)
        if r.check(match, f"stored record without its run id: {target!r}"):
            tokens.add(match.group(1))
            texts.append(match.group(2))
    r.check(len(tokens) == 1, f"run ids stored: {sorted(tokens)}")
    lines = [record.line for record in r.records()]
    r.check(texts == lines, f"stored {len(texts)} records, the log has {len(lines)}; "
                            f"first difference {next((p for p in zip(texts, lines) if p[0] != p[1]), None)}")

    report = json.loads(subprocess.run(
        [r.log_server.program, "report", "--db", r.log_server.db, "--json"],
        capture_output=True, text=True, check=True).stdout)
    r.check(report["runs"] == 1 and report["reports"] == len(lines),
            f"the report counts {report['runs']} runs and {report['reports']} reports")
    steps = {step["step"]: step["runs"] for step in report["all"]["steps"]}
    wrong = {name: runs for name, runs in steps.items()
             if runs != (1 if name in FRESH_MACHINE_STEPS else 0)}
    r.check(not wrong, f"funnel rows that do not match the run: {wrong}")
    r.check(report["all"]["unfinished_runs"] == 0 and not report["failures"],
            f"unfinished {report['all']['unfinished_runs']}, failures {report['failures']}")
    launch = report["all"]["start_to_launch_ms"]
    ids = {record.id: record for record in r.records()}
    expected_ms = round((ids[7003].time - ids[3000].time) * 1000)
    r.check(launch["runs"] == 1 and abs(launch["median"] - expected_ms) <= 1,
            f"start to launch {launch}, the log says {expected_ms} ms")
