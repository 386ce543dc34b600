# Window placement for Qt windows: adapts a QWidget and the screens to the placement rules.
if(LV_BUILD_GUI)
  add_library(lv_qtplacement STATIC ${CMAKE_CURRENT_LIST_DIR}/QtFormPlacement.cpp ${CMAKE_CURRENT_LIST_DIR}/QtFormPlacement.h)
  lv_warnings(lv_qtplacement)
  target_include_directories(lv_qtplacement PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(lv_qtplacement PUBLIC lv_positions lv_app_core lv_platform_datafolder Qt6::Widgets)
endif()
