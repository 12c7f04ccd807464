# Installation and the Debian package. The program reads its pictures from its
# own folder, so it and they go to /opt/tarnwick; /usr/bin gets relative links.
#   cmake --install build            (as root; DESTDIR=... to stage elsewhere)
#   (cd build && cpack)              -> build/tarnwick_1.0_<arch>.deb
set(TARNWICK_OPT /opt/tarnwick)

install(TARGETS tarnwick RUNTIME DESTINATION ${TARNWICK_OPT})
if(TARGET tarnwick-board)
  install(TARGETS tarnwick-board RUNTIME DESTINATION ${TARNWICK_OPT})
endif()
install(FILES ${PROJECT_SOURCE_DIR}/assets/ON.gif ${PROJECT_SOURCE_DIR}/assets/OFF.gif
        DESTINATION ${TARNWICK_OPT})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/tarnwick.desktop DESTINATION /usr/share/applications)
install(FILES ${PROJECT_SOURCE_DIR}/assets/tarnwick.png DESTINATION /usr/share/icons/hicolor/64x64/apps)

set(links_dir ${CMAKE_BINARY_DIR}/packaging-links)
file(MAKE_DIRECTORY ${links_dir})
foreach(command tarnwick tarnwick-board)
  file(CREATE_LINK ../..${TARNWICK_OPT}/${command} ${links_dir}/${command} SYMBOLIC)
  install(FILES ${links_dir}/${command} DESTINATION /usr/bin)
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnwick)
set(CPACK_PACKAGE_VENDOR "${TARNWICK_COMPANY}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Switches the five ports of an MCU board over a serial line")
set(CPACK_PACKAGE_DESCRIPTION
    "Tarnwick switches the five outputs of a microcontroller board on and off\n"
    "over a serial line, one button per port, and shows the board's replies.\n"
    "Includes tarnwick-board, a board simulator on a pseudo-terminal.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_SET_DESTDIR ON)  # the absolute destinations above land in the package
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TARNWICK_COMPANY} <support@tarnwick.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
