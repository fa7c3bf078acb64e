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
# The public header set, and nothing of the engine, the checker or the
# database layer.
file(GLOB_RECURSE installed RELATIVE ${prefix}/include/VmbOrlan ${prefix}/include/VmbOrlan/*)
list(SORT installed)
set(expected checker/resultado_verificacao.h control/configuracao.h control/ctl_orlan.h control/dialogs.h control/events.h control/lista.h
  database/status.h import/resumo_importacao.h widgets/orlan_widget.h widgets/qt_dialogs.h)
if(NOT installed STREQUAL expected)
  message(FATAL_ERROR "installed headers: ${installed}; expected: ${expected}")
endif()
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
