# Installing the quorvane command on Linux (cmake --install) and its Debian package (cpack): the
# program, its manual and its completions where the FHS, Debian and each shell look for them.
include(GNUInstallDirs)

# The manual and the changelog go in gzip -9n, the way Debian ships them: no name or date inside,
# so the same text always gives the same bytes.
set(QV_DOC_DIR ${CMAKE_BINARY_DIR}/doc)
function(qv_gzip source output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QV_DOC_DIR}
    COMMAND gzip -9n -c ${source} > ${output}
    DEPENDS ${source} VERBATIM)
endfunction()
qv_gzip(${PROJECT_SOURCE_DIR}/doc/quorvane.1 ${QV_DOC_DIR}/quorvane.1.gz)
qv_gzip(${PROJECT_SOURCE_DIR}/doc/changelog.Debian ${QV_DOC_DIR}/changelog.Debian.gz)
add_custom_target(quorvane_docs ALL
  DEPENDS ${QV_DOC_DIR}/quorvane.1.gz ${QV_DOC_DIR}/changelog.Debian.gz)

# Directories made by the install are 0755 whatever the umask of whoever packs.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(QV_PACKAGE_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/quorvane)
install(TARGETS quorvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${QV_DOC_DIR}/quorvane.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/completions/quorvane.bash
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME quorvane)
install(FILES ${PROJECT_SOURCE_DIR}/completions/_quorvane
  DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
install(FILES ${PROJECT_SOURCE_DIR}/completions/quorvane.fish
  DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d)
install(FILES ${PROJECT_SOURCE_DIR}/doc/copyright ${QV_DOC_DIR}/changelog.Debian.gz
  DESTINATION ${QV_PACKAGE_DOC_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/doc/lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME quorvane)

# The package's version is its changelog's newest entry, whose upstream part must be this
# project's version: the two cannot drift apart unnoticed.
file(STRINGS ${PROJECT_SOURCE_DIR}/doc/changelog.Debian QV_CHANGELOG_TOP LIMIT_COUNT 1)
if(NOT QV_CHANGELOG_TOP MATCHES "^quorvane \\(([^-)]+)-([^)]+)\\)")
  message(FATAL_ERROR "doc/changelog.Debian: no \"quorvane (VERSION-REVISION)\" at the top")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR
    "doc/changelog.Debian is at ${CMAKE_MATCH_1}, the project at ${PROJECT_VERSION}")
endif()
set(CPACK_DEBIAN_PACKAGE_RELEASE ${CMAKE_MATCH_2})

# Packing installs what is built; it does not build the whole tree (tests and benchmarks) first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# --serve loads libmicrohttpd at run time, where dpkg-shlibdeps cannot see it; the version is the
# one its symbols file gives for the functions --serve calls.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libmicrohttpd12 (>= 0.9.50)")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_CONTACT "Quorvane maintainers <maintainers@users.noreply.c-seed-13686856.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "port lister with templates, JSON and a connection log")
# CPack writes the summary as the synopsis line, this below it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "quorvane lists every TCP and UDP endpoint of the machine, IPv4 and IPv6, with
its state, its owning process and program and the remote host's name, read
from the kernel's socket diagnostics as ss reads them. It writes an aligned
table on a terminal, tab-separated rows in a pipe, JSON Lines or CSV for
scripts, or each endpoint laid out through a template of your own. It can
watch the machine, marking new and closed endpoints, and write a log of
connections opening, changing state and closing. Reverse look-ups run in
parallel under a deadline, and names are never written raw to a terminal.")
include(CPack)
