# Opens the VRT files of the example basin's output with GDAL's own tools and checks what a GIS
# user relies on: size, georeference, coordinate system, band descriptions, no-data, and the
# values GDAL reads at known places, which also pins the north-up orientation.
#
# cmake -DGDALINFO=<path> -DGDALLOCATIONINFO=<path> -DOUTPUT_DIR=<run>/output -P check_vrt.cmake

if(NOT GDALINFO OR NOT GDALLOCATIONINFO)
    message("SKIPPED: gdalinfo and gdallocationinfo (Debian package gdal-bin) are not installed")
    return()
endif()

set(failures "")
macro(expect what actual expected)
    if(NOT "${actual}" STREQUAL "${expected}")
        string(APPEND failures "\n  ${what}: got '${actual}', expected '${expected}'")
    endif()
endmacro()
# CMake compares decimal numbers as doubles; the bounds are written out by hand.
macro(expect_between what actual low high)
    if(NOT "${actual}" MATCHES "^-?[0-9]" OR "${actual}" LESS ${low}
       OR "${actual}" GREATER ${high})
        string(APPEND failures "\n  ${what}: got '${actual}', expected ${low} to ${high}")
    endif()
endmacro()

function(gdal_json vrt out)
    execute_process(COMMAND ${GDALINFO} -json ${vrt} WORKING_DIRECTORY ${OUTPUT_DIR}
                    OUTPUT_VARIABLE json RESULT_VARIABLE rc ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "gdalinfo ${vrt} failed (${rc}): ${err}")
    endif()
    set(${out} "${json}" PARENT_SCOPE)
endfunction()
# Value of band `band` at a pixel (x from the west edge, y from the north edge, from 0), or at
# a longitude/latitude with GEO.
function(gdal_value vrt band x y out)
    set(geo "")
    if(ARGN)
        set(geo -geoloc)
    endif()
    execute_process(COMMAND ${GDALLOCATIONINFO} -valonly -b ${band} ${geo} ${vrt} ${x} ${y}
                    WORKING_DIRECTORY ${OUTPUT_DIR}
                    OUTPUT_VARIABLE v OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc
                    ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "gdallocationinfo ${vrt} failed (${rc}): ${err}")
    endif()
    set(${out} "${v}" PARENT_SCOPE)
endfunction()

# The example basin: 199 x 107 cells, outer south-west corner at (-118.3430, 34.2314) as
# single-precision values (-118.34300231933594, 34.231399536132812), two days.
foreach(name dischargeDaily dischargeHourlyMaxInDay dischargeHourly)
    gdal_json(${name}.vrt json)
    string(JSON cols GET "${json}" size 0)
    string(JSON rows GET "${json}" size 1)
    expect("${name} size" "${cols} x ${rows}" "199 x 107")
    string(JSON west GET "${json}" geoTransform 0)
    string(JSON dx GET "${json}" geoTransform 1)
    string(JSON rx GET "${json}" geoTransform 2)
    string(JSON north GET "${json}" geoTransform 3)
    string(JSON ry GET "${json}" geoTransform 4)
    string(JSON dy GET "${json}" geoTransform 5)
    expect_between("${name} west edge" "${west}" -118.3430033 -118.3430013)
    # 34.2313995 + 107 x 30 arc-seconds
    expect_between("${name} north edge" "${north}" 35.1230652 35.1230672)
    expect_between("${name} cell width" "${dx}" 0.0083333323 0.0083333343)
    expect_between("${name} cell height" "${dy}" -0.0083333343 -0.0083333323)
    expect("${name} rotation" "${rx} ${ry}" "0.0 0.0")
    string(JSON wkt GET "${json}" coordinateSystem wkt)
    if(NOT wkt MATCHES "ID\\[\"EPSG\",4326\\]\\]$")
        string(APPEND failures "\n  ${name}: coordinate system is not EPSG:4326: ${wkt}")
    endif()
    string(JSON bands LENGTH "${json}" bands)
    if(name STREQUAL "dischargeHourly")
        expect("${name} bands" "${bands}" 48)
        string(JSON d GET "${json}" bands 29 description)
        expect("${name} band 30" "${d}" "day 2 hour 6")
    else()
        expect("${name} bands" "${bands}" 2)
        string(JSON d GET "${json}" bands 1 description)
        expect("${name} band 2" "${d}" "day 2")
    endif()
    string(JSON nodata GET "${json}" bands 0 noDataValue)
    expect("${name} no-data" "${nodata}" -9999.0)
endforeach()

# The cell in column 86 from the west and row 43 from the south (the series golden's cell):
# 2707.01 m3/s in hour 30, a day-2 maximum of 3919.12 and a day-1 mean of 2393.09.
gdal_value(dischargeHourly.vrt 30 85 64 v)
expect_between("hourly band 30 at pixel (85, 64)" "${v}" 2707.005 2707.015)
# The same cell by its centre: 85.5 and 42.5 cells from the south-west corner.
gdal_value(dischargeHourly.vrt 30 -117.6305023 34.5855662 v GEO)
expect_between("hourly band 30 at the cell centre" "${v}" 2707.005 2707.015)
gdal_value(dischargeHourlyMaxInDay.vrt 2 85 64 v)
expect_between("daily maximum, day 2" "${v}" 3919.115 3919.125)
gdal_value(dischargeDaily.vrt 1 85 64 v)
expect_between("daily mean, day 1" "${v}" 2393.085 2393.095)
# Border cells hold no discharge.
gdal_value(dischargeHourly.vrt 48 0 0 v)
expect("north-west corner" "${v}" -9999)
gdal_value(dischargeHourly.vrt 1 198 106 v)
expect("south-east corner" "${v}" -9999)

if(failures)
    message(FATAL_ERROR "VRT check failed:${failures}")
endif()
