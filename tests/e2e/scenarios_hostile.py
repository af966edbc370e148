"""Roads of a hostile network: each of the three downloads meets a fault
(a captive portal's page, a reset in the middle of the body, an answer
without a length) and a second run on the same machine with a good server
recovers, using the cache where its digest matches; and the log server
refuses, answers slowly or answers 500: every record is in the log file and
the exit waits at most the drain and one attempt. Set-up keywords: see
road.scenario."""

import os
import time

import servers
from payload import AGENT_PATH, DOTNET_PRIMARY, DOTNET_SECONDARY, SP_PRIMARY, SP_SECONDARY
from road import AGENT_KEY, NDP11, Failed, scenario
from scenarios_network import ATTEMPT_S, DRAIN_S, SLACK_S, descs
from scenarios_roads import (FIXTURE_DOTNET, FIXTURE_SP, START, WINDOWS, answer, common,
                             downloads, expect_hits, start, support)
from window_record import WindowRecord


def second_run(r, **routes):
    """The same machine started again once the first run has ended: its
    working directory as that run left it, the download server answering
    `routes` (path -> Fault) instead. The log server's requests start afresh."""
    for path, fault in routes.items():
        r.downloads.routes[path] = fault.load(r.ctx.fixtures)
    if r.log_server:
        r.log_server.requests.clear()
    r._settled = False
    r.record = WindowRecord(os.path.join(r.dir, "windows-2.jsonl"))
    r.ctx.probe.start_recording(r.prefix, os.path.join(r.dir, "recorder-2.out"))
    start(r)


def expect_all_records_logged(r):
    """Every record of the run, start to exit, is in the log file."""
    r.expect_log_well_formed()
    r.expect_events(START, (3115, 3111))


@scenario("hostile-dotnet-portal",
          installed=("servicepack", "agent"), log_server=False,
          workdir_files={"dotnetfx.exe.exitcode": b"1603"},
          downloads=downloads(**{DOTNET_PRIMARY: servers.portal(),
                                 DOTNET_SECONDARY: servers.serve(FIXTURE_DOTNET)}))
def hostile_dotnet_portal(r):
    """The .NET primary answers with a captive portal's page: its digest fails
    (9062), the file goes, the secondary serves the real one. That run's
    installer fails (1603), so the verified file stays; the second run, with
    both addresses gone, uses it from the cache (9066) without a request. The
    log server answers 500 to every report: each counts as delivered."""
    r.log_server = servers.AnsweringLogServer(status=500)
    start(r)
    r.accept_licence()
    answer(r, "Installation Error")
    r.wait_exit(60)
    common(r)
    r.expect_events((4002, 5000, 9062, 5002, 5001, 5005, 6001, 9060, 6002, 3115, 3111))
    r.expect_boxes(("Installation Error", support(1603)))
    expect_hits(r, DOTNET_PRIMARY=1, DOTNET_SECONDARY=1)
    r.expect_workdir(has=("dotnetfx.exe",))

    os.remove(os.path.join(r.prefix.workdir, "dotnetfx.exe.exitcode"))
    second_run(r, **{DOTNET_PRIMARY: servers.not_found(), DOTNET_SECONDARY: servers.not_found()})
    r.accept_licence()
    r.wait_exit(60)
    common(r)
    r.expect_events((4002, 5000, 9066, 5004, 6001, 6003, 7001, 7003, 3115, 3111))
    r.expect_absent(9062, 5002, 5001)
    expect_hits(r, DOTNET_PRIMARY=1, DOTNET_SECONDARY=1)  # none more
    r.expect_registry("HKLM", NDP11, "Install", 1)


@scenario("hostile-servicepack-reset", installed=("dotnet", "agent"),
          downloads=downloads(**{SP_PRIMARY: servers.reset(FIXTURE_SP),
                                 SP_SECONDARY: servers.reset(FIXTURE_SP, 0.25)}))
def hostile_servicepack_reset(r):
    """Both Service Pack addresses reset the connection in the middle of the
    body: each attempt fails (9058, the download ended early), no partial
    file is left, the Download Error box tells the person. The second run on
    a good server fetches and installs the Service Pack."""
    start(r)
    answer(r, "Download Error", key="Return")
    r.accept_licence()
    r.wait_exit(60)
    common(r)
    r.expect_events((4004, 5006, 9058, 5008, 5007, 9058, 5009, 3115, 3111))
    # A reset may overtake the bytes before it: the head too is then lost and
    # the attempt fails as a broken connection.
    failed = descs(r, 9058)
    r.check(len(failed) == 2 and
            all(d.startswith("HTTP ERROR: The download ended early: ") or
                d == "HTTP ERROR: Unknown error has occured" for d in failed),
            f"9058 reads {failed}")
    r.expect_workdir(lacks=("NDP1.1sp1-Kb867460-X86.exe",))
    r.expect_registry("HKLM", NDP11, "SP", None)

    second_run(r, **{SP_PRIMARY: servers.serve(FIXTURE_SP)})
    r.accept_licence()
    r.wait_exit(60)
    common(r)
    r.expect_events((4004, 5006, 5010, 6004, 6006, 7001, 7003, 3115, 3111))
    r.expect_absent(9058)
    r.expect_registry("HKLM", NDP11, "SP", 1)


@scenario("hostile-agent-no-length", installed=("dotnet", "servicepack"),
          downloads=downloads(**{AGENT_PATH: servers.no_length("TestAgent.msi")}))
