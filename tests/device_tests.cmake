# The simulated device: its logic, and the program over a pseudo-terminal.
add_executable(device_tests device_tests.cpp)
target_link_libraries(device_tests PRIVATE simdevice_core protocol GTest::gtest_main util)
target_compile_definitions(device_tests PRIVATE SIMDEVICE_PATH="$<TARGET_FILE:simdevice>")
add_dependencies(device_tests simdevice)
gtest_discover_tests(device_tests)
