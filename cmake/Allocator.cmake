# The programs allocate with mimalloc: the XML library makes a block for every
# node and string, and musl's allocator (and, less so, glibc's) spends far
# longer on them (docs/performance.md). The panel program links the object
# that scripts/panel-sysroot builds from Debian's source, whose 64-bit atomics
# come from GCC's libatomic; a native build uses Debian's shared library,
# which its package then depends on. The checkers put their own allocator in
# its place. OFF keeps the C library's, for comparisons.
option(DOLVIN_MIMALLOC "Allocate with mimalloc" ON)
add_library(dolvin_allocator INTERFACE)
if(DOLVIN_MIMALLOC AND CMAKE_CROSSCOMPILING)
    target_link_libraries(dolvin_allocator INTERFACE ${dolvin_panel_libraries}/usr/lib/mimalloc.o
                                                     atomic)
elseif(DOLVIN_MIMALLOC)
    find_library(DOLVIN_MIMALLOC_LIBRARY mimalloc REQUIRED)
    target_link_libraries(dolvin_allocator INTERFACE ${DOLVIN_MIMALLOC_LIBRARY})
endif()