def hostile_agent_no_length(r):
    """The agent package comes without a Content-Length: the download fails
    (9058, no file size, 5013), nothing reaches msiexec, no launcher runs. The
    second run on a good server fetches and installs the package."""
    start(r)
    r.accept_licence()
    r.wait_exit(60)
    common(r)
    r.expect_events((4006, 5012, 9058, 5013), (3115, 3111))
    r.check(descs(r, 9058) == ["HTTP ERROR: Failed to retrieve file size, possibly due to an "
                               "invalid URL."], f"9058 reads {descs(r, 9058)}")
    r.expect_absent(6007, 7001)
    r.expect_registry("HKCU", AGENT_KEY, "RuntimeGuid", None)

    second_run(r, **{AGENT_PATH: servers.serve("TestAgent.msi")})
    r.accept_licence()
    r.wait_exit(60)
    common(r)
    r.expect_events((4006, 5012, 5014, 6007, 6009, 7001, 7003, 3115, 3111))
    r.expect_absent(9058)


def log_server_road(r, expect_drain):
    """A run with everything installed; every record is in the log file and
    the process ends within the drain and one attempt of its last window
    (at once when nothing is left to deliver)."""
    start(r)
    r.wait_window("progress", timeout=30)
    if not r.gone("progress", timeout=60):
        raise Failed("the progress window did not close")
    closed = time.time()
    r.wait_exit(DRAIN_S + 2 * ATTEMPT_S + 60)
    lingered = r.ended - closed
    r.note(f"ended {lingered:.1f} s after the last window closed, "
           f"{len(r.reports())} report requests")
    r.expect_exit(0)
    expect_all_records_logged(r)
    r.expect_events(START + (4001, 4003, 4005, 4062, 7001, 7003, 3115, 3111), (3019, 4060, 4062),
                    complete=True)
    r.expect_startup_folder_removed()
    if expect_drain:
        r.check(DRAIN_S - 5 <= lingered <= DRAIN_S + ATTEMPT_S + SLACK_S,
                f"the process ended {lingered:.1f} s after the last window, expected the "
                f"{DRAIN_S} s drain and at most one {ATTEMPT_S} s attempt")
    else:
        r.check(lingered <= ATTEMPT_S + SLACK_S, f"the process ended {lingered:.1f} s after "
                "the last window, with nothing left to deliver")


@scenario("hostile-log-server-refused", slow=True, installed=("dotnet", "servicepack", "agent"),
          log_server=False, entries={"EULA.TXT": None}, timeout=200)
def hostile_log_server_refused(r):
    """Nothing listens on the log server's port: every pass fails at once, the
    records stay in the log file, the exit waits out the drain."""
    log_server_road(r, expect_drain=True)


@scenario("hostile-log-server-slow", slow=True, installed=("dotnet", "servicepack", "agent"),
          log_server=False, entries={"EULA.TXT": None}, timeout=200)
def hostile_log_server_slow(r):
    """The log server answers each report after 5 s, as long as the sender
    waits: the records are all in the log file and the exit comes within the
    drain and one attempt."""
    r.log_server = servers.AnsweringLogServer(status=200, delay=5.0)
    log_server_road(r, expect_drain=True)


PUBLISHER = "Kestrel Test Publisher"


@scenario("signed-agent-changed", installed=("dotnet", "servicepack"),
          trusted_roots=("authority.der",),
          config={"TorvaneAgent_Signer": PUBLISHER,
                  "TorvaneAgent_SHA256_Key": "$signed_msi_sha256"},
          downloads=downloads(**{AGENT_PATH: servers.wrong_digest("signed.msi")}))
def signed_agent_changed(r):
    """The publisher's signed package with one byte changed on the way: a
    package's signature need not cover its content (under Wine it does not),
    its SHA-256 does: 9067, 5013, nothing reaches msiexec. The second run
    gets it unchanged: the digest and the publisher's signature pass, and it
    is installed."""
    start(r)
    r.accept_licence()
    r.wait_exit(60)
    common(r)
    r.expect_events((4006, 5012, 9067, 5013), (3115, 3111))
    r.expect_absent(6007, 7001, 9068, 9069, 9070, 9071, 9072, 9073)
    r.expect_registry("HKCU", AGENT_KEY, "RuntimeGuid", None)
    r.expect_workdir(lacks=("TorvaneAgent.msi",))

    second_run(r, **{AGENT_PATH: servers.serve("signed.msi")})
    r.accept_licence()
    r.wait_exit(60)
    common(r)
    r.expect_events((4006, 5012, 5014, 6007, 6009, 7001, 7003, 3115, 3111))


@scenario("signed-dotnet-changed", installed=("servicepack", "agent"),
          trusted_roots=("authority.der",),
          config={"DotNetFramework_Signer": PUBLISHER, "DotNetFramework_MD5_Key": None},
          downloads=downloads(**{DOTNET_PRIMARY: servers.serve("signed_changed.exe"),
                                 DOTNET_SECONDARY: servers.serve("signed.exe")}))
def signed_dotnet_changed(r):
    """The primary serves the publisher's signed installer changed after
    signing: its signature fails (9069), the file is deleted before anything
    runs it, and the secondary's unchanged one passes and is installed."""
    start(r)
    r.accept_licence()
    r.wait_exit(90)
    common(r)
    r.expect_events((4002, 5000, 9069, 5002, 5001, 5005, 6001, 6003, 7003, 3115, 3111))
    r.expect_registry("HKLM", NDP11, "Install", 1)
