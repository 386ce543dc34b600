# The program itself; built once the toolbar and viewer windows exist.
if(LV_BUILD_GUI AND TARGET lv_viewcontrol AND EXISTS ${PROJECT_SOURCE_DIR}/viewer/OrlenzaFrm.h
   AND EXISTS ${PROJECT_SOURCE_DIR}/toolbar/LvToolBarFrm.h)
  add_executable(lumivane-viewer ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
  lv_warnings(lumivane-viewer)
  # Target names of the two windows are those their folders declare.
  target_link_libraries(lumivane-viewer PRIVATE lv_app_form lv_viewcontrol lv_viewer_form lv_toolbar_form
    lv_platform_end)
endif()
