# lumivane-host console: the stand-in console window, drawn with xcb (no Qt). The
# Windows build has no X server to draw on.
if(WIN32)
  return()
endif()
find_package(PkgConfig REQUIRED)
pkg_check_modules(LV_HOST_XCB REQUIRED IMPORTED_TARGET xcb xcb-icccm)
target_sources(lumivane-host PRIVATE ${CMAKE_CURRENT_LIST_DIR}/ConsoleCommand.cpp)
target_link_libraries(lumivane-host PRIVATE lv_toolbar_monitor PkgConfig::LV_HOST_XCB)
