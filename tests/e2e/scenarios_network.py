"""Roads of a network that lets the program down: a log server that accepts
and never answers, a download server that stops sending, and short bodies
from both .NET addresses. Set-up keywords: see road.scenario."""

import os
import time

import servers
from payload import DOTNET_PRIMARY, DOTNET_SECONDARY
from road import NDP11, TITLE, Failed, scenario
from scenarios_roads import (ALL_INSTALLED, FIXTURE_DOTNET, START, WINDOWS, accepted_run,
                             answer, both_dotnet_addresses_fail, common, downloads, expect_hits,
                             start)

# The sender's limits as the product has them: the drain at exit and the
# report time-outs (connect, send, receive), one attempt against a server
# that accepts and never answers.
DRAIN_S = 60
ATTEMPT_S = 5
# What the harness adds between the window's close and the process's end:
# shutdown, the probe's look, Wine ending the process.
SLACK_S = 8
STALL_LIMIT_S = 60


def silent_log_server(r):
    """Replaces the log server of the set-up (none) by one that never answers;
    the run's end stops it."""
    r.log_server = servers.SilentLogServer()


def descs(r, event_id):
    return [rec.desc for rec in r.records() if rec.id == event_id]


def cancel(r):
    """Cancel on the progress window, confirmed: the time of the Yes."""
    window = r.wait_window("progress", timeout=10)
    r.focus(TITLE)
    r.click(window, 1012)
    answer(r, "Abort Installation", "Yes")
    return time.time()


@scenario("log-server-silent", slow=True, installed=ALL_INSTALLED, log_server=False,
          entries={"EULA.TXT": None}, timeout=200)
def log_server_silent(r):
    """The log server accepts and never answers: each report gives up after its
    time-outs, every record reaches the log file while the reports still hang,
    and the process ends within the drain and one attempt of its last window."""
    silent_log_server(r)
    start(r)
    r.wait_window("progress", timeout=30)
    if not r.gone("progress", timeout=60):
        raise Failed("the progress window did not close")
    closed = time.time()
    r.wait_event(3111, timeout=2 * ATTEMPT_S + SLACK_S)
    r.check(r.process.poll() is None, "the process ended before the drain: no report hung")
    r.wait_exit(DRAIN_S + 2 * ATTEMPT_S + 60)
    lingered = r.ended - closed
    r.note(f"ended {lingered:.1f} s after the last window closed")
    r.expect_exit(0)
    r.expect_log_well_formed()
    r.expect_startup_folder_removed()
    r.expect_events(
        START + (4001, 4003, 4005, 4062, 7001, 7003, 3115, 3111), (3019, 4060, 4062),
        complete=True)
    r.expect_windows("splash", "progress")
    r.expect_boxes()
    r.check(DRAIN_S - 5 <= lingered <= DRAIN_S + ATTEMPT_S + SLACK_S,
            f"the process ended {lingered:.1f} s after the last window, expected the "
            f"{DRAIN_S} s drain and at most one {ATTEMPT_S} s attempt")
    # A pass stops at its first failure: one request per attempt.
    r.note(f"{len(r.reports())} report attempts")


@scenario("cancel-stalled-download",
          downloads=downloads(**{DOTNET_PRIMARY: servers.stalled(FIXTURE_DOTNET)}))
def cancel_stalled_download(r):
    """The .NET server stops sending halfway; a confirmed cancel ends the
    waiting read at once: 9065 and 5100, the survey question, the partial file
    kept."""
    start(r)
    r.accept_licence()
    r.wait_event(5000)
    confirmed = cancel(r)
    answer(r, "Abort Installation", "No", timeout=10)
    r.wait_exit(30)
    common(r)
    r.expect_events((4006, 5000, 9065, 5100, 3115, 3111), WINDOWS + (9005, 9065))
    r.expect_absent(5002, 5001, 5004, 6001)
    cancelled = [rec.time for rec in r.records() if rec.id == 9065]
    r.check(cancelled and cancelled[0] - confirmed < 2,
            f"the download ended {cancelled[0] - confirmed:.1f} s after the Yes" if cancelled
            else "no 9065")
    expect_hits(r, DOTNET_PRIMARY=1, DOTNET_SECONDARY=0)
    whole = os.path.getsize(r.ctx.fixture(FIXTURE_DOTNET))
    partial = os.path.join(r.prefix.workdir, "dotnetfx.exe")
    r.check(os.path.exists(partial) and os.path.getsize(partial) == whole // 2,
            "the partial dotnetfx.exe (half of it) is not kept")
    r.expect_registry("HKLM", NDP11, "Install", None)


