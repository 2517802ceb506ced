# Builds the packages from a build tree and checks that each holds exactly the files a user looks
# for, where they look; that the zip's manual is a page of the manual; and that lintian, where
# given, finds nothing to warn of in the .deb. Called by CTest:
#
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -DVERSION=1.1.0 [-DSTATIC=ON] [-DLINTIAN=lintian]
#         -P check_packages.cmake
file(REMOVE_RECURSE ${WORK_DIR})
# Under the umask many users have, which must not reach the packages' folders.
execute_process(COMMAND sh -c "umask 002 && exec \"$0\" \"$@\"" ${CMAKE_CPACK_COMMAND}
                        -B ${WORK_DIR} --config ${BUILD_DIR}/CPackConfig.cmake
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cpack failed: ${status}")
endif()

# Checks that the one package of KIND that cpack made holds exactly the files given after KIND,
# by the last word of each line of its listing, and sets PACKAGE to its path.
function(expect_files kind)
  set(package "" PARENT_SCOPE)
  file(GLOB package ${WORK_DIR}/kvowrapper*${kind})
  if(NOT package)
    return()
  endif()
  if(package MATCHES "[.]deb$")
    execute_process(COMMAND dpkg-deb --contents ${package} OUTPUT_VARIABLE listing)
  else()
    execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${package} OUTPUT_VARIABLE listing)
  endif()
  string(REGEX MATCHALL "[^ \n]*[^/ \n]\n" files "${listing}")
  string(REPLACE "\n" "" files "${files}")
  list(SORT files)
  list(SORT ARGN)
  if(NOT files STREQUAL ARGN)
    message(FATAL_ERROR "${package} holds ${files}; expected ${ARGN}")
  endif()
  set(package ${package} PARENT_SCOPE)
endfunction()

file(GLOB made ${WORK_DIR}/*.deb ${WORK_DIR}/*.tar.gz ${WORK_DIR}/*.zip)
if(NOT made)
  message(FATAL_ERROR "cpack made no package")
endif()

set(doc share/doc/kvowrapper)
set(documents ${doc}/LICENSE ${doc}/README.md ${doc}/changelog.gz ${doc}/copyright
              share/man/man1/kvowrapper.1.gz)
list(TRANSFORM documents PREPEND ./usr/ OUTPUT_VARIABLE deb_documents)
if(STATIC)
  list(APPEND deb_documents ./usr/share/lintian/overrides/kvowrapper)
endif()
expect_files(.deb ./usr/bin/kvowrapper ${deb_documents})
if(LINTIAN AND package)
  execute_process(COMMAND ${LINTIAN} --fail-on error,warning ${package}
                  RESULT_VARIABLE status OUTPUT_VARIABLE tags ERROR_QUIET)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "lintian finds fault with the .deb:\n${tags}")
  endif()
endif()

set(top kvowrapper-${VERSION}-Linux)
list(TRANSFORM documents PREPEND ${top}/)
expect_files(.tar.gz ${top}/bin/kvowrapper ${documents})

set(top kvowrapper-${VERSION}-windows-i686)
expect_files(.zip ${top}/LICENSE ${top}/README.md ${top}/kvowrapper.exe ${top}/kvowrapper.html)
if(package)
  file(ARCHIVE_EXTRACT INPUT ${package} DESTINATION ${WORK_DIR}/zip)
  file(READ ${WORK_DIR}/zip/${top}/kvowrapper.html manual)
  if(NOT manual MATCHES "<title>KVOWRAPPER[(]1[)]</title>"
     OR NOT manual MATCHES "id=\"EXIT_STATUS\"")
    message(FATAL_ERROR "the zip's kvowrapper.html is not the manual page")
  endif()
endif()
