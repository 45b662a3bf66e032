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
# The command-line front end, for production lines and scripts.
install(TARGETS tarvex-flash RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
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
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
include(CPack)
