target_sources(serial PRIVATE ${CMAKE_CURRENT_LIST_DIR}/ListComPorts.cpp)
