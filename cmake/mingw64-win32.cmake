# The same build for x86_64: run under 64-bit Wine on machines that cannot
# execute 32-bit programs. Nothing built with it ships.
set(ROMWIZ_MINGW_ARCH x86_64)
set(ROMWIZ_MINGW_THREADS win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
