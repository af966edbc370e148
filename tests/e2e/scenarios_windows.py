"""The windows as a person sees them. The licence window's two choices:
whatever the person clicks (a circle, a label, the same circle twice) or
presses, exactly one choice shows its mark, the marks on screen agree with
the buttons' checked states, and OK is enabled, drawn and coloured as
enabled exactly while "I accept" is chosen. A message box of the worker is
never hidden behind the topmost splash."""

import os
import time

import rig
from road import TITLE, scenario
from scenarios import BUTTONS, DEMO, EVERYTHING, GARBAGE, PICTURES

ACCEPT, DECLINE = 1006, 1007
ACCEPT_LABEL, DECLINE_LABEL = 1024, 1025
OK = 1008
ODS_DISABLED = 0x4
# OK's face a few pixels inside, as its enabled and disabled pictures have it.
OK_FACE = (10, 12)
YELLOW, GREY = (rig.pixels(os.path.join(BUTTONS, f"ok_{state}.bmp"), [OK_FACE])[0]
                for state in ("normal", "disabled"))

# What the person does, in this order: a click on a control or a key, and
# the choice it must leave (None: whichever the dialog's arrow keys make).
# A label is plain text: clicking it chooses nothing.
ACTIONS = (("click", DECLINE, DECLINE), ("click", ACCEPT_LABEL, DECLINE), ("click", ACCEPT, ACCEPT),
           ("click", ACCEPT, ACCEPT), ("click", DECLINE_LABEL, ACCEPT), ("click", DECLINE, DECLINE),
           ("key", "Up", None), ("key", "Down", None), ("click", ACCEPT, ACCEPT))


def control(window, control_id):
    return [c for c in window["controls"] if c["id"] == control_id][0]


def on_screen(r, window):
    """Whether each circle shows its dot (the middle of the circle, drawn at
    the left of the radio control and centred in its height, is dark), and
    the colour of OK's face."""
    shot = r.shot("radios", window)
    left, top = window["rect"][:2]
    points = []
    for control_id in (ACCEPT, DECLINE):
        rect = control(window, control_id)["rect"]
        x, y = rect[0] - left + 6, (rect[1] + rect[3]) // 2 - top
        points += [(x, y), (x + 1, y), (x, y + 1)]
    ok = control(window, OK)["rect"]
    points.append((ok[0] - left + OK_FACE[0], ok[1] - top + OK_FACE[1]))
    colours = rig.pixels(shot, points)
    dark = [sum(sum(rgb) for rgb in colours[i:i + 3]) / 9 < 110 for i in (0, 3)]
    return dict(zip((ACCEPT, DECLINE), dark)), colours[6]


def checked(recorded):
    return {i: recorded.control(i).checked == 1 for i in (ACCEPT, DECLINE)}


def check_marks(r, recorded, step, expected):
    """After one action: the recorded check states, the marks on screen and
    OK's state, last picture and colour all tell the same single choice."""
    if expected:
        # A click that changes the choice shows in the record once handled.
        r.wait_until(lambda: checked(recorded)[expected], 5, f"choice {expected} after {step}")
    # The probe's look comes after the input was handled and the window has
    # painted everything.
    window = r.live(recorded)
    r.record.refresh()
    state = checked(recorded)
    r.check(sum(state.values()) == 1, f"after {step}: checked states {state}")
    if expected:
        r.check(state[expected], f"after {step}: checked states {state}, expected {expected}")
    marks, ok_colour = on_screen(r, window)
    r.check(marks == state, f"after {step}: marks on screen {marks}, checked states {state}")
    r.check(control(window, OK)["enabled"] == state[ACCEPT], f"after {step}: OK enabled wrongly")
    draws = [item for _, control_id, item in recorded.draws if control_id == OK]
    r.check(draws and bool(draws[-1] & ODS_DISABLED) != state[ACCEPT],
            f"after {step}: OK last drawn with state {draws[-1:]}")
    r.check(rig.near(ok_colour, YELLOW if state[ACCEPT] else GREY),
            f"after {step}: OK's face is {ok_colour}")


