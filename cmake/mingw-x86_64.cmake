# Windows x86_64 with MinGW-w64.
set(KVOWRAPPER_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
