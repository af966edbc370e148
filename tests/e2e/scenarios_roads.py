"""More roads: the second run over a cached download, the MiniServer, download
and installer failures, cancelling, the launcher's error report, the log
server down, and signed executables. Set-up keywords: see road.scenario."""

import collections
import os
import shutil
import struct
import subprocess
import time

import payload
import scenarios
import servers
from payload import AGENT_RUNTIME_GUID, DOTNET_PRIMARY, DOTNET_SECONDARY, SP_PRIMARY, AGENT_PATH
from road import AGENT_KEY, BANNER, NDP11, TITLE, Failed, primary_downloads, scenario

SUPPORT_ADDRESS = "http://www.torvane.com/support"
ALL_INSTALLED = ("dotnet", "servicepack", "agent")
# Start-up, each run: the records before the components' checks.
START = (3000, 3010, 3021, 3019)
# The splash and the licence open while the worker checks and downloads.
WINDOWS = (3019, 4060, 4061, 9003, 4062)
# The records of a run that installs all three components and runs the launcher.
INSTALL_ALL = START + (4002, 4004, 4006, 9003, 4062, 6001, 6003, 6004, 6006, 6007, 6009, 7001, 7003,
                       3115, 3111)
FIXTURE_DOTNET = "fake_dotnetfx.exe"
FIXTURE_SP = "fake_dotnet_sp.exe"


def start(r):
    r.start()


def support(code):
    """The support message as a message box shows it."""
    return ("We\u2019re sorry, an error has occurred preventing installation.\n\n"
            f"Please contact support at {SUPPORT_ADDRESS}. <Error Code: {code}>")


def downloads(**changes):
    """The primary addresses serving the fixtures, with `changes` (path ->
    Fault) on top."""
    routes = primary_downloads()
    routes.update(changes)
    return routes


def common(r, exit_code=0, reported=True):
    """What every road leaves: the exit code, a well-formed log whose records
    reached the log server in order after reporting began, and the start-up
    folder gone."""
    r.expect_exit(exit_code)
    r.expect_log_well_formed()
    r.expect_reports(delivered=reported)
    r.expect_startup_folder_removed()


def accepted_run(r, timeout):
    """The person starts Setup.exe and accepts the licence; the run ends by
    itself within `timeout` and leaves what every road leaves."""
    start(r)
    r.accept_licence()
    r.wait_exit(timeout)
    common(r)


def both_dotnet_addresses_fail(r, error):
    """Both .NET addresses fail with `error` (the Download Error box, which
    comes before the licence is accepted, dismissed by Enter): nothing else is
    fetched or installed and the progress window closes by itself."""
    start(r)
    answer(r, "Download Error", key="Return")
    r.accept_licence()
    r.wait_exit(60)
    common(r)
    chain = START + (4002, 4004, 4006, 5000, error, 5002, 5001, error, 5003, 3115, 3111)
    r.expect_events(chain, WINDOWS + (3115,))
    expect_only(r, chain + (4060, 4061, 9003, 4062))
    r.expect_boxes(("Download Error", support(error)))


def installation_error_run(r):
    """The person accepts the licence, an install fails and its Installation
    Error box is answered; the run ends within a minute and leaves what every
    road leaves."""
    start(r)
    r.accept_licence()
    answer(r, "Installation Error")
    r.wait_exit(60)
    common(r)


def expect_desc(r, event_id, text):
    descs = [rec.desc for rec in r.records() if rec.id == event_id]
    r.check(descs and all(d == text for d in descs),
            f"event {event_id} reads {descs}, expected {text!r}")


def expect_only(r, ids):
    """The log holds these ids and no others, as many times each."""
    logged = collections.Counter(r.ids())
    r.check(logged == collections.Counter(ids),
            f"log events {r.ids()}, expected exactly {sorted(ids)} in some order")


def expect_hits(r, **paths):
    """Requests per download path, keyword = a name of `payload`'s paths."""
    for name, count in paths.items():
        hits = r.downloads.hits(getattr(payload, name))
        r.check(hits == count, f"{name} requested {hits} times, expected {count}")


