# Writes OUTPUT, the source of smsconf::VersionText(): VERSION, and the git
# commit of SOURCE_DIR when it is a git checkout and GIT names git. Files that
# differ from the commit add ", modified" (untracked ones do not count). The
# file is rewritten only when its text changes.
# Usage: cmake -DSOURCE_DIR=... -DVERSION=... -DGIT=... -DOUTPUT=... -P BuildVersion.cmake
set(text "${VERSION}")
if(GIT AND EXISTS "${SOURCE_DIR}/.git")
  execute_process(COMMAND "${GIT}" -C "${SOURCE_DIR}" rev-parse --short HEAD
                  OUTPUT_VARIABLE commit RESULT_VARIABLE failed ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT failed AND commit)
    # A build never takes git's index lock from someone working in the tree.
    set(ENV{GIT_OPTIONAL_LOCKS} 0)
    execute_process(COMMAND "${GIT}" -C "${SOURCE_DIR}" status --porcelain --untracked-files=no
                    OUTPUT_VARIABLE changes ERROR_QUIET)
    if(changes)
      string(APPEND text " (git ${commit}, modified)")
    else()
      string(APPEND text " (git ${commit})")
    endif()
  endif()
endif()
file(CONFIGURE OUTPUT "${OUTPUT}" CONTENT [[
#include "version/Version.h"

const char* smsconf::VersionText() { return "@text@"; }
]] @ONLY)
