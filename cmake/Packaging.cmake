# The Debian package for bench PCs: `cpack -G DEB` in a build directory, or
# scripts/package.sh from a clean tree. The package holds what a bench needs
# (the program, its menu entry and icon, feederbench-cli for station
# scripts, pdu-sim, the sample files, the man pages) and nothing of the tests, benchmarks or fuzzers, which install nothing.
# The version is the project's.

if(NOT UNIX OR APPLE)
    return()
endif()

set(FEEDERBENCH_PACKAGE_MAINTAINER "FeederBench maintainers <feederbench@example.com>"
    CACHE STRING "Maintainer named in the Debian package and its changelog")

set(_pkg ${PROJECT_SOURCE_DIR}/packaging)
set(_pkg_out ${PROJECT_BINARY_DIR}/packaging)
set(_docdir ${CMAKE_INSTALL_DATADIR}/doc/feederbench)
file(MAKE_DIRECTORY ${_pkg_out})

# Debian wants man pages and changelogs compressed with gzip -9n (no name,
# no time stamp, so the same input gives the same bytes). Done at configure
# time; editing an input configures again.
function(feederbench_gzip input output)
    execute_process(COMMAND gzip -9nc ${input} OUTPUT_FILE ${output} RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "gzip ${input} failed")
    endif()
    set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${input})
endfunction()

configure_file(${_pkg}/changelog.in ${_pkg_out}/changelog @ONLY)
feederbench_gzip(${_pkg_out}/changelog ${_pkg_out}/changelog.gz)
set_property(DIRECTORY ${PROJECT_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             ${_pkg}/changelog.in)
foreach(page feederbench.1 feederbench-cli.1 pdu-sim.1)
    feederbench_gzip(${_pkg}/${page} ${_pkg_out}/${page}.gz)
    install(FILES ${_pkg_out}/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

install(FILES ${_pkg}/copyright ${_pkg}/README.Debian DESTINATION ${_docdir})
install(FILES ${_pkg_out}/changelog.gz DESTINATION ${_docdir})
install(FILES ${PROJECT_SOURCE_DIR}/examples/config.ini ${PROJECT_SOURCE_DIR}/examples/mac.csv
              ${PROJECT_SOURCE_DIR}/examples/plan.ini
        DESTINATION ${_docdir}/examples)

set(CPACK_PACKAGE_NAME feederbench)
set(CPACK_PACKAGE_VENDOR "FeederBench")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${FEEDERBENCH_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "bench tool for DC power distribution units")
set(CPACK_PACKAGE_DESCRIPTION
    "FeederBench checks and provisions a DC power distribution unit over one serial
line: Modbus-RTU reads and writes of its modules (switch state, protection
flags, thresholds, time windows, clock) and the service protocol for its MAC
address and factory defaults, with a record of every address written.
.
feederbench-cli does the same work from a command line, for a production
line's station scripts: the same device list and result lines, an exit status
to decide by, and a JSON document of the results.
.
The package also holds pdu-sim, a simulated unit on a pseudo-terminal for
rehearsing the line without a unit, and sample config.ini and mac.csv files.")
set(CPACK_STRIP_FILES ON)
# The launcher and the menu entry name the installed paths: package where they point.
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_GENERATOR DEB)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # feederbench_<version>_<arch>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What dpkg-shlibdeps cannot see: the record's SQL drivers are plugins Qt
# loads by name (SQLite on its own, PostgreSQL for a line of benches sharing
# one record), and without a CJK font every text of the window is a box.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libqt5sql5-sqlite, libqt5sql5-psql, fonts-wqy-microhei | fonts-wqy-zenhei | fonts-noto-cjk")
# The note about the dialout group is printed at the first installation.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${_pkg}/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
