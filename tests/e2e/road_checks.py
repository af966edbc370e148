"""A road's checks: what the run left (the log file, the reports, the
working directory, the registry) against what a scenario expects. Each
check records a failure and goes on."""

import datetime
import os
import re
import signal
import urllib.parse

import catalog
import payload

BANNER = "\r\n" * 4 + "*" * 17 + "TORVANE NETWORKS WAYFARER" + "*" * 17 + "\r\n" * 2
RECORD = re.compile(
    r"^(?:(AGENT|WATERMARK)='([^']*)',)?EVENTID='(-?\d+)',DESC='(.*)',"
    r"TIMESTAMP='(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})'$"
)
UUID = re.compile(r"^[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}$")


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


class RoadChecks:
    """What a Run reads of the run's traces, and its expectations."""

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
        if self.exit_code is not None and self.exit_code < 0:
            # Not an exit of Setup.exe: an access violation in it ends with
            # 5 (0xC0000005 cut to 8 bits), a stack overflow with 1.
            name = signal.Signals(-self.exit_code).name if -self.exit_code in signal.valid_signals() else "?"
            self.fail(f"Wine's process was killed by signal {-self.exit_code} ({name}), expected exit {code}")
            return
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
