# UTF-8 text to paths and back: the one conversion, used by every core file that names a
# file (Path.h).
lv_core_library(lv_platform_path ${CMAKE_CURRENT_LIST_DIR}/${LV_OS_BACKEND}/Path.cpp)
target_include_directories(lv_platform_path PUBLIC ${PROJECT_SOURCE_DIR})
if(WIN32)
  target_link_libraries(lv_platform_path PRIVATE ${LV_OS_LIBS})
endif()
