# Builds the README's recipes against the stand-in compiler, which resolves #include lines as a
# real one does, and checks what a build relies on: the compiled resources, variants of one
# source, rebuilds after a changed definition or companion, and a clean that leaves nothing.
# Called by CTest with SOURCE_DIR, WORK_DIR, KVO and KVOWRAPPER set.
function(expect_resource file version edition)
  set(expected "#include \"resource.h\"\n\nSTRINGTABLE\nBEGIN\n")
  string(APPEND expected "    IDS_VERSION \"Example App ${version} (${edition})\"\nEND\n")
  file(READ ${file} compiled)
  if(NOT compiled STREQUAL expected)
    message(FATAL_ERROR "${file} holds:\n${compiled}\nexpected:\n${expected}")
  endif()
endfunction()

function(run)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE status OUTPUT_VARIABLE output
                  ERROR_VARIABLE output)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGV}\n${output}")
  endif()
endfunction()

# Fails unless nothing below `dir` matches one of the globs.
function(expect_none dir)
  foreach(pattern IN LISTS ARGN)
    file(GLOB_RECURSE left ${dir}/${pattern})
    if(left)
      message(FATAL_ERROR "left behind: ${left}")
    endif()
  endforeach()
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
find_program(NINJA ninja)
find_program(MESON meson)

# Make: twenty sources and two variants under -j8, built twice (the second time the processed
# files lie beside the sources and must not become sources), then a changed definition and a
# changed companion, then clean.
set(make_dir ${WORK_DIR}/make)
file(COPY ${SOURCE_DIR}/Makefile ${SOURCE_DIR}/app.rsrc ${SOURCE_DIR}/resource.h
     DESTINATION ${make_dir})
foreach(i RANGE 1 20)
  file(COPY_FILE ${SOURCE_DIR}/app.rsrc ${make_dir}/r${i}.rsrc)
endforeach()
set(make make -C ${make_dir} -j8 KVO=${KVO} KVOWRAPPER=${KVOWRAPPER})
run(${make})
run(${make})
expect_none(${make_dir} "*-processed.rsrc-processed.rsrc" "out/*-processed.rsrc.res")
foreach(name app r1 r20)
  expect_resource(${make_dir}/out/${name}.res 2.1.0 full)
endforeach()
expect_resource(${make_dir}/out/debug/app.res 2.1.0 debug)
expect_resource(${make_dir}/out/release/app.res 2.1.0 release)
run(${make} VERSION=9.9.9)
foreach(name out/app.res out/r7.res out/debug/app.res)
  file(READ ${make_dir}/${name} compiled)
  if(NOT compiled MATCHES "9[.]9[.]9")
    message(FATAL_ERROR "make VERSION=9.9.9 left ${name} at the old version")
  endif()
endforeach()
execute_process(COMMAND make -C ${make_dir} -q KVO=${KVO} KVOWRAPPER=${KVOWRAPPER} VERSION=9.9.9
                RESULT_VARIABLE stale)
file(TOUCH ${make_dir}/resource.h)
execute_process(COMMAND make -C ${make_dir} -q KVO=${KVO} KVOWRAPPER=${KVOWRAPPER} VERSION=9.9.9
                RESULT_VARIABLE touched)
if(NOT touched EQUAL 1)
  message(FATAL_ERROR "a changed resource.h rebuilds nothing")
endif()
run(${make} clean)
expect_none(${make_dir} "*-processed.rsrc" "*.res")

# CMake, with every generator there is here: variants, a changed companion, clean; the source
# tree stays clean.
set(generators "Unix Makefiles")
if(NINJA)
  list(APPEND generators Ninja)
endif()
foreach(generator IN LISTS generators)
  string(REPLACE " " "-" build ${WORK_DIR}/cmake-${generator})
  run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${build} -G ${generator} -DKVO=${KVO}
      -DKVOWRAPPER=${KVOWRAPPER})
  run(${CMAKE_COMMAND} --build ${build} -j 8)
  expect_resource(${build}/app.res 2.1.0 full)
  expect_resource(${build}/app-debug.res 2.1.0 debug)
  expect_resource(${build}/app-release.res 2.1.0 release)
  file(TIMESTAMP ${build}/app.res before "%s")
  execute_process(COMMAND ${CMAKE_COMMAND} -E sleep 1.1)
  file(TOUCH ${SOURCE_DIR}/resource.h)
  run(${CMAKE_COMMAND} --build ${build})
  file(TIMESTAMP ${build}/app.res after "%s")
  if(after STREQUAL before)
    message(FATAL_ERROR "${generator}: a changed resource.h rebuilds nothing")
  endif()
  run(${CMAKE_COMMAND} --build ${build} --target clean)
  expect_none(${build} "*.rsrc" "*.res")
endforeach()
expect_none(${SOURCE_DIR} "*-processed.rsrc")

# Meson with Ninja.
if(MESON AND NINJA)
  set(build ${WORK_DIR}/meson)
  run(${MESON} setup ${build} ${SOURCE_DIR} -Dkvo=${KVO} -Dkvowrapper=${KVOWRAPPER})
  run(${MESON} compile -C ${build})
  expect_resource(${build}/app.res 2.1.0 full)
  expect_resource(${build}/app-debug.res 2.1.0 debug)
  expect_resource(${build}/app-release.res 2.1.0 release)
  run(${NINJA} -C ${build} -t clean)
  expect_none(${build} "*.rsrc" "*.res")
  expect_none(${SOURCE_DIR} "*-processed.rsrc")
else()
  message(WARNING "meson or ninja not found: the Meson recipe is not built")
endif()
