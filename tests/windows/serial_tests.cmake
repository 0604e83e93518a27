# The serial line services and the component on COM ports: COM8 and COM9
# wired to each other, the simulated device on COM7.
add_executable(serial_win_tests
  ${CMAKE_CURRENT_LIST_DIR}/serial_win_tests.cpp ${CMAKE_CURRENT_LIST_DIR}/WinTestHelpers.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../MainThreadPump.cpp)
target_link_libraries(serial_win_tests PRIVATE serial protocol GTest::gtest_main)
add_test(NAME serial_win_tests COMMAND ${WINE_RUN} --null-modem COM8 COM9 --simdevice COM7 "" --
  $<TARGET_FILE:serial_win_tests>)
set_tests_properties(serial_win_tests PROPERTIES RESOURCE_LOCK "serialcomm;COM7;COM8;COM9")
