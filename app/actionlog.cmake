# actionlog: the download, the port list and the bus scan from a shell.
add_executable(actionlog ${CMAKE_CURRENT_LIST_DIR}/actionlog.cpp)
target_link_libraries(actionlog PRIVATE ui_cli)
if(WIN32)
  # Beside the window's ActionLog.exe a file system that ignores case would
  # see one name twice.
  set_target_properties(actionlog PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/cli)
endif()