def answer(r, title, button="OK", key=None, timeout=30, skip=()):
    """Waits for a message box (not one of `skip`), brings it to the front and
    clicks `button`, or presses `key`; returns the box once it has gone."""
    return r.answer_box(title, button, timeout=timeout, key=key, skip=skip)


def first_run_leftovers(r):
    """The working directory as a first run leaves it when the person declined
    the licence while the Service Pack was still arriving: the whole
    dotnetfx.exe, half of dotnetServicePack.exe, that run's log. It installed
    nothing and removed the start-up folder on its way out."""
    workdir = r.prefix.workdir
    os.makedirs(workdir, exist_ok=True)
    shutil.copyfile(r.ctx.fixture(FIXTURE_DOTNET), os.path.join(workdir, "dotnetfx.exe"))
    with open(r.ctx.fixture(FIXTURE_SP), "rb") as f:
        sp = f.read()
    with open(os.path.join(workdir, "dotnetServicePack.exe"), "wb") as f:
        f.write(sp[: len(sp) // 2])
    with open(os.path.join(workdir, "TorvaneLogFile.txt"), "wb") as f:
        f.write((BANNER + "EVENTID='9002',DESC='Bootstrapper exited by closing EULA dialog "
                 "window.',TIMESTAMP='2026-01-01 00:00:00.000'\r\n").encode("cp1252"))


@scenario("second-run-cache")
def second_run_cache(r):
    """The second run after a first one that fetched dotnetfx.exe whole and
    the Service Pack in part: the cached .NET installer passes its digest and
    is used (9066, no request), the partial Service Pack does not and is
    fetched again; the log starts afresh."""
    first_run_leftovers(r)
    accepted_run(r, 180)
    r.expect_events(
        INSTALL_ALL,
        (4006, 5000, 9066, 5004, 5006, 5010, 5012, 5014, 6007),
        (5004, 6001), (5010, 6004), WINDOWS,
        complete=True)
    expect_hits(r, DOTNET_PRIMARY=0, DOTNET_SECONDARY=0, SP_PRIMARY=1, AGENT_PATH=1)
    r.expect_windows("splash", "licence", "progress")
    r.expect_boxes()
    for name, fixture in (("dotnetfx.exe", FIXTURE_DOTNET), ("dotnetServicePack.exe", FIXTURE_SP)):
        r.check(payload.md5_of(os.path.join(r.prefix.workdir, name))
                == payload.md5_of(r.ctx.fixture(fixture)), f"{name} is not the whole installer")
    r.check('/q:a /c:"install /l /q"' in (r.workdir_file("dotnetfx.exe.log") or ""),
            "the cached dotnetfx.exe was not run")
    r.expect_registry("HKLM", NDP11, "Install", 1)
    r.expect_registry("HKLM", NDP11, "SP", 1)
    r.expect_registry("HKCU", AGENT_KEY, "RuntimeGuid", AGENT_RUNTIME_GUID)
    scenarios.launcher_ran(r)


@scenario("miniserver", installed=("dotnet", "servicepack"),
          cwd_files={"launcher/miniserver.exe": "fake_miniserver.exe"})
def miniserver(r):
    """.\\launcher\\miniserver.exe under the current folder runs in place of the
    agent launcher, after the agent's install, through a cmd /K that the step
    ends itself five seconds after the MiniServer."""
    start(r)
    r.accept_licence()
    # The interpreter must outlive the MiniServer (/K) until the step ends it.
    seen_miniserver = cmd_after = False
    deadline = time.time() + 60
    while r.process.poll() is None and time.time() < deadline:
        names = [p["exe"].lower() for p in r.ctx.probe.processes(r.prefix)]
        if "miniserver.exe" in names:
            seen_miniserver = True
        elif seen_miniserver and "setup.exe" in names:
            cmd_after = cmd_after or "cmd.exe" in names
        time.sleep(0.3)
    r.wait_exit(60)
    common(r)
    r.expect_events(
        START + (4001, 4003, 4006, 7500, 9003, 4062, 6007, 6009, 3115, 3111),
        (4006, 5012, 5014, 6007), WINDOWS,
        complete=True)
    r.expect_windows("splash", "licence", "progress")
    r.expect_boxes()
    r.expect_text_seen("progress", 1003, "Installing...")
    r.expect_text_seen("progress", 1021, "100% Complete")
    r.check(seen_miniserver, "miniserver.exe never ran")
    r.check(cmd_after, "no interpreter left after the MiniServer ended: not started with /K?")
    left = [x.lower() for x in r.leftovers]
    r.check("cmd.exe" not in left and "miniserver.exe" not in left,
            f"left running at exit: {r.leftovers}")
    output = r.workdir_file("MiniServerOutput.txt") or ""
    r.check("miniserver.exe" in output and "-ld c" in output,
            f"MiniServer arguments: {output[:200]!r}")
    r.check("cookie: Content=Parlor_Solitaire" in output,
            f"MiniServer saw no cookie: {output[:300]!r}")
    r.expect_workdir(lacks=("BrindleAgentLauncherOutput.txt",))
    r.expect_registry("HKCU", AGENT_KEY, "RuntimeGuid", AGENT_RUNTIME_GUID)


@scenario("dotnet-secondary",
          downloads=downloads(**{DOTNET_PRIMARY: servers.not_found(),
                                 DOTNET_SECONDARY: servers.serve(FIXTURE_DOTNET)}))
def dotnet_secondary(r):
    """The .NET primary address answers 404, the secondary serves the file:
    the installation goes on without a word to the person."""
    accepted_run(r, 180)
    r.expect_events(
        INSTALL_ALL,
        (4006, 5000, 9058, 5002, 5001, 5005, 5006, 5010, 5012, 5014),
        (5005, 6001), WINDOWS,
        complete=True)
    expect_desc(r, 9058, "HTTP ERROR: The server has not found anything matching the requested "
                         "URI (Uniform Resource Identifier). ")
    expect_hits(r, DOTNET_PRIMARY=1, DOTNET_SECONDARY=1)
    r.expect_boxes()
    r.expect_windows("splash", "licence", "progress")
    r.expect_registry("HKLM", NDP11, "Install", 1)
    scenarios.launcher_ran(r)


@scenario("dotnet-digest-mismatch",
          downloads=downloads(**{DOTNET_PRIMARY: servers.wrong_digest(FIXTURE_DOTNET),
                                 DOTNET_SECONDARY: servers.wrong_digest(FIXTURE_DOTNET)}))
def dotnet_digest_mismatch(r):
    """Both .NET addresses serve a file whose digest differs: each is deleted,
    the Download Error box tells the person (dismissed by Enter), nothing else
    is fetched or installed and the progress window closes by itself."""
    both_dotnet_addresses_fail(r, 9062)
    # The progress window opens (4062) and closes within milliseconds.
    r.expect_windows("splash", "licence", "progress")
    r.check(r.ids()[-3:] == [4062, 3115, 3111], "the progress window was not the last one")
    expect_hits(r, DOTNET_PRIMARY=1, DOTNET_SECONDARY=1, SP_PRIMARY=0, AGENT_PATH=0)
    r.expect_workdir(lacks=("dotnetfx.exe", "dotnetServicePack.exe", "TorvaneAgent.msi"))
    r.expect_registry("HKLM", NDP11, "Install", None)
    r.expect_registry("HKCU", AGENT_KEY, "RuntimeGuid", None)


@scenario("dotnet-installer-1603", workdir_files={"dotnetfx.exe.exitcode": b"1603"})
def dotnet_installer_1603(r):
    """The .NET installer ends with 1603: 9060 with the exit code's text, the
    support message, 6002, and nothing installed after it."""
    installation_error_run(r)
    r.expect_events(
        START + (4002, 4004, 4006, 9003, 4062, 6001, 9060, 6002, 3115, 3111),
        (4006, 5000, 5004, 5006, 5010, 5012, 5014), (5004, 6001), WINDOWS,
        complete=True)
    expect_desc(r, 9060,
                "INSTALLATION ERROR: ERROR 1603: A fatal error occurred during installation.")
    r.expect_boxes(("Installation Error", support(1603)))
    r.expect_windows("splash", "licence", "progress")
    r.check("/q:a" in (r.workdir_file("dotnetfx.exe.log") or ""), "dotnetfx.exe did not run")
    r.expect_registry("HKLM", NDP11, "Install", None)
    r.expect_registry("HKLM", NDP11, "SP", None)
    r.expect_registry("HKCU", AGENT_KEY, "RuntimeGuid", None)


@scenario("cancel-slow-download",
          downloads=downloads(**{DOTNET_PRIMARY: servers.slow(FIXTURE_DOTNET, 200)}))
def cancel_slow_download(r):
    """Cancel while dotnetfx.exe trickles in, confirmed: the transfer stops at
    once, though a read waits in one of the silences (9065, 5100), the status
    line said so meanwhile, and at exit the survey question is answered No."""
    start(r)
    r.accept_licence()
    window = r.wait_window("progress", timeout=10)
    r.focus(TITLE)
    r.click(window, 1012)
    confirm = answer(r, "Abort Installation", "Yes")
    r.check(r.wait_text("progress", 1003, "Cancelling installation...", 5),
            "the status line never read 'Cancelling installation...'")
    answer(r, "Abort Installation", "No", skip=(confirm.hwnd,), timeout=10)
    r.wait_exit(60)
    common(r)
    # The confirmed cancel ends the launchers at once (3115), shutdown again.
    chain = START + (4002, 4004, 4006, 9003, 4062, 9005, 3115, 3115, 3111)
    r.expect_events(chain, (4006, 5000, 9065), (9005, 9065, 5100, 3111), WINDOWS)
    expect_only(r, chain + (5000, 9065, 5100, 4060, 4061))
    r.expect_boxes(
        ("Abort Installation", "Are you sure you want to abort the installation?"),
        ("Abort Installation",
         "We are sorry that you have decided to cancel your Kestrel install.\r\n"
         "Would you like to fill out a short survey to provide feedback about your install "
         "experience?"))
    r.expect_windows("splash", "licence", "progress")
    expect_hits(r, DOTNET_PRIMARY=1, DOTNET_SECONDARY=0, SP_PRIMARY=0)
    partial = os.path.join(r.prefix.workdir, "dotnetfx.exe")
    r.check(os.path.exists(partial)
            and os.path.getsize(partial) < os.path.getsize(r.ctx.fixture(FIXTURE_DOTNET)),
            "the partial dotnetfx.exe is not kept")
    r.expect_registry("HKLM", NDP11, "Install", None)


def launcher_reports_error(r):
    """An Error line of the launcher: 9060 with its message, the support box
    with its code, and the launcher stage left with 7009, never 7003."""
    installation_error_run(r)
    r.expect_events(
        START + (4001, 4003, 4005, 9003, 4062, 7001, 9060, 7009, 3115, 3111), WINDOWS,
        complete=True)
    expect_desc(r, 9060, "INSTALLATION ERROR: Parlor could not be fetched")
    r.expect_boxes(("Installation Error", support(4711)))


@scenario("launcher-error-at-exit", installed=ALL_INSTALLED,
          env={"KESTREL_FAKE_LAUNCHER_ERROR_EXIT": "Parlor could not be fetched|4711"})
def launcher_error_at_exit(r):
    """The launcher writes an Error line and ends before the step looks again:
    the read after its end still reports it."""
    launcher_reports_error(r)


@scenario("launcher-error", installed=ALL_INSTALLED, launcher_ms=6000,
          env={"KESTREL_FAKE_LAUNCHER_ERROR": "Parlor could not be fetched|4711"})
def launcher_error(r):
    """The launcher reports an Error line while it goes on running."""
    launcher_reports_error(r)
    r.expect_windows("splash", "licence", "progress")
    output = r.workdir_file("BrindleAgentLauncherOutput.txt") or ""
    r.check('<Error Msg="Parlor could not be fetched" Code="4711" />' in output,
            f"the launcher wrote no Error line: {output[:300]!r}")
    if r.leftovers:
        # The kill at exit names the launcher with a wildcard, which Wine's
        # taskkill takes literally; on Windows it ends it.
        r.note(f"launcher left running under Wine: {', '.join(r.leftovers)}")


@scenario("log-server-down", slow=True, installed=ALL_INSTALLED, log_server=False,
          entries={"EULA.TXT": None}, timeout=200)
def log_server_down(r):
    """Nobody listens on port 80: the windows run their course, then the
    process keeps trying to report for about a minute before it ends; every
    record is in the log file."""
    start(r)
    r.wait_window("progress", timeout=30)
    if not r.gone("progress", timeout=60):
        raise Failed("the progress window did not close")
    closed = time.time()
    r.wait_exit(150)
    common(r, reported=False)
    r.expect_events(
        START + (4001, 4003, 4005, 4062, 7001, 7003, 3115, 3111), (3019, 4060, 4062),
        complete=True)
    r.expect_windows("splash", "progress")
    r.expect_boxes()
    lingered = r.ended - closed
    r.check(55 <= lingered <= 90, f"the process ended {lingered:.1f} s after the last window, "
                                  "expected about a minute")
    r.note(f"ended {lingered:.1f} s after the last window closed")


# ----- signed executables -------------------------------------------------

def sign(r):
    """Signs Setup.exe in place with a throwaway certificate, as a distributor
    signs after packing; the signature must verify."""
    key, cert = os.path.join(r.dir, "key.pem"), os.path.join(r.dir, "cert.pem")
    signed = r.exe + ".signed"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                    "-out", cert, "-days", "2", "-subj", "/CN=Kestrel Test Signer",
                    "-addext", "extendedKeyUsage=codeSigning"], check=True, capture_output=True)
    subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-n", "Solitaire Parlor",
                    "-h", "sha256", "-in", r.exe, "-out", signed], check=True, capture_output=True)
    verify = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", signed],
                            capture_output=True, text=True)
    if verify.returncode != 0:
        raise Failed(f"the signed Setup.exe does not verify: {verify.stdout[-300:]}")
    os.replace(signed, r.exe)


