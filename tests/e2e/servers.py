"""Loopback servers of an end-to-end run: the download server, whose answer
is chosen per path (a fault kind), and the log server on port 80, which
records every request target it receives."""

import errno
import http.server
import os
import socket
import ssl
import struct
import subprocess
import sys
import threading
import time

# The loopback address of both servers: any 127.x.y.z is loopback, and each
# suite takes its own, so a program another suite on this machine left
# running can never report to this suite's log server (port 80 is fixed).
HOST = os.environ.get("KESTREL_E2E_HOST") or f"127.{os.getpid() >> 16 & 255}.{os.getpid() >> 8 & 255}.{os.getpid() & 255 or 1}"


class Fault:
    """How the download server answers one path. `source` is a file path, or
    the name of a file in the fixtures folder; it is read by `load`."""

    def __init__(self, kind, source=None, seconds=0.0, alter=None, pieces=40, fraction=0.5):
        self.kind = kind
        self.source = source
        self.seconds = seconds
        self.alter = alter
        self.pieces = pieces
        self.fraction = fraction
        self.gate = threading.Event()
        self.body = b"<html>Not Found</html>" if kind == "404" else b""

    def load(self, fixtures):
        """Reads the body; a fault object serves one run at a time."""
        self.gate = threading.Event()
        if self.source is not None:
            path = self.source if os.path.isabs(self.source) else os.path.join(fixtures, self.source)
            with open(path, "rb") as f:
                self.body = f.read()
            if self.alter:
                self.body = self.alter(self.body)
        return self

    def release(self):
        """Lets a held body go on."""
        self.gate.set()

    def __repr__(self):
        return f"Fault({self.kind}, {self.source})"


def serve(source):
    """200 with the file's bytes."""
    return Fault("ok", source)


def not_found():
    """404 with a short page."""
    return Fault("404")


def _flip_middle_byte(body):
    body = bytearray(body)
    body[len(body) // 2] ^= 0xFF
    return bytes(body)


def wrong_digest(source):
    """200 with the file's bytes, one of them changed: its MD5 no longer
    matches the configured one."""
    return Fault("ok", source, alter=_flip_middle_byte)


def slow(source, seconds, pieces=40):
    """200 with the file's bytes in `pieces` parts spread over about
    `seconds`: few pieces make long silences in which a read blocks."""
    return Fault("slow", source, seconds, pieces=pieces)


def held(source):
    """200 with the first half of the file's bytes; the rest follows only
    when the road calls the fault's release(), so a download is known to be
    in the middle of a read while the road looks at the windows."""
    return Fault("held", source)


def short(source, fraction=0.5):
    """200 whose Content-Length promises the whole file, but the connection
    closes after `fraction` of it."""
    return Fault("short", source, fraction=fraction)


def stalled(source, fraction=0.5):
    """200 whose Content-Length promises the whole file; `fraction` of it
    comes, then nothing more until the server stops (the connection stays
    open, as a server that hangs keeps it)."""
    return Fault("stalled", source, fraction=fraction)


PORTAL_PAGE = b"<html><body>Please log in to use this network.</body></html>"


def portal():
    """200 with a login page instead of the file, as a captive portal answers."""
    fault = Fault("ok")
    fault.body = PORTAL_PAGE
    return fault


def reset(source, fraction=0.5):
    """200 whose Content-Length promises the whole file; after `fraction` of
    it the connection is reset (RST), as a broken middlebox tears it down."""
    return Fault("reset", source, fraction=fraction)


def resumable(source, fraction=0.5):
    """200 with an ETag whose connection closes after `fraction` of the file;
    a request for the rest (Range from there, If-Range with that ETag) gets
    it as a 206. Recorded as kind "resumed: <Range>" for the second."""
    return Fault("resumable", source, fraction=fraction)


RESUMABLE_ETAG = '"kestrel-e2e-1"'


def no_length(source):
    """200 with the file's bytes and no Content-Length: the closing
    connection ends the body."""
    return Fault("no_length", source)


def _while_port_taken(bind, wait_seconds):
    """bind(), tried again while another suite on this machine holds the port,
    for at most `wait_seconds`."""
    deadline = time.time() + wait_seconds
    while True:
        try:
            return bind()
        except OSError as error:
            if error.errno != errno.EADDRINUSE or time.time() > deadline:
                raise
            time.sleep(0.5)


class _QuietHandler(http.server.BaseHTTPRequestHandler):
    """A request handler that writes no line per request to stderr."""

    def log_message(self, *args):
        pass


class _Server(http.server.ThreadingHTTPServer):
    def handle_error(self, request, client_address):
        # A client that gave up (a time-out, a cancel) is no server error.
        if not isinstance(sys.exc_info()[1], ConnectionError):
            super().handle_error(request, client_address)

    daemon_threads = True
    allow_reuse_address = True
    # The rig's own loopback server has the same habit: many short clients.
    request_queue_size = 64


def make_test_authority(folder, name="localhost", days=30):
    """A test root and a certificate for `name` that it issued, valid for
    `days` (-1: expired), made with openssl in `folder`: returns (the root in
    DER, the server's chain in PEM, its key in PEM). Wine matches no IP
    address in a certificate."""

    def openssl(*args):
        subprocess.run(["openssl", *args], cwd=folder, check=True, capture_output=True)

    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out",
            "ca.pem", "-days", "30", "-subj", "/CN=Kestrel Test Authority",
            "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "localhost.key", "-out",
            "localhost.csr", "-subj", f"/CN={name}")
    with open(os.path.join(folder, "localhost.ext"), "w") as f:
        f.write(f"subjectAltName=DNS:{name}\nextendedKeyUsage=serverAuth\n")
    openssl("x509", "-req", "-in", "localhost.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
            "-CAcreateserial", "-days", str(days), "-extfile", "localhost.ext", "-out",
            "localhost.pem")
    openssl("x509", "-in", "ca.pem", "-outform", "DER", "-out", "ca.der")
    chain = os.path.join(folder, "chain.pem")
    with open(chain, "wb") as out:
        for name in ("localhost.pem", "ca.pem"):
            with open(os.path.join(folder, name), "rb") as f:
                out.write(f.read())
    return (os.path.join(folder, "ca.der"), chain, os.path.join(folder, "localhost.key"))


