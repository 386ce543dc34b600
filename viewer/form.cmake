# The viewer window (Qt). Needs the image catalogue for its image records.
if(NOT LV_BUILD_GUI OR NOT TARGET lv_images)
  return()
endif()
add_library(lv_viewer_form STATIC
  ${CMAKE_CURRENT_LIST_DIR}/OrlenzaFrm.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OrlenzaFrm.Components.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OrlenzaFrm.Input.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OrlenzaFrm.Browse.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OrlenzaFrm.Search.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OrlenzaFrm.Strip.cpp
  ${CMAKE_CURRENT_LIST_DIR}/strip/PageStrip.cpp
  ${CMAKE_CURRENT_LIST_DIR}/strip/PageStrip.h
  ${CMAKE_CURRENT_LIST_DIR}/strip/PageStripModel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/strip/PageStripModel.h
  ${CMAKE_CURRENT_LIST_DIR}/OrlenzaFrm.Pages.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OrlenzaFrm.Keys.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OrlenzaFrm.Clipboard.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OrlenzaFrm.Watch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OrlenzaFrm.Turns.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OrlenzaFrm.Shared.h
  ${CMAKE_CURRENT_LIST_DIR}/OrlenzaFrm.h
  ${CMAKE_CURRENT_LIST_DIR}/ViewerWidgets.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ViewerWidgets.h)
lv_warnings(lv_viewer_form)
target_include_directories(lv_viewer_form PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(lv_viewer_form PUBLIC lv_app_form lv_qtplacement lv_images lv_positions lv_imaging lv_printing lv_viewer_geometry lv_viewer_pipeline lv_viewer_browse
  Qt6::Widgets Qt6::PrintSupport)
