# Runs the README's install commands, as written, on the build tree BIN_DIR (in place of
# build/release) into a fresh prefix under WORK, then checks that every program is in its
# bin/ and starts: `--help` answers with status 0 where the program takes it, the programs
# that ask their questions on standard input start and end on empty input with status 0 or 1.
#   cmake -DREADME=... -DBIN_DIR=... -DWORK=... -DPROGRAMS="a;b" -DHELP_PROGRAMS="a" -P this
cmake_minimum_required(VERSION 3.25)

file(STRINGS "${README}" lines)
set(build_line "")
set(install_line "")
set(previous "")
foreach(line IN LISTS lines)
    if(line MATCHES "^    cmake --install build/release --prefix ")
        set(install_line "${line}")
        set(build_line "${previous}")
        break()
    endif()
    if(NOT line STREQUAL "")
        set(previous "${line}")
    endif()
endforeach()
if(install_line STREQUAL "")
    message(FATAL_ERROR "${README} shows no `cmake --install build/release --prefix ...` line")
endif()
if(NOT build_line MATCHES "^    cmake --build build/release$")
    message(FATAL_ERROR "${README}: the line before the install line is not "
                        "`cmake --build build/release`, so the install meets unbuilt programs: "
                        "'${build_line}'")
endif()

set(prefix "${WORK}/prefix")
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/empty")
foreach(step build install)
    string(STRIP "${${step}_line}" command)
    string(REPLACE "build/release" "${BIN_DIR}" command "${command}")
    # The README's prefix is the user's choice; here a scratch one.
    string(REGEX REPLACE "--prefix .*$" "--prefix ${prefix}" command "${command}")
    separate_arguments(argv UNIX_COMMAND "${command}")
    list(POP_FRONT argv tool)
    execute_process(COMMAND ${CMAKE_COMMAND} ${argv}
                    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "`${command}` failed (${status}):\n${out}")
    endif()
endforeach()

foreach(program IN LISTS PROGRAMS)
    set(binary "${prefix}/bin/${program}")
    if(NOT EXISTS "${binary}")
        message(FATAL_ERROR "the install left out ${program}: no ${binary}")
    endif()
    if(program IN_LIST HELP_PROGRAMS)
        execute_process(COMMAND "${binary}" --help WORKING_DIRECTORY "${WORK}/empty"
                        RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
        if(NOT status EQUAL 0 OR out STREQUAL "")
            message(FATAL_ERROR "${binary} --help: status ${status}, output '${out}'")
        endif()
    else()
        execute_process(COMMAND "${binary}" WORKING_DIRECTORY "${WORK}/empty"
                        INPUT_FILE /dev/null
                        RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
        if(NOT (status EQUAL 0 OR status EQUAL 1) OR out STREQUAL "")
            message(FATAL_ERROR "${binary} does not start: status ${status}, output '${out}'")
        endif()
    endif()
endforeach()
list(LENGTH PROGRAMS count)
message(STATUS "${count} programs installed under ${prefix} and started")
file(REMOVE_RECURSE "${WORK}")
