# The program's start in a fresh process under various locales, with the
# simulated device, under Qt's offscreen platform.
find_package(Qt6 REQUIRED COMPONENTS Test)
add_executable(startup_tests ${CMAKE_CURRENT_LIST_DIR}/startup_tests.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SimDeviceProcess.cpp ${CMAKE_CURRENT_LIST_DIR}/TestLocales.cpp)
target_link_libraries(startup_tests PRIVATE ui Qt6::Test GTest::gtest)
target_compile_definitions(startup_tests PRIVATE SIMDEVICE_PATH="$<TARGET_FILE:simdevice>")
add_dependencies(startup_tests simdevice)
gtest_discover_tests(startup_tests DISCOVERY_TIMEOUT 60)
