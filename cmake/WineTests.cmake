# Tests of the real Windows programs. Under Wine (the cross build on Linux),
# every test of a build shares one Wine prefix under the build tree, made
# (once) and held open by a persistent wineserver for the whole test run. On
# Windows the programs run directly, with no prefix and no fixture. Either
# way the tests run one at a time because they share the registry and the
# Service Control Manager.
if(EXISTS /usr/bin/python3)
  set(Python3_EXECUTABLE /usr/bin/python3 CACHE FILEPATH "Python for the Wine tests")
endif()
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(WINE_TEST_ENVIRONMENT
  "PYTHONPATH=${CMAKE_SOURCE_DIR}/tests/windows"
  "PYTHONDONTWRITEBYTECODE=1")
set(WINE_TEST_FIXTURE "")
if(NOT CMAKE_HOST_WIN32)
  set(WINE_TEST_PREFIX "${CMAKE_BINARY_DIR}/wineprefix")
  list(APPEND WINE_TEST_ENVIRONMENT
    "WINEPREFIX=${WINE_TEST_PREFIX}"
    "WINEDEBUG=-all"
    "WINEDLLOVERRIDES=mscoree,mshtml=")
  set(WINE_TEST_FIXTURE FIXTURES_REQUIRED wine)

  add_test(NAME wine_prefix_start
    COMMAND "${CMAKE_SOURCE_DIR}/tools/wine-prefix.sh" start "${WINE_TEST_PREFIX}")
  set_tests_properties(wine_prefix_start PROPERTIES
    FIXTURES_SETUP wine LABELS windows RESOURCE_LOCK wine TIMEOUT 300)
  add_test(NAME wine_prefix_stop
    COMMAND "${CMAKE_SOURCE_DIR}/tools/wine-prefix.sh" stop "${WINE_TEST_PREFIX}")
  set_tests_properties(wine_prefix_stop PROPERTIES
    FIXTURES_CLEANUP wine LABELS windows RESOURCE_LOCK wine)
endif()

# add_wine_test(NAME <test> SCRIPT <file.py> [ARGS ...] [ENVIRONMENT VAR=value ...] [TIMEOUT s])
# runs a Python unittest script (under Wine: with the prefix) and the given
# variables. A script that cannot run on this host exits with 77 after saying
# why (see winetest.skip_script): CTest lists it as not run, never as passed.
function(add_wine_test)
  cmake_parse_arguments(WT "" "NAME;SCRIPT;TIMEOUT" "ARGS;ENVIRONMENT" ${ARGN})
  if(NOT WT_TIMEOUT)
    set(WT_TIMEOUT 600)
  endif()
  add_test(NAME ${WT_NAME}
    COMMAND "${Python3_EXECUTABLE}" "${WT_SCRIPT}" -v ${WT_ARGS})
  set_tests_properties(${WT_NAME} PROPERTIES
    LABELS windows
    ${WINE_TEST_FIXTURE}
    RESOURCE_LOCK wine
    TIMEOUT ${WT_TIMEOUT}
    SKIP_RETURN_CODE 77
    ENVIRONMENT "${WINE_TEST_ENVIRONMENT};${WT_ENVIRONMENT}")
endfunction()

# add_wine_test_scripts(PREFIX <name prefix> [EXCLUDE <script name> ...] ENVIRONMENT VAR=value ...)
# registers every test_*.py of the calling folder (but the excluded ones) as
# <prefix><script name>.
function(add_wine_test_scripts)
  cmake_parse_arguments(WS "" "PREFIX" "EXCLUDE;ENVIRONMENT" ${ARGN})
  file(GLOB scripts CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/test_*.py)
  foreach(script ${scripts})
    get_filename_component(name ${script} NAME_WE)
    if(name IN_LIST WS_EXCLUDE)
      continue()
    endif()
    add_wine_test(NAME ${WS_PREFIX}${name} SCRIPT ${script} ENVIRONMENT ${WS_ENVIRONMENT})
  endforeach()
endfunction()
