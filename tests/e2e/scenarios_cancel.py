"""Cancelling at any moment: a seed picks the phase (the splash, the licence,
each download, each install, the launcher) and a delay inside it; the road
cancels there as a person would and checks that the run ends cleanly.

  tests/e2e/run_e2e.py cancel-any-moment --repeat 50 --seed S

runs S, S+1, ... (without --seed the first seed comes from the clock); each
run prints its seed, phase and delay as a note, so one run is repeated with
--seed of that run. cancel-at-seed-7 is the one fixed seed of the default
suite."""

import random
import time

import servers
from payload import AGENT_PATH, DOTNET_PRIMARY, SP_PRIMARY
from road import TITLE, scenario
from road_windows import BUTTONS, control_of
from scenarios_roads import FIXTURE_DOTNET, FIXTURE_SP, common, downloads

ABORT_QUESTION = "Are you sure you want to abort the installation?"
SURVEY_QUESTION = (
    "We are sorry that you have decided to cancel your Kestrel install.\r\n"
    "Would you like to fill out a short survey to provide feedback about your install experience?")

# Each phase: the latest delay (s) inside it. The installers sleep INSTALL_MS,
# the launcher runs LAUNCHER_MS, the downloads are held until the road lets
# them go, so a delay below these bounds lands inside the phase. msiexec needs
# well under a second: its delays are short.
INSTALL_MS = 3000
LAUNCHER_MS = 5000
PHASES = (
    ("splash", 1.5),
    ("licence", 3.0),
    ("download-dotnet", 3.0),
    ("install-dotnet", 2.5),
    ("download-servicepack", 3.0),
    ("install-servicepack", 2.5),
    ("download-agent", 3.0),
    ("install-agent", 0.2),
    ("launcher", 3.5),
)
# Each activity: the event that starts it, those that end it (done, cancelled).
ACTIVITIES = {
    "download-dotnet": (5000, (5004, 5100)),
    "download-servicepack": (5006, (5010, 5102)),
    "download-agent": (5012, (5014, 5104)),
    "install-dotnet": (6001, (6003, 6100)),
    "install-servicepack": (6004, (6006, 6101)),
    "install-agent": (6007, (6009, 6102)),
    "launcher": (7001, (7003, 7009)),
}
INSTALLER_STARTS = (6001, 6004, 6007, 7001)
# From the confirmation (or the licence's Cancel) to the end of the process:
# the cancelled read or installer wait ends within a second, the survey
# question is answered at once, the reports drain to a server that answers.
EXIT_BOUND_S = 20

_HELD = {path: servers.held(fixture) for path, fixture in
         ((DOTNET_PRIMARY, FIXTURE_DOTNET), (SP_PRIMARY, FIXTURE_SP), (AGENT_PATH, "TestAgent.msi"))}
_SETUP = dict(downloads=downloads(**_HELD),
              workdir_files={"dotnetfx.exe.sleep": str(INSTALL_MS).encode(),
                             "dotnetServicePack.exe.sleep": str(INSTALL_MS).encode()},
              launcher_ms=LAUNCHER_MS, timeout=150)
# The order in which the road lets the held downloads go.
_RELEASE_ORDER = (DOTNET_PRIMARY, SP_PRIMARY, AGENT_PATH)


def choose(seed):
    """(phase, delay, by key): the moment and the way of one run."""
    rng = random.Random(seed)
    phase, latest = rng.choice(PHASES)
    return phase, round(rng.uniform(0, latest), 2), rng.random() < 0.5


def release_until(r, count):
    for path in _RELEASE_ORDER[:count]:
        _HELD[path].release()


def reach(r, phase):
    """Drives the run to the start of `phase` on the progress window."""
    r.accept_licence()
    r.wait_window("progress", timeout=15)
    if phase == "download-dotnet":
        r.wait_event(5000)
        return
    steps = {"install-dotnet": (1, 6001), "download-servicepack": (1, 5006),
             "install-servicepack": (2, 6004), "download-agent": (2, 5012),
             "install-agent": (3, 6007), "launcher": (3, 7001)}
    count, marker = steps[phase]
    release_until(r, count)
    r.wait_event(marker, timeout=30)


def ask(r, by_key):
    """Cancel (the button, or Esc for the close command): the question."""
    window = r.wait_window("progress", timeout=5)
    r.focus(TITLE)
    if by_key:
        r.key("Escape")
    else:
        r.click(window, 1012)


def cancel_progress(r, by_key):
    """Cancel and Yes: the time of the Yes."""
    ask(r, by_key)
    r.answer_box("Abort Installation", "Yes", timeout=10)
    return time.time()


