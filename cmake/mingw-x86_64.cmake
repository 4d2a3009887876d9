# The 64-bit Windows build: the same program and tests, for machines whose kernel cannot
# execute 32-bit code (there Wine runs only 64-bit programs).
set(PAVOSET_MINGW_CPU x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
