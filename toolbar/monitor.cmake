# The console window monitor: finds the host's console windows by title (core, no Qt).
lv_core_library(lv_toolbar_monitor
  ${CMAKE_CURRENT_LIST_DIR}/ProcessWindowMonitor.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ProcessWindowMonitor.ConsoleMonitor.cpp)
target_include_directories(lv_toolbar_monitor PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(lv_toolbar_monitor PUBLIC lv_platform_windows)
