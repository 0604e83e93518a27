# The program on Windows: one window-subsystem exe with the icon, the
# manifest (visual styles, per-monitor DPI awareness) and everything linked in.
add_executable(ActionLog WIN32 ${CMAKE_CURRENT_LIST_DIR}/WinMain.cpp ${PROJECT_SOURCE_DIR}/ui/win32/ActionLog.rc)
target_link_libraries(ActionLog PRIVATE ui_win32)
target_link_options(ActionLog PRIVATE -municode)
# The one file to hand to a user: build/windows/ActionLog.exe.
set_target_properties(ActionLog PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
