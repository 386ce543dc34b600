# Debian's hardening flags, as dpkg-buildflags gives them to a package build with every
# hardening feature on: _FORTIFY_SOURCE, the stack protector, format-string errors,
# read-only relocations and immediate binding. The build type keeps choosing the
# optimisation level and the debug information, so -O and -g are left out.
option(LV_HARDENING "Build with Debian's hardening flags (dpkg-buildflags, hardening=+all)" OFF)
if(LV_HARDENING)
  find_program(LV_DPKG_BUILDFLAGS dpkg-buildflags REQUIRED)
  foreach(kind CPPFLAGS CFLAGS CXXFLAGS LDFLAGS)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
              ${LV_DPKG_BUILDFLAGS} --get ${kind}
      WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
      OUTPUT_VARIABLE _lv_flags OUTPUT_STRIP_TRAILING_WHITESPACE
      COMMAND_ERROR_IS_FATAL ANY)
    separate_arguments(_lv_flags UNIX_COMMAND "${_lv_flags}")
    list(FILTER _lv_flags EXCLUDE REGEX "^-(O.*|g)$")
    set(_lv_hardening_${kind} ${_lv_flags})
  endforeach()
  foreach(flag IN LISTS _lv_hardening_CPPFLAGS)
    add_compile_options(${flag})
  endforeach()
  foreach(flag IN LISTS _lv_hardening_CFLAGS)
    add_compile_options($<$<COMPILE_LANGUAGE:C>:${flag}>)
  endforeach()
  foreach(flag IN LISTS _lv_hardening_CXXFLAGS)
    add_compile_options($<$<COMPILE_LANGUAGE:CXX>:${flag}>)
  endforeach()
  add_link_options(${_lv_hardening_LDFLAGS})
  message(STATUS "Hardening: ${_lv_hardening_CPPFLAGS} ${_lv_hardening_CXXFLAGS} ${_lv_hardening_LDFLAGS}")
endif()
