"""The machinery under an end-to-end run: the private X display of
scripts/xvfb.sh, a fresh Wine prefix per run with the environment of
scripts/wine-prefix.sh, the window probe, xdotool input,
screenshots and pixel reads, and the registry as Wine saves it."""

import getpass
import json
import os
import re
import subprocess
import tempfile
import time

from window_record import cp1252

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
HERE = os.path.dirname(os.path.abspath(__file__))
IMPORT = "/usr/bin/import"
CONVERT = "/usr/bin/convert"

SCRIPTS = os.path.join(ROOT, "scripts")


def run(command, timeout=60, check=True, **kwargs):
    """Runs a command; its output goes through a file, because a wineserver
    that a `wine` command starts keeps that command's pipes open."""
    with tempfile.TemporaryFile() as out:
        result = subprocess.run(command, stdout=out, stderr=subprocess.STDOUT, timeout=timeout,
                                **kwargs)
        out.seek(0)
        result.stdout = out.read().decode("utf-8", "replace")
    if check and result.returncode != 0:
        raise RuntimeError(f"{command[0]} failed ({result.returncode}): {result.stdout.strip()}")
    return result


def windows_path(unix_path):
    """The Z: drive path Wine maps a Unix path to."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


def wine_env(prefix):
    """The environment of Wine calls in `prefix`, as scripts/wine-prefix.sh
    defines it for every Wine run of the rig."""
    out = run([os.path.join(SCRIPTS, "wine-prefix.sh"), "env", prefix]).stdout
    return dict(line.split("=", 1) for line in out.splitlines() if "=" in line)


class Display:
    """The private display of scripts/xvfb.sh (Xvfb picking its own display
    number, with openbox), held for as long as this object lives."""

    def __init__(self):
        self._holder = subprocess.Popen([os.path.join(SCRIPTS, "xvfb.sh"), "--hold"],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE)
        said = self._holder.stdout.readline().decode("utf-8", "replace").strip()
        if not said.startswith("DISPLAY="):
            self.stop()
            raise RuntimeError(f"scripts/xvfb.sh --hold gave no display: "
                               f"{self._holder.stderr.read().decode('utf-8', 'replace')[-800:]!r}")
        self.name = said.split("=", 1)[1]
        self.env = dict(os.environ, DISPLAY=self.name)

    def stop(self):
        """Closing the holder's input makes it tear the display down."""
        if self._holder.poll() is None:
            self._holder.stdin.close()
            try:
                self._holder.wait(15)
            except subprocess.TimeoutExpired:
                self._holder.terminate()
                self._holder.wait(5)


