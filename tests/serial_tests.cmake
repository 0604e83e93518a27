add_executable(serial_tests
  ${CMAKE_CURRENT_LIST_DIR}/serial_tests.cpp ${CMAKE_CURRENT_LIST_DIR}/comthread_tests.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PtyLine.cpp ${CMAKE_CURRENT_LIST_DIR}/MainThreadPump.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CountingPlatform.cpp)
target_link_libraries(serial_tests PRIVATE serial GTest::gtest_main util)
gtest_discover_tests(serial_tests)
# The serial line services against a model of the kernel's side of real
# UARTs and USB adapters, and terminals left as they were found.
target_sources(serial_tests PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/serial_model_tests.cpp ${CMAKE_CURRENT_LIST_DIR}/KernelModel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/line_restore_tests.cpp)
