# Image decoding for display and printing (Qt; libtiff, libjpeg-turbo and libpng for
# decoding that reduces while it reads).
if(NOT LV_BUILD_GUI)
  return()
endif()
find_package(TIFF REQUIRED)
find_package(JPEG REQUIRED)
find_package(PNG REQUIRED)
add_library(lv_imaging STATIC
  ${CMAKE_CURRENT_LIST_DIR}/ImageDecoding.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ImageDecoding.Internal.h
  ${CMAKE_CURRENT_LIST_DIR}/ImageDecoding.Orientation.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ImageDecoding.BoxFilter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ImageDecoding.Tiff.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ImageDecoding.Jpeg.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ImageDecoding.Png.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ImageDecoding.Bands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ImageDecoding.Qt.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ImageDecoding.h)
lv_warnings(lv_imaging)
target_include_directories(lv_imaging PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(lv_imaging PUBLIC Qt6::Gui PRIVATE TIFF::TIFF JPEG::JPEG PNG::PNG)
