# Installation and packages. Only the program, its manual page, its copyright
# file and its bill of materials are installed: never dolvin-sandbox, never
# the tests.
include(GNUInstallDirs)
install(TARGETS dolvin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/docs/dolvin.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The copyright file and the bill of materials (sbom/generate.py) describe the
# program as installed, stripped or not, so they are written once it is: the
# bill holds its SHA-512. The panel program's components are the libraries of
# the panel toolchain and sysroot; the native one links mimalloc from
# scripts/host-libraries besides its shared libraries. Debian's python3 runs it, with
# python3-debian: another python3 may come first in PATH.
set(Python3_EXECUTABLE /usr/bin/python3)
find_package(Python3 3.11 REQUIRED COMPONENTS Interpreter)
set(dolvin_sbom_options --version ${PROJECT_VERSION})
if(CMAKE_CROSSCOMPILING)
    list(APPEND dolvin_sbom_options --panel ${dolvin_panel_toolchain} ${dolvin_panel_libraries})
elseif(dolvin_linked_libraries)
    list(APPEND dolvin_sbom_options --linked ${dolvin_linked_libraries})
endif()
install(CODE "
    set(prefix \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
    set(doc \"\${prefix}/${CMAKE_INSTALL_DOCDIR}\")
    execute_process(COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/sbom/generate.py
                            ${dolvin_sbom_options} --doc \${doc}
                            --program \${prefix}/${CMAKE_INSTALL_BINDIR}/dolvin
                    COMMAND_ERROR_IS_FATAL ANY)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES \${doc}/copyright \${doc}/dolvin.cdx.json)
")

set(DOLVIN_PACKAGE_MAINTAINER "dolvin maintainers <dolvin@example.org>"
    CACHE STRING "Maintainer named in the Debian package")

set(CPACK_GENERATOR TGZ DEB)
set(CPACK_PACKAGE_NAME dolvin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "get or set the accelerometer sensitivity of a Corvel UI panel")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "dolvin reads the accelerometer sensitivity level (0 to 3) of the panel, or sets it in both\n"
    "of its stores, the settings file and the NVM defaults document, replacing each durably.")
set(CPACK_SYSTEM_NAME ${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${DOLVIN_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
if(CMAKE_CROSSCOMPILING)
    # The toolchain file names the processor as Debian names the architecture
    # (powerpc). The panel toolchain links every program statically, libxml2,
    # the C and the C++ runtime included, so the package depends on nothing.
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${CMAKE_SYSTEM_PROCESSOR})
else()
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)

if(DOLVIN_TESTS)
    add_test(NAME Install.StagesProgramAndItsDocumentsOnly
             COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${PROJECT_BINARY_DIR}
                     -DSTAGE=${PROJECT_BINARY_DIR}/install-test -P
                     ${PROJECT_SOURCE_DIR}/cmake/CheckInstall.cmake)
endif()
