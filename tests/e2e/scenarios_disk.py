"""A full disk: the room check before the pipeline, on a system folder with a
page less than the need and with exactly the need free, and a working
directory that fills while the agent package arrives. Each folder is put
on a tmpfs of its own (RoadSetUp.small_disk; root only, else skipped).

The room check measures the drive of the system folder (C:\\windows\\system32),
not the working directory's; under Wine its free space is the statfs of that
folder, exact to the page. Set-up keywords: see road.scenario."""

import os

from road import AGENT_KEY, scenario
from scenarios_roads import INSTALL_ALL, START, WINDOWS, accepted_run, answer, common, expect_only

MIB = 1048576
# What the queued steps need: .NET 50, Service Pack 50, agent 65 MiB.
NEED_ALL = (50 + 50 + 65) * MIB
NO_ROOM = "We're sorry, your system does not have enough free disk space to complete this installation."
SYSTEM_FOLDER = "C:\\windows\\system32"


def system_folder_with(r, free):
    got = r.small_disk(r.prefix.unix(SYSTEM_FOLDER), free)
    r.check(got == free, f"the system folder has {got} bytes free, expected {free}")


@scenario("disk-below-need")
def disk_below_need(r):
    """One page less than the need: 9051 and its box, nothing fetched; the
    licence, accepted, opens a progress window that closes at once."""
    system_folder_with(r, NEED_ALL - 4096)
    r.start()
    answer(r, "Installation Error")
    r.accept_licence()
    r.wait_exit(60)
    common(r)
    chain = START + (4002, 4004, 4006, 9051, 9003, 4062, 3115, 3111)
    r.expect_events(chain, WINDOWS)
    expect_only(r, chain + (4060, 4061))
    r.expect_boxes(("Installation Error", NO_ROOM))
    r.check(not r.downloads.requests, f"downloads requested: {r.downloads.requests}")


@scenario("disk-exactly-need")
def disk_exactly_need(r):
    """Exactly the need free: the check passes and everything installs."""
    system_folder_with(r, NEED_ALL)
    accepted_run(r, 90)
    r.expect_events(INSTALL_ALL, WINDOWS)
    r.expect_absent(9051, 9052)
    r.expect_boxes()
    r.expect_registry("HKCU", AGENT_KEY, "RuntimeGuid", "763FFD6B-A198-4866-A687-FB9E5BC14769")


@scenario("disk-fills-during-download", installed=("dotnet", "servicepack"))
def disk_fills_during_download(r):
    """The temporary folder holds 64 KiB: the pictures and the log fit, the
    agent package (112 KiB) does not. The failed write ends the download
    with 9052, the partial file is removed and nothing is installed."""
    r.small_disk(r.prefix.temp, 64 * 1024)
    r.start()
    r.wait_event(5012)
    stat = os.statvfs(r.prefix.temp)
    free = stat.f_bavail * stat.f_frsize
    r.check(0 < free < os.path.getsize(r.ctx.fixture("TestAgent.msi")),
            f"{free} bytes free as the download starts: not a disk that fills during it")
    r.accept_licence()
    r.wait_exit(60)
    common(r)
    r.expect_events(START + (4001, 4003, 4006, 5012, 9052, 5013), WINDOWS)
    r.expect_absent(6007, 7001)
    r.expect_workdir(lacks=("TorvaneAgent.msi",))
    r.expect_registry("HKCU", AGENT_KEY, "RuntimeGuid", None)
