# Decoding for the viewer window on worker threads, with the frame cache and prefetch.
if(NOT LV_BUILD_GUI)
  return()
endif()
add_library(lv_viewer_pipeline STATIC
  ${CMAKE_CURRENT_LIST_DIR}/DecodePipeline.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DecodePipeline.h
  ${CMAKE_CURRENT_LIST_DIR}/FrameCache.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FrameCache.h)
lv_warnings(lv_viewer_pipeline)
target_include_directories(lv_viewer_pipeline PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(lv_viewer_pipeline PUBLIC lv_imaging lv_viewer_geometry Qt6::Gui)
