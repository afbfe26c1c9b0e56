# Writes the .def file of the 32-bit DLL: every exported __stdcall entry
# ("Name@N": JVM_OnLoad, Agent_OnLoad and the JNI natives) under its plain
# name "Name" and its decorated name "_Name@N" besides the "Name@N" that the
# compiler exports. Arguments: NM (the toolchain's nm), OBJECTS (a file
# listing the object files, one a line), OUT (the .def file).
file(STRINGS ${OBJECTS} objects)
set(entries "")
foreach(object ${objects})
  execute_process(COMMAND ${NM} -g --defined-only ${object} OUTPUT_VARIABLE symbols
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${object}")
  endif()
  # nm shows the C names of i686 with their leading underscore.
  string(REGEX MATCHALL "[ \t]T _((Java_|JVM_OnLoad|Agent_OnLoad|Agent_OnUnload|JNI_OnLoad)[A-Za-z0-9_]*@[0-9]+)"
         found "${symbols}")
  foreach(line ${found})
    string(REGEX REPLACE "^[ \t]T _" "" name "${line}")
    list(APPEND entries ${name})
  endforeach()
endforeach()
list(REMOVE_DUPLICATES entries)
list(SORT entries)
set(text "EXPORTS\n")
foreach(name ${entries})
  string(REGEX REPLACE "@[0-9]+$" "" plain "${name}")
  string(APPEND text "  ${plain} = ${name}\n  _${name} = ${name}\n")
endforeach()
file(WRITE ${OUT}.new "${text}")
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different ${OUT}.new ${OUT})
