# The case made from the SRTM GeoTIFF runs in runoff_sim and passes make_case check.
# -DMAKE_CASE=<exe> -DRUNOFF_SIM=<exe> -DDEM=<tif> -DWORK=<scratch folder>
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
set(case ${WORK}/case)

execute_process(COMMAND ${MAKE_CASE} terrain ${DEM} ${case}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "make_case terrain failed (${status}):\n${out}${err}")
endif()
message(STATUS "${out}")

# One day of 5 mm/hr over the default rain grid of param-event.dat.
file(READ ${case}/param-event.dat params)
string(REGEX REPLACE "[ \t\r\n]+" ";" values "${params}")
list(GET values 4 rain_cols)
list(GET values 5 rain_rows)
math(EXPR points "${rain_cols} * ${rain_rows}")
string(REPEAT "5 " ${points} block)
set(rain "")
foreach(hour RANGE 23)
    string(APPEND rain "2000 1 1 ${hour} 0 0\n${block}\n")
endforeach()
file(WRITE ${case}/input/rain.dat "${rain}")

execute_process(COMMAND ${RUNOFF_SIM} WORKING_DIRECTORY ${case}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "runoff_sim failed on the made case (${status}):\n${out}${err}")
endif()
list(GET values 0 cols)
list(GET values 1 rows)
math(EXPR daily "${cols} * ${rows} * 4")
math(EXPR hourly "${daily} * 24")
file(SIZE ${case}/output/dischargeDaily.bin daily_size)
file(SIZE ${case}/output/dischargeHourly.bin hourly_size)
if(NOT daily_size EQUAL daily OR NOT hourly_size EQUAL hourly)
    message(FATAL_ERROR "runoff_sim wrote ${daily_size} and ${hourly_size} bytes, not ${daily} and ${hourly}")
endif()
# Some discharge reached the outlets: not every value of the last hour is zero or no-data.
file(READ ${case}/output/dischargeHourly.bin last OFFSET ${daily} HEX)
if(NOT last MATCHES "[1-9a-f]")
    message(FATAL_ERROR "runoff_sim wrote no discharge")
endif()

execute_process(COMMAND ${MAKE_CASE} check ${case}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
# Its one warning: the default space steps leave the linear scheme's volume error large.
if(NOT status EQUAL 0 OR NOT out MATCHES "0 errors, 1 warning: the case is ready"
   OR NOT out MATCHES "space steps runoff_sim's default linear scheme makes about")
    message(FATAL_ERROR "make_case check refused the made case (${status}):\n${out}${err}")
endif()
