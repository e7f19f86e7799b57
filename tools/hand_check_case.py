#!/usr/bin/env python3
"""Writes the tiny 'chain' case for runoff_sim and works out its three output grids from the
model's formulas, independently of the C++ code (Python doubles are IEEE doubles, single
precision is rounded through struct, and math.pow/sin/cos/tan/atan are the C library's).

    tools/hand_check_case.py <case folder>

The case: a 3 x 4 grid whose two interior cells form a chain draining east (a slope cell
into a channel cell) off the east border, one rainfall point, one day of 6 sub-steps an hour.
Prints the SHA-256 lines of the three grids (as the files are named in output/).
"""
import hashlib
import math
import os
import struct
import sys


def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


ROWS, COLS = 3, 4
SW_LON, SW_LAT = 135.0, 35.0
DAYS, TIME_STEP, SPACE_STEPS, WEIGHT = 1, 600, 2, 0.6
MANNING_SLOPE, MANNING_CHANNEL, CHANNEL_AREA, INITIAL_RUNOFF = 0.6, 0.03, 1, 0.5
S = 3600 // TIME_STEP
# North row first.
ELEV = [[30.0, 30.0, 30.0, 30.0], [30.0, 20.0, 12.5, 5.0], [30.0, 30.0, 30.0, 30.0]]
FDIR = [[5, 5, 5, 5], [3, 3, 3, 3], [1, 1, 1, 1]]
FACC = [[1, 1, 1, 1], [1, 1, 2, 3], [1, 1, 1, 1]]
RIVER = [[1, 1, 1, 1], [1, 1, 1, 1], [1, 1, 1, 1]]
RAIN = [0.0, 2.0, 10.0, 25.5, 7.25, 1.0] + [0.0] * 18  # mm/hr, hours 1..24


def write_case(d):
    os.makedirs(os.path.join(d, "topoData"), exist_ok=True)
    os.makedirs(os.path.join(d, "input"), exist_ok=True)
    os.makedirs(os.path.join(d, "output"), exist_ok=True)
    with open(os.path.join(d, "param-event.dat"), "w") as f:
        f.write(f"{COLS} {ROWS}\n135.0 35.0\n1 1\n0.5 0.5\n135.0 35.0\n{DAYS}\n{TIME_STEP}\n"
                f"{SPACE_STEPS}\n{WEIGHT}\n{MANNING_SLOPE}\n{MANNING_CHANNEL}\n{CHANNEL_AREA}\n"
                f"{INITIAL_RUNOFF}\n")

    def grid(name, rows, fmt):
        with open(os.path.join(d, "topoData", name), "wb") as f:
            for r in range(ROWS - 1, -1, -1):
                for c in range(COLS):
                    f.write(struct.pack(fmt, rows[r][c]))

    grid("modDem.bin", ELEV, "<f")
    grid("flowDir.bin", FDIR, "<i")
    grid("flowAcc.bin", FACC, "<i")
    grid("riverNum.bin", RIVER, "<i")
    with open(os.path.join(d, "topoData", "riverNumList.dat"), "w") as f:
        f.write("1 1 3 2 1 0 135.0 35.0\n")
    with open(os.path.join(d, "input", "rain.dat"), "w") as f:
        for h in range(24):
            f.write(f"2000 1 1 {h} 0 0\n{RAIN[h]}\n")


def cell_width(row):
    lat_sec = f32(f32(f32(f32(SW_LAT) * f32(3600.0)) + f32(30 * (ROWS - 1 - row))) + f32(15.0))
    return f32(f32(math.cos(lat_sec / 3600.0 / 180.0 * 3.14)) * f32(926.6))


