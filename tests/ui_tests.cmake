# The whole program with the simulated device, under Qt's offscreen platform.
find_package(Qt6 REQUIRED COMPONENTS Test)
add_executable(ui_tests ${CMAKE_CURRENT_LIST_DIR}/ui_tests.cpp ${CMAKE_CURRENT_LIST_DIR}/SimDeviceProcess.cpp)
target_link_libraries(ui_tests PRIVATE ui Qt6::Test GTest::gtest)
target_compile_definitions(ui_tests PRIVATE SIMDEVICE_PATH="$<TARGET_FILE:simdevice>")
add_dependencies(ui_tests simdevice)
gtest_discover_tests(ui_tests DISCOVERY_TIMEOUT 60 PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
