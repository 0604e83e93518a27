# Text files, code pages, the settings and export files, the registry port
# list and thread priorities; code page 1251, then the English code page.
add_executable(files_win_tests
  ${CMAKE_CURRENT_LIST_DIR}/files_win_tests.cpp ${CMAKE_CURRENT_LIST_DIR}/comports_win_tests.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WinTestHelpers.cpp)
target_link_libraries(files_win_tests PRIVATE runtime serial ui_files GTest::gtest_main)
add_test(NAME files_win_tests COMMAND env TEST_KNOWN_PORT=COM5 ${WINE_RUN} --lang ru_RU.UTF-8 --
  $<TARGET_FILE:files_win_tests> --gtest_filter=-CodePage1252.*)
add_test(NAME files_win_tests_cp1252 COMMAND ${WINE_RUN} --lang C.UTF-8 --
  $<TARGET_FILE:files_win_tests> --gtest_filter=CodePage1252.*)
# The port list's tests change the registry's list of ports.
set_tests_properties(files_win_tests PROPERTIES RESOURCE_LOCK serialcomm)
