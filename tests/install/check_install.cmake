# Installs the runtime and development components of the build tree into a
# scratch prefix, builds the host program SRC against it with
# find_package(VmbOrlan), and runs it (PROGRAM, default orlan-host).
if(NOT PROGRAM)
  set(PROGRAM orlan-host)
endif()
set(prefix ${WORK}/prefix)
file(REMOVE_RECURSE ${WORK})
foreach(component runtime dev)
  execute_process(COMMAND ${CMAKE_COMMAND} --install ${BIN} --prefix ${prefix} --component ${component}
    RESULT_VARIABLE rc OUTPUT_QUIET)
  if(rc)
    message(FATAL_ERROR "install of the ${component} component failed")
  endif()
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SRC} -B ${WORK}/host -DCMAKE_PREFIX_PATH=${prefix} RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "find_package(VmbOrlan) failed")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK}/host RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "the host program did not build against the installed headers")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
          LD_LIBRARY_PATH=${prefix}/lib:${prefix}/lib/x86_64-linux-gnu ${WORK}/host/${PROGRAM}
  RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "the host program failed")
endif()
