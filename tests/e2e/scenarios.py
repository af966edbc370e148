"""The roads. Each is a set-up (the decorator's keywords, see road.scenario)
and a body: the person's input, then what must hold afterwards."""

import hashlib
import json
import os
import re
import time

import rig
import servers
from payload import AGENT_RUNTIME_GUID, DOTNET_PRIMARY, LICENCES, PICTURES, STARTUP_FOLDER
from road import AGENT_KEY, NDP11, TITLE, primary_downloads, scenario

EVERYTHING = ("dotnet", "servicepack", "agent")
NO_LICENCES = {name: None for name in LICENCES}
BUTTONS = os.path.join(rig.ROOT, "ui", "win32", "resources")
DEMO = os.path.join(rig.ROOT, "demo")

SURVEY_QUESTION = (
    "We are sorry that you have decided to cancel your Kestrel install.\r\n"
    "Would you like to fill out a short survey to provide feedback about your install experience?")
ABORT_QUESTION = "Are you sure you want to abort the installation?"

AGENT_DIR = r"C:\Program Files\Torvane\Agent"
LAUNCHER_OUTPUT = "BrindleAgentLauncherOutput.txt"
# What the launcher is given after the dependencies, for desk "Parlor" and
# the quoted content id.
LAUNCHER_ARGS = ('-w Torvane.Services.Agent.WebServices -w Torvane.Ads.AgentAdEngine  '
                 '-q -i Parlor -s Parlor -i "Parlor_Solitaire" -ld c')


def launcher_ran(r):
    """The launcher step's traces: its command line, the cookie it read, the
    bar at 100 %, the AGENT field of 7003, the start-up folder gone."""
    output = (r.workdir_file(LAUNCHER_OUTPUT) or "").replace("\r\n", "\n")
    r.check(LAUNCHER_ARGS in output, f"launcher arguments not as expected: {output[:300]!r}")
    r.check("cookie: Content=Parlor_Solitaire\n" in output and "cookie: Catalog=\n" in output,
            f"the launcher did not see the cookie file: {output[:300]!r}")
    r.expect_text_seen("progress", 1021, "100% Complete")
    r.expect_text_seen("progress", 1003, "Requesting Solitaire Parlor files...")
    r.expect_agent_field(AGENT_RUNTIME_GUID)
    r.expect_startup_folder_removed()




# What a fresh machine's run sends and leaves, recorded with the build from
# before the keys that a configuration may add: KESTREL_E2E_RECORD=1 writes it.
RECORDED_FRESH_RUN = os.path.join(rig.ROOT, "tests", "e2e", "recorded", "fresh-machine.json")


def run_fingerprint(r):
    """The run without what differs between any two runs (times, the token,
    the port, the order in which two threads' records interleave)."""
    volatile = re.compile(r"TIMESTAMP='[^']*'|TOKEN='[^']*'")

    def md5(path):
        with open(path, "rb") as f:
            return hashlib.md5(f.read()).hexdigest()

    # The fixtures are built afresh on each machine (a PE carries its link
    # time): a downloaded file is named by what it is a copy of.
    served = {md5(r.ctx.fixture(fault.source)): f"a copy of {fault.source}"
              for fault in primary_downloads().values()}
    files = {}
    for name in sorted(os.listdir(r.prefix.workdir)):
        if name != "TorvaneLogFile.txt":  # its records are compared below
            digest = md5(os.path.join(r.prefix.workdir, name))
            files[name] = served.get(digest, digest)
    return {
        "download requests": sorted([command, path, headers]
                                    for command, path, headers in r.downloads.heads),
        "log records": sorted(volatile.sub("", line) for line in
                              (r.log_text() or "").splitlines() if line.strip()),
        "reports": sorted(volatile.sub("", target) for _, target, _ in r.reports()),
        "working folder": files,
    }


@scenario("fresh-machine")
def fresh_machine(r):
    """.NET, its Service Pack and the agent missing: all three downloaded from
    their primary addresses and installed, then the launcher. The
    configuration has none of the keys that may be added: the run's requests
    (every header), records, reports and files are those of the run recorded
    before those keys came."""
    fresh_machine_run(r)
    r.expect_reports()
    seen = run_fingerprint(r)
    if os.environ.get("KESTREL_E2E_RECORD"):
        os.makedirs(os.path.dirname(RECORDED_FRESH_RUN), exist_ok=True)
        with open(RECORDED_FRESH_RUN, "w") as f:
            json.dump(seen, f, indent=1, sort_keys=True)
            f.write("\n")
        r.note(f"recorded in {RECORDED_FRESH_RUN}")
        return
    with open(RECORDED_FRESH_RUN) as f:
        recorded = json.load(f)
    for part, value in recorded.items():
        r.check(seen.get(part) == value, f"{part} differ from the recorded run: "
                f"{json.dumps(seen.get(part))[:400]} against {json.dumps(value)[:400]}")


