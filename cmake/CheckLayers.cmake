# Checks that every src/ folder includes headers only from itself and from the folders its
# library target links, directly or through another library: the layers the build enforces
# at link time, enforced for headers too.
#
#   cmake -DSRC_DIR=<src> -DLAYERS_FILE=<file> -P CheckLayers.cmake
#
# LAYERS_FILE holds one line per folder, "folder: allowed folders...", written at configure
# time from the library targets (see er_write_layers in ErTargets.cmake).

cmake_minimum_required(VERSION 3.25)

file(STRINGS "${LAYERS_FILE}" layer_lines)
set(violations "")
foreach(line IN LISTS layer_lines)
  string(REGEX MATCH "^([a-z0-9_]+):(.*)$" _ "${line}")
  set(folder "${CMAKE_MATCH_1}")
  separate_arguments(allowed UNIX_COMMAND "${CMAKE_MATCH_2}")
  list(APPEND allowed "${folder}")
  file(GLOB_RECURSE sources "${SRC_DIR}/${folder}/*.h" "${SRC_DIR}/${folder}/*.cpp")
  foreach(source IN LISTS sources)
    file(STRINGS "${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[a-z0-9_]+/")
    foreach(include IN LISTS includes)
      string(REGEX MATCH "\"([a-z0-9_]+)/" _ "${include}")
      if(NOT CMAKE_MATCH_1 IN_LIST allowed)
        file(RELATIVE_PATH where "${SRC_DIR}" "${source}")
        string(STRIP "${include}" include)
        list(APPEND violations "src/${where}: ${include} (${folder}/ may use: ${allowed})")
      endif()
    endforeach()
  endforeach()
endforeach()

if(violations)
  list(JOIN violations "\n  " text)
  message(FATAL_ERROR "headers included across the layers:\n  ${text}")
endif()
message(STATUS "layering: every include stays within its layers")
