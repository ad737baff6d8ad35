# The end-to-end suite against tavlen.exe, through Wine. The test runner is a
# native Linux program (it forks and execs), so it is built from this same
# source tree as an external project with the host compiler, and run by CTest
# with TAVLEN_LAUNCHER pointing at a Wine wrapper.
include(ExternalProject)
include(GoogleTest)

find_program(wine_program wine REQUIRED)
find_program(wineserver_program wineserver REQUIRED)

set(native_dir ${CMAKE_BINARY_DIR}/native-e2e)
set(native_runner ${native_dir}/tests/tavlen_e2e_tests)
ExternalProject_Add(native_e2e_runner
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${native_dir}
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release
  BUILD_COMMAND ${CMAKE_COMMAND} --build ${native_dir} --target tavlen_e2e_tests -j2
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${native_runner}
  INSTALL_COMMAND "")
add_executable(tavlen_e2e_tests IMPORTED)
set_target_properties(tavlen_e2e_tests PROPERTIES IMPORTED_LOCATION ${native_runner})
add_dependencies(tavlen_e2e_tests native_e2e_runner)

# A private prefix, so that its server is ours to start and stop.
set(wine_prefix ${CMAKE_BINARY_DIR}/wine-prefix)
set(wine_launcher ${CMAKE_BINARY_DIR}/wine-run)
file(CONFIGURE OUTPUT ${wine_launcher} @ONLY CONTENT [=[
#!/bin/sh
WINEPREFIX='@wine_prefix@' WINEDEBUG=-all exec '@wine_program@' "$@"
]=])
file(CHMOD ${wine_launcher} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
  GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# Whatever the first Wine run starts (the server, the service processes)
# inherits that run's standard streams; a captured run would then wait for
# them to exit. So the server is started and the prefix booted once, with
# their output sent away, and stopped at the end.
set(wine_env WINEPREFIX=${wine_prefix} WINEDEBUG=-all)
add_test(NAME wine_start COMMAND sh -c
  "mkdir -p \"$WINEPREFIX\" && '${wineserver_program}' -p </dev/null >/dev/null 2>&1 && '${wine_program}' wineboot </dev/null >/dev/null 2>&1")
add_test(NAME wine_stop COMMAND ${wineserver_program} -k)
set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine ENVIRONMENT "${wine_env}")
set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine ENVIRONMENT "${wine_env}")

gtest_discover_tests(tavlen_e2e_tests
  DISCOVERY_MODE PRE_TEST
  TEST_SUFFIX .wine
  PROPERTIES
    ENVIRONMENT "TAVLEN_PROGRAM=$<TARGET_FILE:tavlen>"
    ENVIRONMENT_MODIFICATION "TAVLEN_LAUNCHER=set:${wine_launcher}"
    FIXTURES_REQUIRED wine)
