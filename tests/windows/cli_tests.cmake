# actionlog.exe, the console program, under wine against the simulated device.
add_test(NAME actionlog_cli_exe COMMAND ${CMAKE_CURRENT_LIST_DIR}/run-cli-test.sh $<TARGET_FILE:actionlog>)
set_tests_properties(actionlog_cli_exe PROPERTIES RESOURCE_LOCK "serialcomm;COM8" TIMEOUT 300)
