# The whole program with the simulated device, under Qt's offscreen platform.
find_package(Qt6 REQUIRED COMPONENTS Test)
add_executable(ui_tests ${CMAKE_CURRENT_LIST_DIR}/ui_tests.cpp ${CMAKE_CURRENT_LIST_DIR}/SimDeviceProcess.cpp)
target_link_libraries(ui_tests PRIVATE ui Qt6::Test GTest::gtest)
target_compile_definitions(ui_tests PRIVATE SIMDEVICE_PATH="$<TARGET_FILE:simdevice>")
add_dependencies(ui_tests simdevice)
gtest_discover_tests(ui_tests DISCOVERY_TIMEOUT 60 PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")

# The control table once more on a machine whose only sans-serif faces are
# DejaVu's: with DejaVu Sans Condensed, and with DejaVu Sans alone.
set(dejavu_fonts /usr/share/fonts/truetype/dejavu)
foreach(setup condensed sans)
  set(fonts_dir ${CMAKE_CURRENT_BINARY_DIR}/fonts-dejavu-${setup})
  set(reject "")
  if(setup STREQUAL sans)
    set(reject "<selectfont><rejectfont><glob>${dejavu_fonts}/DejaVuSansCondensed*</glob></rejectfont></selectfont>")
  endif()
  file(WRITE ${fonts_dir}/fonts.conf
    "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"urn:fontconfig:fonts.dtd\">\n<fontconfig>\n"
    "  <dir>${dejavu_fonts}</dir>\n  <cachedir>${fonts_dir}/cache</cachedir>\n  ${reject}\n"
    "  <include ignore_missing=\"yes\">/etc/fonts/conf.d</include>\n</fontconfig>\n")
endforeach()
add_test(NAME Window.ControlsStandWhereTheirTableSays.DejaVuSansCondensed
  COMMAND ui_tests --gtest_filter=Window.ControlsStandWhereTheirTableSays)
set_tests_properties(Window.ControlsStandWhereTheirTableSays.DejaVuSansCondensed PROPERTIES ENVIRONMENT
  "QT_QPA_PLATFORM=offscreen;FONTCONFIG_FILE=${CMAKE_CURRENT_BINARY_DIR}/fonts-dejavu-condensed/fonts.conf;EXPECTED_FONT_FACE=DejaVu Sans Condensed")
add_test(NAME Window.ControlsStandWhereTheirTableSays.DejaVuSansAlone
  COMMAND ui_tests --gtest_filter=Window.ControlsStandWhereTheirTableSays)
set_tests_properties(Window.ControlsStandWhereTheirTableSays.DejaVuSansAlone PROPERTIES ENVIRONMENT
  "QT_QPA_PLATFORM=offscreen;FONTCONFIG_FILE=${CMAKE_CURRENT_BINARY_DIR}/fonts-dejavu-sans/fonts.conf;EXPECTED_FONT_FACE=DejaVu Sans")
