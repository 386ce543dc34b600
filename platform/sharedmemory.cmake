lv_core_library(lv_platform_shm ${CMAKE_CURRENT_LIST_DIR}/posix/SharedMemory.cpp)
target_include_directories(lv_platform_shm PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(lv_platform_shm PUBLIC rt)
