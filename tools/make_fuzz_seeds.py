#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/: pieces of the
bundled example basin (examples/real-basin) and of the series extractor's small test case,
laid out as each target reads its input (see the comment at the top of each fuzz/*.cpp), and a
few hand-made edge cases (CRLF line ends, empty lines, a comment line, NUL bytes, files cut
short), and for the NetCDF rain reader small rain files written by ncgen. Every seed stays well under 64 KB. Run from anywhere; it replaces the seeds it writes
and leaves other files (crashes kept as regression inputs) alone."""

import math
import shutil
import struct
import subprocess
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
EXAMPLE = ROOT / "examples" / "real-basin"
SERIES_CASE = ROOT / "tests" / "discharge_series" / "cases" / "series_3x2"
CORPUS = ROOT / "fuzz" / "corpus"
EXAMPLE_COLS = 199


def write(target, name, data):
    folder = CORPUS / target
    folder.mkdir(parents=True, exist_ok=True)
    if isinstance(data, str):
        data = data.encode()
    assert len(data) < 64 * 1024, (target, name, len(data))
    (folder / name).write_bytes(data)


def crlf(text):
    return text.replace("\n", "\r\n")


def event_parameters():
    text = (EXAMPLE / "param-event.dat").read_text()
    write("fuzz_event_parameters", "real-basin", text)
    write("fuzz_event_parameters", "series-case", (SERIES_CASE / "param-event.dat").read_text())
    write("fuzz_event_parameters", "crlf", crlf(text))
    values = text.split()
    write("fuzz_event_parameters", "eleven-values", " ".join(values[:11]) + "\n")
    write("fuzz_event_parameters", "one-per-line-empty-lines", "\n\n".join(values) + "\n\n")
    write("fuzz_event_parameters", "comment-line", "# event of the real basin\n" + text)
    write("fuzz_event_parameters", "nul-bytes", text[:20] + "\0\0" + text[20:])
    write("fuzz_event_parameters", "out-of-range", text.replace("\n60\n", "\n0\n"))


def river_list():
    text = (EXAMPLE / "topoData" / "riverNumList.dat").read_text()
    lines = text.splitlines()
    write("fuzz_river_list", "real-basin", text)
    write("fuzz_river_list", "crlf-empty-lines",
          crlf("\n".join(lines[:3]) + "\n\n" + "\n".join(lines[3:6]) + "\n\n\n"))
    write("fuzz_river_list", "comment-line", "# river list\n" + "\n".join(lines[:4]) + "\n")
    write("fuzz_river_list", "nul-bytes", lines[0] + "\n\0\0\0\n" + lines[1] + "\n")
    fields = lines[2].split()
    write("fuzz_river_list", "record-over-two-lines",
          " ".join(fields[:3]) + "\n" + " ".join(fields[3:]) + "\n" + lines[3])
    write("fuzz_river_list", "cut-record", lines[0] + "\n" + " ".join(fields[:5]))


def rainfall():
    lines = (EXAMPLE / "input" / "rain.dat").read_text().splitlines(keepends=True)
    block = 1 + 9  # a header line, then the 9 rows of 17 points
    assert lines[0].split()[:2] == ["2000", "1"] and len(lines[1].split()) == 17
    day = "".join(lines[: 24 * block])
    # Size header: columns - 1, rows - 1, days - 1.
    write("fuzz_rainfall", "real-basin-day-1", bytes([16, 8, 0]) + day.encode())
    write("fuzz_rainfall", "real-basin-cut-short", bytes([16, 8, 1]) + "".join(lines[: 3 * block]).encode())

    def small(hours, header=lambda h: f"2024 2 29 {h} 0 0\n", sep="\n"):
        out = ""
        for h in range(hours):
            out += header(h) + f"0 1.5{sep}2.25 {h}e-1{sep}"
        return out

    write("fuzz_rainfall", "2x2", bytes([1, 1, 0]) + small(24).encode())
    write("fuzz_rainfall", "2x2-crlf", bytes([1, 1, 0]) + crlf(small(24)).encode())
    write("fuzz_rainfall", "2x2-bad-date", bytes([1, 1, 0]) + small(24, lambda h: "2023 2 29 25 0 0\n").encode())
    write("fuzz_rainfall", "2x2-comment", bytes([1, 1, 0]) + ("# rain\n" + small(2)).encode())
    write("fuzz_rainfall", "2x2-nul", bytes([1, 1, 0]) + small(2).replace("1.5", "1\x005").encode())


def series():
    frame_cells = 3 * 2
    raw = (SERIES_CASE / "output" / "dischargeHourly.bin").read_bytes()
    values = struct.unpack("<%df" % (len(raw) // 4), raw)
    # Column 3, row 1: the last cell of the south row, as the extractor's test case asks.
    cell = [values[f * frame_cells + 2] for f in range(len(values) // frame_cells)]
    text = "".join(f"{h + 1} {v:g}\n" for h, v in enumerate(cell))
    hours = struct.pack("<H", len(cell))
    write("fuzz_series", "series-case", hours + text.encode())
    write("fuzz_series", "series-case-crlf-no-final-break", hours + crlf(text).rstrip("\r\n").encode())
    write("fuzz_series", "no-discharge", hours + "".join(f"{h + 1} -9999\n" for h in range(24)).encode())
    two_days = "".join(f"{h + 1} {1000 * math.sin(h / 8) ** 2:g}\n" for h in range(48))
    write("fuzz_series", "two-days", struct.pack("<H", 48) + two_days.encode())
    write("fuzz_series", "empty-line-nul", hours + (text[:30] + "\n\0\n" + text[30:]).encode())


def topo_window(col0, row0, cols, rows):
    """The four grids of the example cut to `cols` x `rows` cells whose south-west cell is at
    column `col0`, row `row0` (from 0, from the west and the south)."""
    files = []
    for name in ("modDem.bin", "flowDir.bin", "flowAcc.bin", "riverNum.bin"):
        raw = (EXAMPLE / "topoData" / name).read_bytes()
        out = bytearray()
        for r in range(row0, row0 + rows):
            start = 4 * (r * EXAMPLE_COLS + col0)
            out += raw[start:start + 4 * cols]
        files.append(bytes(out))
    return files


def network_input(cols, rows, files):
    header = bytes([cols - 1, rows - 1]) + b"".join(struct.pack("<H", len(f)) for f in files)
    return header + b"".join(files)


def drainage_network():
    outlet = topo_window(0, 17, 12, 10)  # around the outlet of the largest river
    write("fuzz_drainage_network", "real-basin-outlet", network_input(12, 10, outlet))
    upland = topo_window(60, 40, 16, 12)
    write("fuzz_drainage_network", "real-basin-upland", network_input(16, 12, upland))
    short = list(outlet)
    short[2] = short[2][:-8]
    write("fuzz_drainage_network", "flow-acc-short", network_input(12, 10, short))
    bad = list(outlet)
    codes = bytearray(bad[1])
    rivers = struct.unpack("<%di" % (len(bad[3]) // 4), bad[3])
    interior = next(k for k, r in enumerate(rivers) if r >= 0 and 12 < k < 108 and 0 < k % 12 < 11)
    codes[4 * interior:4 * interior + 4] = struct.pack("<i", 9)
    bad[1] = bytes(codes)
    write("fuzz_drainage_network", "flow-dir-9", network_input(12, 10, bad))
    nan = list(outlet)
    dem = bytearray(nan[0])
    dem[4 * interior:4 * interior + 4] = struct.pack("<f", float("nan"))
    nan[0] = bytes(dem)
    write("fuzz_drainage_network", "nan-elevation", network_input(12, 10, nan))
    write("fuzz_drainage_network", "one-cell", network_input(1, 1, [f[:4] for f in outlet]))


def discharge_grid():
    raw = (SERIES_CASE / "output" / "dischargeHourly.bin").read_bytes()
    # Header: columns, rows, frames needed.
    write("fuzz_discharge_grid", "series-case", bytes([3, 2, 24]) + raw)
    write("fuzz_discharge_grid", "other-columns", bytes([4, 2, 24]) + raw)
    write("fuzz_discharge_grid", "longer-run", bytes([3, 2, 12]) + raw)
    write("fuzz_discharge_grid", "cut-frame", bytes([3, 2, 24]) + raw[:-4])
    write("fuzz_discharge_grid", "no-columns", bytes([0, 2, 0]))


def outlets():
    text = (ROOT / "examples" / "bonn-sieg" / "outlets.csv").read_text()
    write("fuzz_outlets", "bonn-sieg", text)
    write("fuzz_outlets", "crlf-other-columns",
          crlf("lat, id ,lon,name,area_km2\n50.77,Sieg,7.08,x,2860\n\n50.55,Ahr,7.27,y,\n"))
    write("fuzz_outlets", "repeated-id", text + "Sieg,7.1,50.7,\n")
    write("fuzz_outlets", "nul-bytes", text[:12] + "\0\0" + text[12:])
    write("fuzz_outlets", "bad-area", "id,lon,lat,area_km2\nA,7,50,-3\nB,7,50,inf\n")
    write("fuzz_outlets", "header-only", "id,lon,lat\n")
    write("fuzz_outlets", "cut-short", text[:-9])


def gauge_table():
    gauges = "id,lon,lat,area_km2\nSieg,7.08,50.77,2860\nAhr,7.27,50.55,\n"
    table = ("time,Sieg,Ahr,Rhine\n2000-01-01T01:00:00Z,12.5,,3\n"
             "2000-01-01T02:00+01:00,13,4.25,\n2000-01-01T03:00:00Z,,5,\n"
             "1999-12-31T23:00:00Z,1,1,1\n")

    def entry(name, gauge_text, table_text, hours=24, start_hour=0):
        head = struct.pack("<HHB", len(gauge_text.encode()), hours, start_hour)
        write("fuzz_gauge_table", name, head + gauge_text.encode() + table_text.encode())

    entry("basic", gauges, table)
    entry("crlf", crlf(gauges), crlf(table), 48, 1)
    entry("refused-list", "id,lon\nSieg,7\n", "time,A,B\n2000-01-01T01:00:00Z,1,2\n")
    entry("time-twice", gauges, table + "2000-01-01T01:00:00Z,1,1,1\n")
    entry("negative", gauges, "time,Sieg\n2000-01-01T01:00:00Z,-1\n")
    entry("nul-bytes", gauges[:25] + "\0" + gauges[25:], table[:30] + "\0" + table[30:])
    entry("column-twice", gauges, "time,Ahr,Ahr\n2000-01-01T01:00:00Z,1,1\n", 3)


def rain_gauges():
    text = ("time,id,lon,lat,mm\n"
            "2022-10-18T05:00:00Z,G1,7.10,50.70,1.5\n2022-10-18T05:00:00Z,G2,7.30,50.60,0\n"
            "2022-10-18T06:00:00Z,G1,7.10,50.70,2.25\n2022-10-18T06:00+01:00,G2,7.30,50.60,4\n")
    write("fuzz_rain_gauges", "two-gauges", text)
    write("fuzz_rain_gauges", "crlf-empty-lines", crlf(text.replace("\n2022", "\n\n2022", 1)))
    write("fuzz_rain_gauges", "bad-time", text.replace("05:00:00Z,G2", "5 am,G2"))
    write("fuzz_rain_gauges", "too-much-rain", text.replace("2.25", "1000.5"))
    write("fuzz_rain_gauges", "four-fields", text + "2022-10-18T07:00:00Z,G1,7.1,50.7\n")
    write("fuzz_rain_gauges", "nul-bytes", text[:40] + "\0" + text[40:])
    write("fuzz_rain_gauges", "header-only", "time,id,lon,lat,mm\n")
    write("fuzz_rain_gauges", "cut-short", text[:-7])


def crc32c(data):
    crc = 0xFFFFFFFF
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ (0x82F63B78 if crc & 1 else 0)
    return crc ^ 0xFFFFFFFF


def state_file(columns, rows, scheme, space_steps, positions, rivers, time=1666069200):
    """A state file as runoff_sim writes it (docs/run-states.md), its checksum included."""
    head = b"HYDSTATE" + struct.pack("<II", 1, 376)
    head += struct.pack("<iiff", columns, rows, 6.25, 50.5)
    head += bytes(range(32)) * 5
    head += struct.pack("<Iiii", scheme, 60, space_steps, 100)
    head += struct.pack("<ddd", 0.6, 0.3, 0.035)
    head += struct.pack("<q", time) + b"2022-10-18T05:00:00Z".ljust(32, b"\0")
    per_cell = space_steps + 2
    head += struct.pack("<qII", len(positions), per_cell, len(rivers))
    head += struct.pack("<qqiiiI", 1666051200, 5, 2, 1, 0, 0) + bytes(32)
    head += struct.pack("<qqii", 0, -1, 0, 0)
    assert len(head) == 376
    for number in rivers:
        head += struct.pack("<iIq", number, 0, len(positions))
        for k in range(5):
            head += struct.pack("<QqQ", 1000 * (k + 1), 0, 1)
    head += b"".join(struct.pack("<i", p) for p in positions)
    head += bytes(-len(head) % 8)
    values = [0.125 * (k + 1) for k in range(len(positions) * per_cell)]
    body = head + b"".join(struct.pack("<d", v) for v in values)
    return body + struct.pack("<I", crc32c(body))


def run_state():
    # The first byte is the target's own: odd patches the checksum of what follows.
    linear = state_file(7, 5, 0, 3, [8, 9, 12, 16, 23], [3])
    conservative = state_file(4, 4, 1, 1, [5, 6, 9, 10], [1, 2])
    write("fuzz_run_state", "linear", b"\0" + linear)
    write("fuzz_run_state", "conservative", b"\0" + conservative)
    write("fuzz_run_state", "patched-out-of-order", b"\1" + linear[:-4].replace(
        struct.pack("<ii", 12, 16), struct.pack("<ii", 16, 12)) + bytes(4))
    write("fuzz_run_state", "patched-cut", b"\1" + conservative[:-20])
    write("fuzz_run_state", "version-2", b"\0" + linear[:8] + b"\2" + linear[9:])


def rain_netcdf_file(kind="classic", lat_step=0.1, units="mm h-1", extra="", time_units=None):
    """A rain file of 5 hours on 6 x 8 points around the study area, written by ncgen."""
    first = 33.85 if lat_step > 0 else 34.35
    lat = [round(first + lat_step * k, 4) for k in range(6)]
    lon = [round(-118.25 + 0.1 * k, 4) for k in range(8)]
    values = [round(t + 1 + 0.1 * i + 0.01 * j, 4)
              for t in range(5) for i in range(6) for j in range(8)]
    cdl = ("netcdf rain {\ndimensions:\n time = UNLIMITED ;\n lat = 6 ;\n lon = 8 ;\n"
           "variables:\n double time(time) ;\n"
           f'  time:units = "{time_units or "hours since 2021-07-14 06:00:00"}" ;\n'
           '  time:calendar = "standard" ;\n double lat(lat) ;\n  lat:units = "degrees_north" ;\n'
           ' double lon(lon) ;\n  lon:units = "degrees_east" ;\n float pr(time, lat, lon) ;\n'
           f'  pr:units = "{units}" ;\n{extra}data:\n time = 0, 1, 2, 3, 4 ;\n'
           f" lat = {', '.join(map(str, lat))} ;\n lon = {', '.join(map(str, lon))} ;\n"
           f" pr = {', '.join(map(str, values))} ;\n}}\n")
    with tempfile.TemporaryDirectory() as tmp:
        cdl_path = Path(tmp) / "rain.cdl"
        nc_path = Path(tmp) / "rain.nc"
        cdl_path.write_text(cdl)
        subprocess.run(["ncgen", "-k", kind, "-o", str(nc_path), str(cdl_path)], check=True)
        return nc_path.read_bytes()


def rain_netcdf():
    if shutil.which("ncgen") is None:
        print("ncgen not found: the seeds of fuzz_rain_netcdf are left as they are")
        return
    classic = rain_netcdf_file()
    write("fuzz_rain_netcdf", "hourly-classic", classic)
    write("fuzz_rain_netcdf", "hourly-64-bit-offset", rain_netcdf_file("64-bit-offset"))
    write("fuzz_rain_netcdf", "north-to-south", rain_netcdf_file(lat_step=-0.1))
    write("fuzz_rain_netcdf", "accumulated",
          rain_netcdf_file(units="mm", extra='  pr:cell_methods = "time: sum" ;\n'))
    write("fuzz_rain_netcdf", "fill-value", rain_netcdf_file(extra="  pr:_FillValue = 2.f ;\n"))
    write("fuzz_rain_netcdf", "packed",
          rain_netcdf_file(extra="  pr:scale_factor = 0.5 ;\n  pr:add_offset = 1. ;\n"))
    write("fuzz_rain_netcdf", "unknown-units", rain_netcdf_file(units="furlongs"))
    write("fuzz_rain_netcdf", "days-since", rain_netcdf_file(time_units="days since 2021-07-14"))
    write("fuzz_rain_netcdf", "cut-short", classic[: len(classic) // 2])
    # The length of the first dimension (time, the record dimension, is 0) made huge.
    lat_length = classic.index(b"lat\0") + 4
    write("fuzz_rain_netcdf", "huge-dimension",
          classic[:lat_length] + struct.pack(">I", 0x7FFFFFFF) + classic[lat_length + 4:])


if __name__ == "__main__":
    event_parameters()
    river_list()
    rainfall()
    series()
    drainage_network()
    discharge_grid()
    outlets()
    gauge_table()
    rain_gauges()
    run_state()
    rain_netcdf()
