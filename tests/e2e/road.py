"""One end-to-end run ("a road"): the machine, the servers and the payload a
scenario asks for, the bootstrapper started under Wine, the person's input,
and the checks of what the run left behind.

A scenario is a function of a `Run`, registered with `@scenario(name, ...)`;
the keyword arguments describe the set-up, the function body is the input
script followed by the expectations. See README.md here."""

import collections
import datetime
import os
import re
import shutil
import threading
import time
import traceback
import urllib.parse

import catalog
import payload
import rig
import servers
from window_record import WindowRecord, kind_of

SCENARIOS = collections.OrderedDict()

TITLE = "Kestrel - Solitaire Parlor"
BANNER = "\r\n" * 4 + "*" * 17 + "TORVANE NETWORKS WAYFARER" + "*" * 17 + "\r\n" * 2
RECORD = re.compile(
    r"^(?:(AGENT|WATERMARK)='([^']*)',)?EVENTID='(-?\d+)',DESC='(.*)',"
    r"TIMESTAMP='(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})'$"
)
UUID = re.compile(r"^[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}$")

# Processes every prefix has; anything else alive after the run is a leftover.
WINE_PROCESSES = {
    "services.exe", "winedevice.exe", "explorer.exe", "plugplay.exe", "svchost.exe",
    "rpcss.exe", "conhost.exe", "wininfo.exe", "start.exe", "rundll32.exe", "tabtip.exe",
    # The product's own fire-and-forget kill command, often still ending.
    "taskkill.exe",
}

# Message box button ids.
BUTTONS = {"OK": 1, "Cancel": 2, "Yes": 6, "No": 7}

# Registry values of the installed components.
NDP11 = r"Software\Microsoft\NET Framework Setup\NDP\v1.1.4322"
AGENT_KEY = r"SOFTWARE\Torvane"


def scenario(name, **setup):
    """Registers a road. Set-up keywords (all optional):
    downloads   path -> servers.Fault (default: primary addresses serve the
                fixtures, every other path is a 404)
    log_server  True (record reports on 127.0.0.1:80) or False (down)
    config      CONFIG.TXT overrides: key -> value, or None to drop the key
    entries     payload entry overrides: name -> bytes / path, or None to drop
    installed   components present beforehand: "dotnet", "servicepack", "agent"
    windows     the Windows version the prefix reports ("win7"; default XP)
    cwd_files   files under the current directory: relative path -> fixture
                file name or bytes (e.g. "launcher/miniserver.exe")
    workdir_files  the same in the working directory (side files of fixtures)
    env         environment of the bootstrapper and what it starts
    launcher_ms run time of the fake launcher and MiniServer (default 3000)
    timeout     seconds the whole road may take (default 240)"""

    def register(road):
        SCENARIOS[name] = (road, setup)
        return road

    return register


def primary_downloads():
    return {
        payload.DOTNET_PRIMARY: servers.serve("fake_dotnetfx.exe"),
        payload.SP_PRIMARY: servers.serve("fake_dotnet_sp.exe"),
        payload.AGENT_PATH: servers.serve("TestAgent.msi"),
    }


class Failed(Exception):
    """A wait that cannot go on; the road stops there."""


class Record:
    def __init__(self, line):
        self.line = line
        match = RECORD.match(line)
        self.valid = bool(match)
        if not match:
            self.id = None
            return
        self.field, self.field_value, event, self.desc, self.timestamp = match.groups()
        self.id = int(event)
        self.time = (
            datetime.datetime.strptime(self.timestamp, "%Y-%m-%d %H:%M:%S.%f")
            .replace(tzinfo=datetime.timezone.utc)
            .timestamp()
        )

    def __repr__(self):
        return str(self.id)


