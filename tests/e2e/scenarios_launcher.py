"""The launcher step as a player meets it: a launcher that reports an error and
ends at once. Set-up keywords: see road.scenario."""

from road import scenario
from scenarios_roads import ALL_INSTALLED, START, WINDOWS, answer, common, expect_desc, start, support


@scenario("launcher-error-at-exit", installed=ALL_INSTALLED,
          env={"KESTREL_FAKE_LAUNCHER_ERROR_EXIT": "Parlor could not be fetched|4711"})
def launcher_error_at_exit(r):
    """The launcher writes an Error line and ends before the step looks again:
    the read after its end still gives 9060 with its message, the support box
    with its code and the abandoned stage (7009), never 7003."""
    start(r)
    r.accept_licence()
    answer(r, "Installation Error")
    r.wait_exit(60)
    common(r)
    r.expect_events(
        START + (4001, 4003, 4005, 9003, 4062, 7001, 9060, 7009, 3115, 3111), WINDOWS,
        complete=True)
    r.expect_absent(7003)
    expect_desc(r, 9060, "INSTALLATION ERROR: Parlor could not be fetched")
    r.expect_boxes(("Installation Error", support(4711)))
