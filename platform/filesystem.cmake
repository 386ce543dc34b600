lv_core_library(lv_platform_fs
  ${CMAKE_CURRENT_LIST_DIR}/FileMask.cpp
  ${CMAKE_CURRENT_LIST_DIR}/${LV_OS_BACKEND}/FileSystem.cpp)
target_include_directories(lv_platform_fs PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(lv_platform_fs PUBLIC lv_platform_utf8 lv_platform_path)
if(WIN32)
  target_link_libraries(lv_platform_fs PRIVATE ${LV_OS_LIBS})
endif()
