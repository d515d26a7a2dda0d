# What `cmake --install` puts under the prefix: the two programs, the desktop
# entry, the icon in the hicolor theme, the AppStream metainfo and the man
# pages (compressed, without a time stamp, as Debian wants them). The
# Debian package (cmake/Packaging.cmake) is made from the same rules.
include(GNUInstallDirs)

set(KELVOX_APP_ID org.example.kelvox)
set(KELVOX_DATA_DIR ${CMAKE_SOURCE_DIR}/data)

install(TARGETS kelvox RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET kelvox-render)
  install(TARGETS kelvox-render RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(FILES ${KELVOX_DATA_DIR}/${KELVOX_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 48 128 256)
  install(FILES ${KELVOX_DATA_DIR}/icons/hicolor/${size}x${size}/apps/${KELVOX_APP_ID}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()

set(KELVOX_VERSION ${PROJECT_VERSION})
configure_file(${KELVOX_DATA_DIR}/${KELVOX_APP_ID}.metainfo.xml
               ${CMAKE_BINARY_DIR}/data/${KELVOX_APP_ID}.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/data/${KELVOX_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

find_program(KELVOX_GZIP gzip REQUIRED)
set(man_pages)
foreach(page kelvox.1 kelvox-render.1)
  configure_file(${KELVOX_DATA_DIR}/man/${page} ${CMAKE_BINARY_DIR}/data/man/${page} @ONLY)
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/data/man/${page}.gz
    COMMAND ${KELVOX_GZIP} -9 -n -f -k ${CMAKE_BINARY_DIR}/data/man/${page}
    DEPENDS ${CMAKE_BINARY_DIR}/data/man/${page}
    COMMENT "Compressing the man page ${page}")
  list(APPEND man_pages ${CMAKE_BINARY_DIR}/data/man/${page}.gz)
endforeach()
add_custom_target(man_pages ALL DEPENDS ${man_pages})
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
