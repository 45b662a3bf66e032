# Installing the desktop program and its Debian package. The program and its manual share one
# folder (the manual is opened from beside the program); a link in bin/ starts it.
if(NOT TARGET tarvex-flash-programmer)
  return()
endif()
include(GNUInstallDirs)

set(tarvex_libdir ${CMAKE_INSTALL_LIBDIR}/tarvex-flash-programmer)
install(TARGETS tarvex-flash-programmer RUNTIME DESTINATION ${tarvex_libdir})
install(FILES ${TARVEX_MANUAL_PDF} DESTINATION ${tarvex_libdir})
# A relative link, so the package may be installed under any prefix.
file(RELATIVE_PATH tarvex_link_target /${CMAKE_INSTALL_BINDIR} /${tarvex_libdir}/tarvex-flash-programmer)
install(CODE "
  set(bindir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  file(MAKE_DIRECTORY \"\${bindir}\")
  file(CREATE_LINK \"${tarvex_link_target}\" \"\${bindir}/tarvex-flash-programmer\" SYMBOLIC)
")
# The demonstration (--demo) finds the emulator and its sample firmware beside the program.
install(TARGETS tarvex-panel-sim RUNTIME DESTINATION ${tarvex_libdir})
install(FILES "${PROJECT_BINARY_DIR}/bin/demo/Tarvex Demo Firmware.hex" DESTINATION ${tarvex_libdir}/demo)
# The emulator on the PATH too, for trials and training.
file(RELATIVE_PATH tarvex_sim_target /${CMAKE_INSTALL_BINDIR} /${tarvex_libdir}/tarvex-panel-sim)
install(CODE "
  file(CREATE_LINK \"${tarvex_sim_target}\" \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/tarvex-panel-sim\" SYMBOLIC)
")
# The command-line front end, for production lines and scripts.
install(TARGETS tarvex-flash RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/completions/tarvex-flash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# Manual pages: the two command-line programs' from their own help, the desktop program's as written;
# compressed without a time stamp, as Debian wants them.
set(tarvex_man ${PROJECT_BINARY_DIR}/man)
set(tarvex_pages)
foreach(page tarvex-flash tarvex-panel-sim)
  add_custom_command(
    OUTPUT ${tarvex_man}/${page}.1.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${tarvex_man}
    COMMAND ${CMAKE_COMMAND} -DPAGE=${page} -DEXE=$<TARGET_FILE:${page}> -DOUT=${tarvex_man}/${page}.1
            -DVERSION=${PROJECT_VERSION} -P ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
    COMMAND gzip -9nf ${tarvex_man}/${page}.1
    DEPENDS ${page} ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
    VERBATIM)
  list(APPEND tarvex_pages ${tarvex_man}/${page}.1.gz)
endforeach()
add_custom_command(
  OUTPUT ${tarvex_man}/tarvex-flash-programmer.1.gz
  COMMAND ${CMAKE_COMMAND} -E make_directory ${tarvex_man}
  COMMAND sh -c "gzip -9nc '${PROJECT_SOURCE_DIR}/docs/man/tarvex-flash-programmer.1' > '${tarvex_man}/tarvex-flash-programmer.1.gz'"
  DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/tarvex-flash-programmer.1
  VERBATIM)
list(APPEND tarvex_pages ${tarvex_man}/tarvex-flash-programmer.1.gz)
add_custom_target(tarvex_manpages ALL DEPENDS ${tarvex_pages})
install(FILES ${tarvex_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# What Debian wants beside the programs: copyright, changelog, software-centre metadata.
set(tarvex_docdir ${CMAKE_INSTALL_DATADIR}/doc/tarvex-flash-programmer)
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in ${PROJECT_BINARY_DIR}/packaging/changelog @ONLY)
add_custom_command(
  OUTPUT ${PROJECT_BINARY_DIR}/packaging/changelog.gz
  COMMAND gzip -9nf ${PROJECT_BINARY_DIR}/packaging/changelog
  DEPENDS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in
  VERBATIM)
add_custom_target(tarvex_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright ${PROJECT_BINARY_DIR}/packaging/changelog.gz
        DESTINATION ${tarvex_docdir})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/tarvex-flash-programmer.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${PROJECT_SOURCE_DIR}/src/resources/tarvex-flash-programmer.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${TARVEX_APP_ICON_SVG} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${TARVEX_APP_ICON_PNG} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvex-flash-programmer)
set(CPACK_PACKAGE_VENDOR "Tarvex Ltd")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware updates for Tarvex control panels and keypads over USB")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Tarvex Ltd <support@example.com>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6widgets6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6core6 (>= 6.4), libudev1, qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_PACKAGE_DESCRIPTION "Plug the USB lead into an intruder-alarm control panel or keypad, pick
its port, connect, open the firmware file and press Start: the program
identifies the product, checks the file, erases, writes, reads back and
verifies the flash and starts the new firmware. tarvex-flash does the same
from the command line; tarvex-panel-sim plays a panel for trials.
Serial ports need membership of the dialout group.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The C and C++ runtimes and the rest found by dpkg-shlibdeps, beside the Qt packages named above.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
include(CPack)