class Run:
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

    # ----- set-up -------------------------------------------------------

    def prepare(self):
        s = self.setup
        self.prefix = rig.Prefix(os.path.join(self.dir, "prefix"), self.ctx.display.env)
        if s.get("windows"):
            self.prefix.report_windows(s["windows"])
        installed = set(s.get("installed", ()))
        lines = []
        if "dotnet" in installed:
            lines += ["[HKEY_LOCAL_MACHINE\\" + NDP11 + "]", '"Install"=dword:00000001']
        if "servicepack" in installed:
            if "dotnet" not in installed:
                lines.append("[HKEY_LOCAL_MACHINE\\" + NDP11 + "]")
            lines.append('"SP"=dword:00000001')
        if lines:
            self.prefix.import_reg(lines, self.dir)
        if "agent" in installed:
            self.prefix.msiexec_install(self.ctx.fixture("TestAgent.msi"))
        self._place(self.cwd, s.get("cwd_files", {}))
        self._place(self.prefix.workdir, s.get("workdir_files", {}))

        routes = s.get("downloads")
        routes = primary_downloads() if routes is None else routes
        for fault in routes.values():
            fault.load(self.ctx.fixtures)
        self.downloads = servers.DownloadServer(routes)
        if s.get("log_server", True):
            self.log_server = servers.LogServer()
        elif not servers.port_is_free(servers.LogServer.PORT):
            self.note("port 80 is taken by someone else: the log server is not really down")

        values = {
            "host": servers.HOST,
            "base": f"http://{servers.HOST}:{self.downloads.port}",
            "dotnet_md5": payload.md5_of(self.ctx.fixture("fake_dotnetfx.exe")),
            "sp_md5": payload.md5_of(self.ctx.fixture("fake_dotnet_sp.exe")),
        }
        entries = {"CONFIG.TXT": payload.config_text(values, s.get("config"))}
        for name in payload.PICTURES + payload.LICENCES:
            entries[name] = os.path.join(rig.ROOT, "demo", name)
        for name, content in s.get("entries", {}).items():
            if content is None:
                entries.pop(name, None)
            else:
                entries[name] = content
        self.ctx.pack(self, entries)
        # Last, so that nothing the set-up ran is recorded; it also starts the
        # prefix's Wine before Setup.exe (two programs started at the same
        # moment in a fresh prefix may hang).
        self.ctx.probe.start_recording(self.prefix, os.path.join(self.dir, "recorder.out"))

    def _place(self, folder, files):
        for relative, content in files.items():
            path = os.path.join(folder, *relative.split("/"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            if isinstance(content, (bytes, bytearray)):
                with open(path, "wb") as f:
                    f.write(content)
            else:
                shutil.copyfile(self.ctx.fixture(content), path)

    def _environment(self):
        ms = str(self.setup.get("launcher_ms", 3000))
        env = {"KESTREL_FAKE_LAUNCHER_MS": ms, "KESTREL_FAKE_MINISERVER_MS": ms,
               "KESTREL_WINDOW_RECORD": rig.windows_path(self.record.path)}
        env.update(self.setup.get("env", {}))
        return env

    # ----- running ------------------------------------------------------

    def start(self):
        """Starts Setup.exe from the current directory."""
        self._wine_log = open(os.path.join(self.dir, "wine.log"), "wb")
        self.process = self.prefix.start([rig.windows_path(self.exe)], self.cwd, self._environment(),
                                         self._wine_log)
        self.started = time.time()
        return self.process

    def start_second(self):
        """A second copy of the same Setup.exe, as a user double-clicking again."""
        return self.prefix.start([rig.windows_path(self.exe)], self.cwd, self._environment(),
                                 self._wine_log)

    # ----- what the windows did ---------------------------------------------

    @property
    def windows_seen(self):
        """(kind, title) of every window, in the order they opened."""
        return self.record.refresh().seen()

    @property
    def boxes(self):
        """(title, text) of every message box, in the order they opened."""
        return self.record.refresh().boxes()

    def texts(self, kind, control_id):
        """Every text a control of the windows of `kind` showed, in order."""
        return self.record.refresh().texts(kind, control_id)

    def wait_until(self, condition, timeout, what):
        """Waits until condition() (on a fresh record) gives something true,
        and returns it."""
        deadline = time.time() + timeout
        while True:
            self.record.refresh()
            found = condition()
            if found:
                return found
            if time.time() > deadline or (self.process and self.process.poll() is not None
                                          and not condition()):
                self.shot("no-" + what.split()[0])
                raise Failed(f"no {what} within {timeout} s")
            time.sleep(0.05)

    def live(self, window):
        """A recorded window as the probe sees it now (where its controls
        are), or as the record last knew it when it has gone."""
        return self.ctx.probe.window(self.prefix, window.hwnd) or window.as_dict()

    def recorded(self, kind, title=None, timeout=30, skip=()):
        """The first open window of `kind` ("splash", "licence", "progress",
        "box"), optionally with `title`, as recorded."""
        return self.wait_until(lambda: next(iter(self.record.of_kind(kind, title, True, skip)), None),
                              timeout, f"{kind} window{' ' + repr(title) if title else ''}")

    def wait_window(self, kind, title=None, timeout=30):
        """The first open window of `kind`, as the probe sees it now."""
        return self.live(self.recorded(kind, title, timeout))

    def now(self, kind, title=None):
        """The open window of `kind` as the probe sees it now, or None."""
        found = self.record.refresh().of_kind(kind, title, open_only=True)
        return self.live(found[0]) if found else None

    def gone(self, kind, title=None, timeout=10):
        try:
            self.wait_until(lambda: not self.record.of_kind(kind, title, open_only=True), timeout,
                           f"end of the {kind} window")
            return True
        except Failed:
            return False

    def wait_text(self, kind, control_id, text, timeout=10):
        """Waits until the control has shown `text` (now or before)."""
        try:
            self.wait_until(lambda: text in self.record.texts(kind, control_id), timeout,
                           f"text {text!r}")
            return True
        except Failed:
            return False

    def focus(self, title, timeout=20):
        """Finds the window by its title as X sees it and activates it."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            ids = self.ctx.input.search(title)
            if ids:
                self.ctx.input.activate(ids[-1])
                return ids[-1]
            time.sleep(0.2)
        raise Failed(f"xdotool found no window {title!r}")

    def key(self, *keys):
        self.ctx.input.key(*keys)

    def click(self, window, control_id):
        """Clicks the middle of a control of a window as the probe saw it."""
        control = control_of(window, control_id)
        left, top, right, bottom = control["rect"]
        self.ctx.input.click((left + right) // 2, (top + bottom) // 2)

    def control(self, kind, control_id, title=None):
        return control_of(self.wait_window(kind, title), control_id)

    def answer_box(self, title, button="OK", timeout=30, icon=None, key=None, skip=()):
        """Waits for a message box (not one of `skip`, handles), brings it to
        the front and clicks a button, or presses `key`; returns the box as
        recorded once it has closed. icon: True or False checks, before
        answering, whether it shows one."""
        recorded = self.recorded("box", title, timeout, skip)
        box = self.live(recorded)
        self.focus(title)
        if icon is not None:
            shown = self.icon_shown(self.live(recorded))  # painted: the probe waits for that
            self.check(shown == icon, f"the {title!r} box {'lacks' if icon else 'shows'} an icon")
        if key:
            self.key(key)
        else:
            self.click(box, BUTTONS[button])
        try:
            self.wait_until(lambda: not recorded.shown, 5, "end of the box")
        except Failed:
            self.fail(f"the {title!r} box stayed after {key or button}")
        return recorded

    def accept_licence(self):
        """As a person: waits for the licence, brings it to the front and
        presses Enter on the focused OK button."""
        self.wait_window("licence")
        self.focus(TITLE)
        time.sleep(0.5)  # OK gets the focus from a message the window posts itself
        self.key("Return")
        self.wait_event(9003, 10)

    def wait_event(self, event_id, timeout=30):
        deadline = time.time() + timeout
        while time.time() < deadline:
            if any(r.id == event_id for r in self.records()):
                return
            if self.process and self.process.poll() is not None:
                break
            time.sleep(0.2)
        raise Failed(f"event {event_id} not logged within {timeout} s")

    def wait_exit(self, timeout=120):
        try:
            self.exit_code = self.process.wait(timeout)
        except Exception:
            self.shot("stuck")
            raise Failed(f"Setup.exe still running after {timeout} s; windows: "
                         + ", ".join(f"{k} {t!r}" for k, t in self.windows_seen))
        self.ended = time.time()
        self._settle()
        return self.exit_code

    def _settle(self):
        """Notes what still runs in the prefix (Wine's taskkill ends nothing
        that the product names with a wildcard), then ends it all, so the
        registry is saved and later checks see a quiet machine."""
        if self._settled or not self.prefix:
            return
        self._settled = True
        try:
            procs = self.ctx.probe.processes(self.prefix)
            self.leftovers = sorted({p["exe"] for p in procs} - WINE_PROCESSES)
        except Exception:
            pass
        if not self.prefix.kill():
            self.fail("the prefix's wineserver did not end within 60 s of wineserver -k; "
                      "its processes were killed")

    def shot(self, name, window=None):
        """A screenshot of the screen, or of a window as the probe saw it."""
        self._shot_count += 1
        path = os.path.join(self.dir, f"{self._shot_count:02d}-{name}.png")
        try:
            rig.screenshot(self.ctx.display.env, path, window["rect"] if window else None)
        except Exception as error:
            self.note(f"screenshot {name}: {error}")
        return path

    def icon_shown(self, box):
        """Whether a message box shows an icon. The system's icons are
        coloured; where there is none, the box's grey and its black text
        fill the icon's place."""
        for control in box["controls"]:
            if control["id"] == 1088 and control["visible"]:
                path = self.shot("icon", control)
                out = rig.run([rig.CONVERT, path, "-depth", "8", "txt:-"]).stdout
                coloured = 0
                for match in re.finditer(r"\((\d+),(\d+),(\d+)", out):
                    rgb = [int(v) for v in match.groups()]
                    coloured += max(rgb) - min(rgb) > 40
                return coloured >= 10
        return False

    def finish(self):
        """After the road: stops what is left in the prefix, and the servers."""
        if self.process and self.process.poll() is None:
            self.process.kill()
        self._settle()
        for server in (self.downloads, self.log_server):
            if server:
                server.stop()

    # ----- what the run left --------------------------------------------

    def log_text(self):
        try:
            with open(os.path.join(self.prefix.workdir, "TorvaneLogFile.txt"), "rb") as f:
                return f.read().decode("cp1252")
        except FileNotFoundError:
            return None

    def records(self):
        text = self.log_text()
        if not text or not text.startswith(BANNER):
            return []
        return [Record(line) for line in text[len(BANNER):].split("\r\n") if line]

    def ids(self):
        return [r.id for r in self.records()]

    def reports(self):
        return self.log_server.requests if self.log_server else []

    def workdir_file(self, name):
        path = os.path.join(self.prefix.workdir, name)
        if not os.path.exists(path):
            return None
        with open(path, "rb") as f:
            return f.read().decode("cp1252")

    # ----- checks: each records a failure and goes on ----------------------

    def fail(self, message):
        self.failures.append(message)

    def note(self, message):
        if message not in self.notes:
            self.notes.append(message)

    def check(self, condition, message):
        if not condition:
            self.fail(message)
        return condition

    def expect_exit(self, code=0):
        self.check(self.exit_code == code, f"exit code {self.exit_code}, expected {code}")

    def expect_events(self, *chains, complete=False):
        """Each chain (a tuple of ids; a single flat list of ids is one chain)
        must appear in the log in that order, others may come between.
        complete: the log holds exactly these ids, each once."""
        if chains and not isinstance(chains[0], (tuple, list)):
            chains = (chains,)
        ids = self.ids()
        for chain in chains:
            chain = [i for i in chain if i is not Ellipsis]
            position = 0
            for event in chain:
                try:
                    position = ids.index(event, position) + 1
                except ValueError:
                    self.fail(f"event {event} missing or out of order in chain {chain}; log: {ids}")
                    break
        if complete:
            wanted = sorted({i for chain in chains for i in chain if i is not Ellipsis})
            if sorted(ids) != wanted:
                self.fail(f"log events {sorted(ids)}, expected exactly {wanted}")

    def expect_exactly(self, *ids):
        self.check(self.ids() == list(ids), f"log events {self.ids()}, expected {list(ids)}")

    def expect_absent(self, *ids):
        present = [i for i in ids if i in self.ids()]
        self.check(not present, f"unexpected events {present}")

    def expect_log_well_formed(self):
        """Banner, record syntax, each text as the catalogue has it, AGENT only
        on 7003 and WATERMARK only on 3021."""
        text = self.log_text()
        if text is None:
            self.fail("no TorvaneLogFile.txt")
            return
        if not self.check(text.startswith(BANNER), "the log file does not begin with the banner"):
            return
        for record in self.records():
            if not record.valid:
                self.fail(f"malformed log line: {record.line!r}")
                continue
            if record.id not in catalog.VARIABLE and record.desc != catalog.text(record.id):
                self.fail(f"event {record.id} reads {record.desc!r}, "
                          f"expected {catalog.text(record.id)!r}")
            field = {7003: "AGENT", 3021: "WATERMARK"}.get(record.id)
            if record.field != field:
                self.fail(f"event {record.id} carries field {record.field}, expected {field}")

    def expect_agent_field(self, value):
        agent = [r.field_value for r in self.records() if r.id == 7003]
        self.check(agent == [value], f"7003 AGENT {agent}, expected {value!r}")

    def expect_reports(self, delivered=True):
        """delivered: the log server got one request per record, in the log's
        order, each "/?TOKEN='<run id>',<record>" percent-encoded, all with
        the same run id, none before reporting started. Otherwise: none."""
        requests = self.reports()
        if not delivered:
            self.check(not requests, f"{len(requests)} requests reached the log server")
            return
        records = self.records()
        if not self.check(requests, "no request reached the log server"):
            return
        tokens = set()
        decoded = []
        for _, target, agent in requests:
            self.check(re.fullmatch(r"[\x21-\x7e]+", target) is not None,
                       f"request target not encoded: {target!r}")
            self.check(agent == "TORVANE_NETWORKS_WF", f"user agent {agent!r}")
            text = urllib.parse.unquote(target, encoding="cp1252")
            match = re.match(r"^/\?TOKEN='([^']*)',(.*)$", text, re.S)
            if not self.check(match, f"request without TOKEN first: {text!r}"):
                continue
            tokens.add(match.group(1))
            decoded.append(match.group(2))
        self.check(len(tokens) == 1 and UUID.match(next(iter(tokens), "")),
                   f"run ids in the reports: {sorted(tokens)}")
        lines = [r.line for r in records]
        if decoded != lines:
            missing = [line for line in lines if line not in decoded]
            extra = [line for line in decoded if line not in lines]
            self.fail(f"reports differ from the log: {len(decoded)} requests, {len(lines)} records; "
                      f"missing {missing[:3]}, extra {extra[:3]}")
        # Reporting starts as the progress window opens: after the licence
        # was accepted, or after the splash's three seconds without one.
        start = [r.time for r in records if r.id == 9003]
        if not start:
            start = [r.time + 2.9 for r in records if r.id == 4060]
        if start and requests:
            self.check(requests[0][0] >= start[0],
                       f"first report {requests[0][0] - start[0]:.3f} s before reporting began")

    def expect_boxes(self, *boxes):
        """The message boxes seen, in order: (title, text) pairs."""
        self.check(list(self.boxes) == list(boxes),
                   f"message boxes {self.boxes}, expected {list(boxes)}")

    def expect_windows(self, *kinds):
        """The kinds of the main windows seen, in order (message boxes aside)."""
        seen = [k for k, _ in self.windows_seen if k != "box"]
        self.check(seen == list(kinds), f"windows {seen}, expected {list(kinds)}")

    def expect_registry(self, root, key, name, value):
        actual = self.prefix.registry_value(root, key, name)
        self.check(actual == value, f"{root}\\{key} {name} = {actual!r}, expected {value!r}")

    def expect_path(self, windows_path, exists=True):
        present = os.path.exists(self.prefix.unix(windows_path))
        self.check(present == exists, f"{windows_path} {'missing' if exists else 'still there'}")

    def expect_workdir(self, has=(), lacks=()):
        names = set(os.listdir(self.prefix.workdir)) if os.path.isdir(self.prefix.workdir) else set()
        for name in has:
            self.check(name in names, f"working directory lacks {name}")
        for name in lacks:
            self.check(name not in names, f"working directory holds {name}")

    def expect_startup_folder_removed(self):
        self.expect_path(payload.STARTUP_FOLDER, exists=False)

    def expect_text_seen(self, kind, control_id, text):
        seen = self.texts(kind, control_id)
        self.check(text in seen, f"{kind} control {control_id} showed {seen}, never {text!r}")

    def keep_artefacts(self):
        """Copies what tells the story of the run next to its screenshots."""
        text = self.log_text()
        if text is not None:
            with open(os.path.join(self.dir, "TorvaneLogFile.txt"), "w") as f:
                f.write(text.replace("\r\n", "\n"))
        with open(os.path.join(self.dir, "requests.txt"), "w") as f:
            for when, target, _ in self.reports():
                f.write(f"{when:.3f} {target}\n")
        with open(os.path.join(self.dir, "windows.txt"), "w") as f:
            for window in self.record.refresh().windows:
                closed = f"{window.closed - window.opened:.3f} s" if window.closed else "open"
                f.write(f"{window.kind} {window.title!r} ({closed})\n")
                for control in window.controls.values():
                    texts = control.history("text")
                    if len(texts) > 1 or window.kind == "box":
                        f.write(f"    {control.id}: {texts!r}\n")


def control_of(window, control_id):
    for control in window["controls"]:
        if control["id"] == control_id:
            return control
    raise Failed(f"window {window['title']!r} has no control {control_id}")


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
    except Exception:
        run.fail("harness error: " + traceback.format_exc())
    finally:
        run.finish()
        try:
            run.keep_artefacts()
        except Exception:
            pass
        if not context.keep and run.prefix:
            shutil.rmtree(run.prefix.path, ignore_errors=True)
    return not run.failures, time.time() - started, run
