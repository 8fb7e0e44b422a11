#!/usr/bin/env python3
"""Where the bytes of kvca.dll go: sums the input sections of the link map
(build/kvca.map) that land in the image, by library (own objects, libstdc++,
...) and by object or library member, largest first.

    python3 tools/dll-size.py build/kvca.map [--top N]
"""

import argparse
import collections
import os
import re
import signal

# Output sections that take room in the file (.bss takes none).
FILE_SECTIONS = {".text", ".data", ".rdata", ".pdata", ".xdata", ".edata", ".idata", ".CRT", ".tls",
                 ".reloc", ".rsrc"}
INPUT_SECTION = re.compile(r"^ (\S+)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(.+)$")
NAME_ONLY = re.compile(r"^ (\S+)$")
CONTINUED = re.compile(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(.+)$")


def input_sections(path):
    """(output section, size, source) of every input section of the memory map."""
    in_map, output, pending = False, None, None
    with open(path, errors="replace") as f:
        for line in f:
            line = line.rstrip("\n")
            if line.startswith("Linker script and memory map"):
                in_map = True
                continue
            if not in_map:
                continue
            if line.startswith("."):
                output, pending = line.split()[0], None
                continue
            match = INPUT_SECTION.match(line)
            if match:
                _, _, size, source = match.groups()
            else:
                named = NAME_ONLY.match(line)
                if named and not named.group(1).startswith(("0x", "*")):
                    pending = named.group(1)
                    continue
                match = CONTINUED.match(line)
                if not (match and pending):
                    pending = None
                    continue
                _, size, source = match.groups()
            pending = None
            if output in FILE_SECTIONS and int(size, 16):
                yield output, int(size, 16), source.strip()


def library_and_member(source):
    member = re.match(r"(?:.*/)?([^/(]+)\((.+)\)$", source)
    if member:
        library, name = member.groups()
        if library == "objects.a":
            return "own objects", name
        return library, "%s(%s)" % (library, name)
    name = os.path.basename(source)
    return ("own objects" if name.endswith(".obj") else "startup"), name


def main():
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)  # quiet when piped into head
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("map")
    parser.add_argument("--top", type=int, default=40, help="members listed (default 40)")
    args = parser.parse_args()

    by_library, by_member, by_section = collections.Counter(), collections.Counter(), collections.Counter()
    for output, size, source in input_sections(args.map):
        library, member = library_and_member(source)
        by_library[library] += size
        by_member[member] += size
        by_section[output] += size
    total = sum(by_library.values())

    def show(title, counter, limit=None):
        print(title)
        for name, size in counter.most_common(limit):
            print("%9d %5.1f%%  %s" % (size, 100.0 * size / total, name))
        print()

    show("by library", by_library)
    show("by object or library member (largest %d)" % args.top, by_member, args.top)
    show("by section", by_section)
    print("%9d bytes of sections in the image (the file adds headers and alignment)" % total)


if __name__ == "__main__":
    main()