@scenario("https-downloads", https=True)
def https_downloads(r):
    """The fresh machine with every address on https (localhost, a test
    authority the prefix trusts): the same run, each file fetched over TLS."""
    fresh_machine_run(r)
    r.expect_reports()
    kinds = [path for _, path, _ in r.downloads.requests]
    r.check(len(kinds) == 3, f"the https server had {kinds}, expected the three downloads")


def fresh_machine_run(r):
    """The fresh-machine road and all it checks but the log server's record."""
    r.start()
    r.accept_licence()
    r.wait_exit(180)
    r.expect_exit(0)
    r.expect_log_well_formed()
    r.expect_events(
        # start-up, the queue, the windows, the installs, the launch, the exit
        (3000, 3010, 3021, 3019, 4002, 4004, 4006, 9003, 4062,
         6001, 6003, 6004, 6006, 6007, 6009, 7001, 7003, 3115, 3111),
        # downloads follow the queue and precede their installs
        (4006, 5000, 5004, 5006, 5010, 5012, 5014, 6007),
        (5004, 6001), (5010, 6004),
        (3019, 4060, 4061, 9003),
        complete=True)
    r.expect_windows("splash", "licence", "progress")
    r.expect_boxes()
    r.expect_registry("HKLM", NDP11, "Install", 1)
    r.expect_registry("HKLM", NDP11, "SP", 1)
    r.expect_registry("HKCU", AGENT_KEY, "RuntimeGuid", AGENT_RUNTIME_GUID)
    r.expect_path(AGENT_DIR + r"\TestAgentLauncher.exe")
    r.expect_workdir(has=("dotnetfx.exe", "dotnetServicePack.exe", "TorvaneAgent.msi",
                          "TorvaneLogFile.txt", LAUNCHER_OUTPUT, "SPLASHSCREEN.JPG",
                          "BACKGROUND.JPG", "PROGRESSBAR_BIRD.JPG", "LOGOICON.ICO"))
    # The installers ran silently with the switches of a 1.1 set-up.
    r.check('/q:a /c:"install /l /q"' in (r.workdir_file("dotnetfx.exe.log") or ""),
            "dotnetfx.exe was not run with its silent switches")
    r.check("/q" in (r.workdir_file("dotnetServicePack.exe.log") or ""),
            "dotnetServicePack.exe was not run")
    launcher_ran(r)


def check_splash(r):
    """The splash is the size of its picture and shows it 1:1."""
    picture = os.path.join(DEMO, "SPLASHSCREEN.JPG")
    splash = r.wait_window("splash")
    time.sleep(0.5)
    left, top, right, bottom = splash["rect"]
    r.check((right - left, bottom - top) == rig.image_size(picture),
            f"splash is {right - left}x{bottom - top}, its picture {rig.image_size(picture)}")
    shot = r.shot("splash", splash)
    spots = [(40, 30), (300, 80), (100, 160), (60, 190), (380, 250)]
    for spot, seen, drawn in zip(spots, rig.pixels(shot, spots), rig.pixels(picture, spots)):
        r.check(rig.near(seen, drawn), f"splash at {spot} is {seen}, the picture has {drawn}")


@scenario("everything-installed", installed=EVERYTHING, entries={"EULA.TXT": None})
def everything_installed(r):
    """All components in place and no client licence: the progress window
    follows the splash, only the launcher runs."""
    r.start()
    check_splash(r)
    r.wait_window("progress")
    r.wait_exit()
    r.expect_exit(0)
    r.expect_log_well_formed()
    r.expect_events((3000, 3010, 3021, 3019, 4001, 4003, 4005, 4062, 7001, 7003, 3115, 3111),
                    (3019, 4060, 4062), complete=True)
    r.expect_windows("splash", "progress")
    r.expect_boxes()
    r.expect_reports()
    r.check(not r.downloads.requests, f"downloads requested: {r.downloads.requests}")
    r.expect_workdir(lacks=("dotnetfx.exe", "dotnetServicePack.exe", "TorvaneAgent.msi"))
    # The splash stays its three seconds even when the steps are ready at once.
    times = {rec.id: rec.time for rec in r.records()}
    r.check(times[4062] - times[4060] >= 2.9,
            f"the splash closed after {times[4062] - times[4060]:.2f} s")
    launcher_ran(r)