class Prefix:
    """A fresh copy of the template prefix (scripts/wine-prefix.sh), reporting
    Windows XP, with its own wineserver."""

    def __init__(self, path, display_env):
        self.path = path
        subprocess.run([os.path.join(ROOT, "scripts", "wine-prefix.sh"), "new", path], check=True,
                       stdout=subprocess.DEVNULL)
        self.env = dict(display_env, **wine_env(path))
        self.user = getpass.getuser()
        # Our own server, started with no output of ours to inherit; it lives
        # until kill().
        subprocess.run(["wineserver", "-p"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def unix(self, windows):
        """The Unix path of a C: path inside the prefix."""
        assert windows[:3].upper() == "C:\\", windows
        return os.path.join(self.path, "drive_c", *windows[3:].split("\\"))

    @property
    def temp(self):
        return os.path.join(self.path, "drive_c", "users", self.user, "Temp")

    @property
    def workdir(self):
        return os.path.join(self.temp, "TorvaneInstaller")

    def wine(self, args, cwd=None, env=None, timeout=60, check=True):
        return run(["wine"] + list(args), timeout=timeout, check=check, cwd=cwd,
                   env=dict(self.env, **(env or {})))

    def start(self, args, cwd, env=None, log=None):
        return subprocess.Popen(["wine"] + list(args), cwd=cwd, env=dict(self.env, **(env or {})),
                                stdout=log or subprocess.DEVNULL, stderr=subprocess.STDOUT)

    def report_windows(self, version):
        self.wine(["reg", "add", r"HKCU\Software\Wine", "/v", "Version", "/d", version, "/f"])

    def import_reg(self, lines, folder):
        """Imports REGEDIT4 lines such as '[HKEY_LOCAL_MACHINE\\...]' and
        '"Install"=dword:00000001'."""
        path = os.path.join(folder, "machine.reg")
        with open(path, "w", newline="\r\n") as f:
            f.write("REGEDIT4\n\n" + "\n".join(lines) + "\n")
        self.wine(["regedit", "/s", windows_path(path)])

    def msiexec_install(self, msi):
        self.wine(["msiexec", "/i", windows_path(msi), "/qn", "REBOOT=ReallySuppress"], timeout=120)

    def kill(self):
        """Ends every process of the prefix (leftover launchers included) and
        waits for the wineserver, which then saves the registry. True when it
        ended by itself; after 60 s every process of the prefix is killed
        outright (and the registry may be unsaved)."""
        subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            subprocess.run(["wineserver", "-w"], env=self.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=60)
            return True
        except subprocess.TimeoutExpired:
            self._kill_outright()
            return False

    def _kill_outright(self):
        """SIGKILL to every process whose environment names this prefix."""
        mark = ("WINEPREFIX=" + self.path).encode()
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{pid}/environ", "rb") as f:
                    if mark in f.read().split(b"\0"):
                        os.kill(int(pid), 9)
            except (OSError, ValueError):
                pass  # gone meanwhile, or not ours to read

    def registry_value(self, root, key, name):
        """A value as Wine saved it (call after kill): an int for a dword, a
        str for a string, None when absent. root is HKLM or HKCU."""
        file = {"HKLM": "system.reg", "HKCU": "user.reg"}[root]
        header = "[" + key.replace("\\", "\\\\").lower() + "]"
        with open(os.path.join(self.path, file), encoding="utf-8", errors="replace") as f:
            lines = f.read().splitlines()
        inside = False
        for line in lines:
            if line.startswith("["):
                inside = line.lower().split("]")[0] + "]" == header
                continue
            if not inside or not line.startswith('"'):
                continue
            match = re.match(r'"((?:[^"\\]|\\.)*)"=(.*)$', line)
            if not match or match.group(1).lower() != name.lower():
                continue
            value = match.group(2)
            if value.startswith("dword:"):
                return int(value[6:], 16)
            if value.startswith('"'):
                return re.sub(r"\\(.)", r"\1", value[1:-1])
            return value
        return None


class Probe:
    """tests/e2e/wininfo.c and the window recorder DLL, built once, run inside
    a prefix. The probe looks at windows as they are now, which is what input
    needs (where to click); what a road asserts on comes from the record."""

    def __init__(self, tools_dir):
        sources = [os.path.join(HERE, name) for name in ("wininfo.c", "window_recorder.c", "window_json.h")]
        newest = max(os.path.getmtime(path) for path in sources)
        self.exe = os.path.join(tools_dir, "wininfo.exe")
        self.recorder = os.path.join(tools_dir, "window_recorder.dll")
        os.makedirs(tools_dir, exist_ok=True)
        for target, source, extra in ((self.exe, "wininfo.c", []),
                                      (self.recorder, "window_recorder.c", ["-shared"])):
            if not os.path.exists(target) or os.path.getmtime(target) < newest:
                run(["i686-w64-mingw32-gcc", "-O1", "-s", "-Wall"] + extra
                    + ["-o", target, os.path.join(HERE, source)])

    def _lines(self, prefix, *what):
        # Output goes through a file, not a pipe: a wineserver started by
        # this `wine` would hold a pipe open for its whole life.
        with tempfile.TemporaryFile() as out:
            subprocess.run(["wine", windows_path(self.exe)] + list(what), env=prefix.env, stdout=out,
                           stderr=subprocess.DEVNULL, timeout=30)
            out.seek(0)
            text = out.read().decode("ascii", "replace")
        lines = []
        for line in text.splitlines():
            line = line.strip()
            if line.startswith("{"):
                try:
                    lines.append(json.loads(line))
                except ValueError:
                    pass  # a window that went away in mid-line
        return lines

    @staticmethod
    def _letters(window):
        window["title"] = cp1252(window["title"])
        for control in window["controls"]:
            control["text"] = cp1252(control["text"])
        return window

    def windows(self, prefix):
        return [self._letters(w) for w in self._lines(prefix, "windows")]

    def window(self, prefix, hwnd):
        """The window as it is now, once it has painted; None when it is gone."""
        found = self._lines(prefix, "window", str(hwnd))
        return self._letters(found[0]) if found else None

    def processes(self, prefix):
        return self._lines(prefix, "processes")

    def start_recording(self, prefix, log_path):
        """Installs the recorder's hook for the prefix's desktop; it stays until
        the prefix's processes are ended. Programs whose environment has
        KESTREL_WINDOW_RECORD then write their windows' changes there."""
        out = open(log_path, "wb")
        process = subprocess.Popen(["wine", windows_path(self.exe), "record",
                                    windows_path(self.recorder)],
                                   env=prefix.env, stdout=out, stderr=subprocess.STDOUT)
        deadline = time.time() + 30
        while time.time() < deadline:
            with open(log_path, "rb") as f:
                said = f.read()
            if b"recording" in said:
                return process
            if process.poll() is not None:
                break
            time.sleep(0.05)
        raise RuntimeError(f"the window recorder did not start: {said.decode('ascii', 'replace')}")


def _ere(text):
    return "^" + re.sub(r"([.\[\](){}*+?|^$\\])", r"\\\1", text) + "$"


class Input:
    """xdotool as a person uses the mouse and the keyboard."""

    def __init__(self, env):
        self.env = env

    def _xdotool(self, *args, timeout=10):
        return subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env,
                              capture_output=True, text=True, timeout=timeout)

    def search(self, title):
        """Ids of the visible windows named exactly `title`."""
        try:
            result = subprocess.run(["timeout", "5", "xdotool", "search", "--onlyvisible", "--name",
                                     _ere(title)], env=self.env, capture_output=True, text=True,
                                    timeout=10)
        except subprocess.TimeoutExpired:
            return []
        return [int(x) for x in result.stdout.split()]

    def activate(self, window_id):
        self._xdotool("windowactivate", "--sync", window_id)

    def key(self, *keys):
        self._xdotool("key", *keys)

    def click(self, x, y):
        # mousemove --sync waits for a motion event, which never comes when
        # the pointer already stands there (an earlier box at the same spot).
        here = self._xdotool("getmouselocation", "--shell").stdout.split()
        if f"X={x}" in here and f"Y={y}" in here:
            self._xdotool("click", "1")
        else:
            self._xdotool("mousemove", "--sync", x, y, "click", "1")

    def move(self, x, y):
        """The pointer to (x, y), so that a later click there is at once."""
        self._xdotool("mousemove", "--sync", x, y)

    def geometry(self, window_id):
        out = self._xdotool("getwindowgeometry", "--shell", window_id).stdout
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return {k: int(v) for k, v in values.items() if v.lstrip("-").isdigit()}


def screenshot(env, path, rect=None):
    """The screen, or the part [left, top, right, bottom] of it."""
    command = [IMPORT, "-window", "root"]
    if rect:
        left, top, right, bottom = rect
        command += ["-crop", f"{right - left}x{bottom - top}+{left}+{top}", "+repage"]
    run(command + [path], env=env)
    return path


def image_size(path):
    out = run(["identify", "-format", "%w %h", path]).stdout.split()
    return int(out[0]), int(out[1])


def pixels(path, points):
    """(r, g, b) of each (x, y) in `points`."""
    fields = " ".join(
        f"%[fx:int(255*p{{{x},{y}}}.r+0.5)],%[fx:int(255*p{{{x},{y}}}.g+0.5)],"
        f"%[fx:int(255*p{{{x},{y}}}.b+0.5)]"
        for x, y in points
    )
    out = run([CONVERT, path, "-format", fields, "info:"]).stdout.split()
    return [tuple(int(v) for v in item.split(",")) for item in out]


def near(colour, expected, tolerance=24):
    return all(abs(a - b) <= tolerance for a, b in zip(colour, expected))
