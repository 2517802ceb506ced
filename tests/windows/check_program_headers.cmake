# Checks the shipped 32-bit Windows program by its PE headers, as objdump reads them: a PE32
# console program, large-address aware, with its manifest embedded, importing only from
# KERNEL32.dll and msvcrt.dll (so that it runs on any Windows without a runtime installed).
#
#   cmake -DOBJDUMP=i686-w64-mingw32-objdump -DPROGRAM=kvowrapper.exe -P check_program_headers.cmake
execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE headers RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} cannot read ${PROGRAM}")
endif()
set(problems "")
if(NOT headers MATCHES "\nMagic[ \t]+010b[ \t]+\\(PE32\\)")
  string(APPEND problems "\n  not a PE32 (32-bit) program")
endif()
if(NOT headers MATCHES "\nSubsystem[ \t]+00000003[ \t]+\\(Windows CUI\\)")
  string(APPEND problems "\n  not a console program")
endif()
if(NOT headers MATCHES "\n[ \t]+large address aware\n")
  string(APPEND problems "\n  not large-address aware")
endif()
# A manifest is a resource of type 24 (RT_MANIFEST), listed at the top level of the resources.
if(NOT headers MATCHES "\n[0-9a-f]+   Entry: ID: 0x000018,")
  string(APPEND problems "\n  no embedded manifest")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${headers}")
list(SORT imports)
if(NOT imports STREQUAL "DLL Name: KERNEL32.dll;DLL Name: msvcrt.dll")
  string(APPEND problems "\n  imports from other libraries than KERNEL32.dll and msvcrt.dll: ${imports}")
endif()
if(problems)
  message(FATAL_ERROR "${PROGRAM}:${problems}")
endif()
