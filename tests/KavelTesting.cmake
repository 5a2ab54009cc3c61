# Compiled-program tests: kavel_add_program_tests(<folder>) registers one test per
# <name>.kv or <name>.ir in that folder (see tests/tools/run_program.py for the
# expected files), and a twin, stress/..., that runs it with a collection at every
# allocation (KAVEL_GC=stress) and must give the same output: a pointer the runtime keeps
# where the collector cannot see it shows there. A program whose <name>.env sets KAVEL_GC
# runs in its own mode only. All of them share one Wine prefix in the build folder and one
# persistent wineserver, started by a fixture and stopped by another.
include_guard(GLOBAL)

find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(KAVEL_WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix of the program tests")
set(KAVEL_PROGRAM_TIMEOUT 30 CACHE STRING "Seconds a compiled program may run in a test")
set(KAVEL_TEST_TOOLS ${CMAKE_CURRENT_LIST_DIR}/tools)

add_test(NAME kavel_wine_setup
         COMMAND ${Python3_EXECUTABLE} ${KAVEL_TEST_TOOLS}/wine_fixture.py setup ${KAVEL_WINE_PREFIX})
set_tests_properties(kavel_wine_setup PROPERTIES FIXTURES_SETUP kavel_wine TIMEOUT 900)
add_test(NAME kavel_wine_cleanup
         COMMAND ${Python3_EXECUTABLE} ${KAVEL_TEST_TOOLS}/wine_fixture.py cleanup ${KAVEL_WINE_PREFIX})
set_tests_properties(kavel_wine_cleanup PROPERTIES FIXTURES_CLEANUP kavel_wine TIMEOUT 120)

function(kavel_add_program_tests folder)
  get_filename_component(dir ${folder} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR}/tests ${dir})
  if(rel MATCHES "^\\.\\.")
    # A folder outside tests/ (demos/, lib/, ...) is named from the top of the tree.
    file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR} ${dir})
  endif()
  file(GLOB programs CONFIGURE_DEPENDS ${dir}/*.kv ${dir}/*.ir)
  list(SORT programs)
  foreach(program ${programs})
    get_filename_component(name ${program} NAME_WE)
    set(test prog/${rel}/${name})
    add_test(NAME ${test}
             COMMAND ${Python3_EXECUTABLE} ${KAVEL_TEST_TOOLS}/run_program.py
                     --bin ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}
                     --prefix ${KAVEL_WINE_PREFIX}
                     --work ${CMAKE_BINARY_DIR}/program-tests/${rel}/${name}
                     --lib ${KAVEL_MINGW_LIB}
                     --timeout ${KAVEL_PROGRAM_TIMEOUT}
                     ${program})
    set_tests_properties(${test} PROPERTIES FIXTURES_REQUIRED kavel_wine
                         TIMEOUT 180 LABELS program)
    get_filename_component(stem ${program} NAME_WLE)
    set(env_file ${dir}/${stem}.env)
    set(own_mode "")
    if(EXISTS ${env_file})
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${env_file})
      file(STRINGS ${env_file} own_mode REGEX "^[ \t]*KAVEL_GC=")
    endif()
    if(own_mode)
      continue()
    endif()
    add_test(NAME stress/${rel}/${name}
             COMMAND ${Python3_EXECUTABLE} ${KAVEL_TEST_TOOLS}/run_program.py
                     --bin ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}
                     --prefix ${KAVEL_WINE_PREFIX}
                     --work ${CMAKE_BINARY_DIR}/program-tests/stress/${rel}/${name}
                     --lib ${KAVEL_MINGW_LIB}
                     --timeout ${KAVEL_PROGRAM_TIMEOUT}
                     --env KAVEL_GC=stress
                     ${program})
    set_tests_properties(stress/${rel}/${name} PROPERTIES FIXTURES_REQUIRED kavel_wine
                         TIMEOUT 180 LABELS "program;stress")
  endforeach()
endfunction()
