# The Debian package of the Linux installation (scripts/package.sh):
#   cpack -G DEB --config BUILD/CPackConfig.cmake
# The package is installed into /usr with DESTDIR staging, so that what the installation works out
# from its prefix (/etc, the udev rule's and the unit's paths) comes out as for
# `cmake --install BUILD --prefix /usr`.
set(kv_pkg_dir ${PROJECT_SOURCE_DIR}/app/linux/debian)
include(GNUInstallDirs)
configure_file(${kv_pkg_dir}/changelog ${CMAKE_BINARY_DIR}/debian/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/debian/changelog.gz
  COMMAND gzip -9n -c ${CMAKE_BINARY_DIR}/debian/changelog > ${CMAKE_BINARY_DIR}/debian/changelog.gz
  DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog)
add_custom_target(kv_package_docs ALL DEPENDS ${CMAKE_BINARY_DIR}/debian/changelog.gz)
install(FILES ${kv_pkg_dir}/copyright ${CMAKE_BINARY_DIR}/debian/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/kvmon)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kvmon)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "kvmon developers <kvmon@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "background monitor of a gaming mouse")
set(CPACK_PACKAGE_DESCRIPTION
  "kvmon runs once per desktop session with an icon in the notification area.
 It reads the mouse's control interface, toggles the default microphone's
 mute state when a button bound to that function is pressed and records the
 mouse's on-board profile. Its settings window binds the microphone button,
 chooses the language and tells what to do when the mouse cannot be opened.
 kvstore, kvhid and kvmouse edit the profile store, inspect HID devices (and
 print the udev rule) and drive a virtual mouse.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The Chinese captions need a CJK font; the tray needs a session bus.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk, dbus-user-session | dbus-x11")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "pulseaudio | pipewire-pulse")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${kv_pkg_dir}/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
