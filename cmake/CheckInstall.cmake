# Stages an install of BUILD_DIR below STAGE, as an image builder does with
# DESTDIR, and checks that it holds exactly the program, its manual page, its
# copyright file and its bill of materials.
file(REMOVE_RECURSE ${STAGE})
set(ENV{DESTDIR} ${STAGE})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /usr
                OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
file(GLOB_RECURSE staged LIST_DIRECTORIES false RELATIVE ${STAGE} ${STAGE}/*)
list(SORT staged)
set(expected usr/bin/dolvin usr/share/doc/dolvin/copyright usr/share/doc/dolvin/dolvin.cdx.json
             usr/share/man/man1/dolvin.1)
if(NOT staged STREQUAL expected)
    message(FATAL_ERROR "staged: ${staged}\nexpected: ${expected}")
endif()
execute_process(COMMAND test -x ${STAGE}/usr/bin/dolvin RESULT_VARIABLE not_executable)
if(not_executable)
    message(FATAL_ERROR "usr/bin/dolvin is not executable")
endif()
file(REMOVE_RECURSE ${STAGE})
message(STATUS "staged: ${staged}")
