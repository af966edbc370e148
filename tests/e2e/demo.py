#!/usr/bin/env python3
"""The demo: the built-in demo payload (demo/) with a CONFIG.TXT that points
at loopback servers, packed onto the stub and run under Wine on a fresh
machine, which downloads and installs the test fixtures and runs the fake
launcher.

  tests/e2e/demo.py [--headless]

With a display ($DISPLAY) you click through it yourself. Without one (or
with --headless) it runs on a private display, accepts the licence with
xdotool, photographs each window into the output folder (splash, licence,
progress, the cancel question, answered No) and prints the event log.
The event reports go to kestrel-collector, whose funnel of the run is
printed at the end, and then compared with a second build: the same run's
reports sent to the collector once more, as a run of the build "demo-replay"."""

import argparse
import http.client
import os
import shutil
import sqlite3
import subprocess
import sys
import time
import uuid

import payload
import rig
import road
import servers

SHOTS = ("splash", "licence", "progress", "cancel-confirmation")


class Screen:
    """The user's own display."""

    def __init__(self):
        self.env = dict(os.environ)

    def stop(self):
        pass


class Context:
    def __init__(self, args, display):
        self.work = os.path.dirname(os.path.abspath(args.out))
        self.keep = False
        self.stub = os.path.join(args.win32, "bootstrapper.exe")
        self.fixtures = os.path.join(args.tests, "tests", "fixtures")
        self.bootpack = args.bootpack
        self.collector = args.collector
        self.display = display
        self.probe = rig.Probe(os.path.join(self.work, "e2e", "tools"))
        self.input = rig.Input(display.env)

    def fixture(self, name):
        return os.path.join(self.fixtures, name)

    def pack(self, run, entries):
        # The configuration is kept where the user can read it.
        with open(os.path.join(run.dir, "CONFIG.TXT"), "wb") as f:
            f.write(entries["CONFIG.TXT"])
        lint = subprocess.run([self.bootpack, "lint", os.path.join(run.dir, "CONFIG.TXT")],
                              capture_output=True, text=True)
        print(lint.stdout + lint.stderr, end="")
        if lint.returncode >= 2:
            raise SystemExit("demo: the generated CONFIG.TXT has errors")
        payload.pack([self.bootpack], self.stub, run.exe, entries, os.path.join(run.dir, "payload"))
        print(subprocess.run([self.bootpack, "list", run.exe], capture_output=True,
                             text=True).stdout, end="")


def demo_entries():
    """The upper-case files of demo/: pictures and licence texts."""
    folder = os.path.join(rig.ROOT, "demo")
    return {name: os.path.join(folder, name) for name in sorted(os.listdir(folder))
            if name == name.upper() and name != "CONFIG.TXT"}


def photograph(r, out):
    """As a person: looks at each window, accepts the licence with Enter,
    asks to cancel and thinks better of it."""
    splash = r.wait_window("splash")
    time.sleep(0.5)
    shots = {"splash": r.shot("splash", splash)}
    licence = r.wait_window("licence", timeout=60)
    r.focus(road.TITLE)
    time.sleep(0.8)
    shots["licence"] = r.shot("licence", licence)
    r.key("Return")
    progress = r.wait_window("progress")
    r.focus(road.TITLE)
    time.sleep(2.5)
    shots["progress"] = r.shot("progress", r.now("progress") or progress)
    r.click(progress, 1012)
    box = r.wait_window("box", "Abort Installation")
    time.sleep(0.5)
    shots["cancel-confirmation"] = r.shot("cancel-confirmation", _around(progress, box))
    r.answer_box("Abort Installation", "No")
    for name, path in shots.items():
        final = os.path.join(out, name + ".png")
        shutil.copyfile(path, final)
        print(f"demo: {final}")


def _around(*windows):
    """A window dict whose rectangle holds all the given windows."""
    rects = [w["rect"] for w in windows]
    return {"rect": [min(r[0] for r in rects), min(r[1] for r in rects),
                     max(r[2] for r in rects), max(r[3] for r in rects)]}


# Bytes a report target may not hold as they are (the sender's own
# EncodeRequestTarget): controls, space, these, DEL and everything from 0x80.
UNSAFE = b' "#%<>\\^`{|}'
REPLAY_BUILD = "demo-replay"


def encode_target(text):
    return "".join(chr(b) if 0x20 < b < 0x7F and b not in UNSAFE else f"%{b:02X}"
                   for b in text)


