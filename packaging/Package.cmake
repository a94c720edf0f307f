# The Debian package: `make package` (cpack -G DEB) writes
# velmor_<version>_amd64.deb with the program and the command line in
# /usr/bin, the libraries in /usr/lib/velmor, the resources in
# /usr/share/velmor, the desktop entry, icon and file types, the manual
# pages and the Debian copyright and change log. Dependencies are read off
# the binaries by dpkg-shlibdeps, never listed by hand.
include(GNUInstallDirs)

set(VELMOR_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/velmor)
set(VELMOR_PACKAGE_WORK ${CMAKE_BINARY_DIR}/package-files)

# Debian wants the change log and the manual pages compressed, the same
# bytes every time (no name or time in the gzip header).
find_program(VELMOR_GZIP gzip REQUIRED)
set(VELMOR_GZIPPED)
foreach(pair "changelog:${VELMOR_DOC_DIR}" "velmor.1:${CMAKE_INSTALL_MANDIR}/man1"
             "velmor-cli.1:${CMAKE_INSTALL_MANDIR}/man1")
  string(REPLACE ":" ";" pair "${pair}")
  list(GET pair 0 name)
  list(GET pair 1 destination)
  set(out ${VELMOR_PACKAGE_WORK}/${name}.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VELMOR_PACKAGE_WORK}
    COMMAND ${VELMOR_GZIP} -9nc ${CMAKE_CURRENT_LIST_DIR}/deb/${name} > ${out}
    DEPENDS ${CMAKE_CURRENT_LIST_DIR}/deb/${name}
    COMMENT "Compressing ${name}")
  list(APPEND VELMOR_GZIPPED ${out})
  install(FILES ${out} DESTINATION ${destination})
endforeach()
add_custom_target(velmor_package_files ALL DEPENDS ${VELMOR_GZIPPED})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/deb/copyright DESTINATION ${VELMOR_DOC_DIR})

# The libraries are found through the programs' run path; they need none.
set_target_properties(rkmedia rkstore rkcontainer rkindex PROPERTIES INSTALL_RPATH "")
if(TARGET avfile_ttx)
  set_target_properties(avfile_ttx PROPERTIES INSTALL_RPATH "")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Velmor")
set(CPACK_PACKAGE_CONTACT "Velmor developers <developers@velmor.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "player and evidence tool for vehicle video recorder recordings")
# The long description: cpack puts the summary above it and indents it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Velmor reads the disks, cards and copied recordings of mobile video
recorders in buses, trucks and cars, read-only. It finds recordings by
day, channel and event, plays up to sixteen channels on one clock, shows
the vehicle on a map with speed and G-force graphs, and cuts clips and
GPS and log exports. velmor-cli does the same without a window.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The private libraries are found in the package itself.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_SET_DESTDIR OFF)
# Only what the package installs: no test or benchmark programs.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};Velmor;ALL;/")
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR})
include(CPack)
