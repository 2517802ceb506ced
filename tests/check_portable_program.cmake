# Checks that a portable build's program takes the plain fallbacks: dynamically linked (nm finds
# the symbols it imports), locking with flock, and never calling renameat2 or making a file with
# O_TMPFILE (a flag to open, which is imported for other uses too, so the build's own definitions
# are checked instead: see PORTABLE_DEFINITIONS).
execute_process(COMMAND nm -D --undefined-only ${PROGRAM} RESULT_VARIABLE status
                OUTPUT_VARIABLE imports ERROR_VARIABLE errors)
if(NOT status EQUAL 0 OR imports STREQUAL "")
  message(FATAL_ERROR "${PROGRAM} is not dynamically linked: ${errors}")
endif()
if(imports MATCHES "renameat2")
  message(FATAL_ERROR "${PROGRAM} imports renameat2")
endif()
if(NOT imports MATCHES "flock")
  message(FATAL_ERROR "${PROGRAM} does not lock with flock")
endif()
if(NOT "${PORTABLE_DEFINITIONS}" STREQUAL "")
  message(FATAL_ERROR "the portable build uses ${PORTABLE_DEFINITIONS}")
endif()
