# Builds the Debian package from the build tree and checks that it holds exactly the installed
# files. Called by CTest with BUILD_DIR and WORK_DIR set.
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND cpack -G DEB -B ${WORK_DIR} --config ${BUILD_DIR}/CPackConfig.cmake
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cpack failed: ${status}")
endif()
file(GLOB packages ${WORK_DIR}/*.deb)
execute_process(COMMAND dpkg-deb --contents ${packages} OUTPUT_VARIABLE listing)
string(REGEX MATCHALL "\\./usr/[^\n]*[^/\n]\n" files "${listing}")
string(REPLACE "\n" "" files "${files}")
list(SORT files)
set(expected ./usr/bin/kvowrapper ./usr/share/doc/kvowrapper/LICENSE
    ./usr/share/doc/kvowrapper/README.md ./usr/share/man/man1/kvowrapper.1)
if(NOT files STREQUAL expected)
  message(FATAL_ERROR "the package holds ${files}; expected ${expected}")
endif()
