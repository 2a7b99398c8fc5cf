# `cmake --install` (or `make install`): the server and a commented sample
# quor.ini go into one directory of their own, <prefix>/lib/quorwell by
# default. The server looks for quor.ini and writes QUOR.LOG beside its
# executable unless QUORWELL_HOME names another directory, so it does not
# belong in bin/ among other programs. The executable is self-contained
# (images embedded): nothing else needs installing.
set(QUOR_INSTALL_DIR "lib/quorwell" CACHE STRING
  "Directory, relative to the install prefix, for the server and its sample quor.ini")

install(TARGETS quorwell
  RUNTIME DESTINATION ${QUOR_INSTALL_DIR}
  COMPONENT server)
install(FILES ${CMAKE_SOURCE_DIR}/examples/quor.ini.sample
  DESTINATION ${QUOR_INSTALL_DIR}
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
  COMPONENT server)
install(FILES ${CMAKE_SOURCE_DIR}/docs/admin.md ${CMAKE_SOURCE_DIR}/README.md
  DESTINATION share/doc/quorwell
  COMPONENT server)
