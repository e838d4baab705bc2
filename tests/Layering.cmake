# Fails when a folder of src/ includes from a folder above it. Lowest first:
# the programs' version, the codec, the limits, the files, the image format,
# the model, the link, the wire trace, the loading, the fleet of loadings, the
# simulator, then the two programs.
# Usage: cmake -DSOURCE_DIR=<repo>/src -P Layering.cmake
set(layers version text limits files image model link trace loading fleet sim cli ui)
set(violations "")
foreach(layer IN LISTS layers)
  list(FIND layers ${layer} own)
  file(GLOB sources ${SOURCE_DIR}/${layer}/*.h ${SOURCE_DIR}/${layer}/*.cpp)
  foreach(source IN LISTS sources)
    file(STRINGS ${source} includes REGEX "^#include \"[a-z]+/")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^#include \"([a-z]+)/.*" "\\1" target "${line}")
      list(FIND layers ${target} other)
      if(other GREATER own)
        file(RELATIVE_PATH name ${SOURCE_DIR} ${source})
        list(APPEND violations "${name} includes ${target}/, a layer above ${layer}/")
      endif()
    endforeach()
  endforeach()
endforeach()
if(violations)
  list(JOIN violations "\n" text)
  message(FATAL_ERROR "${text}")
endif()
message(STATUS "every folder includes only from the folders below it")
