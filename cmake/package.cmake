# `make deb`: the install rules packed by CPack's DEB generator under /usr,
# the library dependencies found by dpkg-shlibdeps, and the maintainer
# scripts that make the zorgaval user and enable the unit.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zorgaval)
set(CPACK_PACKAGE_VENDOR "Zor Gaval")
set(CPACK_PACKAGE_CONTACT "Zor Gaval sysops <sysop@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "channel reserve module for a bulletin board, with a simulator and a live telnet board")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The programs keep their dynamic symbol table, which the module binds to.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS adduser)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/packaging/deb/postinst
  ${PROJECT_SOURCE_DIR}/packaging/deb/prerm
  ${PROJECT_SOURCE_DIR}/packaging/deb/postrm
  ${PROJECT_SOURCE_DIR}/packaging/deb/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
