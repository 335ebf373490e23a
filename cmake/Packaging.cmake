# Installation and packages. Only the program and its manual page are
# installed: never dolvin-sandbox, never the tests.
include(GNUInstallDirs)
install(TARGETS dolvin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/doc/dolvin.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

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
    add_test(NAME Install.StagesProgramAndManualOnly
             COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${PROJECT_BINARY_DIR}
                     -DSTAGE=${PROJECT_BINARY_DIR}/install-test -P
                     ${PROJECT_SOURCE_DIR}/cmake/CheckInstall.cmake)
endif()
