# Printing: where a page lands on a sheet (plain arithmetic, no Qt), and the jobs, the
# print dialog with its preview and the viewer's entry point (Qt).
lv_core_library(lv_print_layout ${CMAKE_CURRENT_LIST_DIR}/PrintLayout.cpp)
target_include_directories(lv_print_layout PUBLIC ${PROJECT_SOURCE_DIR})
if(NOT LV_BUILD_GUI OR NOT TARGET lv_imaging OR NOT TARGET lv_positions)
  return()
endif()
add_library(lv_printing STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Orlenza.DocumentPrinting.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Orlenza.DocumentPrinting.h
  ${CMAKE_CURRENT_LIST_DIR}/PrintDialog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PrintDialog.h
  ${CMAKE_CURRENT_LIST_DIR}/PrintJob.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PrintJob.h)
lv_warnings(lv_printing)
target_include_directories(lv_printing PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(lv_printing PUBLIC lv_print_layout lv_imaging lv_positions Qt6::Widgets Qt6::PrintSupport)
