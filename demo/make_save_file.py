#!/usr/bin/python3
"""Writes a stand-in for an IBM i save file: whole 528-byte records, the first holding an
EBCDIC label with the object's name, the rest bytes that are the same on every run.

Usage: make_save_file.py NAME RECORDS OUTPUT
"""

import random
import sys

RECORD = 528


def save_file_bytes(name, records):
    label = ("SAVF %-10s SAVED FROM QMRLIB FOR THE KDX DEMO" % name).encode("cp037")
    head = label.ljust(RECORD, b"\x40")
    rest = random.Random(name).randbytes(RECORD * (records - 1))
    return head + rest


def main(argv):
    if len(argv) != 4 or not argv[2].isdigit() or int(argv[2]) < 1:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    with open(argv[3], "wb") as out:
        out.write(save_file_bytes(argv[1], int(argv[2])))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
