# Shipped Windows programs: the -win32 thread model, so nothing pulls in
# winpthreads (which imports functions Windows XP lacks).
set(ROMWIZ_MINGW_ARCH i686)
set(ROMWIZ_MINGW_THREADS win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
