#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

The executables start from the checked-in payload fixtures of tests/fixtures
(a tiny PE, unsigned and signed); the rest is made here. Run it again after
changing a seed; the outputs are checked in, so the fuzz runs need no Python.
"""
import os
import shutil
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
FIXTURES = os.path.join(HERE, "..", "tests", "fixtures")
CORPUS = os.path.join(HERE, "corpus")
MARKER = b"tOr" + b"VaNe"


def entry(name, data, size=None, name_length=None):
    size = len(data) if size is None else size
    name_length = len(name) if name_length is None else name_length
    return data + struct.pack("<I", size) + name + bytes([name_length]) + MARKER


def payload_start(exe):
    """The first byte of the payload of a fixture, walked back from its last marker."""
    end = exe.rfind(MARKER) + len(MARKER)
    while exe[end - len(MARKER):end] == MARKER:
        n = exe[end - 8]
        size = struct.unpack("<I", exe[end - 8 - n - 4:end - 8 - n])[0]
        end = end - 8 - n - 4 - size
    return end


SHIPPED_LIKE_CONFIG = (
    b"TorvaneIISLogServer=logs.example.test\r\n"
    b"DotNetFrameworkVersion=1.1\r\n"
    b"DotNetFramework_MD5_Key=52456ac39bbb4640930d155c15160556\r\n"
    b"DotNetFramework_Primary_URL=http://dl.example.test/install/dotnet1/dotnetfx.exe\r\n"
    b"DotNetFramework_Secondary_URL=http://dl.example.test/install/dotnet2/dotnetfx.exe\r\n"
    b"DotNetServicePackVersion=SP1\r\n"
    b"DotNetServicePack_MD5_Key=4ce3fe2d9d6e0b2e8e4d1f0f0a1c0b6e\r\n"
    b"DotNetFramework_ServicePack_Primary_URL="
    b"http://dl.example.test/install/dotnet1/NDP1.1sp1-Kb867460-X86.exe\r\n"
    b"DotNetFramework_ServicePack_Secondary_URL="
    b"http://dl.example.test/install/dotnet2/NDP1.1sp1-Kb867460-X86.exe\r\n"
    b"TorvaneAgentGUID={0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}\r\n"
    b"TorvaneAgentURL=http://cdn.example.test/installs/setupfiles/torvaneagent.msi\r\n"
    b"TorvaneAgentDependency=Torvane.Services.Agent.WebServices\r\n"
    b"TorvaneAgentDependency=Torvane.Ads.AgentAdEngine\r\n"
    b"DeskInstall=1\r\n"
    b"FILEPATH_ON_SYSTEM_STARTUP=C:\\Program Files\\Torvane\\WF\r\n"
    b"PROGRESS_CAPTION=Installing.\\nPlease wait.\r\n"
    b"ClientID=Kestrel\r\n"
    b"DeskID=Parlor\r\n"
    b"ContentID=\"Parlor_Pinball\"\r\n"
    b"DisplayID=Pinball Deluxe\r\n"
    b"CatalogID=\r\n"
    b"WFGUID=3f2504e0-4f89-11d3-9a0c-0305e82c3301\r\n"
)

CONFIGS = {
    "shipped_like.txt": SHIPPED_LIKE_CONFIG,
    "lf_only.txt": SHIPPED_LIKE_CONFIG.replace(b"\r\n", b"\n"),
    "no_last_line_end.txt": b"ClientID=Kestrel\r\nDeskID=Parlor",
    "nul_inside.txt": b"ClientID=Kestrel\r\n\0DeskID=Parlor\r\n",
    "equals_forms.txt": b"DeskID==Parlor\r\n=ClientID=Kestrel\r\nDisplayID=a=b\r\nCatalogID=\r\n"
                        b"DeskInstall=\r\n===\r\n\r\n\n",
    "blanks.txt": b"DeskID =Parlor\r\n ClientID=Kestrel\r\nDisplayID= Pinball \r\n   \r\n",
    "versions.txt": b"DotNetFrameworkVersion=2.0\r\nDotNetFrameworkVersion=1.0\r\n"
                    b"DotNetFrameworkVersion=\r\nDotNetServicePackVersion=\r\n"
                    b"DotNetServicePackVersion=SP2\r\nDotNetServicePackVersion=sp2\r\n",
    "caption.txt": b"PROGRESS_CAPTION=one\\n\\ntwo\\\\n\\x\\\r\n",
    "unknown_and_case.txt": b"clientid=lower\r\nCLIENTID=upper\r\nNoSuchKey=value\r\n"
                            b"deskid=Parlor\r\nDeskId=Other\r\n",
    "bad_forms.txt": b"DotNetFramework_MD5_Key=52456AC39BBB4640930D155C15160556\r\n"
                     b"TorvaneAgentGUID={0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9}\r\n"
                     b"WFGUID={3f2504e0-4f89-11d3-9a0c-0305e82c3301}\r\n"
                     b"TorvaneIISLogServer=http://logs.example.test:8080/path\r\n"
                     b"TorvaneAgentURL=ftp://cdn.example.test/\r\n"
                     b"DotNetFramework_Primary_URL=http:///nohost\r\n",
    "cr_forms.txt": b"ClientID=Kes\rtrel\r\nDeskID=Parlor\r\r\nDisplayID=x\r",
    "empty_lines_only.txt": b"\n\n\r\n",
}

RECORDS = {
    "started.txt": b"EVENTID='3000',DESC='Launched Bootstrapper on user's machine.',"
                   b"TIMESTAMP='2026-12-09 15:28:13.042'",
    "agent.txt": b"AGENT='{763FFD6B-A198-4866-A687-FB9E5BC14769}',EVENTID='7003',"
                 b"DESC='Agent launcher ended.',TIMESTAMP='2026-12-09 15:28:13.042'",
    "http_error.txt": b"EVENTID='9058',DESC='HTTP ERROR: 404 Not Found\r\nX-Injected: yes',"
                      b"TIMESTAMP='2026-12-09 15:28:13.042'",
    "reserved.txt": b"\"#%<>\\^`{|} %41%zz%\x7f\x00\x01",
    "eight_bit.txt": "Lizenz f\u00fcr \u2019Kestrel\u2019 \u2013 ok".encode("cp1252"),
}

# The log server's reading (report_parser): records as they follow the token,
# and whole request lines in both forms.
REPORTS = dict(RECORDS, **{
    "watermark.txt": b"WATERMARK='wm-7',EVENTID='3021',DESC='Reporting Bootstrapper configuration "
                     b"watermark value',TIMESTAMP='2026-12-09 15:28:13.042'",
    "agent_unknown.txt": b"AGENT='?',EVENTID='7003',DESC='Successfully launched Torvane Agent.',"
                         b"TIMESTAMP='2026-12-09 15:28:13.042'",
    "line_encoded.txt": b"GET /?TOKEN='0f8fad5b-d9cb-469f-a165-70867728950e',EVENTID='3111',"
                        b"DESC='Bootstrapper%20exited.',TIMESTAMP='2026-12-09%2015:28:13.042' HTTP/1.1",
    "line_raw.txt": b"GET /?TOKEN='0f8fad5b-d9cb-469f-a165-70867728950e',EVENTID='3000',"
                    b"DESC='Launched Bootstrapper on user's machine.',"
                    b"TIMESTAMP='2026-12-09 15:28:13.042' HTTP/1.0",
    "line_other.txt": b"GET /metrics HTTP/1.1",
})

# The event record both ways (event_record): the log lines of the reports
# above, a report's target, and what the reader takes that no sender writes.
EVENT_RECORDS = {name: data for name, data in REPORTS.items()
                 if name.endswith(".txt") and not name.startswith("line_")}
EVENT_RECORDS.update({
    "report_target.txt": b"/?TOKEN='0f8fad5b-d9cb-469f-a165-70867728950e',EVENTID='3111',"
                         b"DESC='Bootstrapper%20exited.',TIMESTAMP='2026-12-09%2015:28:13.042'",
    "id_zeros.txt": b"EVENTID='-007',DESC='',TIMESTAMP='0999-12-31 23:59:59.999'",
    "empty_agent.txt": b"AGENT='',EVENTID='7003',DESC='a',TIMESTAMP='2024-02-29 00:00:00.000'",
})

# The log server's reading of request heads (request_head): the first byte
# sets the size of the pieces the head arrives in.
SENDER_HEAD = (b"GET /?TOKEN='0f8fad5b-d9cb-469f-a165-70867728950e',EVENTID='3000',"
               b"DESC='Launched%20Bootstrapper%20on%20user's%20machine.',"
               b"TIMESTAMP='2026-12-09%2015:28:13.042' HTTP/1.1\r\n"
               b"User-Agent: TORVANE_NETWORKS_WF\r\nHost: logs.example\r\n"
               b"Cache-Control: no-cache\r\n\r\n")
HEADS = {
    "sender.txt": b"\x00" + SENDER_HEAD,
    "sender_pieces.txt": b"\x06" + SENDER_HEAD + SENDER_HEAD,
    "raw.txt": b"\x02GET /?TOKEN='x',EVENTID='3000',DESC='Launched Bootstrapper on user's "
               b"machine.',TIMESTAMP='2026-12-09 15:28:13.042' HTTP/1.1\nHost: x\n\n",
    "body.txt": b"\x03POST / HTTP/1.1\r\nContent-Length: 17\r\n\r\nGET /report HTTP/1.1",
    "chunked.txt": b"\x01GET / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
    "close.txt": b"\x04\r\nGET /metrics HTTP/1.0\r\nConnection: keep-alive, close\r\n"
                 b"Range: bytes=0-,0-\r\n\r\n",
    "lines.txt": b"\x05GET / HTTP/1.1\r\n" + b"A: b\r\n" * 9 + b"\r\n",
    "folded.txt": b"\x07GET / HTTP/1.1\r\nA: b\r\n  c\r\nContent-Length : 0\r\n\r\n",
}


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def executables():
    read = lambda name: open(os.path.join(FIXTURES, name), "rb").read()
    unsigned = read("payload_unsigned.exe")
    signed = read("payload_signed.exe")
    stub = unsigned[:payload_start(unsigned)]
    config = entry(b"CONFIG.TXT", SHIPPED_LIKE_CONFIG)
    exes = {
        "fixture_unsigned.exe": unsigned,
        "fixture_signed.exe": signed,
        "fixture_forged.exe": read("payload_forged.exe"),
        "stub_without_payload.exe": stub,
        "shipped_like.exe": stub + config + entry(b"EULA.TXT", b"Licence.\r\n")
                            + b"\0" * 6,
        "empty_and_unnamed.exe": stub + entry(b"EMPTY.TXT", b"") + entry(b"", b"no name"),
        "duplicate_names.exe": stub + entry(b"CONFIG.TXT", b"ClientID=first\r\n")
                               + entry(b"CONFIG.TXT", b"ClientID=second\r\n"),
        "lower_case_name.exe": stub + entry(b"config.txt", b"ClientID=lower\r\n") + config,
        "name_length_0x80.exe": stub + entry(b"A" * 0x80, b"data") + config,
        "size_before_start.exe": stub + entry(b"CONFIG.TXT", b"x", size=0x7FFFFFF0),
        "gap_in_chain.exe": stub + entry(b"FIRST.TXT", b"first") + b"!"
                            + entry(b"CONFIG.TXT", b"ClientID=gap\r\n"),
        "payload_no_pe.bin": entry(b"CONFIG.TXT", b"ClientID=raw\r\n"),
        "dos_only.exe": b"MZ\x90\x00\x01\x00" + b"\0" * 58 + b"x" * 100
                        + entry(b"CONFIG.TXT", b"ClientID=dos\r\n"),
    }
    # A signature cut off by a tool that kept the security directory entry.
    security = signed.rfind(b"\x00\x02\x02\x00")  # revision 0x0200, type 2 (PKCS #7)
    if security > 8:
        exes["signature_cut_off.exe"] = signed[:security - 4]
    return exes


def launcher_outputs():
    folder = os.path.join(FIXTURES, "launcher_output")
    outputs = {}
    names = [name for name in sorted(os.listdir(folder)) if name.endswith(".txt")]
    for i, name in enumerate(names):
        text = open(os.path.join(folder, name), "rb").read()
        # Two bytes choose the cut (here the middle), one the tracked name.
        cut = len(text) // 2
        outputs[name] = bytes([cut & 0xFF, cut >> 8, i % 5]) + text
    return outputs


def main():
    for target in ("payload_reader", "config", "launcher_output", "request_encoding",
                   "event_record", "bootpack_lint", "bootpack_list", "report_parser",
                   "request_head"):
        shutil.rmtree(os.path.join(CORPUS, target), ignore_errors=True)
    for name, data in executables().items():
        write("payload_reader", name, data)
        write("bootpack_list", name, data)
    for name, data in CONFIGS.items():
        write("config", name, data)
        write("bootpack_lint", name, data)
    for name, data in launcher_outputs().items():
        write("launcher_output", name, data)
    for name, data in RECORDS.items():
        write("request_encoding", name, data)
    for name, data in REPORTS.items():
        write("report_parser", name, data)
    for name, data in EVENT_RECORDS.items():
        write("event_record", name, data)
    for name, data in HEADS.items():
        write("request_head", name, data)


if __name__ == "__main__":
    main()
