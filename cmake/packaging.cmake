# What an installation holds besides the programs: manual pages, bash completion, the
# README; and the Debian package built from it with `cpack -G DEB`.
include(GNUInstallDirs)

# Manual pages, compressed as Debian installs them.
set(VELA_MAN_PAGES sqlterm.1 blobfile.1)
set(vela_man_outputs)
foreach(page ${VELA_MAN_PAGES})
  set(out ${PROJECT_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/doc/man/${page} > ${out}
    DEPENDS ${PROJECT_SOURCE_DIR}/doc/man/${page}
    VERBATIM)
  list(APPEND vela_man_outputs ${out})
endforeach()
add_custom_target(man_pages ALL DEPENDS ${vela_man_outputs})
install(FILES ${vela_man_outputs} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# One completion script, installed under each program's name so that bash-completion
# loads it on demand for either.
foreach(program sqlterm blobfile)
  install(FILES doc/completion/vela.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME ${program})
endforeach()

install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vela)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "vela developers <vela@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ODBC database terminal (sqlterm) and file mover for binary columns (blobfile)")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# libedit is loaded at run time, where dpkg-shlibdeps does not see it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "unixodbc, libedit2")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libsqliteodbc, odbc-postgresql")
# The C and C++ run-time libraries, found by dpkg-shlibdeps when it is installed.
find_program(VELA_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(VELA_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)
