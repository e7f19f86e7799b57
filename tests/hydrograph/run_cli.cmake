# Runs outlet_hydrograph once and compares its console text.
#   PROGRAM          the executable
#   ARGS             its arguments, separated by "|"
#   EXPECTED_STDOUT  file with the exact console text
#   EXPECTED_EXIT    exit status
#   RUN_IN           working folder
#   NAME             the test, naming the file that keeps the console text
cmake_minimum_required(VERSION 3.25)

string(REPLACE "|" ";" args "${ARGS}")
set(console_file "${RUN_IN}/${NAME}.console.txt")
execute_process(COMMAND "${PROGRAM}" ${args}
                WORKING_DIRECTORY "${RUN_IN}"
                INPUT_FILE /dev/null
                OUTPUT_FILE "${console_file}"
                ERROR_VARIABLE errors
                RESULT_VARIABLE status)
if(NOT "${status}" STREQUAL "${EXPECTED_EXIT}")
    message(SEND_ERROR "exit status ${status}, expected ${EXPECTED_EXIT}")
endif()
if(NOT "${errors}" STREQUAL "")
    message(SEND_ERROR "the program wrote to standard error:\n${errors}")
endif()
file(READ "${EXPECTED_STDOUT}" expected HEX)
file(READ "${console_file}" console_hex HEX)
if(NOT console_hex STREQUAL expected)
    file(READ "${console_file}" console)
    message(SEND_ERROR "console text differs from ${EXPECTED_STDOUT}:\n${console}")
endif()