def decline(r, act, event, other):
    r.start()
    licence = r.wait_window("licence")
    r.focus(TITLE)
    act(licence)
    r.wait_exit(60)
    r.expect_exit(0)
    r.expect_log_well_formed()
    r.expect_events(3000, 3019, 4060, 4061, event, 3115, 3111)
    r.expect_absent(other, 9003, 4062, 6001, 7001)
    r.expect_reports(delivered=False)
    r.expect_boxes()  # no survey question after a declined licence
    r.expect_windows("splash", "licence")
    r.expect_startup_folder_removed()


@scenario("licence-cancel-button")
def licence_cancel_button(r):
    """Cancel on the licence ends the run: 9001, nothing reported."""
    decline(r, lambda licence: r.click(licence, 1009), 9001, 9002)


@scenario("licence-escape")
def licence_escape(r):
    """Escape closes the licence window like its close box: 9002."""
    decline(r, lambda licence: r.key("Escape"), 9002, 9001)


@scenario("second-copy-refused", installed=EVERYTHING)
def second_copy_refused(r):
    """A second start while the first runs: one box, no log of its own."""
    r.start()
    r.wait_window("licence")
    first_line = r.records()[0].line
    second = r.start_second()
    r.answer_box("Kestrel Bootstrapper", "OK", icon=False)
    r.check(second.wait(30) == 0, "the second copy did not end with 0")
    records = r.records()
    r.check(records and records[0].line == first_line and r.ids().count(3000) == 1,
            "the second copy touched the log file")
    r.focus(TITLE)
    r.key("Escape")
    r.wait_exit(60)
    r.expect_exit(0)
    r.expect_boxes(("Kestrel Bootstrapper",
                    "Please wait for the first game request to complete..."))
    r.expect_events(3000, 4061, 9002, 3111)


@scenario("unsupported-system", windows="win7")
def unsupported_system(r):
    """A system that says it is Windows 7 is refused after 3000."""
    r.start()
    r.answer_box("Installation Error", "OK", icon=False)
    r.wait_exit(60)
    r.expect_exit(0)
    r.expect_log_well_formed()
    r.expect_exactly(3000, 3002)
    r.expect_boxes(("Installation Error", "We're sorry, this installation cannot continue "
                    "because your operating system is not supported."))
    r.expect_windows()
    r.expect_reports(delivered=False)
    r.expect_path(STARTUP_FOLDER, exists=False)


@scenario("progress-cancel",
          entries=NO_LICENCES,
          downloads=dict(primary_downloads(), **{DOTNET_PRIMARY: servers.held("fake_dotnetfx.exe")}))
def progress_cancel(r):
    """While .NET downloads: Enter and Space on the focused Cancel do nothing;
    Cancel asks, No goes on, Yes cancels and the survey is offered at exit."""
    r.start()
    progress = r.wait_window("progress")
    r.focus(TITLE)
    time.sleep(0.5)
    r.shot("progress", progress)
    r.key("Return")
    r.key("space")
    time.sleep(1.5)
    r.check(not r.record.refresh().of_kind("box", "Abort Installation"),
            "Enter or Space on Cancel asked to abort")
    r.expect_absent(9005)

    r.click(progress, 1012)
    r.wait_window("box", "Abort Installation")
    time.sleep(0.3)
    r.shot("cancel-confirmation")
    cancel = [c for c in r.now("progress")["controls"] if c["id"] == 1012][0]
    r.check(not cancel["enabled"], "Cancel stays enabled while the question is open")
    r.answer_box("Abort Installation", "No", icon=True)
    time.sleep(0.5)
    progress = r.wait_window("progress")
    cancel = [c for c in progress["controls"] if c["id"] == 1012][0]
    r.check(cancel["enabled"] and cancel["visible"], "Cancel not back after No")
    r.expect_absent(5100)

    r.click(progress, 1012)
    # The download waits for the server in the middle of a read; the Yes ends
    # that read at once, so the window closes and the survey question follows.
    # The record still has the cancelling state the window passed through.
    r.answer_box("Abort Installation", "Yes")
    r.answer_box("Abort Installation", "No", timeout=10, icon=True)
    window = r.record.refresh().of_kind("progress")[0]
    r.expect_text_seen("progress", 1003, "Cancelling installation...")
    for control_id, what in ((1012, "Cancel"), (1037, "the caption"), (1021, "the percentage")):
        r.check(False in window.control(control_id).history("visible"),
                f"{what} was never hidden while cancelling")
    r.wait_exit(60)
    r.expect_exit(0)
    r.expect_log_well_formed()
    r.expect_events((3000, 3019, 4002, 4004, 4006, 5000, 9065, 5100, 3115, 3111),
                    (4060, 4062, 9005, 9005, 9065, 5100))
    r.check(r.ids().count(9005) == 2, "9005 not posted twice")
    r.expect_absent(5004, 6001, 4061, 9003)
    r.expect_boxes(("Abort Installation", ABORT_QUESTION), ("Abort Installation", ABORT_QUESTION),
                   ("Abort Installation", SURVEY_QUESTION))
    r.expect_reports()
    r.expect_startup_folder_removed()


