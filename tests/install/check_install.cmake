# Installs the runtime and development components of the build tree into a
# scratch prefix, checks that the installed programs start on their own,
# builds the host program SRC against it with find_package(VmbOrlan), and
# runs it (PROGRAM, default orlan-host). With QTPATHS (Qt's qtpaths tool),
# also checks where the Designer plugin lands.
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
# The installed programs start without ldconfig or LD_LIBRARY_PATH: they find
# the installed libraries themselves.
foreach(program orlan-import orlan-newdb)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH ${prefix}/bin/${program} --version
    RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
  if(rc)
    message(FATAL_ERROR "the installed ${program} does not start by itself: ${err}")
  endif()
endforeach()
# The public header set, and nothing of the engine, the checker or the
# database layer.
file(GLOB_RECURSE installed RELATIVE ${prefix}/include/VmbOrlan ${prefix}/include/VmbOrlan/*)
list(SORT installed)
set(expected checker/resultado_verificacao.h control/configuracao.h control/ctl_orlan.h control/dialogs.h control/events.h control/lista.h
  database/linha_historico.h database/status.h import/resumo_importacao.h widgets/orlan_widget.h widgets/qt_dialogs.h)
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

# The Designer plugin lands in the folder where Qt's Designer looks for
# plugins (as Qt itself reports it), and finds the widget library from
# there: installed under Qt's own prefix, as the packages do, where it looks
# nowhere but beside itself, and under the configured prefix. DESTDIR keeps
# every file in the scratch folder.
if(QTPATHS)
  execute_process(COMMAND ${QTPATHS} --plugin-dir OUTPUT_VARIABLE plugins OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND ${QTPATHS} --query QT_INSTALL_PREFIX OUTPUT_VARIABLE qt_prefix OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${plugins}" OR NOT IS_ABSOLUTE "${qt_prefix}")
    message(FATAL_ERROR "${QTPATHS} did not tell Qt's folders")
  endif()
  foreach(where qt configured)
    set(destdir ${WORK}/destdir-${where})
    set(args)
    if(where STREQUAL qt)
      set(args --prefix ${qt_prefix})
    endif()
    foreach(component runtime designer)
      execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${destdir} ${CMAKE_COMMAND} --install ${BIN} ${args}
        --component ${component} RESULT_VARIABLE rc OUTPUT_QUIET)
      if(rc)
        message(FATAL_ERROR "install of the ${component} component under the ${where} prefix failed")
      endif()
    endforeach()
    set(plugin ${destdir}${plugins}/designer/liborlan_designer.so)
    if(NOT EXISTS ${plugin})
      message(FATAL_ERROR "no Designer plugin in ${plugins}/designer under the ${where} prefix")
    endif()
    file(READ_ELF ${plugin} RUNPATH runpath)
    string(REPLACE ":" ";" runpath "${runpath}")
    set(found FALSE)
    foreach(dir IN LISTS runpath)
      if(where STREQUAL qt AND NOT dir MATCHES "^\\$ORIGIN")
        message(FATAL_ERROR "the plugin installed under Qt's prefix looks in ${dir}")
      endif()
      string(REPLACE "$ORIGIN" "${plugins}/designer" dir "${dir}")
      if(EXISTS ${destdir}${dir}/libVmbOrlanWidgets.so.1)
        set(found TRUE)
      endif()
    endforeach()
    if(NOT found)
      message(FATAL_ERROR "the plugin installed under the ${where} prefix does not find the widget library (RUNPATH ${runpath})")
    endif()
  endforeach()
endif()
