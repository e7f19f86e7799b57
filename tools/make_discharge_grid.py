#!/usr/bin/env python3
"""Writes a synthetic hourly discharge grid for timing the map renderer.

Usage: make_discharge_grid.py CASE_DIR ROWS COLS DAYS

Makes CASE_DIR/param-event.dat (the first eleven values) and
CASE_DIR/output/dischargeHourly.bin (24 * DAYS frames of ROWS x COLS little-endian
floats: -9999 on the border and on two cells in five, elsewhere a discharge that grows
with the hour), and the empty folder CASE_DIR/output/image. Run the renderer inside
CASE_DIR/output.
"""
import array
import os
import sys


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    case, rows, cols, days = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
    os.makedirs(os.path.join(case, "output", "image"), exist_ok=True)
    with open(os.path.join(case, "param-event.dat"), "w") as f:
        f.write(f"{cols} {rows}\n-118.3430 34.2314\n100 54\n0.1 0.1\n-118.2930 34.2814\n{days}\n")
    base = array.array("f")
    for r in range(rows):
        for c in range(cols):
            border = r == 0 or c == 0 or r == rows - 1 or c == cols - 1
            base.append(-9999.0 if border or (r * 7 + c * 3) % 5 < 2 else float((r * c) % 97))
    with open(os.path.join(case, "output", "dischargeHourly.bin"), "wb") as f:
        for hour in range(24 * days):
            frame = array.array("f", (v if v < 0 else v * (1 + hour % 24) for v in base))
            if sys.byteorder != "little":
                frame.byteswap()
            frame.tofile(f)


if __name__ == "__main__":
    main()
