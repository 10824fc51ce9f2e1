# Writes a delay-import library for one system DLL, naming every function that MinGW's own import
# library for it names: a call added anywhere in the program is then delay-loaded too, and the DLL
# is loaded the first time one of its functions is called, never when the program starts.
#   cmake -DNM=... -DDLLTOOL=... -DIMPORT_LIBRARY=libuser32.a -DDLL=user32.dll
#         -DOUTPUT=libuser32_delayed.a -P delay_import_library.cmake
foreach(variable NM DLLTOOL IMPORT_LIBRARY DLL OUTPUT)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "delay_import_library.cmake needs -D${variable}=...")
  endif()
endforeach()

execute_process(COMMAND ${NM} ${IMPORT_LIBRARY} OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} could not read ${IMPORT_LIBRARY}")
endif()
# Each function has an import stub whose pointer is "__imp_<name>".
string(REGEX MATCHALL " I __imp_[A-Za-z0-9_]+" stubs "${symbols}")
set(names "")
foreach(stub IN LISTS stubs)
  string(REPLACE " I __imp_" "" name "${stub}")
  list(APPEND names ${name})
endforeach()
list(REMOVE_DUPLICATES names)
list(LENGTH names count)
if(count LESS 10)
  message(FATAL_ERROR "${IMPORT_LIBRARY} names only ${count} functions: not an import library?")
endif()
list(JOIN names "\n" exports)
file(WRITE ${OUTPUT}.def "LIBRARY ${DLL}\nEXPORTS\n${exports}\n")
execute_process(COMMAND ${DLLTOOL} --input-def ${OUTPUT}.def --dllname ${DLL}
                        --output-delaylib ${OUTPUT}
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${DLLTOOL} could not write ${OUTPUT}")
endif()
