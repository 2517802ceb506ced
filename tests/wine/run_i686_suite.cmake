# Runs the end-to-end tests against the shipped 32-bit Windows program under 32-bit Wine wherever
# this machine's kernel runs 32-bit code; where it does not, says so in one line and succeeds.
# The kernel is asked directly (PROBE runs the 32-bit program ELF32 and reads exec's errno), never
# through a Wine failure, so that a broken 32-bit Wine can never pass as a machine without
# 32-bit code: where the kernel runs such code, Wine must run the program or this fails.
#
#   cmake [-DWINE32=LOADER] [-DJOBS=N] -P tests/wine/run_i686_suite.cmake
#
# KVOWRAPPER_KERNEL_RUNS_32BIT=yes or no in the environment forces the kernel's answer, so that
# both paths can be tried on any machine. PROBE, ELF32, PROGRAM and PREFIX default to the places
# `make test-wine` builds them in.
cmake_minimum_required(VERSION 3.25)
get_filename_component(source_dir ${CMAKE_CURRENT_LIST_DIR}/../.. ABSOLUTE)
if(NOT DEFINED WINE32)
  set(WINE32 /usr/lib/wine/wine)
endif()
if(NOT DEFINED JOBS)
  set(JOBS 2)
endif()
if(NOT DEFINED PROBE)
  set(PROBE ${source_dir}/build/release/tests/kernel_probe)
endif()
if(NOT DEFINED ELF32)
  set(ELF32 ${source_dir}/build/release/tests/exit3_i386)
endif()
if(NOT DEFINED PROGRAM)
  set(PROGRAM ${source_dir}/build/windows-i686/kvowrapper.exe)
endif()
if(NOT DEFINED PREFIX)
  set(PREFIX ${source_dir}/build/wine)
endif()

if(DEFINED ENV{KVOWRAPPER_KERNEL_RUNS_32BIT})
  set(answer "$ENV{KVOWRAPPER_KERNEL_RUNS_32BIT}")
else()
  execute_process(COMMAND ${PROBE} ${ELF32} OUTPUT_VARIABLE answer ERROR_VARIABLE reason
                  RESULT_VARIABLE status OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "cannot tell whether this machine's kernel runs 32-bit code: ${reason}")
  endif()
endif()
if(answer STREQUAL "no")
  message("the 32-bit Windows program was not run: this machine's kernel runs no 32-bit code")
  return()
elseif(NOT answer STREQUAL "yes")
  message(FATAL_ERROR "KVOWRAPPER_KERNEL_RUNS_32BIT must be yes or no, not '${answer}'")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -E env WINEPREFIX=${PREFIX} WINEDEBUG=-all
                        ${WINE32} ${PROGRAM} --version
                OUTPUT_VARIABLE version ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT version MATCHES "^kvowrapper ")
  message(FATAL_ERROR
    "32-bit Wine (${WINE32}) cannot run ${PROGRAM}, although this machine's kernel runs 32-bit "
    "code (status ${status}${errors}): install wine32 (dpkg --add-architecture i386; "
    "apt-get install wine32:i386) and remove ${PREFIX}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E env KVOWRAPPER_WINE32=${WINE32}
                        ${CMAKE_CTEST_COMMAND} --preset wine-i686 -j ${JOBS}
                WORKING_DIRECTORY ${source_dir} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the end-to-end tests of ${PROGRAM} under 32-bit Wine failed")
endif()
