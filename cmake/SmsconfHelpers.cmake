include(GoogleTest)

# Drops from the list in `var` the sources of the other system: what POSIX
# and Windows do each their own way lives in <Name>Posix.cpp and
# <Name>Windows.cpp beside the portable sources.
function(smsconf_platform_sources var)
  if(WIN32)
    list(FILTER ${var} EXCLUDE REGEX "Posix\\.cpp$")
  else()
    list(FILTER ${var} EXCLUDE REGEX "Windows\\.cpp$")
  endif()
  set(${var} ${${var}} PARENT_SCOPE)
endfunction()

# A core library made of every .cpp in the calling folder, except those with
# a .ui form beside them: they are the folder's Qt side.
function(smsconf_add_library name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB all_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  set(sources)
  foreach(source ${all_sources})
    string(REGEX REPLACE "\\.cpp$" ".ui" form ${source})
    if(NOT EXISTS ${form})
      list(APPEND sources ${source})
    endif()
  endforeach()
  smsconf_platform_sources(sources)
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_LIBS})
endfunction()

# A GoogleTest program made of every .cpp in the calling folder but those
# named in EXCLUDE (a folder's GUI tests go in a program of their own); each
# test becomes one CTest test.
function(smsconf_add_test name)
  cmake_parse_arguments(ARG "" "" "LIBS;EXCLUDE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(excluded ${ARG_EXCLUDE})
    list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${excluded})
  endforeach()
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  target_compile_definitions(${name} PRIVATE
    SMSCONF_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  if(CMAKE_CROSSCOMPILING)
    # Each start of a program under the emulator costs a while, so a cross
    # build runs each test program once as one CTest test.
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 600)
  else()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
      PROPERTIES TIMEOUT 300)
  endif()
endfunction()

# The Qt side: a library of the calling folder's sources that match `glob`
# (with their .ui forms), linked to Qt Widgets.
function(smsconf_add_qt_library name glob)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${glob}.cpp
       ${CMAKE_CURRENT_SOURCE_DIR}/${glob}.ui)
  if(NOT sources)
    return()
  endif()
  add_library(${name} STATIC ${sources})
  set_target_properties(${name} PROPERTIES AUTOMOC ON AUTOUIC ON)
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC Qt6::Widgets ${ARG_LIBS})
endfunction()

# A GUI test program: GoogleTest with the application object made by the
# shared test main, on Qt's offscreen platform.
function(smsconf_add_gui_test name)
  cmake_parse_arguments(ARG "" "" "LIBS;SOURCES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES} ${PROJECT_SOURCE_DIR}/tests/common/GuiTestMain.cpp)
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} Qt6::Widgets Qt6::Test GTest::gtest Threads::Threads)
  target_compile_definitions(${name} PRIVATE SMSCONF_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 300 ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()
