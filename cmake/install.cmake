# Where `cmake --install` (and so `make install` and the package) puts each
# file. The module goes to lib/zorgaval/ whatever the platform's libdir:
# the programs look for it at ../lib/zorgaval/ from their own directory.
include(GNUInstallDirs)

install(TARGETS zorgaval-sim zorgaval-board RUNTIME DESTINATION bin)
install(TARGETS zorgaval LIBRARY DESTINATION lib/zorgaval)
install(FILES examples/zorgaval.mcv examples/ZORGAVAL.MDF examples/busy-evening.scn
  examples/zorgaval.logrotate
  DESTINATION ${CMAKE_INSTALL_DATADIR}/zorgaval)
# The web terminal's page and xterm.js, as web/ gathered them in the build.
install(DIRECTORY ${PROJECT_BINARY_DIR}/web/ DESTINATION ${CMAKE_INSTALL_DATADIR}/zorgaval/web)
install(DIRECTORY examples/fail2ban DESTINATION ${CMAKE_INSTALL_DATADIR}/zorgaval)
install(FILES man/zorgaval-sim.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES man/zorgaval-board.8 DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
install(FILES completions/zorgaval
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
  RENAME zorgaval-sim)
install(FILES completions/zorgaval
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
  RENAME zorgaval-board)

# The unit names /usr/bin/zorgaval-board, as the package installs it; an
# install under another prefix gets its own path, put in at install time
# because the package installs with a prefix of its own.
set(unit_source ${PROJECT_SOURCE_DIR}/examples/zorgaval-board.service)
set(unit_built ${PROJECT_BINARY_DIR}/install/zorgaval-board.service)
install(CODE "
  file(READ \"${unit_source}\" unit)
  string(REPLACE \"/usr/bin/zorgaval-board\" \"\${CMAKE_INSTALL_PREFIX}/bin/zorgaval-board\"
    unit \"\${unit}\")
  file(WRITE \"${unit_built}\" \"\${unit}\")")
install(FILES ${unit_built} DESTINATION lib/systemd/system)

# The socket units that pass ports below 1024 to the board, and the sysop's
# settings, always at /etc/zorgaval/board.conf where the unit reads them
# (the package marks the file a conffile, so an upgrade keeps its edits).
install(FILES examples/zorgaval-board.socket examples/zorgaval-board-ssh.socket
  examples/zorgaval-board-web.socket DESTINATION lib/systemd/system)
install(FILES packaging/etc/board.conf DESTINATION /etc/zorgaval)