GARBAGE = b"This is a text file, not a picture.\r\n" * 40


@scenario("pictures-not-jpeg", installed=EVERYTHING,
          entries={name: GARBAGE for name in PICTURES})
def pictures_not_jpeg(r):
    """Pictures that are not pictures: the windows come without them, and the
    run goes on to the end."""
    r.start()
    splash = r.wait_window("splash")
    time.sleep(0.5)
    shot = r.shot("splash", splash)
    width, height = rig.image_size(shot)
    spots = rig.pixels(shot, [(width // 4, height // 4), (width // 2, height // 2),
                              (3 * width // 4, 3 * height // 4)])
    r.check(len(set(spots)) == 1, f"splash not plain: {spots}")
    licence = r.wait_window("licence")
    r.focus(TITLE)
    time.sleep(0.5)
    path = r.shot("licence", licence)
    # The demo background is a light blue gradient; without it the window
    # shows one plain colour where the gradient would be.
    width = licence["rect"][2] - licence["rect"][0]
    height = licence["rect"][3] - licence["rect"][1]
    spots = rig.pixels(path, [(width // 2, 40), (width // 2, height - 60), (20, height // 2)])
    r.check(len(set(spots)) == 1, f"background not plain: {spots}")
    r.key("Return")
    r.wait_event(9003, 10)
    progress = r.wait_window("progress")
    r.shot("progress", progress)
    r.wait_exit()
    r.expect_exit(0)
    r.expect_log_well_formed()
    r.expect_events(3000, 3019, 4060, 4061, 9003, 4062, 7001, 7003, 3115, 3111)
    r.expect_absent(3014, 3015, 3016, 3018, 3112)
    r.expect_windows("splash", "licence", "progress")


def click_close_box(r, window):
    """The close box at the right end of the title bar, which the window
    manager draws."""
    left, top, right, bottom = window["rect"]
    r.ctx.input.click(right - 9, top + 9)


@scenario("progress-close-box",
          entries=NO_LICENCES,
          downloads=dict(primary_downloads(), **{DOTNET_PRIMARY: servers.held("fake_dotnetfx.exe")}))
def progress_close_box(r):
    """The close box asks like Cancel (9004); the Yes ends the download that
    waits in the middle of a read at once, and the run with it. (A second
    close box while cancelling would close the window at once; the cancel no
    longer lasts long enough to click it, the progress flow's tests have it.)"""
    r.start()
    progress = r.wait_window("progress")
    r.focus(TITLE)
    click_close_box(r, progress)
    r.answer_box("Abort Installation", "Yes")
    r.answer_box("Abort Installation", "No", timeout=10)
    r.wait_exit(60)
    r.check(r.ids().count(9004) == 1, f"9004 posted {r.ids().count(9004)} times")
    r.expect_exit(0)
    r.expect_log_well_formed()
    r.expect_events((4062, 9004, 9065, 5100, 3115, 3111))
    r.expect_absent(9005, 5004, 6001)
    r.expect_boxes(("Abort Installation", ABORT_QUESTION), ("Abort Installation", SURVEY_QUESTION))
    r.expect_reports()
