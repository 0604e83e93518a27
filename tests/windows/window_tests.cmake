# The native window under wine on a virtual display, with the simulated
# device (built for the build machine, $SIMDEVICE) on a pseudo-terminal shown
# as a COM port; and the program itself, clicked through.
set(WIN32_TESTS_DIR ${PROJECT_SOURCE_DIR}/tests/win32)

add_executable(window_tests ${WIN32_TESTS_DIR}/window_tests.cpp ${WIN32_TESTS_DIR}/WineDevice.cpp
  ${PROJECT_SOURCE_DIR}/ui/win32/ActionLog.rc)
target_include_directories(window_tests PRIVATE ${WIN32_TESTS_DIR})
target_link_libraries(window_tests PRIVATE ui_win32 GTest::gtest)
add_test(NAME window_tests COMMAND ${WIN32_TESTS_DIR}/run-window-tests.sh $<TARGET_FILE:window_tests>)
# The port list is the registry's, which the file tests change.
set_tests_properties(window_tests PROPERTIES RESOURCE_LOCK "serialcomm;COM5;display" TIMEOUT 600)

add_test(NAME actionlog_exe COMMAND ${WIN32_TESTS_DIR}/run-exe-test.sh $<TARGET_FILE:ActionLog>)
set_tests_properties(actionlog_exe PROPERTIES RESOURCE_LOCK "serialcomm;COM6;display" TIMEOUT 300)
