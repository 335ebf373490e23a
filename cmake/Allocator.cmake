# The programs allocate with mimalloc: the XML library makes a block for every
# node and string, and musl's allocator (and, less so, glibc's) spends far
# longer on them (docs/performance.md). It is linked in as one object built
# from Debian's source, which reads no environment variable: for the panel
# by scripts/panel-sysroot (its 64-bit atomics from GCC's libatomic), for a
# native build by scripts/host-libraries. The sanitizers and the fuzzer put
# their own allocator in its place. OFF keeps the C library's, for comparisons.
option(DOLVIN_MIMALLOC "Allocate with mimalloc" ON)
set(DOLVIN_HOST_LIBRARIES "${PROJECT_SOURCE_DIR}/.cache/host-libraries"
    CACHE PATH "Libraries of the native program, built by scripts/host-libraries")
add_library(dolvin_allocator INTERFACE)
set(dolvin_linked_libraries "")
if(DOLVIN_MIMALLOC AND NOT DOLVIN_SANITIZE AND NOT DOLVIN_FUZZ)
    if(CMAKE_CROSSCOMPILING)
        set(dolvin_linked_libraries ${dolvin_panel_libraries})
    else()
        get_filename_component(dolvin_linked_libraries "${DOLVIN_HOST_LIBRARIES}" REALPATH)
    endif()
    set(object ${dolvin_linked_libraries}/usr/lib/mimalloc.o)
    if(NOT EXISTS ${object})
        message(FATAL_ERROR "${object} is missing: run scripts/host-libraries (or scripts/build), "
                            "or configure with -DDOLVIN_MIMALLOC=OFF")
    endif()
    target_link_libraries(dolvin_allocator INTERFACE ${object} $<$<BOOL:${CMAKE_CROSSCOMPILING}>:atomic>)
endif()
