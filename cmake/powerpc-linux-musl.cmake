# Cross-build for the panel: 32-bit big-endian PowerPC Linux, with Debian's
# powerpc-linux-gnu toolchain. Programs built with it run here under qemu-ppc.
#
#   cmake -S . -B build-ppc --toolchain cmake/powerpc-linux-gnu.cmake
#
# Libraries that Debian does not ship for the target (libxml2, GoogleTest) are
# looked up below DOLVIN_PANEL_SYSROOT, where scripts/panel-sysroot installs
# them.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR powerpc)

set(DOLVIN_PANEL_TRIPLE powerpc-linux-gnu)
set(CMAKE_C_COMPILER ${DOLVIN_PANEL_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${DOLVIN_PANEL_TRIPLE}-g++)

set(DOLVIN_PANEL_SYSROOT "${CMAKE_CURRENT_LIST_DIR}/../.cache/ppc-sysroot"
    CACHE PATH "Target libraries built by scripts/panel-sysroot")
get_filename_component(DOLVIN_PANEL_SYSROOT "${DOLVIN_PANEL_SYSROOT}" ABSOLUTE)
# try_compile projects read this file again and need the same value.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES DOLVIN_PANEL_SYSROOT)

# The target's C and C++ runtime comes with the cross compiler.
set(DOLVIN_PANEL_RUNTIME /usr/${DOLVIN_PANEL_TRIPLE})
set(CMAKE_FIND_ROOT_PATH "${DOLVIN_PANEL_SYSROOT}" "${DOLVIN_PANEL_RUNTIME}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config must not report the build machine's own libraries.
set(ENV{PKG_CONFIG_LIBDIR} "${DOLVIN_PANEL_SYSROOT}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# Target programs (tests, test discovery) run under user-mode emulation of an
# e500 core: e500mc, the e500 with the classic floating-point unit that code
# for Debian's powerpc ABI needs. -L lets it find the target's dynamic loader
# and shared libraries. -R gives the program a 1 GiB address space, a bound
# as real as a memory limit on the panel (the emulator itself needs more host
# address space than that). Without qemu-ppc only -DDOLVIN_TESTS=OFF builds.
find_program(DOLVIN_QEMU_PPC qemu-ppc)
if(DOLVIN_QEMU_PPC)
    set(CMAKE_CROSSCOMPILING_EMULATOR
        "${DOLVIN_QEMU_PPC};-cpu;e500mc;-R;1G;-L;${DOLVIN_PANEL_RUNTIME}")
endif()