def simulate():
    # Cells (row, col), in the order the time loop takes them: class 1 then class 2.
    cells = [(1, 1), (1, 2)]
    state = {}
    for (r, c) in cells:
        width = cell_width(r)
        flow_length = width  # both drain east
        dr, dc = r, c + 1
        drop = f32(ELEV[r][c] - ELEV[dr][dc])
        s = math.tan(drop / flow_length)
        if s < 1e-5:
            s = 1e-5
        slope = math.sin(math.atan(s))
        acc = FACC[r][c]
        if acc > CHANNEL_AREA:
            area = acc * 926.6 / 1000 * width / 1000
            channel_width = math.pow(area, 0.685081138) * 1.061722301
            manning = MANNING_CHANNEL
        else:
            channel_width = width * 926.6 / flow_length
            manning = MANNING_SLOPE
        dx = flow_length / SPACE_STEPS
        m = 0.666667 * 1.0 + 1.0
        alpha = (1.0 / manning) * math.pow(1.0 / channel_width, m - 1.0) * math.sqrt(slope)
        q_up = INITIAL_RUNOFF * 0.001 / 3600.0 * (acc - 1) * 926.6 * width
        q_all = INITIAL_RUNOFF * 0.001 / 3600.0 * acc * 926.6 * width
        q = [((SPACE_STEPS - i) * q_up + i * q_all) / SPACE_STEPS for i in range(SPACE_STEPS + 1)]
        state[(r, c)] = dict(width=width, flow_length=flow_length, dx=dx, m=m, alpha=alpha, q=q,
                             store=[0.0] * (24 * S))

    def celerity(st, q):
        m = st["m"]
        return math.pow(st["alpha"], 1.0 / m) * m * math.pow(q, (m - 1.0) / m)

    upstream = {(1, 1): [], (1, 2): [(1, 1)]}
    for cell in cells:
        st = state[cell]
        for hour in range(1, 25):
            def lateral(mm):
                return f32(mm) * 0.001 * 926.6 * st["width"] / st["flow_length"] / 3600.0
            now = lateral(RAIN[hour - 1])
            prev = lateral(RAIN[hour - 2]) if hour >= 2 else 0.0
            for s in range(S):
                q_lat = (prev + now) * 0.5
                q_in = 0.0
                for u in upstream[cell]:
                    q_in += state[u]["store"][(hour - 1) * S + s]
                q_old = st["q"]
                q_new = [0.0] * len(q_old)
                q_new[0] = q_in
                dt, dx, th = float(TIME_STEP), st["dx"], WEIGHT
                for j in range(1, SPACE_STEPS + 1):
                    c1 = celerity(st, q_old[j - 1])
                    est = (q_old[j - 1] + q_new[j - 1]) * 0.5 + q_lat * dx
                    q_star = est if est > q_old[j] else q_old[j]
                    c2 = celerity(st, q_star)
                    c = (c1 + c2) * 0.5
                    num = (th * c * (dt / dx * q_new[j - 1] + dt * q_lat) + q_old[j]
                           - (1 - th) * c * dt * ((q_old[j] - q_old[j - 1]) / dx - q_lat))
                    den = th * c * dt / dx + 1
                    q_new[j] = num / den
                    if q_new[j] < 0:
                        q_new[j] = 0.0
                st["store"][(hour - 1) * S + s] = f32(q_new[SPACE_STEPS])
                st["q"] = q_new
                prev = now

    def hourly(cell, h):
        total = 0.0
        for s in range(S):
            total = f32(total + state[cell]["store"][h * S + s])
        return f32(total / f32(S))

    frame_cells = [(ROWS - 1 - k // COLS, k % COLS) for k in range(ROWS * COLS)]
    daily, daily_max, hourly_frames = [], [], []
    for (r, c) in frame_cells:
        if (r, c) not in state:
            daily.append(-9999.0)
            daily_max.append(-9999.0)
            continue
        means = [hourly((r, c), h) for h in range(24)]
        total, best = 0.0, 0.0
        for v in means:
            total = f32(total + v)
            if v >= best:
                best = v
        daily.append(f32(total / f32(24.0)))
        daily_max.append(best)
    for h in range(24):
        for (r, c) in frame_cells:
            hourly_frames.append(hourly((r, c), h) if (r, c) in state else -9999.0)
    return daily, daily_max, hourly_frames


def main():
    d = sys.argv[1]
    write_case(d)
    outputs = simulate()
    for name, values in zip(["dischargeDaily.bin", "dischargeHourlyMaxInDay.bin",
                             "dischargeHourly.bin"], outputs):
        data = b"".join(struct.pack("<f", v) for v in values)
        print(f"{hashlib.sha256(data).hexdigest()}  {name}")


if __name__ == "__main__":
    main()
