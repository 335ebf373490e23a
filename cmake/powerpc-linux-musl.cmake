# Cross-build for the panel: 32-bit big-endian PowerPC Linux, soft float,
# static programs, with the toolchain that scripts/panel-toolchain builds (GCC
# and libstdc++ for musl). Programs built with it run here under qemu-ppc.
#
#   cmake -S . -B build-ppc --toolchain cmake/powerpc-linux-musl.cmake
#
# The toolchain is looked up at DOLVIN_PANEL_TOOLCHAIN, the target libraries
# that scripts/panel-sysroot builds (libxml2, GoogleTest) below
# DOLVIN_PANEL_SYSROOT; by default both through the links in the clone's
# .cache that those scripts make.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR powerpc)

set(DOLVIN_PANEL_TOOLCHAIN "${CMAKE_CURRENT_LIST_DIR}/../.cache/panel-toolchain"
    CACHE PATH "Cross toolchain built by scripts/panel-toolchain")
set(DOLVIN_PANEL_SYSROOT "${CMAKE_CURRENT_LIST_DIR}/../.cache/panel-sysroot"
    CACHE PATH "Target libraries built by scripts/panel-sysroot")
# try_compile projects read this file again and need the same values.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES DOLVIN_PANEL_TOOLCHAIN DOLVIN_PANEL_SYSROOT)
# Links resolved: every build names the same files the same way, which keeps
# the paths in the debug information, and so the binaries, identical.
get_filename_component(dolvin_panel_toolchain "${DOLVIN_PANEL_TOOLCHAIN}" REALPATH)
get_filename_component(dolvin_panel_libraries "${DOLVIN_PANEL_SYSROOT}" REALPATH)

set(CMAKE_C_COMPILER "${dolvin_panel_toolchain}/bin/powerpc-linux-musl-gcc")
set(CMAKE_CXX_COMPILER "${dolvin_panel_toolchain}/bin/powerpc-linux-musl-g++")
set(CMAKE_SYSROOT "${dolvin_panel_toolchain}/sysroot")
set(CMAKE_FIND_ROOT_PATH "${dolvin_panel_libraries}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config must not report the build machine's own libraries.
set(ENV{PKG_CONFIG_LIBDIR} "${dolvin_panel_libraries}/usr/lib/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "${dolvin_panel_libraries}")
set(ENV{PKG_CONFIG_PATH} "")

# Every program is static: no program interpreter, no shared library.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# Target programs (tests, test discovery) run under user-mode emulation of an
# e500v2 core, which has no classic floating-point unit. -R gives the program
# a 1 GiB address space, a bound as real as a memory limit on the panel (the
# emulator itself needs more host address space than that). Without qemu-ppc
# only -DDOLVIN_TESTS=OFF builds.
find_program(DOLVIN_QEMU_PPC qemu-ppc)
if(DOLVIN_QEMU_PPC)
    set(CMAKE_CROSSCOMPILING_EMULATOR "${DOLVIN_QEMU_PPC};-cpu;e500v2;-R;1G")
endif()
