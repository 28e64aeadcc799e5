# Cross-building for 64-bit Windows with mingw-w64 (GCC, posix threads, so
# that std::thread and std::mutex are there). Programs built here run under
# Wine when no Windows machine is at hand.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
# Libraries built for Windows (libjpeg-turbo, GoogleTest) are installed by
# tools/build-windows.sh under one prefix, MORVANE_WINDOWS_PREFIX, searched
# like the compiler's own root.
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MORVANE_WINDOWS_PREFIX)
if(MORVANE_WINDOWS_PREFIX)
  list(APPEND CMAKE_FIND_ROOT_PATH ${MORVANE_WINDOWS_PREFIX})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)  # a -D on the command line wins
  set(CMAKE_CROSSCOMPILING_EMULATOR wine)
endif()
