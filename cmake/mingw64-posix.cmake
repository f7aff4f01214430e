# The GoogleTest programs for x86_64, for 64-bit Wine.
set(ROMWIZ_MINGW_ARCH x86_64)
set(ROMWIZ_MINGW_THREADS posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
