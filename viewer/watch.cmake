# Watching the searched folders for fresh scans: when files are complete, changed or gone.
if(NOT LV_BUILD_GUI)
  return()
endif()
add_library(lv_viewer_watch STATIC
  ${CMAKE_CURRENT_LIST_DIR}/FolderWatcher.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FolderWatcher.h)
lv_warnings(lv_viewer_watch)
target_include_directories(lv_viewer_watch PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(lv_viewer_watch PUBLIC lv_viewer_pipeline lv_controlfile Qt6::Core)
# The window wires it (form.cmake is read before this file).
if(TARGET lv_viewer_form)
  target_link_libraries(lv_viewer_form PUBLIC lv_viewer_watch)
endif()
