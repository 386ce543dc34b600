lv_core_library(lv_platform_utf8 ${CMAKE_CURRENT_LIST_DIR}/Utf8.cpp)
target_include_directories(lv_platform_utf8 PUBLIC ${PROJECT_SOURCE_DIR})
