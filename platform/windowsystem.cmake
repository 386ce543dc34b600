# Finding and following other programs' top-level windows (the console monitor's view of
# the desktop). X11 backend through xcb.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LV_XCB REQUIRED IMPORTED_TARGET xcb)
lv_core_library(lv_platform_windows
  ${CMAKE_CURRENT_LIST_DIR}/WindowTitleCase.cpp
  ${CMAKE_CURRENT_LIST_DIR}/x11/WindowSystem.cpp)
target_include_directories(lv_platform_windows PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(lv_platform_windows PRIVATE PkgConfig::LV_XCB)
