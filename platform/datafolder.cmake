# The per-user local data folder (placement files and per-connection stores).
lv_core_library(lv_platform_datafolder ${CMAKE_CURRENT_LIST_DIR}/posix/DataFolder.cpp)
target_include_directories(lv_platform_datafolder PUBLIC ${PROJECT_SOURCE_DIR})
