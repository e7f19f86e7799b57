"""The NetCDF and gauge results of the example basin's real run, read by independent tools.

Runs discharge_netcdf and gauge_series (a gauge at the outlet of the largest river, column 2,
row 23) on the run folder, then checks with python3-netcdf4, numpy and GDAL that:
- every value of the three variables equals the raw grids, and the event maximum and the time
  of peak are those of the hourly grid;
- the time axes decode to the dates that rain.dat's first block header starts;
- GDAL finds the same georeference in NETCDF:discharge.nc:discharge as in the VRT;
- the outlet gauge's series is the hourly grid's value at that cell, and reads as
  discharge_series printed it (2-23_discharge.dat).

python3 check_results_nc.py RUN_DIR DISCHARGE_NETCDF GAUGE_SERIES GDALINFO
"""
import csv
import datetime
import json
import subprocess
import sys
from pathlib import Path

try:
    import netCDF4
    import numpy as np
except ImportError as e:
    print(f"SKIPPED: {e} (Debian package python3-netcdf4)")
    sys.exit(0)

run, netcdf_tool, gauge_tool, gdalinfo = Path(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
out = run / "output"
failures = []


def expect(what, ok):
    if not ok:
        failures.append(what)


params = (run / "param-event.dat").read_text().split()
cols, rows, days = int(params[0]), int(params[1]), int(params[10])
sw_lon, sw_lat = np.float32(params[2]), np.float32(params[3])
header = [int(v) for v in (run / "input" / "rain.dat").read_text().split()[:6]]
start = datetime.datetime(*header)

subprocess.run([netcdf_tool, str(run)], check=True, stdout=subprocess.DEVNULL)
hourly = np.fromfile(out / "dischargeHourly.bin", dtype="<f4").reshape(days * 24, rows, cols)
daily = np.fromfile(out / "dischargeDaily.bin", dtype="<f4").reshape(days, rows, cols)
daily_max = np.fromfile(out / "dischargeHourlyMaxInDay.bin", dtype="<f4").reshape(days, rows, cols)

with netCDF4.Dataset(out / "discharge.nc") as nc:
    nc.set_auto_mask(False)
    expect("file format", nc.data_model == "NETCDF4_CLASSIC")
    expect("hourly values", np.array_equal(nc["discharge"][:], hourly))
    expect("daily means", np.array_equal(nc["discharge_daily_mean"][:], daily))
    expect("daily maxima", np.array_equal(nc["discharge_daily_max"][:], daily_max))
    event_max = np.where(hourly[0] == -9999, -9999, hourly.max(axis=0))
    expect("event maximum", np.array_equal(nc["discharge_event_max"][:], event_max))
    peak = np.where(hourly[0] == -9999, -9999.0, hourly.argmax(axis=0) + 1.0)
    expect("time of peak", np.array_equal(nc["time_of_peak"][:], peak))
    lat = float(sw_lat) + (np.arange(rows) + 0.5) / 120.0
    expect("latitudes", np.array_equal(nc["lat"][:], lat))
    time = nc["time"]
    dates = netCDF4.num2date(time[:], time.units, time.calendar,
                             only_use_cftime_datetimes=False, only_use_python_datetimes=True)
    want = [start + datetime.timedelta(hours=h) for h in range(1, days * 24 + 1)]
    expect(f"hour ends {dates[0]}..{dates[-1]}", list(dates) == want)
    day = nc["day"]
    day_dates = netCDF4.num2date(day[:], day.units, day.calendar,
                                 only_use_cftime_datetimes=False, only_use_python_datetimes=True)
    expect("day ends", list(day_dates) == [start + datetime.timedelta(days=d)
                                           for d in range(1, days + 1)])
    expect("CF conventions", nc.Conventions == "CF-1.8")
    expect("grid mapping", nc["discharge"].grid_mapping == "crs"
           and nc["crs"].grid_mapping_name == "latitude_longitude")


def gdal(target):
    text = subprocess.run([gdalinfo, "-json", target], check=True, capture_output=True,
                          text=True, cwd=out).stdout
    return json.loads(text)


nc_info = gdal("NETCDF:discharge.nc:discharge")
vrt_info = gdal("dischargeHourly.vrt")
expect(f"GDAL size {nc_info['size']}", nc_info["size"] == vrt_info["size"] == [cols, rows])
for a, b in zip(nc_info["geoTransform"], vrt_info["geoTransform"]):
    expect(f"geotransform {nc_info['geoTransform']} against {vrt_info['geoTransform']}",
           abs(a - b) < 1e-9)
expect("EPSG:4326", 'ID["EPSG",4326]' in nc_info["coordinateSystem"]["wkt"])

gauges = run / "results_nc_gauges.csv"
lon = float(sw_lon) + 1.5 / 120.0
lat23 = float(sw_lat) + 22.5 / 120.0
gauges.write_text(f"id,lon,lat\noutlet,{lon!r},{lat23!r}\n")
subprocess.run([gauge_tool, str(run), str(gauges)], check=True, stdout=subprocess.DEVNULL)
with open(out / "gauge_cells.csv") as f:
    cell = list(csv.DictReader(f))[0]
expect(f"outlet cell {cell['column']},{cell['row']}", (cell["column"], cell["row"]) == ("2", "23"))
with open(out / "gauge_discharge.csv") as f:
    series = [np.float32(r["outlet"]) for r in csv.DictReader(f)]
position = (23 - 1, 2 - 1)
expect("outlet series against the grid",
       series == [hourly[h][position] for h in range(days * 24)])
printed = [line.split()[1] for line in (out / "2-23_discharge.dat").read_text().splitlines()]
expect("outlet series against discharge_series",
       printed == ["%g" % float(v) for v in series])

if failures:
    print("FAILED:\n  " + "\n  ".join(failures))
    sys.exit(1)
print(f"discharge.nc and the outlet gauge agree with the raw grids ({days * 24} hours)")