def cancel_agent_install(r, by_key, delay):
    """msiexec needs well under a second, less than finding and answering a
    box takes: the question is asked while the Service Pack installs, and
    the Yes, ready under the pointer, goes `delay` after 6007."""
    release_until(r, 3)
    r.wait_event(6004, timeout=30)
    ask(r, by_key)
    box = r.recorded("box", "Abort Installation", timeout=10)
    r.focus("Abort Installation")
    left, top, right, bottom = control_of(r.live(box), BUTTONS["Yes"])["rect"]
    r.ctx.input.move((left + right) // 2, (top + bottom) // 2)
    deadline = time.time() + 30
    while 6007 not in r.ids() and time.time() < deadline:
        time.sleep(0.02)
    time.sleep(delay)
    r.ctx.input.click((left + right) // 2, (top + bottom) // 2)
    r.wait_until(lambda: not box.shown, 5, "end of the question")
    return time.time()


def position(ids, event_id, after=-1):
    try:
        return ids.index(event_id, after + 1)
    except ValueError:
        return None


def expect_clean_cancel(r, confirmed_at):
    """After a confirmed cancel: the click's event, the confirmation's 3115
    before any shutdown, every activity under way ended (done or cancelled),
    no installer started after the confirmation, the survey question after
    the confirmation."""
    ids = r.ids()
    clicked = [i for i in ids if i in (9004, 9005)]
    r.check(len(clicked) == 1, f"the cancel's 9004/9005 logged {len(clicked)} times; log {ids}")
    confirmation = position(ids, 3115)
    if confirmation is None:
        r.fail(f"no 3115 from the confirmation; log {ids}")
        return
    r.check(ids.count(3115) == 2, f"3115 logged {ids.count(3115)} times, expected 2 (Yes, exit)")
    late = [i for i in ids[confirmation:] if i in INSTALLER_STARTS]
    r.check(not late, f"installers started after the confirmation: {late}; log {ids}")
    under_way = []
    for name, (begun, ends) in ACTIVITIES.items():
        at = position(ids, begun)
        if at is None or at > confirmation:
            continue
        done = [(n, i) for n, i in enumerate(ids) if n > at and i in ends]
        # The cancelled thread may log its end before the main thread's 3115.
        if not done or done[0][0] > confirmation or done[0][1] == ends[1]:
            under_way.append(name)
        done = [i for _, i in done]
        r.check(len(done) == 1, f"{name} ({begun}) ended by {done}, expected one of {ends}")
    r.note("under way at the confirmation: " + (", ".join(under_way) or "nothing"))
    r.expect_boxes(("Abort Installation", ABORT_QUESTION), ("Abort Installation", SURVEY_QUESTION))
    r.note(f"exit {r.ended - confirmed_at:.1f} s after the Yes")
    r.check(r.ended - confirmed_at <= EXIT_BOUND_S,
            f"the process ended {r.ended - confirmed_at:.1f} s after the Yes "
            f"(bound {EXIT_BOUND_S} s)")


def expect_declined(r, declined_at, event_id):
    """A licence cancelled: its event, nothing installed, no survey."""
    r.expect_events((event_id, 3115, 3111))
    r.expect_absent(9003, 4062, *INSTALLER_STARTS)
    r.expect_boxes()
    r.note(f"exit {r.ended - declined_at:.1f} s after the licence closed")
    r.check(r.ended - declined_at <= EXIT_BOUND_S,
            f"the process ended {r.ended - declined_at:.1f} s after the licence closed "
            f"(bound {EXIT_BOUND_S} s)")


def cancel_at(r, seed):
    phase, delay, by_key = choose(seed)
    r.note(f"seed {seed} phase {phase} delay {delay:.2f} s by {'key' if by_key else 'button'}")
    r.start()
    if phase in ("splash", "licence"):
        if phase == "splash":
            splash = r.wait_window("splash", timeout=30)
            time.sleep(delay)
            # The splash has no title to find it by: a click on it brings it
            # forward, then the keys that would close another window.
            left, top, right, bottom = splash["rect"]
            r.ctx.input.click((left + right) // 2, (top + bottom) // 2)
            r.key("Escape")
            r.key("alt+F4")
            r.check(r.record.refresh().of_kind("splash", open_only=True),
                    "the splash closed on Esc or Alt+F4")
            r.wait_window("licence", timeout=30)
            r.expect_absent(9000)
            record = r.record.refresh()
            stayed = record.of_kind("licence")[0].opened - record.of_kind("splash")[0].opened
            r.check(stayed >= 2.9, f"the licence came {stayed:.1f} s after the splash, not 3 s")
            delay = 0
        licence = r.wait_window("licence", timeout=30)
        time.sleep(delay)
        r.focus(TITLE)
        if by_key:
            r.key("Escape")
        else:
            r.click(licence, 1009)
        declined = time.time()
        r.wait_exit(EXIT_BOUND_S + 30)
        common(r, reported=False)  # reporting begins with the progress window
        expect_declined(r, declined, 9002 if by_key else 9001)
    else:
        if phase == "install-agent":
            r.accept_licence()
            r.wait_window("progress", timeout=15)
            confirmed = cancel_agent_install(r, by_key, delay)
        else:
            reach(r, phase)
            time.sleep(delay)
            confirmed = cancel_progress(r, by_key)
        r.answer_box("Abort Installation", "No", timeout=EXIT_BOUND_S)
        r.wait_exit(EXIT_BOUND_S + 30)
        common(r)
        expect_clean_cancel(r, confirmed)
    r.note(f"ended {r.ended - r.started:.1f} s after the start")


@scenario("cancel-any-moment", in_suite=False, **_SETUP)
def cancel_any_moment(r):
    """Cancel at the moment the seed picks; see the module's text."""
    cancel_at(r, r.ctx.seed)  # the runner's --seed, one more for each repeat


@scenario("cancel-at-seed-7", **_SETUP)
def cancel_at_seed_7(r):
    """The fixed seed of the default suite (a cancel while the Service Pack
    installs)."""
    cancel_at(r, 7)
