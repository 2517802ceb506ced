# Builds the README's recipes against the stand-in compiler and checks the compiled resource.
# Called by CTest with SOURCE_DIR, WORK_DIR, KVO, KVOWRAPPER and GENERATOR set.
set(expected "STRINGTABLE\nBEGIN\n    IDS_VERSION \"Example App 2.1.0\"\nEND\n")

function(check_resource file)
  file(READ ${file} compiled)
  if(NOT compiled STREQUAL expected)
    message(FATAL_ERROR "${file} holds:\n${compiled}\nexpected:\n${expected}")
  endif()
endfunction()

function(run)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGV}")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})

# CMake: configure, build, and build again with nothing to do.
run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/cmake -G ${GENERATOR}
    -DKVO=${KVO} -DKVOWRAPPER=${KVOWRAPPER})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake)
check_resource(${WORK_DIR}/cmake/app.res)
if(EXISTS ${SOURCE_DIR}/app.rsrc-processed.rsrc)
  message(FATAL_ERROR "the recipe wrote into the source tree")
endif()

# Make: the pattern rule, on a copy of the sources.
file(COPY ${SOURCE_DIR}/Makefile ${SOURCE_DIR}/app.rsrc DESTINATION ${WORK_DIR}/make)
run(make -C ${WORK_DIR}/make KVO=${KVO} KVOWRAPPER=${KVOWRAPPER} app.res)
check_resource(${WORK_DIR}/make/app.res)