def append_entry(path, name, data):
    """One payload entry at the very end of the file: data, its size, the
    name, the name's length and the end marker."""
    with open(path, "ab") as f:
        f.write(data + struct.pack("<I", len(data)) + name.encode() + bytes([len(name)])
                + b"tOrVaNe")


@scenario("signed")
def signed(r):
    """The fresh-machine road with Setup.exe signed after packing: the same
    run in every respect."""
    sign(r)
    scenarios.fresh_machine(r)


@scenario("forged-after-signature", installed=ALL_INSTALLED)
def forged_after_signature(r):
    """A CONFIG.TXT naming another display id, appended after the signature,
    is not read: titles and texts still name Solitaire Parlor."""
    sign(r)
    with open(os.path.join(r.dir, "payload", "CONFIG.TXT"), "rb") as f:
        config = f.read()
    forged = config.replace(b"DisplayID=Solitaire Parlor", b"DisplayID=Forged Parlor")
    assert forged != config
    append_entry(r.exe, "CONFIG.TXT", forged)
    accepted_run(r, 60)
    r.expect_events(
        START + (4001, 4003, 4005, 9003, 4062, 7001, 7003, 3115, 3111), WINDOWS,
        complete=True)
    r.expect_windows("splash", "licence", "progress")
    titles = {title for kind, title in r.windows_seen if kind in ("licence", "progress")}
    r.check(titles == {TITLE}, f"window titles {sorted(titles)}, expected {TITLE!r}")
    r.expect_text_seen("progress", 1041, "Solitaire Parlor")
    scenarios.launcher_ran(r)
