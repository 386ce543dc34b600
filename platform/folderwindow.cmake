# Showing a folder in the desktop's file manager (after a capture).
lv_core_library(lv_platform_folderwindow ${CMAKE_CURRENT_LIST_DIR}/${LV_OS_BACKEND}/FolderWindow.cpp)
target_include_directories(lv_platform_folderwindow PUBLIC ${PROJECT_SOURCE_DIR})
if(WIN32)
  target_link_libraries(lv_platform_folderwindow PRIVATE shell32)
else()
  target_link_libraries(lv_platform_folderwindow PRIVATE Threads::Threads)
endif()
