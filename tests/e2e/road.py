"""One end-to-end run ("a road"): the machine, the servers and the payload a
scenario asks for, the bootstrapper started under Wine, the person's input,
and the checks of what the run left behind.

A scenario is a function of a `Run`, registered with `@scenario(name, ...)`;
the keyword arguments describe the set-up, the function body is the input
script followed by the expectations. See README.md here. A Run's concerns
live apart: the set-up and servers in road_servers.py, the windows and input
in road_windows.py, the checks in road_checks.py."""

import collections
import os
import shutil
import threading
import time
import traceback

from road_checks import BANNER, RoadChecks
from road_servers import AGENT_KEY, NDP11, RoadSetUp, primary_downloads
from road_windows import TITLE, Failed, RoadWindows, Skipped
from window_record import WindowRecord

SCENARIOS = collections.OrderedDict()

# What scenarios import from here.
__all__ = ["AGENT_KEY", "BANNER", "NDP11", "SCENARIOS", "TITLE", "Failed", "Run", "Skipped",
           "execute", "primary_downloads", "scenario"]


def scenario(name, **setup):
    """Registers a road. Set-up keywords (all optional):
    downloads   path -> servers.Fault (default: primary addresses serve the
                fixtures, every other path is a 404)
    log_server  True (record reports on servers.HOST:80), "collector" (kestrel-collector
                there, the context's `collector` program) or False (down)
    config      CONFIG.TXT overrides: key -> value, or None to drop the key
    entries     payload entry overrides: name -> bytes / path, or None to drop
    installed   components present beforehand: "dotnet", "servicepack", "agent"
    windows     the Windows version the prefix reports ("win7"; default XP)
    cwd_files   files under the current directory: relative path -> fixture
                file name or bytes (e.g. "launcher/miniserver.exe")
    workdir_files  the same in the working directory (side files of fixtures)
    env         environment of the bootstrapper and what it starts
    trusted_roots  fixture certificates (DER) the prefix's root store trusts
    https       True: every download over https from localhost, whose test
                authority the prefix trusts; "untrusted": the same authority,
                not trusted; "wrong-name", "expired": such a certificate
    launcher_ms run time of the fake launcher and MiniServer (default 3000)
    timeout     seconds the whole road may take (default 240)
    slow        True: the road spends about a minute waiting (the drain, a
                stall limit); queued first when roads run side by side
    in_suite    False: run only when named (a seeded series)"""

    def register(road):
        SCENARIOS[name] = (road, setup)
        return road

    return register


class Run(RoadSetUp, RoadWindows, RoadChecks):
    """One road's run: its folder, its Setup.exe, what it found."""

    def __init__(self, name, setup, context):
        self.name = name
        self.setup = setup
        self.ctx = context
        self.dir = os.path.join(context.work, name)
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(self.dir)
        self.cwd = os.path.join(self.dir, "cwd")
        os.makedirs(self.cwd)
        self.exe = os.path.join(self.cwd, "Setup.exe")
        self.failures = []
        self.notes = []
        self.skipped = None
        self.mounts = []
        self.process = None
        self.exit_code = None
        self.leftovers = []
        # What the windows did, written by the window recorder as it happened.
        self.record = WindowRecord(os.path.join(self.dir, "windows.jsonl"))
        self._shot_count = 0
        self._settled = False
        self.prefix = None
        self.downloads = None
        self.log_server = None

    def finish(self):
        """After the road: stops what is left in the prefix, and the servers."""
        if self.process and self.process.poll() is None:
            self.process.kill()
        self._settle()
        self.stop_servers()


def execute(name, context):
    """Runs one registered road; returns (passed, seconds, run)."""
    road, setup = SCENARIOS[name]
    started = time.time()
    run = Run(name, setup, context)
    try:
        run.prepare()
        deadline = setup.get("timeout", 240)
        timer = threading.Timer(deadline, lambda: run.process and run.process.kill())
        timer.start()
        try:
            road(run)
        finally:
            timer.cancel()
        for line in run.record.refresh().malformed[:3]:
            run.fail(f"malformed window record line: {line[:200]!r}")
    except Failed as error:
        run.fail(str(error))
    except Skipped as why:
        run.skipped = str(why)
    except Exception:
        run.fail("harness error: " + traceback.format_exc())
    finally:
        run.finish()
        try:
            run.keep_artefacts()
        except Exception:
            pass
        run.release_mounts()  # after the artefacts: a log file may live on one
        if not context.keep and run.prefix:
            shutil.rmtree(run.prefix.path, ignore_errors=True)
    return not run.failures, time.time() - started, run
