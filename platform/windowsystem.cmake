# Finding and following other programs' top-level windows (the console monitor's view of
# the desktop). X11 backend through xcb, or the Win32 window functions.
lv_core_library(lv_platform_windows
  ${CMAKE_CURRENT_LIST_DIR}/WindowTitleCase.cpp
  ${CMAKE_CURRENT_LIST_DIR}/${LV_WINDOW_BACKEND}/WindowSystem.cpp)
target_include_directories(lv_platform_windows PUBLIC ${PROJECT_SOURCE_DIR})
if(WIN32)
  target_link_libraries(lv_platform_windows PRIVATE ${LV_OS_LIBS} user32)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(LV_XCB REQUIRED IMPORTED_TARGET xcb)
  target_link_libraries(lv_platform_windows PRIVATE PkgConfig::LV_XCB)
endif()
