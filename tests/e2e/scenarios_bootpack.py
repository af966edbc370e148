"""The road of the distributor's tool on Windows: bootpack.exe, the Windows
build, checks the packed Setup.exe against the road's servers through the
bootstrapper's own WinINet layer. Set-up keywords: see road.scenario."""

import json
import os
import time

import rig
import servers
from payload import DOTNET_SECONDARY, SP_SECONDARY
from road import primary_downloads, scenario

# Every check's verdict when the secondary .NET address serves a changed
# byte and the secondary Service Pack address is not there.
EXPECTED = {
    "lint": "ok",
    "dotnet.primary": "ok",
    "dotnet.secondary": "error",
    "servicepack.primary": "ok",
    "servicepack.secondary": "error",
    "agent": "ok",
    "logserver": "ok",
}
TIMEOUT_S = 5


@scenario("bootpack-check-on-wine",
          downloads=dict(primary_downloads(),
                         **{DOTNET_SECONDARY: servers.wrong_digest("fake_dotnetfx.exe"),
                            SP_SECONDARY: servers.not_found()}))
def bootpack_check_on_wine(r):
    bootpack = os.path.abspath(os.path.join(os.path.dirname(r.ctx.stub), "bootpack.exe"))
    started = time.time()
    result = r.prefix.wine([bootpack, "check", rig.windows_path(r.exe), "--json", "--timeout",
                            str(TIMEOUT_S)], cwd=r.cwd, check=False, timeout=120)
    seconds = time.time() - started
    with open(os.path.join(r.dir, "check.json"), "w") as f:
        f.write(result.stdout)
    text = result.stdout
    try:
        report = json.loads(text[text.index("{"):text.rindex("}") + 1])
    except ValueError:
        r.fail(f"bootpack check printed no JSON: {text[:500]!r}")
        return
    if result.returncode != 2:
        r.fail(f"exit status {result.returncode}, expected 2 (errors)")
    checks = {check["name"]: check for check in report["checks"]}
    verdicts = {name: check["verdict"] for name, check in checks.items()}
    if verdicts != EXPECTED:
        r.fail(f"verdicts {verdicts}, expected {EXPECTED}")
    if "differs from the configured" not in checks.get("dotnet.secondary", {}).get("reason", ""):
        r.fail(f"dotnet.secondary: {checks.get('dotnet.secondary')}")
    if checks.get("servicepack.secondary", {}).get("status") != 404:
        r.fail(f"servicepack.secondary: {checks.get('servicepack.secondary')}")
    for name in ("dotnet.primary", "servicepack.primary", "agent"):
        check = checks.get(name, {})
        if check.get("received") != check.get("length") or "first_byte_ms" not in check:
            r.fail(f"{name}: {check}")
    reports = [(path, agent) for _, path, agent in r.log_server.requests]
    if len(reports) != 1 or not reports[0][0].startswith("/?TOKEN='bootpack-check',") \
            or reports[0][1] != "TORVANE_NETWORKS_WF":
        r.fail(f"the log server got {reports}, expected one report of the check")
    r.note(f"bootpack check under Wine took {seconds:.1f} s")
