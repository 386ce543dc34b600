# The per-user local data folder (placement files and per-connection stores).
lv_core_library(lv_platform_datafolder ${CMAKE_CURRENT_LIST_DIR}/${LV_OS_BACKEND}/DataFolder.cpp)
target_include_directories(lv_platform_datafolder PUBLIC ${PROJECT_SOURCE_DIR})
if(WIN32)
  target_link_libraries(lv_platform_datafolder PRIVATE ${LV_OS_LIBS} shell32)
endif()
