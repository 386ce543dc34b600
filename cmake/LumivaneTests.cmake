# Test registration shared by every tests/<kind>/<area>/ folder.
#
# Every test is named "<area>.<what>" and carries the label <area> (plus kind labels such
# as gui or e2e), so `ctest -L images` runs one area. A folder never drops out quietly:
# a target it needs that is missing stops the configuration, and a folder that registers
# no test stops it too, unless it said it needs the GUI and the GUI is off.
include(GoogleTest)

# Marks the calling folder as GUI-only and leaves it when the GUI is not built.
macro(lv_tests_need_gui)
  if(NOT LV_BUILD_GUI)
    set_property(DIRECTORY PROPERTY LV_TESTS_NEED_GUI TRUE)
    return()
  endif()
endmacro()

# Stops the configuration when a target the calling folder's tests link is missing (a
# renamed library would otherwise silently take its tests out of the run).
function(lv_require_targets)
  foreach(t IN LISTS ARGN)
    if(NOT TARGET ${t})
      file(RELATIVE_PATH _dir ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
      message(FATAL_ERROR "${_dir}: its tests need the target '${t}', which no folder declares")
    endif()
  endforeach()
endfunction()

# lv_gtest(<executable> <area> [PREFIX part] [LABELS extra...] [ENVIRONMENT VAR=value...]
# [PROPERTIES k v...] [other gtest_discover_tests arguments]): registers every GoogleTest
# case of the executable as "<area>.[<part>.]<Suite>.<Case>" with the label <area>.
function(lv_gtest exe area)
  cmake_parse_arguments(ARG "" "PREFIX" "LABELS;ENVIRONMENT;PROPERTIES" ${ARGN})
  if(ARG_ENVIRONMENT)
    # Discovery flattens its PROPERTIES list, so an ENVIRONMENT of several entries would
    # keep only the first; `env` before the executable sets them all, for the listing too.
    set_property(TARGET ${exe} PROPERTY CROSSCOMPILING_EMULATOR env ${ARG_ENVIRONMENT})
  endif()
  set(_labels ${area} ${ARG_LABELS})
  set(_prefix "${area}.")
  if(ARG_PREFIX)
    set(_prefix "${area}.${ARG_PREFIX}.")
  endif()
  gtest_discover_tests(${exe} TEST_PREFIX "${_prefix}" DISCOVERY_TIMEOUT 60
    ${ARG_UNPARSED_ARGUMENTS}
    PROPERTIES LABELS "${_labels}" ${ARG_PROPERTIES})
endfunction()

# lv_test(<area>.<what> <area> [LABELS extra...] COMMAND ... [ENVIRONMENT VAR=value...]
# [PROPERTIES k v...]): add_test with the area's label. A window test (label gui or e2e)
# runs on an X server and window manager of its own (scripts/with-x): which window is
# active is what many of them check, and a window of a test running beside it would take
# the focus away.
function(lv_test name area)
  cmake_parse_arguments(ARG "" "" "LABELS;COMMAND;ENVIRONMENT;PROPERTIES" ${ARGN})
  if(NOT name MATCHES "^${area}\\.")
    message(FATAL_ERROR "test '${name}' must be named '${area}.<what>'")
  endif()
  set(_command ${ARG_COMMAND})
  if(NOT CMAKE_CROSSCOMPILING AND ("gui" IN_LIST ARG_LABELS OR "e2e" IN_LIST ARG_LABELS))
    list(POP_FRONT _command _program)
    if(TARGET ${_program})
      set(_program $<TARGET_FILE:${_program}>)
    endif()
    set(_command ${PROJECT_SOURCE_DIR}/scripts/with-x ${_program} ${_command})
  endif()
  add_test(NAME ${name} COMMAND ${_command})
  set(_labels ${area} ${ARG_LABELS})
  set_tests_properties(${name} PROPERTIES LABELS "${_labels}" ${ARG_PROPERTIES})
  if(ARG_ENVIRONMENT)
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${ARG_ENVIRONMENT}")
  endif()
endfunction()
