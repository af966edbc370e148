"""A road's windows and input: the record of what the windows did, waits on
it, the probe's live look, xdotool input as a person gives it, screenshots,
and the end of Setup.exe and of the prefix."""

import os
import re
import time

import rig

TITLE = "Kestrel - Solitaire Parlor"

# Processes every prefix has; anything else alive after the run is a leftover.
WINE_PROCESSES = {
    "services.exe", "winedevice.exe", "explorer.exe", "plugplay.exe", "svchost.exe",
    "rpcss.exe", "conhost.exe", "wininfo.exe", "start.exe", "rundll32.exe", "tabtip.exe",
    # The product's own fire-and-forget kill command, often still ending.
    "taskkill.exe",
}

# Message box button ids.
BUTTONS = {"OK": 1, "Cancel": 2, "Yes": 6, "No": 7}


class Failed(Exception):
    """A wait that cannot go on; the road stops there."""


class Skipped(Exception):
    """The machine cannot give the road what it needs; it stops, unjudged."""


class RoadWindows:
    """What a Run sees of the windows and does to them."""

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


def control_of(window, control_id):
    for control in window["controls"]:
        if control["id"] == control_id:
            return control
    raise Failed(f"window {window['title']!r} has no control {control_id}")
