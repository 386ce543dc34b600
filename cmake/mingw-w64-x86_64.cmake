# Cross build of the core, the reference host and their tests for 64-bit Windows with
# MinGW-w64 (posix thread model, so std::thread and std::mutex work), run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(LV_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${LV_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LV_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${LV_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${LV_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# nlohmann-json is header-only: the build machine's package serves the target too.
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
# One self-contained .exe per program: no MinGW runtime DLLs to find under Wine.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
find_program(LV_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(LV_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${LV_WINE})
endif()
