# The Debian package (scripts/package.sh): CPack over the install rules of
# cmake/Install.cmake, with the runtime dependencies computed from the shared
# libraries the programs link (dpkg-shlibdeps), stripped binaries (the version
# record section stays) and the copyright and changelog files Debian expects.
set(KELVOX_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/kelvox)
install(FILES ${KELVOX_DATA_DIR}/debian/copyright DESTINATION ${KELVOX_DOC_DIR})
configure_file(${KELVOX_DATA_DIR}/debian/changelog ${CMAKE_BINARY_DIR}/data/debian/changelog @ONLY)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/data/debian/changelog.gz
  COMMAND ${KELVOX_GZIP} -9 -n -f -k ${CMAKE_BINARY_DIR}/data/debian/changelog
  DEPENDS ${CMAKE_BINARY_DIR}/data/debian/changelog
  COMMENT "Compressing the package changelog")
add_custom_target(package_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/data/debian/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/data/debian/changelog.gz DESTINATION ${KELVOX_DOC_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kelvox)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Kelvox project")
set(CPACK_PACKAGE_CONTACT "Kelvox project <kelvox-project@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "viewer of headerless voxel files under a guessed layout")
set(CPACK_PACKAGE_DESCRIPTION
    "Kelvox shows the bytes of a headerless voxel file (raw MRI, CT and
microscopy dumps, unknown scanner exports) under a guess of its layout:
voxels per row, rows per slice, slices per volume, data type, byte order
and intensity window. Four grey-scale views follow every change, and the
status bar reads out the voxel under the pointer with its byte offset.
.
kelvox-render renders one view to a PNG for scripts and thumbnails.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://kelvox.example.org)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
