# Cross build for 64-bit Windows with Debian's mingw-w64, in its POSIX
# threads flavour (std::thread and std::jthread need it). The programs run
# on Linux under wine64, which CTest puts before each test program.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(SMSCONF_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${SMSCONF_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SMSCONF_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${SMSCONF_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${SMSCONF_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C++ runtime and the threads library go into each program, so that it
# runs without DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

find_program(SMSCONF_WINE NAMES wine64 wine)
if(SMSCONF_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${SMSCONF_WINE})
endif()
