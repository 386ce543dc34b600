# lumivane-host subcommands: serve, send, set, dump, watch, and the host's view of a block.
target_sources(lumivane-host PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/HostBlock.cpp
  ${CMAKE_CURRENT_LIST_DIR}/BlockCommands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WatchCommand.cpp)
target_include_directories(lumivane-host PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(lumivane-host PRIVATE nlohmann_json::nlohmann_json)
target_sources(lumivane-host PRIVATE ${CMAKE_CURRENT_LIST_DIR}/ServeCommand.cpp)
target_link_libraries(lumivane-host PRIVATE lv_platform_process lv_platform_end lv_platform_path)
