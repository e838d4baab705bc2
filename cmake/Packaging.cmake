# The packages: on Linux a Debian package of everything installed
# (smsconf_VERSION_amd64.deb), for Windows the cross build's archive of
# smsconf-cli.exe with the README and the licence
# (smsconf-cli-VERSION-win64.zip). `cmake --build BUILD --target package`
# makes the one of the build; scripts/package makes both from scratch.
set(CPACK_PACKAGE_NAME smsconf)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The smsconf authors")
set(CPACK_PACKAGE_CONTACT "smsconf maintainers <maintainers@smsconf.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configuration tool for SMS alarm units")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
# Folders as Debian and unzip expect them, whatever the umask of the build.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

if(WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION . RENAME README.txt)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
  set(CPACK_GENERATOR ZIP)
  # With the window, the archive also needs Qt's DLLs, which windeployqt
  # adds to an installation (the README says how).
  if(SMSCONF_GUI)
    set(CPACK_PACKAGE_FILE_NAME smsconf-${PROJECT_VERSION}-win64)
  else()
    set(CPACK_PACKAGE_FILE_NAME smsconf-cli-${PROJECT_VERSION}-win64)
  endif()
  include(CPack)
  return()
endif()

# The package's version is the project's; its changelog must have an entry
# for it.
set(changelog ${PROJECT_SOURCE_DIR}/packaging/debian/changelog)
file(STRINGS ${changelog} changelog_top LIMIT_COUNT 1)
if(NOT changelog_top MATCHES "^smsconf \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/debian/changelog begins with \"${changelog_top}\": "
                      "it needs an entry for version ${PROJECT_VERSION} at the top")
endif()
find_program(SMSCONF_GZIP gzip REQUIRED)
set(changelog_gz ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(OUTPUT ${changelog_gz}
  COMMAND sh -c "\"$0\" -9n -c \"$1\" >\"$2\"" ${SMSCONF_GZIP} ${changelog} ${changelog_gz}
  DEPENDS ${changelog}
  VERBATIM)
add_custom_target(smsconf_changelog ALL DEPENDS ${changelog_gz})
install(FILES ${changelog_gz} ${PROJECT_SOURCE_DIR}/packaging/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/examples/pumping-station.sms DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
install(FILES ${PROJECT_SOURCE_DIR}/examples/site/plan.csv ${PROJECT_SOURCE_DIR}/examples/site/pumping-station.bin
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples/site)

set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries come from the programs; Qt finds its platform plugins, the
# one that shows the window among them, only at run time, and its Russian
# button texts are welcome but not needed.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(SMSCONF_GUI)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
endif()
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion")
# Below the summary, which is the first line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "SMS alarm units watch 32 digital inputs and, when one changes, send a text
message to up to eight phone numbers. This package is the field engineer's
tool to set them up.
.
The window (smsconf) edits a project of phone slots and events, keeps it in
a .sms file, exports it as the configuration image the unit reads and as C
source for the firmware build, and writes the image into a running unit
through its UDP network gateway.
.
The command line tool (smsconf-cli) does the same without a window, checks
project files, inspects images, loads whole sites from one plan, and
simulates gateways and units for trying it all out without hardware.")
include(CPack)