@scenario("dotnet-short-twice",
          config={"DotNetFramework_MD5_Key": None},
          downloads=downloads(**{DOTNET_PRIMARY: servers.short(FIXTURE_DOTNET, 2 / 3),
                                 DOTNET_SECONDARY: servers.short(FIXTURE_DOTNET, 1 / 2)}))
def dotnet_short_twice(r):
    """No digest configured; the primary breaks after two thirds of the file,
    the secondary after half: together more than the length, yet each is
    short (9058 twice), the Download Error box tells the person, and nothing
    is installed."""
    both_dotnet_addresses_fail(r, 9058)
    whole = os.path.getsize(r.ctx.fixture(FIXTURE_DOTNET))
    expected = [f"HTTP ERROR: The download ended early: {int(whole * f)} of {whole} bytes arrived."
                for f in (2 / 3, 1 / 2)]
    r.check(descs(r, 9058) == expected, f"9058 reads {descs(r, 9058)}, expected {expected}")
    expect_hits(r, DOTNET_PRIMARY=1, DOTNET_SECONDARY=1)
    r.expect_workdir(lacks=("dotnetfx.exe",))
    r.expect_registry("HKLM", NDP11, "Install", None)


def https_refused(text):
    def road(r):
        """Every address on https with a certificate that does not verify:
        both .NET addresses fail with a 9058 that says why, nothing of their
        bodies is taken, the Download Error box tells the person."""
        both_dotnet_addresses_fail(r, 9058)
        expected = [f"HTTP ERROR: The server's certificate {text}"] * 2
        r.check(descs(r, 9058) == expected, f"9058 reads {descs(r, 9058)}, expected {expected}")
        r.expect_workdir(lacks=("dotnetfx.exe",))
    return road


for kind, text in (("untrusted", "is not from a trusted authority."),
                   ("wrong-name", "is for another host name."),
                   ("expired", "has expired or is not yet valid.")):
    scenario(f"https-{kind}", https=kind)(https_refused(text))


@scenario("dotnet-resumed", installed=("servicepack", "agent"),
          downloads=downloads(**{DOTNET_PRIMARY: servers.resumable(FIXTURE_DOTNET)}))
def dotnet_resumed(r):
    """The .NET server's connection closes halfway through a file it names by
    an ETag: the rest is asked for from there (Range, If-Range), comes as a
    206, 5021 is logged, the whole file matches its MD5 and is installed; no
    secondary address is tried."""
    accepted_run(r, timeout=90)
    r.expect_events((4002, 5000, 5021, 5004, 6001, 6003, 7001, 7003, 3115, 3111))
    r.expect_absent(5002, 5001, 9058, 9062)
    half = os.path.getsize(r.ctx.fixture(FIXTURE_DOTNET)) // 2
    kinds = [kind for _, path, kind in r.downloads.requests if path == DOTNET_PRIMARY]
    expected = ["resumable", f"resumed: bytes={half}- If-Range {servers.RESUMABLE_ETAG}"]
    r.check(kinds == expected, f"the .NET requests were {kinds}, expected {expected}")
    r.expect_registry("HKLM", NDP11, "Install", 1)


@scenario("download-stall-limit", slow=True, installed=("servicepack", "agent"),
          downloads=downloads(**{DOTNET_PRIMARY: servers.stalled(FIXTURE_DOTNET),
                                 DOTNET_SECONDARY: servers.serve(FIXTURE_DOTNET)}),
          timeout=300)
def download_stall_limit(r):
    """The .NET server stops sending halfway and stays silent: a minute later
    the attempt fails (9058, the server stopped sending), the secondary serves
    the file and the installation goes on. The one road that waits out the
    real stall limit."""
    start(r)
    r.accept_licence()
    r.wait_exit(STALL_LIMIT_S + 120)
    common(r)
    r.expect_events((4002, 5000, 9058, 5002, 5001, 5005),
                    (5001, 6001, 6003, 7001, 7003, 3115, 3111))
    r.expect_absent(5003)
    whole = os.path.getsize(r.ctx.fixture(FIXTURE_DOTNET))
    expected = [f"HTTP ERROR: The server stopped sending: {whole // 2} of {whole} bytes arrived."]
    r.check(descs(r, 9058) == expected, f"9058 reads {descs(r, 9058)}, expected {expected}")
    times = {rec.id: rec.time for rec in r.records()}
    if 5000 in times and 9058 in times:
        waited = times[9058] - times[5000]
        r.note(f"the stalled attempt failed {waited:.1f} s after it began")
        r.check(STALL_LIMIT_S <= waited <= STALL_LIMIT_S + 5,
                f"the stalled attempt failed after {waited:.1f} s, expected {STALL_LIMIT_S} s")
    r.expect_boxes()
    expect_hits(r, DOTNET_PRIMARY=1, DOTNET_SECONDARY=1)
    r.expect_registry("HKLM", NDP11, "Install", 1)
