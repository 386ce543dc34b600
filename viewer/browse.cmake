# What the viewer browses and where the user is in it (no widgets), and the header reads
# that tell it page counts.
if(NOT LV_BUILD_GUI OR NOT TARGET lv_images)
  return()
endif()
add_library(lv_viewer_browse STATIC
  ${CMAKE_CURRENT_LIST_DIR}/browse/BrowseModel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/browse/BrowseModel.h
  ${CMAKE_CURRENT_LIST_DIR}/browse/ImageListModel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/browse/ImageListModel.h
  ${CMAKE_CURRENT_LIST_DIR}/browse/PageCounter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/browse/PageCounter.h)
lv_warnings(lv_viewer_browse)
target_include_directories(lv_viewer_browse PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(lv_viewer_browse PUBLIC lv_images lv_imaging Qt6::Core)
