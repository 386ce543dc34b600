# Starting and following another program (the reference host starts the viewer).
lv_core_library(lv_platform_process ${CMAKE_CURRENT_LIST_DIR}/${LV_OS_BACKEND}/ChildProcess.cpp)
target_include_directories(lv_platform_process PUBLIC ${PROJECT_SOURCE_DIR})
if(WIN32)
  target_link_libraries(lv_platform_process PRIVATE ${LV_OS_LIBS} shell32)
endif()
