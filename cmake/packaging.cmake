# Installation and the Debian package. The program reads its pictures from its
# own folder (the real one, links resolved), so it and they go to a private
# folder, <prefix>/lib/tarnwick; <prefix>/bin gets relative links to it.
#   cmake --install build            (prefix /usr/local; --prefix to change it)
#   (cd build && cpack)              -> build/tarnwick_1.0_<arch>.deb, prefix /usr
set(TARNWICK_LIBDIR lib/tarnwick)
set(TARNWICK_DOCDIR share/doc/tarnwick)
set(packaging_src ${PROJECT_SOURCE_DIR}/packaging)
set(packaging_out ${CMAKE_BINARY_DIR}/packaging)

set(commands tarnwick)
foreach(extra tarnwick-switch tarnwick-board)
  if(TARGET ${extra})
    list(APPEND commands ${extra})
  endif()
endforeach()
install(TARGETS ${commands} RUNTIME DESTINATION ${TARNWICK_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/assets/ON.gif ${PROJECT_SOURCE_DIR}/assets/OFF.gif
        DESTINATION ${TARNWICK_LIBDIR})

# A stripped program keeps no compiler notes either, as Debian's strip does.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(command ${commands})
      execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment --remove-section=.note
                              \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${TARNWICK_LIBDIR}/\${command}\"
                      COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
  endif()
")

# Links within one top-level folder are relative, as Debian wants them.
file(MAKE_DIRECTORY ${packaging_out})
foreach(command ${commands})
  file(CREATE_LINK ../${TARNWICK_LIBDIR}/${command} ${packaging_out}/${command} SYMBOLIC)
  install(FILES ${packaging_out}/${command} DESTINATION bin)
endforeach()

install(FILES ${packaging_src}/tarnwick.desktop DESTINATION share/applications)
install(FILES ${PROJECT_SOURCE_DIR}/assets/tarnwick.png DESTINATION share/icons/hicolor/64x64/apps)
# Software centres want the metadata file named after the id inside it.
install(FILES ${packaging_src}/tarnwick.metainfo.xml DESTINATION share/metainfo
        RENAME example.tarnwick.tarnwick.metainfo.xml)
install(FILES ${packaging_src}/copyright DESTINATION ${TARNWICK_DOCDIR})

# Manual pages and the changelog are installed gzipped, as Debian keeps them:
# best compression and no name or time stamp in the header, so the same
# sources always give the same bytes.
set(gzipped)
foreach(source ${commands} changelog)
  if(source STREQUAL "changelog")
    set(input ${packaging_src}/changelog)
    set(output ${packaging_out}/changelog.gz)
  else()
    set(input ${packaging_src}/${source}.1)
    set(output ${packaging_out}/${source}.1.gz)
  endif()
  add_custom_command(OUTPUT ${output}
                     COMMAND gzip -9nc ${input} > ${output}
                     DEPENDS ${input} VERBATIM)
  list(APPEND gzipped ${output})
endforeach()
add_custom_target(tarnwick_docs ALL DEPENDS ${gzipped})
list(FILTER gzipped INCLUDE REGEX "\\.1\\.gz$")
install(FILES ${gzipped} DESTINATION share/man/man1)
install(FILES ${packaging_out}/changelog.gz DESTINATION ${TARNWICK_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnwick)
set(CPACK_PACKAGE_VENDOR "${TARNWICK_COMPANY}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Switches the five ports of an MCU board over a serial line")
set(CPACK_PACKAGE_DESCRIPTION
    "Tarnwick switches the five outputs of a microcontroller board on and off\n"
    "over a serial line, one button per port, and shows the board's replies.\n"
    "Includes tarnwick-switch, which switches a port from a script or a timer,\n"
    "and tarnwick-board, a board simulator on a pseudo-terminal.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TARNWICK_COMPANY} <support@tarnwick.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
