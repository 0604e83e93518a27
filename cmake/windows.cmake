# The Windows build: the runtime, the serial component, the protocol core and
# the settings and export files; the native window and the program when their
# folders provide them; the test programs, run under wine on a build machine.
# No Qt, no simulated device (it runs on the build machine) and no benchmarks.

add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00)
# GCC 12 at -O2 warns of an overlapping copy inside std::string when a
# literal is joined with a temporary string (GCC bug 105329): no such copy
# happens.
add_compile_options(-Wno-restrict)

add_subdirectory(runtime)
add_subdirectory(serial)
add_subdirectory(protocol)
add_subdirectory(ui)

if(EXISTS ${PROJECT_SOURCE_DIR}/ui/win32/CMakeLists.txt)
  add_subdirectory(ui/win32)
endif()
if(EXISTS ${PROJECT_SOURCE_DIR}/app/win32.cmake)
  include(${PROJECT_SOURCE_DIR}/app/win32.cmake)
endif()

if(BUILD_TESTING)
  enable_testing()
  add_subdirectory(tests/windows)
endif()