class DownloadServer:
    """Serves `routes` (path -> Fault) on HOST at a free port; any other
    path is a 404. Records (time, path, kind) per request in `requests`.
    With `tls` (chain, key) it serves https on localhost instead."""

    def __init__(self, routes=None, tls=None):
        self.routes = dict(routes or {})
        self.requests = []
        self.heads = []  # (path, its header lines but Host, which names the port)
        owner = self

        class Handler(_QuietHandler):
            protocol_version = "HTTP/1.0"

            def finish(self):
                try:
                    super().finish()
                except (OSError, ValueError):
                    pass  # a reset fault closed the socket already

            def do_GET(self):
                path = self.path.split("?", 1)[0]
                fault = owner.routes.get(path) or not_found()
                kind = fault.kind
                if kind == "resumable" and self.headers.get("Range"):
                    kind = f"resumed: {self.headers.get('Range')} If-Range {self.headers.get('If-Range')}"
                owner.requests.append((time.time(), path, kind))
                owner.heads.append((self.command, self.path, [
                    f"{name}: {value}" for name, value in self.headers.items()
                    if name.lower() != "host"]))
                try:
                    self._answer(fault)
                except (BrokenPipeError, ConnectionResetError):
                    pass  # a cancelled download closes its end

            def _answer_rest(self, fault):
                start = int(self.headers.get("Range", "").split("=", 1)[1].rstrip("-"))
                body = fault.body
                self.send_response(206)
                self.send_header("Content-Type", "application/octet-stream")
                self.send_header("ETag", RESUMABLE_ETAG)
                self.send_header("Content-Range", f"bytes {start}-{len(body) - 1}/{len(body)}")
                self.send_header("Content-Length", str(len(body) - start))
                self.end_headers()
                self.wfile.write(body[start:])

            def _answer(self, fault):
                if (fault.kind == "resumable" and self.headers.get("Range")
                        and self.headers.get("If-Range") == RESUMABLE_ETAG):
                    self._answer_rest(fault)
                    return
                if fault.kind == "404":
                    self.send_response(404)
                    self.send_header("Content-Type", "text/html")
                    self.send_header("Content-Length", str(len(fault.body)))
                    self.end_headers()
                    self.wfile.write(fault.body)
                    return
                self.send_response(200)
                self.send_header("Content-Type", "application/octet-stream")
                if fault.kind == "resumable":
                    self.send_header("ETag", RESUMABLE_ETAG)
                if fault.kind != "no_length":
                    self.send_header("Content-Length", str(len(fault.body)))
                self.end_headers()
                body = fault.body
                if fault.kind in ("ok", "no_length"):
                    self.wfile.write(body)
                elif fault.kind in ("short", "resumable"):
                    self.wfile.write(body[: int(len(body) * fault.fraction)])
                    self.wfile.flush()
                    self.close_connection = True
                elif fault.kind == "reset":
                    self.wfile.write(body[: int(len(body) * fault.fraction)])
                    self.wfile.flush()
                    # Linger 0: the close sends RST, not FIN.
                    self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                               struct.pack("ii", 1, 0))
                    self.connection.close()
                    self.close_connection = True
                elif fault.kind == "stalled":
                    self.wfile.write(body[: int(len(body) * fault.fraction)])
                    self.wfile.flush()
                    fault.gate.wait(600)  # released when the server stops
                    self.close_connection = True
                elif fault.kind == "held":
                    half = len(body) // 2
                    self.wfile.write(body[:half])
                    self.wfile.flush()
                    fault.gate.wait(300)
                    self.wfile.write(body[half:])
                elif fault.kind == "slow":
                    step = -(-len(body) // fault.pieces)
                    for start in range(0, len(body), step):
                        self.wfile.write(body[start : start + step])
                        self.wfile.flush()
                        time.sleep(fault.seconds / fault.pieces)

        self.host = "localhost" if tls else HOST
        self._server = _Server(("127.0.0.1" if tls else HOST, 0), Handler)
        if tls:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(*tls)
            self._server.socket = context.wrap_socket(self._server.socket, server_side=True)
        self.scheme = "https" if tls else "http"
        self.port = self._server.server_address[1]
        self._thread = threading.Thread(target=self._server.serve_forever, daemon=True)
        self._thread.start()

    def url(self, path):
        return f"{self.scheme}://{self.host}:{self.port}{path}"

    def hits(self, path):
        return sum(1 for _, p, _ in self.requests if p == path)

    def stop(self):
        for fault in self.routes.values():
            fault.release()
        self._server.shutdown()
        self._server.server_close()


class LogServer:
    """The event-report receiver on HOST:80. Every request target is
    recorded raw, with its arrival time, in `requests`; each gets an empty
    200. Keeps connections open: one report pass sends many requests over one
    connection."""

    PORT = 80

    def __init__(self, wait_seconds=60, status=200, delay=0.0, body=b""):
        self.requests = []
        owner = self

        class Handler(_QuietHandler):
            protocol_version = "HTTP/1.1"

            def do_GET(self):
                owner.requests.append((time.time(), self.path, self.headers.get("User-Agent")))
                time.sleep(delay)
                try:
                    self.send_response(status)
                    self.send_header("Content-Length", str(len(body)))
                    self.end_headers()
                    self.wfile.write(body)
                except OSError:
                    pass  # the sender gave up waiting

        self._server = _while_port_taken(lambda: _Server((HOST, self.PORT), Handler), wait_seconds)
        self._thread = threading.Thread(target=self._server.serve_forever, daemon=True)
        self._thread.start()

    def stop(self):
        self._server.shutdown()
        self._server.server_close()


class AnsweringLogServer(LogServer):
    """A log server that answers every report with `status` after `delay`
    seconds (one at a time per connection, as a loaded server does)."""

    def __init__(self, status=500, delay=0.0, wait_seconds=60):
        super().__init__(wait_seconds, status, delay,
                         b"<html>\r\nInternal Server Error\r\n</html>\r\n")


class CollectorLogServer:
    """The project's own log server, `kestrel-collector serve`, on HOST:80,
    storing the reports in the SQLite file `db`. Its operator pages listen on
    a free port of HOST, `pages` ("HOST:PORT"). `requests` gives the stored
    reports as (time received, decoded target, None) in the order stored;
    `funnel` the text of `kestrel-collector report` (after `stop`)."""

    PORT = LogServer.PORT

    def __init__(self, program, db, wait_seconds=60):
        self.program = program
        self.db = db
        deadline = time.time() + wait_seconds
        while True:
            self._process = subprocess.Popen(
                [program, "serve", "--listen", f"{HOST}:{self.PORT}", "--admin-listen", f"{HOST}:0",
                 "--db", db, "--threads", "8"],
                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            line = self._process.stdout.readline()
            if line.startswith("kestrel-collector: listening"):
                # "kestrel-collector: operator pages on HOST:PORT"
                self.pages = self._process.stdout.readline().split()[-1]
                return
            self._process.wait()
            error = self._process.stderr.read()
            if "cannot listen" not in error or time.time() > deadline:
                raise OSError(errno.EADDRINUSE, f"kestrel-collector did not start: {line}{error}")
            time.sleep(0.5)  # another suite holds the port for a while

    @property
    def requests(self):
        import sqlite3
        with sqlite3.connect(self.db) as db:
            db.text_factory = bytes
            rows = db.execute("SELECT received_ms, token, agent, watermark, event_id, description,"
                              " timestamp FROM reports ORDER BY id").fetchall()
        out = []
        for received, token, agent, watermark, event, desc, stamp in rows:
            target = b"/?TOKEN='" + token + b"',"
            if agent:
                target += b"AGENT='" + agent + b"',"
            if watermark:
                target += b"WATERMARK='" + watermark + b"',"
            target += b"EVENTID='%d',DESC='%s',TIMESTAMP='%s'" % (event, desc, stamp)
            out.append((received / 1000.0, target.decode("latin-1"), None))
        return out

    def stop(self):
        """Ends the server in order (SIGTERM): what it answered is stored."""
        if self._process.poll() is None:
            self._process.terminate()
            try:
                self._process.wait(30)
            except subprocess.TimeoutExpired:
                self._process.kill()
                self._process.wait()

    def funnel(self):
        return subprocess.run([self.program, "report", "--db", self.db], capture_output=True,
                              text=True).stdout


def _bind_log_port(wait_seconds):
    """A listening socket on HOST:80; another suite on this machine may hold
    the port for a while."""
    def bind():
        listener = socket.socket()
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            listener.bind((HOST, LogServer.PORT))
            listener.listen(64)
            return listener
        except OSError:
            listener.close()
            raise

    return _while_port_taken(bind, wait_seconds)


class SilentLogServer:
    """A log server that accepts every connection, reads the requests and
    never answers, as a hung server does. Records (time, target, user agent)
    of each request head in `requests`, like LogServer; `stop` closes all."""

    def __init__(self, wait_seconds=60):
        self.requests = []
        self._connections = []
        self._stopping = threading.Event()
        self._listener = _bind_log_port(wait_seconds)
        self._thread = threading.Thread(target=self._accept, daemon=True)
        self._thread.start()

    def _accept(self):
        while not self._stopping.is_set():
            try:
                connection, _ = self._listener.accept()
            except OSError:
                return
            self._connections.append(connection)
            threading.Thread(target=self._read, args=(connection,), daemon=True).start()

    def _read(self, connection):
        pending = b""
        while not self._stopping.is_set():
            try:
                data = connection.recv(65536)
            except OSError:
                return
            if not data:
                return
            pending += data
            while b"\r\n\r\n" in pending:
                head, pending = pending.split(b"\r\n\r\n", 1)
                lines = head.decode("latin-1").split("\r\n")
                parts = lines[0].split(" ")
                agent = next((line.split(":", 1)[1].strip() for line in lines[1:]
                              if line.lower().startswith("user-agent:")), None)
                if len(parts) >= 3:
                    self.requests.append((time.time(), " ".join(parts[1:-1]), agent))

    def stop(self):
        self._stopping.set()
        # A listening socket closed from another thread does not wake accept.
        for sock in [self._listener] + self._connections:
            try:
                sock.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            sock.close()
        self._thread.join(5)


def port_is_free(port):
    with socket.socket() as s:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            s.bind((HOST, port))
            return True
        except OSError:
            return False
