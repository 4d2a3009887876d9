# The 32-bit Windows program, the one that ships.
set(PAVOSET_MINGW_CPU i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
