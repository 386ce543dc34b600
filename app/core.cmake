# Controller interfaces, program-wide references and the controller base: no Qt.
lv_core_library(lv_app_core
  ${CMAKE_CURRENT_LIST_DIR}/Orlenza.FormCommon.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Orlenza.CustomController.cpp)
target_include_directories(lv_app_core PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(lv_app_core PUBLIC lv_controlfile lv_positions)
