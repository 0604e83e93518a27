# actionlog run as a child process against the simulated device.
add_executable(cli_tests ${CMAKE_CURRENT_LIST_DIR}/cli_tests.cpp ${CMAKE_CURRENT_LIST_DIR}/CliProcess.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SimDeviceProcess.cpp)
target_link_libraries(cli_tests PRIVATE ui_files serial GTest::gtest_main)
target_compile_definitions(cli_tests PRIVATE SIMDEVICE_PATH="$<TARGET_FILE:simdevice>"
  ACTIONLOG_PATH="$<TARGET_FILE:actionlog>")
add_dependencies(cli_tests simdevice actionlog)
gtest_discover_tests(cli_tests DISCOVERY_TIMEOUT 60)

# The window and actionlog read the same device: the same file, byte for byte.
find_package(Qt6 REQUIRED COMPONENTS Test)
add_executable(cli_window_tests ${CMAKE_CURRENT_LIST_DIR}/cli_window_tests.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CliProcess.cpp ${CMAKE_CURRENT_LIST_DIR}/SimDeviceProcess.cpp)
target_link_libraries(cli_window_tests PRIVATE ui Qt6::Test GTest::gtest)
target_compile_definitions(cli_window_tests PRIVATE SIMDEVICE_PATH="$<TARGET_FILE:simdevice>"
  ACTIONLOG_PATH="$<TARGET_FILE:actionlog>")
add_dependencies(cli_window_tests simdevice actionlog)
gtest_discover_tests(cli_window_tests DISCOVERY_TIMEOUT 60 PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
