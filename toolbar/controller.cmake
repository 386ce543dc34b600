# The toolbar controller: terminal commands and the periodic check (core, no Qt).
lv_core_library(lv_toolbar_controller ${CMAKE_CURRENT_LIST_DIR}/Orlenza.ToolBarController.cpp)
target_include_directories(lv_toolbar_controller PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(lv_toolbar_controller PUBLIC lv_toolbar_monitor lv_app_core lv_controlfile
  lv_platform_path)
