# Writes the setupapi stand-in's exports (setupapi.cpp): its own functions,
# and every other function of Wine's setupapi.dll forwarded to the copy of it
# that the sandbox keeps as wine-setupapi.dll. Run with -DOBJDUMP= -DWINE_DLL=
# -DOUTPUT=.
cmake_minimum_required(VERSION 3.25)
set(own SetupCopyOEMInfW SetupUninstallOEMInfW SetupVerifyInfFileW CMP_WaitNoPendingInstallEvents)
execute_process(COMMAND ${OBJDUMP} -p ${WINE_DLL} OUTPUT_VARIABLE table COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n(.*)" names "${table}")
# The table ends at the first empty line.
string(FIND "${CMAKE_MATCH_1}" "\n\n" end)
string(SUBSTRING "${CMAKE_MATCH_1}" 0 ${end} names)
string(REGEX MATCHALL "\\[ *[0-9]+\\] [A-Za-z0-9_]+" entries "${names}")
set(def "LIBRARY setupapi.dll\nEXPORTS\n")
foreach(function ${own})
  string(APPEND def "    ${function}\n")
endforeach()
foreach(entry ${entries})
  string(REGEX REPLACE ".*\\] " "" function "${entry}")
  if(NOT function IN_LIST own)
    string(APPEND def "    ${function}=wine-setupapi.${function}\n")
  endif()
endforeach()
if(NOT entries)
  message(FATAL_ERROR "${OBJDUMP} lists no exports of ${WINE_DLL}")
endif()
file(WRITE ${OUTPUT} "${def}")