def replay_as_second_build(log_server):
    """Sends the run's stored reports to the collector's public port again,
    as the senders do, under a new run id and the WATERMARK REPLAY_BUILD:
    a second build with the same funnel, so that `report --compare` has two
    builds to set side by side. Returns the run's own watermark."""
    with sqlite3.connect(log_server.db) as db:
        db.text_factory = bytes  # a record's texts are 8-bit, as sent
        rows = db.execute("SELECT agent, watermark, event_id, description, timestamp"
                          " FROM reports ORDER BY id").fetchall()
    original = next((w for _, w, event, _, _ in rows if event == 3021 and w), b"")
    token = str(uuid.uuid4()).upper().encode()
    connection = http.client.HTTPConnection(servers.HOST, log_server.PORT, timeout=10)
    for agent, watermark, event, description, timestamp in rows:
        record = b"TOKEN='" + token + b"',"
        if agent:
            record += b"AGENT='" + agent + b"',"
        if watermark:
            record += b"WATERMARK='" + REPLAY_BUILD.encode() + b"',"
        record += b"EVENTID='%d',DESC='%s',TIMESTAMP='%s'" % (event, description, timestamp)
        connection.putrequest("GET", "/?" + encode_target(record), skip_accept_encoding=True)
        connection.endheaders()
        answer = connection.getresponse()
        answer.read()
        if answer.status != 200:
            raise SystemExit(f"demo: the collector answered {answer.status} to a replayed report")
    connection.close()
    return original.decode("latin-1")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    parser.add_argument("--win32", default=os.path.join(rig.ROOT, "build", "win32"))
    parser.add_argument("--tests", default=os.path.join(rig.ROOT, "build", "win32-tests"))
    parser.add_argument("--bootpack", default=os.path.join(rig.ROOT, "build", "host", "bootpack"))
    parser.add_argument("--collector", default=os.path.join(rig.ROOT, "build", "host", "tools",
                                                            "collector", "kestrel-collector"))
    parser.add_argument("--out", default=os.path.join(rig.ROOT, "build", "demo"))
    parser.add_argument("--headless", action="store_true", help="run on a private display even "
                        "when $DISPLAY is set")
    parser.add_argument("--launcher-ms", type=int, default=8000,
                        help="how long the fake launcher runs (default 8000)")
    args = parser.parse_args()

    interactive = bool(os.environ.get("DISPLAY")) and not args.headless
    if not servers.port_is_free(servers.LogServer.PORT):
        print("demo: port 80 is taken; waiting up to a minute for it", flush=True)
    display = Screen() if interactive else rig.Display()
    try:
        context = Context(args, display)
        name = os.path.basename(os.path.abspath(args.out))
        # A fresh machine: nothing installed, the fixtures on the download server.
        r = road.Run(name, {"launcher_ms": args.launcher_ms, "entries": demo_entries(),
                            "log_server": "collector"}, context)
        os.rmdir(r.cwd)
        r.cwd = r.dir
        r.exe = os.path.join(r.dir, "KestrelSetup-demo.exe")
        run_demo(r, interactive)
    finally:
        display.stop()
    return 0 if r.exit_code == 0 else 1


def run_demo(r, interactive):
    try:
        r.prepare()
        print(f"demo: downloads from http://{servers.HOST}:{r.downloads.port}/, "
              f"event reports to kestrel-collector on http://{servers.HOST}:80/ "
              f"(its funnel: http://{r.log_server.pages}/report)")
        r.start()
        if interactive:
            print(f"demo: {os.path.basename(r.exe)} runs on {os.environ['DISPLAY']}; click through it")
        else:
            photograph(r, r.dir)
        r.wait_exit(600)
    finally:
        r.finish()
        print("\n==================== TorvaneLogFile.txt ====================")
        print((r.log_text() or "(none)").replace("\r\n", "\n").strip("\n"))
        print("=============================================================")
        print(f"demo: {len(r.reports())} event reports reached the log server; "
              f"{os.path.basename(r.exe)} exited with {r.exit_code}")
        if r.log_server:
            print("\n==================== kestrel-collector report ====================")
            print(r.log_server.funnel().rstrip("\n"))
            print(f"demo: the reports are in {r.log_server.db}")
        r.keep_artefacts()
        shutil.rmtree(r.prefix.path, ignore_errors=True)
        if r.log_server and r.reports():
            print_compared_builds(r)


def print_compared_builds(r):
    """The run's build against a second one: a copy of the store, to which a
    collector of its own receives the run's reports once more as REPLAY_BUILD."""
    db = os.path.join(r.dir, "compared.db")
    for leftover in (db, db + "-wal", db + "-shm"):
        if os.path.exists(leftover):
            os.remove(leftover)
    for suffix in ("", "-wal"):
        if os.path.exists(r.log_server.db + suffix):
            shutil.copyfile(r.log_server.db + suffix, db + suffix)
    second = servers.CollectorLogServer(r.log_server.program, db)
    try:
        compared = replay_as_second_build(second)
    finally:
        second.stop()
    print(f"\n======== kestrel-collector report --compare (the run's build) {REPLAY_BUILD} ========")
    print(subprocess.run([r.log_server.program, "report", "--db", db, "--compare", compared,
                          REPLAY_BUILD], capture_output=True,
                         text=True).stdout.split("\n\nBuild ")[0].rstrip("\n"))
    print("demo: one run a build is too few to test (p \"-\"); with enough runs a step whose"
          " conversion fell is marked ! and the command exits 1")
    print(f"demo: both builds are in {db}")


if __name__ == "__main__":
    sys.exit(main())
