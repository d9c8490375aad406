# The manual page of the command line, made from its --help, the copyright file and the
# change log, and a Debian package of everything `cmake --install` puts in place
# (`make package`, which installs help2man before it configures).

find_program(HELP2MAN_PROGRAM help2man)
if(HELP2MAN_PROGRAM)
  set(CLI_MAN_PAGE ${CMAKE_BINARY_DIR}/man/vantrelindexer-cli.1.gz)
  add_custom_command(OUTPUT ${CLI_MAN_PAGE}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${HELP2MAN_PROGRAM} --no-info --no-discard-stderr --section 1
            --name "build a client-side search index for a static web site"
            --output ${CMAKE_BINARY_DIR}/man/vantrelindexer-cli.1 $<TARGET_FILE:vantrelindexer-cli>
    COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/man/vantrelindexer-cli.1
    DEPENDS vantrelindexer-cli
    COMMENT "Writing the manual page of vantrelindexer-cli")
  add_custom_target(man_page ALL DEPENDS ${CLI_MAN_PAGE})
  install(FILES ${CLI_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "help2man not found: no manual page (make package installs it)")
endif()

# The wizard's manual page, written by hand: it takes no options to make one from.
if(TARGET vantrelindexer)
  set(WIZARD_MAN_PAGE ${CMAKE_BINARY_DIR}/man/vantrelindexer.1.gz)
  add_custom_command(OUTPUT ${WIZARD_MAN_PAGE}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/resources/vantrelindexer.1 ${CMAKE_BINARY_DIR}/man/vantrelindexer.1
    COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/man/vantrelindexer.1
    DEPENDS ${CMAKE_SOURCE_DIR}/resources/vantrelindexer.1
    COMMENT "Compressing the manual page of vantrelindexer")
  add_custom_target(wizard_man_page ALL DEPENDS ${WIZARD_MAN_PAGE})
  install(FILES ${WIZARD_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# Debian's place for them: /usr/share/doc/PACKAGE/copyright and changelog.gz, compressed
# without a name or time stamp so that the same source gives the same bytes.
set(DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/vantrelindexer)
set(CHANGELOG_GZ ${CMAKE_BINARY_DIR}/doc/changelog.gz)
add_custom_command(OUTPUT ${CHANGELOG_GZ}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/doc
  COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/packaging/changelog ${CMAKE_BINARY_DIR}/doc/changelog
  COMMAND gzip -9nf ${CMAKE_BINARY_DIR}/doc/changelog
  DEPENDS ${CMAKE_SOURCE_DIR}/packaging/changelog
  COMMENT "Compressing the change log")
add_custom_target(changelog ALL DEPENDS ${CHANGELOG_GZ})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright ${CHANGELOG_GZ} DESTINATION ${DOC_DIR})

set(CPACK_PACKAGE_NAME vantrelindexer)
set(CPACK_PACKAGE_VENDOR "VantrelIndexer")
set(CPACK_PACKAGE_CONTACT "VantrelIndexer developers <maintainers@vantrelindexer.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "client-side search index and search page for static web sites")
# Debian wants the lines of the description below 80 columns.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "VantrelIndexer walks a folder of HTML pages and writes a word index and a\n"
  "search page that runs in any browser, from a web server or straight from\n"
  "disk, with no server code. It comes as a four-step desktop wizard and as a\n"
  "command line for build pipelines (vantrelindexer-cli).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The wizard opens the user guide and the finished search page with the desktop's
# default handlers.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_STRIP_FILES ON)
include(CPack)
