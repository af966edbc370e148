#!/usr/bin/env python3
"""What each object linked into the stub adds to it, from a GNU ld map:

  cmake --preset win32 -B build/size-map \\
    "-DCMAKE_CXX_FLAGS_MINSIZEREL=-Os -DNDEBUG -fno-rtti -ffunction-sections -fdata-sections \\
     -include $PWD/cmake/string_members_inline.h" \\
    "-DCMAKE_EXE_LINKER_FLAGS_MINSIZEREL=-s -Wl,--gc-sections -Wl,--disable-reloc-section \\
     -Wl,-Map,$PWD/build/size-map/bootstrapper.map"
  cmake --build build/size-map -j2 --target bootstrapper
  bench/map_sizes.py build/size-map/bootstrapper.map [--objects N]

The link is made without the preset's link-time optimisation, whose map
names no object files. Prints the bytes of the input sections kept in the
image (padding between them and the PE headers are not in the map), by origin (the product's
folders, its resources, the C++ runtime, the unwinder, the MinGW start-up
code, the DLL import stubs), then the N largest objects."""

import argparse
import collections
import glob
import os
import re

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PRODUCT_FOLDERS = ["diagnostics", "payload", "engine", "components", "session", "ui", "ui/win32",
                   "platform", "platform/win32"]
RUNTIME = {"libstdc++.a": "C++ runtime (libstdc++.a)",
           "libgcc_eh.a": "unwinder (libgcc_eh.a)",
           "libgcc.a": "MinGW start-up and helpers (crt2.o, crtbegin/end, libmingw32, libmingwex, libgcc)",
           "libmingw32.a": None, "libmingwex.a": None, "crt2.o": None, "crtbegin.o": None,
           "crtend.o": None}


def kept_sections(map_text):
    """(input file, output section, size) for every input section in the image."""
    text = map_text[map_text.index("Linker script and memory map"):]
    output, pending = None, None
    for line in text.splitlines():
        if re.match(r"^\.\S+", line):
            output = line.split()[0]
            continue
        name_only = re.match(r"^ (\S+)\s*$", line)
        if name_only:
            pending = name_only.group(1)
            continue
        entry = re.match(r"^ (\S+)?\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$", line)
        if entry and (entry.group(1) or pending):
            size = int(entry.group(2), 16)
            source = entry.group(3).strip()
            if size and not source.startswith("*"):
                yield source, output, size
        pending = None


def object_name(source):
    member = re.search(r"([^/\\]+\.a)\(([^)]+)\)$", source)
    if member:
        return member.group(1), member.group(2)
    return os.path.basename(source), os.path.basename(source)


def product_folder(member):
    if member.endswith(".rc.res"):
        return "product: resources (dialogs, bitmaps, icon)"
    source = member[:-len(".obj")]
    found = sorted({("platform" if d.startswith("platform") else d)
                    for d in PRODUCT_FOLDERS if os.path.exists(os.path.join(ROOT, d, source))})
    return "product: " + ("/".join(found) + "/" if found else "?")


def origin(archive, member):
    if archive in ("libkestrel_core.a", "objects.a") or member.endswith(".obj"):
        return product_folder(member)
    if archive in RUNTIME:
        return RUNTIME[archive] or RUNTIME["libgcc.a"]
    if archive.startswith("lib") and archive.endswith(".a"):
        return "DLL import stubs and tables (lib<dll>.a)"
    if archive.startswith("LONG"):
        return "linker script constants"
    return "other: " + archive


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawTextHelpFormatter)
    parser.add_argument("map")
    parser.add_argument("--objects", type=int, default=15)
    args = parser.parse_args()
    with open(args.map, encoding="latin-1") as f:
        text = f.read()
    by_origin = collections.Counter()
    by_object = collections.Counter()
    sections = collections.defaultdict(collections.Counter)
    for source, output, size in kept_sections(text):
        archive, member = object_name(source)
        by_origin[origin(archive, member)] += size
        by_object[f"{archive}({member})" if archive != member else member] += size
        sections[f"{archive}({member})" if archive != member else member][output] += size
    total = sum(by_origin.values())
    print(f"| Origin | Bytes |\n|---|---:|")
    for name, size in by_origin.most_common():
        print(f"| {name} | {size:,} |")
    print(f"| all input sections | {total:,} |\n")
    print(f"| Object | Bytes | Largest sections |\n|---|---:|---|")
    for name, size in by_object.most_common(args.objects):
        parts = ", ".join(f"{s} {n:,}" for s, n in sections[name].most_common(3))
        print(f"| {name} | {size:,} | {parts} |")


if __name__ == "__main__":
    main()
