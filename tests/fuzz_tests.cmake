# The inputs the fuzzers kept, replayed in the normal build; the fuzzers
# themselves need clang (-DFUZZ=ON, see the README).
add_library(fuzz_targets STATIC ${CMAKE_CURRENT_LIST_DIR}/fuzz/FuzzTargets.cpp ${CMAKE_CURRENT_LIST_DIR}/FakeExchange.cpp)
target_include_directories(fuzz_targets PUBLIC ${CMAKE_CURRENT_LIST_DIR} ${CMAKE_CURRENT_LIST_DIR}/fuzz)
target_link_libraries(fuzz_targets PUBLIC protocol ui_files)

if(FUZZ)
  foreach(target answers settings)
    add_executable(${target}_fuzzer ${CMAKE_CURRENT_LIST_DIR}/fuzz/${target}_fuzzer.cpp)
    target_link_libraries(${target}_fuzzer PRIVATE fuzz_targets)
    target_link_options(${target}_fuzzer PRIVATE -fsanitize=fuzzer)
  endforeach()
else()
  add_executable(fuzz_regression_tests ${CMAKE_CURRENT_LIST_DIR}/fuzz/regression_tests.cpp)
  target_link_libraries(fuzz_regression_tests PRIVATE fuzz_targets GTest::gtest_main)
  target_compile_definitions(fuzz_regression_tests PRIVATE FUZZ_CORPUS_DIR="${CMAKE_CURRENT_LIST_DIR}/fuzz/corpus")
  gtest_discover_tests(fuzz_regression_tests)
endif()
