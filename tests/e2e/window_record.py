"""What the windows of a run did, as the window recorder (window_recorder.c)
wrote it while it happened: every dialog and message box that opened, with
its controls, and every later change of a title, a text, a check mark, a
visibility, an enabled state, and every owner-drawn picture. Nothing here is
a sample: a text shown for a millisecond is in the record.

`WindowRecord(path).refresh()` reads what was appended since the last call;
the rest are views of everything read so far."""

import json


def kind_of(window):
    """splash, licence, progress or box, from the controls a window holds."""
    ids = {c["id"] for c in window["controls"]}
    if 1006 in ids:
        return "licence"
    if 1040 in ids:
        return "progress"
    if 65535 in ids or (window["class"] == "#32770" and ids & {1, 6, 7} and len(ids) <= 5):
        return "box"
    if ids == {1022}:
        return "splash"
    return "other"


def cp1252(text):
    """The recorder passes bytes as code points; make them the letters they are."""
    try:
        return text.encode("latin-1").decode("cp1252")
    except (UnicodeEncodeError, UnicodeDecodeError):
        return text


class Control:
    def __init__(self, data):
        self.id = data["id"]
        self.hwnd = data["hwnd"]
        self.cls = data["class"]
        self.text = cp1252(data["text"])
        self.visible = data["visible"]
        self.enabled = data["enabled"]
        self.checked = data["checked"]
        self.rect = data["rect"]
        self._initial = {field: getattr(self, field)
                         for field in ("text", "visible", "enabled", "checked")}
        # (time, field, value) of every change after the window opened.
        self.changes = []

    def history(self, field):
        """The values `field` took, in order, the one at opening first."""
        return [self._initial[field]] + [v for _, name, v in self.changes if name == field]

    def as_dict(self):
        return {"id": self.id, "hwnd": self.hwnd, "class": self.cls, "text": self.text,
                "visible": self.visible, "enabled": self.enabled, "checked": self.checked,
                "rect": self.rect}


class Window:
    def __init__(self, data, opened):
        self.hwnd = data["hwnd"]
        self.pid = data["pid"]
        self.cls = data["class"]
        self.title = cp1252(data["title"])
        self.rect = data["rect"]
        self.opened = opened
        self.closed = None
        self.visible = data["visible"]  # a dialog is shown just after it opens
        self.kind = kind_of(data)
        self.controls = {}
        self.by_hwnd = {}
        for c in data["controls"]:
            control = Control(c)
            self.controls.setdefault(control.id, control)
            self.by_hwnd[control.hwnd] = control
        self.draws = []  # (time, control id, itemState) of every owner-drawn paint
        # When the window was last shown or restacked: of two windows, the one
        # restacked last lies in front (within the same band).
        self.restacked = None

    @property
    def open(self):
        return self.closed is None

    @property
    def shown(self):
        """Open and on screen (a dialog that has ended is hidden first)."""
        return self.open and self.visible

    def control(self, control_id):
        return self.controls.get(control_id)

    def as_dict(self):
        """The shape the window probe prints, as the record last knew it."""
        return {"hwnd": self.hwnd, "pid": self.pid, "title": self.title, "class": self.cls,
                "rect": self.rect, "enabled": True,
                "controls": [c.as_dict() for c in self.controls.values()]}


class WindowRecord:
    def __init__(self, path):
        self.path = path
        self._offset = 0
        self._pending = b""
        self.windows = []  # in the order they opened
        self._by_hwnd = {}
        self.malformed = []

    def refresh(self):
        try:
            with open(self.path, "rb") as f:
                f.seek(self._offset)
                chunk = f.read()
        except FileNotFoundError:
            return self
        self._offset += len(chunk)
        data = self._pending + chunk
        lines = data.split(b"\n")
        self._pending = lines.pop()  # a line still being written
        for line in lines:
            if line.strip():
                self._apply(line)
        return self

    def _apply(self, line):
        try:
            entry = json.loads(line.decode("ascii", "replace"))
        except ValueError:
            self.malformed.append(line)
            return
        event, t = entry["event"], entry["t"]
        if event == "open":
            window = Window(entry["window"], t)
            # A handle may be reused after its window closed.
            self._by_hwnd[window.hwnd] = window
            self.windows.append(window)
            return
        if event == "close":
            window = self._by_hwnd.get(entry["hwnd"])
            if window and window.open:
                window.closed = t
            return
        window = self._by_hwnd.get(entry.get("top"))
        if window is None or not window.open:
            return  # set while the window was being made: the opening shows the result
        if event == "draw":
            window.draws.append((t, entry["id"], entry["state"]))
            return
        if entry["hwnd"] == window.hwnd:
            if event == "text":
                window.title = cp1252(entry["text"])
            elif event == "show":
                window.visible = entry["visible"]
                if window.visible:
                    window.restacked = t
            elif event == "zorder":
                window.restacked = t
            return
        control = window.by_hwnd.get(entry["hwnd"])
        if control is None:
            return
        field, value = {
            "text": ("text", cp1252(entry.get("text", ""))),
            "check": ("checked", entry.get("checked")),
            "show": ("visible", entry.get("visible")),
            "enable": ("enabled", entry.get("enabled")),
        }[event]
        setattr(control, field, value)
        control.changes.append((t, field, value))

    # ----- views ------------------------------------------------------------

    def of_kind(self, kind, title=None, open_only=False, skip=()):
        """The windows of `kind` (and `title`) in the order they opened;
        open_only: those on screen now."""
        return [w for w in self.windows
                if w.kind == kind and (title is None or w.title == title)
                and (not open_only or w.shown) and w.hwnd not in skip]

    def seen(self):
        """(kind, title) of every window, in the order they opened."""
        return [(w.kind, w.title) for w in self.windows if w.kind != "other"]

    def boxes(self):
        """(title, text) of every message box, in the order they opened."""
        result = []
        for w in self.of_kind("box"):
            text = w.control(65535)
            result.append((w.title, text.history("text")[0] if text else ""))
        return result

    def texts(self, kind, control_id):
        """Every text the control showed in the windows of `kind`, in order,
        without repeats of the one before."""
        shown = []
        for w in self.of_kind(kind):
            control = w.control(control_id)
            if control is None:
                continue
            for text in control.history("text"):
                if not shown or shown[-1] != text:
                    shown.append(text)
        return shown
