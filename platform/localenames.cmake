lv_core_library(lv_platform_locale ${CMAKE_CURRENT_LIST_DIR}/posix/LocaleNames.cpp)
target_include_directories(lv_platform_locale PUBLIC ${PROJECT_SOURCE_DIR})
