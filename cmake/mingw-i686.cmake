# Windows i686 with MinGW-w64.
set(KVOWRAPPER_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
