# Fit, zoom, quarter-turn and pan arithmetic of the viewer window: no Qt.
lv_core_library(lv_viewer_geometry ${CMAKE_CURRENT_LIST_DIR}/ImageGeometry.cpp)
target_include_directories(lv_viewer_geometry PUBLIC ${PROJECT_SOURCE_DIR})