def radio_marks(r, look=None):
    """The actions one after the other, then Enter on the focused OK accepts."""
    r.start()
    recorded = r.recorded("licence")
    window = r.live(recorded)
    r.focus(TITLE)
    r.wait_until(lambda: any(i == OK for _, i, _ in recorded.draws), 5, "OK drawn")
    if look:
        look(r, r.live(recorded))
    check_marks(r, recorded, "opening", ACCEPT)
    for kind, what, expected in ACTIONS:
        if kind == "click":
            r.click(window, what)
        else:
            r.key(what)
        check_marks(r, recorded, f"{kind} {what}", expected)
    r.shot("licence-chosen", r.live(recorded))
    r.key("Return")
    r.wait_event(9003, 10)
    r.wait_exit()
    r.expect_exit(0)
    r.expect_events(4061, 9003, 4062, 7001, 7003, 3111)
    r.expect_absent(9001, 9002)


def check_background(r, window):
    """The background picture, a vertical gradient, is stretched over the
    window: a point high and a point low at the left edge show it."""
    shot = r.shot("licence", window)
    background = os.path.join(DEMO, "BACKGROUND.JPG")
    _, picture_height = rig.image_size(background)
    height = window["rect"][3] - window["rect"][1]
    for y in (60, height - 30):
        seen = rig.pixels(shot, [(12, y)])[0]
        drawn = rig.pixels(background, [(12, (y - 20) * picture_height // (height - 20))])[0]
        r.check(rig.near(seen, drawn, 12), f"licence background at y={y} is {seen}, not {drawn}")


@scenario("licence-radio-marks", installed=EVERYTHING)
def licence_radio_marks(r):
    """Over the background picture."""
    radio_marks(r, check_background)


@scenario("licence-radio-marks-plain", installed=EVERYTHING,
          entries={name: GARBAGE for name in PICTURES})
def licence_radio_marks_plain(r):
    """Over the plain window, when the background picture cannot be shown."""
    radio_marks(r)


def box_in_front(r, box, splash):
    """Whether the screen shows the box where it overlaps the splash: grey
    where the splash picture would be seen (a look waits for both to paint)."""
    live = r.live(box)
    shot = r.shot("box-over-splash")
    left, top, right, bottom = live["rect"]
    spots = [(left + 10, bottom - 10), ((left + right) // 2, bottom - 6), (right - 10, top + 40)]
    splash_left, splash_top = r.live(splash)["rect"][:2]
    picture = os.path.join(DEMO, "SPLASHSCREEN.JPG")
    under = rig.pixels(picture, [(x - splash_left, y - splash_top) for x, y in spots])
    seen = rig.pixels(shot, spots)
    return all(not rig.near(s, d) and max(s) - min(s) < 12 for s, d in zip(seen, under)), seen


@scenario("box-over-splash", installed=("dotnet", "servicepack"),
          env={"WINEDLLOVERRIDES": "mscoree,mshtml,msi="})
def box_over_splash(r):
    """Without the Windows Installer the worker tells the person while the
    topmost splash is still up: whichever of the two came up first, the box
    ends in front, where it can be seen and answered, before anyone touches
    it."""
    r.start()
    splash = r.recorded("splash")
    box = r.recorded("box", "Installation Error")
    r.check(splash.shown, "the splash had closed before the box opened")
    # What the screen shows is a state, not a passing text: it must hold in
    # three looks in a row. (Wine's own stacking list is no witness: with a
    # window manager it can disagree with what X shows.)
    in_front, seen = 0, None
    deadline = time.time() + 10
    while in_front < 3 and time.time() < deadline:
        shown, seen = box_in_front(r, box, splash)
        in_front = in_front + 1 if shown else 0
    r.check(in_front == 3, f"the box is not seen in front of the splash: {seen}")
    r.answer_box("Installation Error", "OK")
    r.wait_window("licence", timeout=30)
    r.focus(TITLE)
    r.key("Escape")
    r.wait_exit(60)
    r.expect_exit(0)
    r.expect_events(3000, 3019, 4060, 4061, 9002, 3111)
