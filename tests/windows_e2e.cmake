# Wine for the end-to-end cases against tavlen.exe, in a private prefix so that
# its server is ours to start and stop. Whatever the first Wine run starts (the
# server, the service processes) would hold on to that run's standard streams,
# so the server is started and the prefix booted once, with their output sent
# away, and stopped at the end.
find_program(wine_program wine REQUIRED)
find_program(wineserver_program wineserver REQUIRED)
set(wine_env WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix WINEDEBUG=-all)
list(JOIN wine_env " " wine_launcher)
add_test(NAME wine_start COMMAND sh -c "exec </dev/null >/dev/null 2>&1
  mkdir -p \"$WINEPREFIX\" && '${wineserver_program}' -p && '${wine_program}' wineboot")
add_test(NAME wine_stop COMMAND ${wineserver_program} -k)
set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine ENVIRONMENT "${wine_env}")
set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine ENVIRONMENT "${wine_env}")
set_tests_properties(e2e_0 e2e_1 e2e_root PROPERTIES FIXTURES_REQUIRED wine)
set_property(TEST e2e_0 e2e_1 e2e_root APPEND PROPERTY
  ENVIRONMENT "TAVLEN_LAUNCHER=env ${wine_launcher} ${wine_program}")
# The cases with non-ASCII names, against the program whose manifest sets no
# code page.
add_test(NAME e2e_acp COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/run_cases.sh
  $<TARGET_FILE:tavlen_acp> ${PROJECT_VERSION})
set_tests_properties(e2e_acp PROPERTIES FIXTURES_REQUIRED wine
  ENVIRONMENT "TAVLEN_LAUNCHER=env ${wine_launcher} ${wine_program};TAVLEN_CASES=[^ -~]")
add_executable(pipe_server pipe_server.cpp)
add_executable(hold_open hold_open.cpp)
set_property(TEST e2e_0 e2e_1 e2e_root e2e_acp APPEND PROPERTY ENVIRONMENT
  "TAVLEN_PIPE_SERVER=$<TARGET_FILE:pipe_server>;TAVLEN_HOLD_OPEN=$<TARGET_FILE:hold_open>")
target_link_options(pipe_server PRIVATE -static)
target_link_options(hold_open PRIVATE -static)
