"""The payload of a run: CONFIG.TXT from a template, the demo's pictures and
licence texts, packed onto the stub with bootpack."""

import hashlib
import os
import shutil

import rig

# The fixtures' identities, as tests/fixtures/README.md states them.
AGENT_PRODUCT_CODE = "{67BFB40A-5EF0-49EF-8A51-E9EF7B3EB965}"
AGENT_RUNTIME_GUID = "763FFD6B-A198-4866-A687-FB9E5BC14769"
WATERMARK = "e0d05435-034a-44cb-a11d-de3747162137"

# Download paths on the loopback server.
DOTNET_PRIMARY = "/install/dotnet1/dotnetfx.exe"
DOTNET_SECONDARY = "/install/dotnet2/dotnetfx.exe"
SP_PRIMARY = "/install/dotnet1/NDP1.1sp1-Kb867460-X86.exe"
SP_SECONDARY = "/install/dotnet2/NDP1.1sp1-Kb867460-X86.exe"
AGENT_PATH = "/installs/setupfiles/torvaneagent.msi"

STARTUP_FOLDER = r"C:\Program Files\Torvane\WF"

# The demo's CONFIG.TXT in its order; $-names are filled per run.
CONFIG_TEMPLATE = [
    ("TorvaneIISLogServer", "$host"),
    ("DotNetFrameworkVersion", "1.1"),
    ("DotNetFramework_MD5_Key", "$dotnet_md5"),
    ("DotNetFramework_Primary_URL", "$base" + DOTNET_PRIMARY),
    ("DotNetFramework_Secondary_URL", "$base" + DOTNET_SECONDARY),
    ("DotNetServicePackVersion", "SP1"),
    ("DotNetServicePack_MD5_Key", "$sp_md5"),
    ("DotNetFramework_ServicePack_Primary_URL", "$base" + SP_PRIMARY),
    ("DotNetFramework_ServicePack_Secondary_URL", "$base" + SP_SECONDARY),
    ("TorvaneAgentGUID", AGENT_PRODUCT_CODE),
    ("TorvaneAgentURL", "$base" + AGENT_PATH),
    ("TorvaneAgentDependency", "Torvane.Services.Agent.WebServices"),
    ("TorvaneAgentDependency", "Torvane.Ads.AgentAdEngine"),
    ("DeskInstall", "1"),
    ("FILEPATH_ON_SYSTEM_STARTUP", STARTUP_FOLDER),
    (
        "PROGRESS_CAPTION",
        "Solitaire Parlor is being set up on your computer. This takes a few minutes on a "
        "fast connection.\\n\\nThe game starts by itself as soon as everything is in place.",
    ),
    ("ClientID", "Kestrel"),
    ("DeskID", "Parlor"),
    ("ContentID", '"Parlor_Solitaire"'),
    ("DisplayID", "Solitaire Parlor"),
    ("CatalogID", ""),
    ("WFGUID", WATERMARK),
]

PICTURES = ("SPLASHSCREEN.JPG", "BACKGROUND.JPG", "PROGRESSBAR_BIRD.JPG", "LOGOICON.ICO")
LICENCES = (
    "TORVANEAGENTEULA.TXT",
    "DOTNETFRAMEWORKEULA.TXT",
    "DOTNETFRAMEWORKSERVICEPACKEULA.TXT",
    "EULA.TXT",
)


def md5_of(path):
    with open(path, "rb") as f:
        return hashlib.md5(f.read()).hexdigest()


def sha256_of(path):
    """The file's SHA-256; empty when the fixture was not built."""
    if not os.path.exists(path):
        return ""
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def config_text(values, overrides=None):
    """CONFIG.TXT with CR LF line ends. `values` fills the $-names (base,
    dotnet_md5, sp_md5, signed_msi_sha256). `overrides` maps a key (any case) to a new value, or
    to None to leave the key out; keys not in the template are appended."""
    overrides = {k.upper(): v for k, v in (overrides or {}).items()}
    lines = []
    seen = set()
    for key, value in CONFIG_TEMPLATE:
        upper = key.upper()
        if upper in overrides:
            if upper in seen:
                continue  # a repeated key is replaced as a whole
            seen.add(upper)
            value = overrides[upper]
            if value is None:
                continue
            for one in value if isinstance(value, (list, tuple)) else [value]:
                lines.append(f"{key}={one}")
            continue
        for name, filled in values.items():
            value = value.replace("$" + name, filled)
        lines.append(f"{key}={value}")
    for upper, value in overrides.items():
        if upper not in seen and value is not None and not any(
            k.upper() == upper for k, _ in CONFIG_TEMPLATE
        ):
            for name, filled in values.items():
                value = value.replace("$" + name, filled)
            lines.append(f"{upper}={value}")
    return "".join(line + "\r\n" for line in lines).encode("ascii")


def pack(bootpack, stub, out, entries, stage, force=False, path_arg=str, env=None):
    """Packs `entries` (entry name -> bytes or a file path) onto `stub` as
    `out`. `bootpack` is a command list (a host build, or the Windows one
    through Wine, with `path_arg` turning paths into Windows ones)."""
    if os.path.isdir(stage):
        shutil.rmtree(stage)
    os.makedirs(stage)
    files = []
    for name, content in entries.items():
        path = os.path.join(stage, name)
        if isinstance(content, (bytes, bytearray)):
            with open(path, "wb") as f:
                f.write(content)
        else:
            shutil.copyfile(content, path)
        files.append(path)
    if os.path.exists(out):
        os.remove(out)
    command = list(bootpack) + ["pack", "--stub", path_arg(stub), "--out", path_arg(out)]
    if force:
        command.append("--force")
    command += [path_arg(f) for f in files]
    # Through a file: the Windows build under Wine leaves the prefix's
    # wineserver holding its output pipe, which would never reach its end.
    result = rig.run(command, timeout=120, check=False, env=env)
    if result.returncode != 0:
        raise RuntimeError(f"bootpack pack failed: {result.stdout}")
