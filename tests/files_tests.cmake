# The text files, the port list, the settings file and the log export.
add_executable(files_tests
  ${CMAKE_CURRENT_LIST_DIR}/textfile_tests.cpp
  ${CMAKE_CURRENT_LIST_DIR}/settings_tests.cpp
  ${CMAKE_CURRENT_LIST_DIR}/export_tests.cpp
  ${CMAKE_CURRENT_LIST_DIR}/comports_tests.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TestLocales.cpp)
target_link_libraries(files_tests PRIVATE runtime serial ui_files util GTest::gtest_main)
gtest_discover_tests(files_tests)
