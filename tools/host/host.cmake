# The reference host links only core libraries (never Qt): it proves the core stands alone.
add_executable(lumivane-host
  ${CMAKE_CURRENT_LIST_DIR}/main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HostCommand.cpp)
lv_warnings(lumivane-host)
set_target_properties(lumivane-host PROPERTIES AUTOMOC OFF)
target_link_libraries(lumivane-host PRIVATE lv_controlfile)
target_compile_definitions(lumivane-host PRIVATE LV_VERSION="${PROJECT_VERSION}")
set_property(GLOBAL APPEND PROPERTY LV_CORE_TARGETS lumivane-host)
