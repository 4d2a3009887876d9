# Cross toolchain for the Windows builds, mingw-w64 with posix threads (for std::call_once).
# Included by mingw-i686.cmake and mingw-x86_64.cmake, which set PAVOSET_MINGW_CPU.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${PAVOSET_MINGW_CPU})
set(CMAKE_C_COMPILER ${PAVOSET_MINGW_CPU}-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER ${PAVOSET_MINGW_CPU}-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER ${PAVOSET_MINGW_CPU}-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${PAVOSET_MINGW_CPU}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Static runtime: the program must need no DLL beyond the system's.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
