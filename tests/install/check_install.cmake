# Installs the project's build to a fresh prefix, builds the consumer project
# against the installed package (CMake and pkg-config) and runs it.
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... [-DCONSUMER_FLAGS=...] -P check_install.cmake
# CONSUMER_FLAGS are the compiler flags the library was built with that its
# users need too (the sanitizers).
foreach(var BUILD_DIR SOURCE_DIR WORK_DIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(module nrvq-decoder.so nrvq-metrics.so)
  file(GLOB_RECURSE found ${prefix}/*/${module})
  if(NOT found)
    message(FATAL_ERROR "the module ${module} was not installed")
  endif()
endforeach()
foreach(path include/nrvq/nrvq.h bin/nrvq share/man/man1/nrvq.1 share/bash-completion/completions/nrvq)
  if(NOT EXISTS ${prefix}/${path})
    message(FATAL_ERROR "${path} was not installed")
  endif()
endforeach()
# The public header must stand alone: nothing else of the tree is installed.
file(GLOB_RECURSE headers RELATIVE ${prefix}/include ${prefix}/include/*)
if(NOT headers STREQUAL "nrvq/nrvq.h")
  message(FATAL_ERROR "unexpected installed headers: ${headers}")
endif()

# The Python package, where make install puts it for the interpreter it was
# built for (PYTHON, PYTHON_SITE when the build has it).
if(DEFINED PYTHON_SITE)
  set(ENV{PYTHONPATH} ${prefix}/${PYTHON_SITE})
  run(${PYTHON} -c "import nrvq, nrvq.dask; assert nrvq.__file__.startswith('${prefix}/'); print(nrvq.__version__)")
  unset(ENV{PYTHONPATH})
endif()
find_program(BASH bash)
if(BASH)
  file(WRITE ${WORK_DIR}/complete.sh "source ${prefix}/share/bash-completion/completions/nrvq
COMP_WORDS=(nrvq x --pix-fmt yuv444p1) COMP_CWORD=3
_nrvq && echo \"\${COMPREPLY[*]}\"
")
  run(${BASH} ${WORK_DIR}/complete.sh)
  if(NOT last_output STREQUAL "yuv444p10le\n")
    message(FATAL_ERROR "bash completion gave \"${last_output}\"")
  endif()
endif()

run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/install/consumer -B ${WORK_DIR}/build
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS=${CONSUMER_FLAGS}")
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run(${WORK_DIR}/build/consumer ${WORK_DIR}/frames.yuv)
message(STATUS "CMake consumer: ${last_output}")

find_program(PKG_CONFIG pkg-config)
find_program(CXX NAMES c++ g++)
if(PKG_CONFIG AND CXX)
  file(GLOB_RECURSE pc_files ${prefix}/*/nrvq.pc)
  get_filename_component(pc_dir "${pc_files}" DIRECTORY)
  set(ENV{PKG_CONFIG_PATH} ${pc_dir})
  run(${PKG_CONFIG} --cflags --libs nrvq)
  string(STRIP "${last_output}" flags)
  separate_arguments(flags UNIX_COMMAND "${CONSUMER_FLAGS} ${flags}")
  run(${CXX} ${SOURCE_DIR}/tests/install/consumer/main.cpp ${flags} -o ${WORK_DIR}/consumer_pc)
  run(${WORK_DIR}/consumer_pc ${WORK_DIR}/frames.yuv)
  message(STATUS "pkg-config consumer: ${last_output}")
endif()
file(REMOVE_RECURSE ${WORK_DIR})
