# Cross build of the Windows DLL with Debian's MinGW-w64; the Windows test programs run
# under Wine through ctest.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

# Prefer the win32-threads compiler: it needs no winpthread, so nothing but system DLLs is
# imported even before -static.
find_program(QAV_MINGW_CXX NAMES x86_64-w64-mingw32-g++-win32 x86_64-w64-mingw32-g++ REQUIRED)
find_program(QAV_MINGW_CC NAMES x86_64-w64-mingw32-gcc-win32 x86_64-w64-mingw32-gcc REQUIRED)
set(CMAKE_C_COMPILER ${QAV_MINGW_CC})
set(CMAKE_CXX_COMPILER ${QAV_MINGW_CXX})
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Wine, in the build's own prefix: scripts/wine.sh is the one place that sets it up.
find_program(QAV_WINE NAMES wine wine64)
if(QAV_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine.sh)
endif()
