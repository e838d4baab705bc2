# What the Windows cross build takes from the Linux machine it runs on:
# GoogleTest built from Debian's sources for the target, and CLI11, whose
# headers need no building but must not bring the host's other headers.
if(SMSCONF_TESTS)
  set(SMSCONF_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources to build for Windows")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(${SMSCONF_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endif()

set(SMSCONF_CLI11_HEADERS /usr/include/CLI CACHE PATH "CLI11's header folder")
set(cli11_include ${CMAKE_BINARY_DIR}/cli11-include)
file(MAKE_DIRECTORY ${cli11_include})
file(CREATE_LINK ${SMSCONF_CLI11_HEADERS} ${cli11_include}/CLI SYMBOLIC)
add_library(CLI11::CLI11 INTERFACE IMPORTED)
target_include_directories(CLI11::CLI11 SYSTEM INTERFACE ${cli11_include})
