# The Qt window base and the widgets shared by the toolbar and the viewer window.
if(LV_BUILD_GUI)
  add_library(lv_app_form STATIC ${CMAKE_CURRENT_LIST_DIR}/Orlenza.Form.cpp ${CMAKE_CURRENT_LIST_DIR}/Orlenza.Form.h
    ${CMAKE_CURRENT_LIST_DIR}/SharedWidgets.cpp ${CMAKE_CURRENT_LIST_DIR}/SharedWidgets.h)
  lv_warnings(lv_app_form)
  target_include_directories(lv_app_form PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(lv_app_form PUBLIC lv_app_core Qt6::Widgets)
endif()
