# Shown windows brought up when a window manager arrives after them (X11 only).
if(LV_BUILD_GUI)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(LV_APP_XCB REQUIRED IMPORTED_TARGET xcb)
  add_library(lv_app_wmarrival STATIC ${CMAKE_CURRENT_LIST_DIR}/WindowManagerArrival.cpp
    ${CMAKE_CURRENT_LIST_DIR}/WindowManagerArrival.h)
  lv_warnings(lv_app_wmarrival)
  target_include_directories(lv_app_wmarrival PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(lv_app_wmarrival PUBLIC Qt6::Widgets PRIVATE lv_controlfile PkgConfig::LV_APP_XCB)
endif()
