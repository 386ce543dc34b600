# Requests from outside to end the program, as a descriptor an event loop can watch.
lv_core_library(lv_platform_end ${CMAKE_CURRENT_LIST_DIR}/${LV_OS_BACKEND}/EndRequests.cpp)
target_include_directories(lv_platform_end PUBLIC ${PROJECT_SOURCE_DIR})
