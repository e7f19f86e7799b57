# Runs one program on a scratch copy of a case and compares what it printed and wrote.
#   PROGRAM          the executable
#   CASE_DIR         folder copied to WORK_DIR first (when COPY_CASE is ON)
#   WORK_DIR         scratch folder
#   RUN_IN           sub-folder of WORK_DIR to run in (may be empty)
#   STDIN_FILE       file fed to standard input (empty: no input)
#   EXPECTED_STDOUT  exact console text (optional)
#   EXPECTED_SHA256  lines "<sha256>  <path relative to the run folder>" (optional)
#   HASH_IN          sub-folder of the run folder that the SHA-256 lines name files in
#   EXPECTED_EXIT    exit status
cmake_minimum_required(VERSION 3.25)

if(COPY_CASE)
    file(REMOVE_RECURSE "${WORK_DIR}")
    file(MAKE_DIRECTORY "${WORK_DIR}")
    file(COPY "${CASE_DIR}/" DESTINATION "${WORK_DIR}" NO_SOURCE_PERMISSIONS)
endif()

set(run_dir "${WORK_DIR}")
if(RUN_IN)
    set(run_dir "${WORK_DIR}/${RUN_IN}")
endif()

if(STDIN_FILE)
    set(input_args INPUT_FILE "${STDIN_FILE}")
else()
    set(input_args INPUT_FILE /dev/null)
endif()

# The console text goes to a file: captured in a variable, line ends would be rewritten.
set(console_file "${WORK_DIR}.console.txt")
execute_process(COMMAND "${PROGRAM}"
                WORKING_DIRECTORY "${run_dir}"
                ${input_args}
                OUTPUT_FILE "${console_file}"
                ERROR_VARIABLE errors
                RESULT_VARIABLE status)

set(failed FALSE)
if(NOT "${status}" STREQUAL "${EXPECTED_EXIT}")
    message(SEND_ERROR "exit status ${status}, expected ${EXPECTED_EXIT}")
    set(failed TRUE)
endif()
if(NOT "${errors}" STREQUAL "")
    message(SEND_ERROR "the program wrote to standard error:\n${errors}")
    set(failed TRUE)
endif()

if(EXPECTED_STDOUT)
    # Compared byte for byte: carriage returns matter (the post-processors' "Write" lines).
    file(READ "${EXPECTED_STDOUT}" expected HEX)
    file(READ "${console_file}" console_hex HEX)
    if(NOT console_hex STREQUAL expected)
        message(SEND_ERROR "console text differs from ${EXPECTED_STDOUT}; "
                           "see ${console_file}")
        set(failed TRUE)
    endif()
endif()

if(EXPECTED_SHA256)
    file(STRINGS "${EXPECTED_SHA256}" lines)
    foreach(line IN LISTS lines)
        if(line MATCHES "^([0-9a-f]+)  (.+)$")
            set(want "${CMAKE_MATCH_1}")
            set(name "${CMAKE_MATCH_2}")
            if(HASH_IN)
                set(path "${run_dir}/${HASH_IN}/${name}")
            else()
                set(path "${run_dir}/${name}")
            endif()
            if(NOT EXISTS "${path}")
                message(SEND_ERROR "${name} was not written")
                set(failed TRUE)
                continue()
            endif()
            file(SHA256 "${path}" got)
            if(NOT got STREQUAL want)
                message(SEND_ERROR "${name}: SHA-256 ${got}, expected ${want}")
                set(failed TRUE)
            endif()
        endif()
    endforeach()
endif()

if(failed)
    message(FATAL_ERROR "golden case failed (program ${PROGRAM}, folder ${run_dir})")
endif()
