# The toolbar window (Qt Widgets); the program links it as lv_toolbar_form.
if(LV_BUILD_GUI)
  add_library(lv_toolbar_form STATIC
    ${CMAKE_CURRENT_LIST_DIR}/LvToolBarFrm.cpp
    ${CMAKE_CURRENT_LIST_DIR}/LvToolBarFrm.h
    ${CMAKE_CURRENT_LIST_DIR}/LvToolBarDock.h)
  lv_warnings(lv_toolbar_form)
  target_include_directories(lv_toolbar_form PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(lv_toolbar_form PUBLIC lv_app_form lv_toolbar_controller Qt6::Widgets Qt6::PrintSupport
    PRIVATE lv_platform_folderwindow)
endif()
