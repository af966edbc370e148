"""A road's set-up: the fresh prefix with what the scenario has installed,
the files it places, the loopback servers and the packed payload."""

import os
import shutil
import subprocess

import payload
import rig
import servers
from road_windows import Skipped

# Registry values of the installed components.
NDP11 = r"Software\Microsoft\NET Framework Setup\NDP\v1.1.4322"
AGENT_KEY = r"SOFTWARE\Torvane"


def primary_downloads():
    return {
        payload.DOTNET_PRIMARY: servers.serve("fake_dotnetfx.exe"),
        payload.SP_PRIMARY: servers.serve("fake_dotnet_sp.exe"),
        payload.AGENT_PATH: servers.serve("TestAgent.msi"),
    }


class RoadSetUp:
    """The set-up half of a Run: the machine and the servers before the
    start, the servers stopped after the road."""

    def prepare(self):
        s = self.setup
        self.prefix = rig.Prefix(os.path.join(self.dir, "prefix"), self.ctx.display.env)
        if s.get("windows"):
            self.prefix.report_windows(s["windows"])
        installed = set(s.get("installed", ()))
        lines = []
        if "dotnet" in installed:
            lines += ["[HKEY_LOCAL_MACHINE\\" + NDP11 + "]", '"Install"=dword:00000001']
        if "servicepack" in installed:
            if "dotnet" not in installed:
                lines.append("[HKEY_LOCAL_MACHINE\\" + NDP11 + "]")
            lines.append('"SP"=dword:00000001')
        if lines:
            self.prefix.import_reg(lines, self.dir)
        if "agent" in installed:
            self.prefix.msiexec_install(self.ctx.fixture("TestAgent.msi"))
        self._place(self.cwd, s.get("cwd_files", {}))
        self._place(self.prefix.workdir, s.get("workdir_files", {}))

        routes = s.get("downloads")
        routes = primary_downloads() if routes is None else routes
        for fault in routes.values():
            fault.load(self.ctx.fixtures)
        for root in s.get("trusted_roots", ()):
            self.prefix.wine([self.ctx.fixture("trust_root.exe"),
                              rig.windows_path(self.ctx.fixture(root))])
        tls = None
        if s.get("https"):
            kind = s["https"]
            root, chain, key = servers.make_test_authority(
                self.dir, "elsewhere.example" if kind == "wrong-name" else "localhost",
                -1 if kind == "expired" else 30)
            if kind != "untrusted":
                self.prefix.wine([self.ctx.fixture("trust_root.exe"), rig.windows_path(root)])
            tls = (chain, key)
        self.downloads = servers.DownloadServer(routes, tls)
        if s.get("log_server", True) == "collector":
            program = getattr(self.ctx, "collector", None) or os.path.join(
                rig.ROOT, "build", "host", "tools", "collector", "kestrel-collector")
            if not os.path.exists(program):
                raise Skipped(f"{program} is missing; build it (preset host, target "
                              "kestrel-collector)")
            db = os.path.join(self.dir, "reports.db")
            for leftover in (db, db + "-wal", db + "-shm"):  # a run of its own
                if os.path.exists(leftover):
                    os.remove(leftover)
            self.log_server = servers.CollectorLogServer(program, db)
        elif s.get("log_server", True):
            self.log_server = servers.LogServer()
        elif not servers.port_is_free(servers.LogServer.PORT):
            self.note("port 80 is taken by someone else: the log server is not really down")

        values = {
            "host": servers.HOST,
            "base": self.downloads.url(""),
            "dotnet_md5": payload.md5_of(self.ctx.fixture("fake_dotnetfx.exe")),
            "sp_md5": payload.md5_of(self.ctx.fixture("fake_dotnet_sp.exe")),
            "signed_msi_sha256": payload.sha256_of(self.ctx.fixture("signed.msi")),
        }
        entries = {"CONFIG.TXT": payload.config_text(values, s.get("config"))}
        for name in payload.PICTURES + payload.LICENCES:
            entries[name] = os.path.join(rig.ROOT, "demo", name)
        for name, content in s.get("entries", {}).items():
            if content is None:
                entries.pop(name, None)
            else:
                entries[name] = content
        self.ctx.pack(self, entries)
        # Last, so that nothing the set-up ran is recorded; it also starts the
        # prefix's Wine before Setup.exe (two programs started at the same
        # moment in a fresh prefix may hang).
        self.ctx.probe.start_recording(self.prefix, os.path.join(self.dir, "recorder.out"))

    def _place(self, folder, files):
        for relative, content in files.items():
            path = os.path.join(folder, *relative.split("/"))
            os.makedirs(os.path.dirname(path), exist_ok=True)
            if isinstance(content, (bytes, bytearray)):
                with open(path, "wb") as f:
                    f.write(content)
            else:
                shutil.copyfile(self.ctx.fixture(content), path)

    def _environment(self):
        ms = str(self.setup.get("launcher_ms", 3000))
        env = {"KESTREL_FAKE_LAUNCHER_MS": ms, "KESTREL_FAKE_MINISERVER_MS": ms,
               "KESTREL_WINDOW_RECORD": rig.windows_path(self.record.path)}
        env.update(self.setup.get("env", {}))
        return env

    def small_disk(self, folder, size):
        """Puts `folder` on a volume of its own with exactly `size` bytes free
        (a multiple of the 4096-byte page): an overlay over it whose writable
        layer is a tmpfs of that size, so its files stay and the free space
        Wine reports for it (the statfs of the folder) is the tmpfs's. Needs
        root; undone by release_mounts, after the prefix has ended."""
        disk = os.path.join(self.dir, "disk-" + os.path.basename(folder).lower())
        os.makedirs(disk)
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size}", "tmpfs", disk],
                                 capture_output=True, text=True)
        if mounted.returncode != 0:
            raise Skipped(f"mounting a tmpfs is not allowed here ({mounted.stderr.strip()}); "
                          "run as root with mount rights")
        self.mounts.insert(0, disk)
        os.makedirs(os.path.join(disk, "upper"))
        os.makedirs(os.path.join(disk, "work"))
        options = f"lowerdir={folder},upperdir={disk}/upper,workdir={disk}/work"
        mounted = subprocess.run(["mount", "-t", "overlay", "overlay", "-o", options, folder],
                                 capture_output=True, text=True)
        if mounted.returncode != 0:
            raise Skipped(f"mounting an overlay is not allowed here ({mounted.stderr.strip()})")
        self.mounts.insert(0, folder)
        stat = os.statvfs(folder)
        return stat.f_bavail * stat.f_frsize

    def release_mounts(self):
        for folder in self.mounts:
            subprocess.run(["umount", folder], capture_output=True)
            if os.path.ismount(folder):
                subprocess.run(["umount", "-l", folder], capture_output=True)
                self.fail(f"{folder} was still busy at the end; detached")
        self.mounts = []

    def stop_servers(self):
        for server in (self.downloads, self.log_server):
            if server:
                server.stop()
