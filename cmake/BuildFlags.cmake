# Compiler and linker settings for every build of dolvin, native or panel.

# On 32-bit targets such as the panel, stat() fails with EOVERFLOW on a file
# stamped after January 2038 or with an inode number above 32 bits, unless
# file offsets and timestamps are 64 bits wide. No effect on 64-bit builds.
add_compile_definitions(_FILE_OFFSET_BITS=64 _TIME_BITS=64)

# Reproducible builds: the source and build directories leave no trace in the
# binaries (debug information, __FILE__). The build directory is named last
# as it may lie inside the source directory.
add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.
                    -ffile-prefix-map=${PROJECT_BINARY_DIR}=.)

# Smaller programs: functions and data that nothing uses, in dolvin and in a
# static libxml2, are left out of the link.
add_compile_options("$<$<NOT:$<CONFIG:Debug>>:-ffunction-sections;-fdata-sections>")
add_link_options("$<$<NOT:$<CONFIG:Debug>>:LINKER:--gc-sections>")
