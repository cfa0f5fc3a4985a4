# Small helpers so every subsystem, test, benchmark and fuzz target is declared the same way.

# er_add_library(NAME SOURCES... [DEPS targets...])
# A library of one src/ folder; headers are included as "folder/file.h".
function(er_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# er_add_test(NAME SOURCES... DEPS targets...)
# A GoogleTest program; every TEST becomes its own ctest entry.
function(er_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} er_test_support GTest::gtest GTest::gmock
                        GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120)
endfunction()

# er_add_benchmark(NAME SOURCES... DEPS targets...): a Google Benchmark program bench_NAME.
function(er_add_benchmark name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(bench_${name} ${ARG_SOURCES})
  target_link_libraries(bench_${name} PRIVATE ${ARG_DEPS} benchmark::benchmark
                        benchmark::benchmark_main)
endfunction()

# er_add_fuzzer(NAME SOURCES... DEPS targets...): a libFuzzer program fuzz_NAME, built only
# with the fuzz preset.
function(er_add_fuzzer name)
  if(NOT ER_FUZZ)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(fuzz_${name} ${ARG_SOURCES})
  target_link_libraries(fuzz_${name} PRIVATE ${ARG_DEPS})
  target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
endfunction()

# er_write_layers(FILE folder:target...)
# Writes, for each src/ folder, the folders whose libraries its target links (directly or
# through another er_ library), and adds the `layering` test that checks every include
# against them (cmake/CheckLayers.cmake).
function(er_write_layers file)
  foreach(pair IN LISTS ARGN)
    string(REPLACE ":" ";" parts "${pair}")
    list(GET parts 0 folder)
    list(GET parts 1 target)
    set(folder_${target} ${folder})
  endforeach()
  set(text "")
  foreach(pair IN LISTS ARGN)
    string(REPLACE ":" ";" parts "${pair}")
    list(GET parts 0 folder)
    list(GET parts 1 target)
    set(seen "")
    set(pending ${target})
    while(pending)
      list(POP_FRONT pending current)
      get_target_property(deps ${current} INTERFACE_LINK_LIBRARIES)
      foreach(dep IN LISTS deps)
        if(dep MATCHES "^er_" AND NOT dep IN_LIST seen)
          list(APPEND seen ${dep})
          list(APPEND pending ${dep})
        endif()
      endforeach()
    endwhile()
    set(allowed "")
    foreach(dep IN LISTS seen)
      if(DEFINED folder_${dep})
        list(APPEND allowed ${folder_${dep}})
      endif()
    endforeach()
    list(SORT allowed)
    list(JOIN allowed " " allowed)
    string(APPEND text "${folder}: ${allowed}\n")
  endforeach()
  file(WRITE ${file} "${text}")
  add_test(NAME layering COMMAND ${CMAKE_COMMAND} -DSRC_DIR=${PROJECT_SOURCE_DIR}/src
                                 -DLAYERS_FILE=${file} -P ${PROJECT_SOURCE_DIR}/cmake/CheckLayers.cmake)
endfunction()
