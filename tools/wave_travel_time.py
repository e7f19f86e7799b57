#!/usr/bin/env python3
"""Travel time of the flood wave along a river of a case that runoff_sim has run.

Follows the flow directions down from the cell at column COL, row ROW (from 1, from the west
and from the south) to the last routed cell before the flow leaves the grid or the river, and prints for the
upstream cell and the last cell its upstream area, the hour of its largest hourly discharge
and the centroid of its hydrograph (sum t Q / sum Q, t the middle of each hour), then the
differences: the time the wave takes between the two. Reads topoData/ and
output/dischargeHourly.bin of CASE; needs no packages.

    tools/wave_travel_time.py CASE COL ROW
"""
import math
import struct
import sys
from pathlib import Path

STEPS = {1: (0, 1), 2: (1, 1), 3: (1, 0), 4: (1, -1), 5: (0, -1), 6: (-1, -1), 7: (-1, 0),
         8: (-1, 1)}


def grid(path, kind):
    data = Path(path).read_bytes()
    return struct.unpack(f"<{len(data) // 4}{kind}", data)


def main():
    case, col, row = Path(sys.argv[1]), int(sys.argv[2]) - 1, int(sys.argv[3]) - 1
    cols, rows = (int(v) for v in (case / "param-event.dat").read_text().split()[:2])
    flow_dir = grid(case / "topoData" / "flowDir.bin", "i")
    flow_acc = grid(case / "topoData" / "flowAcc.bin", "i")
    river = grid(case / "topoData" / "riverNum.bin", "i")
    hourly = grid(case / "output" / "dischargeHourly.bin", "f")
    frame = cols * rows
    hours = len(hourly) // frame
    start = row * cols + col
    path = [start]
    while True:
        c, r = path[-1] % cols, path[-1] // cols
        step = STEPS.get(flow_dir[path[-1]])
        if step is None:
            break
        c, r = c + step[0], r + step[1]
        if (not (0 <= c < cols and 0 <= r < rows) or river[r * cols + c] != river[start]
                or hourly[r * cols + c] == -9999.0):
            break
        path.append(r * cols + c)
    for name, at in (("upstream", path[0]), ("downstream", path[-1])):
        q = [hourly[h * frame + at] for h in range(hours)]
        peak = max(range(hours), key=lambda h: q[h]) + 1
        centroid = sum((h + 0.5) * v for h, v in enumerate(q)) / sum(q)
        print(f"{name}: column {at % cols + 1}, row {at // cols + 1}, flowAcc {flow_acc[at]}, "
              f"peak {max(q):.3f} m3/s in hour {peak}, centroid {centroid:.2f} h")
        if name == "upstream":
            first = (peak, centroid)
    lat0 = float((case / "param-event.dat").read_text().split()[3])
    length = 0.0
    for at in path[:-1]:
        width = math.cos(math.radians(lat0 + (at // cols + 0.5) / 120)) * 926.6
        dx, dy = STEPS[flow_dir[at]]
        length += math.hypot(dx * width, dy * 926.6)
    print(f"{len(path)} cells, {length / 1000:.1f} km along the flow; peak-to-peak {peak - first[0]} h, "
          f"centroid-to-centroid {centroid - first[1]:.2f} h")


if __name__ == "__main__":
    main()
