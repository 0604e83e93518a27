add_executable(serial_tests
  ${CMAKE_CURRENT_LIST_DIR}/serial_tests.cpp ${CMAKE_CURRENT_LIST_DIR}/comthread_tests.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PtyLine.cpp ${CMAKE_CURRENT_LIST_DIR}/CountingPlatform.cpp)
target_link_libraries(serial_tests PRIVATE serial GTest::gtest_main util)
gtest_discover_tests(serial_tests)
