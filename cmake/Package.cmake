# A Debian package: cmake --preset release && cmake --build --preset release
# && (cd build/release && cpack -G DEB). Its library dependencies are read
# from the program itself (dpkg-shlibdeps).
set(CPACK_PACKAGE_NAME sentrel)
set(CPACK_PACKAGE_VENDOR "Sentrel")
set(CPACK_PACKAGE_CONTACT "Sentrel developers <sentrel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Host-availability monitor with alarms")
set(CPACK_PACKAGE_DESCRIPTION
    "Sentrel pings a list of hosts on their own schedules, shows each host's state
in a window and raises alarms (sound, e-mail, LAN message, program start,
message box) when a host stops answering or answers again.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY sentrel)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The plugin that Qt loads at run time for SVG icons, which shlibdeps cannot
# see. nmcli (dial-up) is optional.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "network-manager")
include(CPack)
