# GoogleTest programs for the Win32 layer: GoogleTest needs std::mutex, which
# only the -posix thread model provides. Nothing built here ships.
set(ROMWIZ_MINGW_ARCH i686)
set(ROMWIZ_MINGW_THREADS posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
