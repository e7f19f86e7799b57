#!/usr/bin/env python3
"""Outlet of a case read straight from its raw grids, independently of the C++ code.

Usage: tools/outlet_check.py CASE_DIR
Prints "<column> <row> <riverNum> <flowAcc>": the cell off the border with the largest flow
accumulation on a river listed in topoData/riverNumList.dat (the first such cell in file
order), column counted from the west and row from the south, both from 1.
"""
import struct
import sys
from pathlib import Path


def main() -> None:
    case = Path(sys.argv[1])
    cols, rows = (int(t) for t in (case / "param-event.dat").read_text().split()[:2])

    def grid(name: str) -> tuple:
        data = (case / "topoData" / name).read_bytes()
        return struct.unpack("<%di" % (cols * rows), data[: 4 * cols * rows])

    acc, river = grid("flowAcc.bin"), grid("riverNum.bin")
    listed = set()
    for line in (case / "topoData" / "riverNumList.dat").read_text().splitlines():
        fields = line.split()
        if len(fields) >= 8:
            listed.add(int(fields[0]))
    best = None
    for j in range(1, rows - 1):  # file rows run south to north
        for k in range(1, cols - 1):
            i = j * cols + k
            if river[i] >= 0 and river[i] in listed and (best is None or acc[i] > best[3]):
                best = (k + 1, j + 1, river[i], acc[i])
    print(*best) if best else print("none")


if __name__ == "__main__":
    main()
