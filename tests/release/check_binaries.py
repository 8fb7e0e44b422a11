#!/usr/bin/env python3
"""Checks that built PE files carry nothing of the machine or the moment they
were built: no time stamp in the file header, the export directory, the
resource directory or a debug directory, and neither the source nor the build
folder (narrow or wide) anywhere in their bytes. Prints one line per finding;
exit code 1 when there is one.

    check_binaries.py --source DIR --build DIR FILE...
"""

import argparse
import os
import struct
import sys

EXPORT, RESOURCE, DEBUG = 0, 2, 6


def findings(path, folders):
    data = open(path, "rb").read()
    name = os.path.basename(path)
    if data[:2] != b"MZ":
        yield f"{name}: not a PE file"
        return
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        yield f"{name}: not a PE file"
        return
    sections, stamp = struct.unpack_from("<HI", data, pe + 6)
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    if stamp:
        yield f"{name}: link time stamp {stamp:#x} in the file header"
    optional = pe + 24
    directories = optional + (112 if struct.unpack_from("<H", data, optional)[0] == 0x20B else 96)
    table = optional + optional_size

    def offset(rva):
        for i in range(sections):
            size, address, raw_size, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
            if address <= rva < address + max(size, raw_size):
                return raw + rva - address
        return None

    def directory(index):
        return struct.unpack_from("<II", data, directories + 8 * index)

    for index, label in ((EXPORT, "export"), (RESOURCE, "resource")):
        rva, size = directory(index)
        if size and struct.unpack_from("<I", data, offset(rva) + 4)[0]:
            yield f"{name}: time stamp in the {label} directory"
    rva, size = directory(DEBUG)
    if size:
        yield f"{name}: a debug directory ({size} bytes)"
    for folder in folders:
        for encoding in ("utf-8", "utf-16-le"):
            if folder.encode(encoding) in data:
                yield f"{name}: holds the folder {folder} ({encoding})"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()
    folders = [os.path.realpath(args.source), os.path.realpath(args.build)]
    found = [line for path in args.files for line in findings(path, folders)]
    for line in found:
        print(line)
    print(f"{len(args.files)} files, {len(found)} findings")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
