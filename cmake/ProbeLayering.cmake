# Proves that cmake/CheckLayering.cmake fails on forbidden edges: plants a
# small tree with some and runs the check on it, then plants a cycle in the
# graph. Fails when the check passes, misses a planted edge, or flags an
# allowed one.
#   cmake -DWORK=<empty folder> -P ProbeLayering.cmake
cmake_minimum_required(VERSION 3.25)
if(NOT WORK)
  message(FATAL_ERROR "usage: cmake -DWORK=<folder> -P ProbeLayering.cmake")
endif()
set(check ${CMAKE_CURRENT_LIST_DIR}/CheckLayering.cmake)
set(tree ${WORK}/tree)
file(REMOVE_RECURSE ${WORK})

# Headers the planted includes name.
foreach(header ui/frmmain.h scan/mailboxscanner.h mail/mimetext.h state/scanlog.h pop3/host/tarnpostsite.h
               pop3/include/tarnpostctl.h platform/automation/dispatch.h)
  file(WRITE ${tree}/${header} "#pragma once\n")
endforeach()
# Forbidden: upwards, a sibling reached through its parent's name, the old
# cycle, a ui header by bare name, a folder outside the graph, test code, a
# widget in the scan.
file(WRITE ${tree}/mail/upward.cpp "#include \"scan/mailboxscanner.h\"\n")
file(WRITE ${tree}/pop3/reacheshost.cpp "#include \"pop3/host/tarnpostsite.h\"\n")
file(WRITE ${tree}/platform/automation/knowscontrol.cpp "#include \"pop3/include/tarnpostctl.h\"\n")
file(WRITE ${tree}/state/byname.cpp "  #  include <frmmain.h>\n")
file(WRITE ${tree}/stray/CMakeLists.txt "\n")
file(WRITE ${tree}/demo/usestests.cpp "#include \"tests/support/dovecotserver.h\"\n")
file(WRITE ${tree}/scan/widget.cpp "#include <QLabel>\n")
# Allowed: downwards directly and through the graph, Qt, a header of its own.
file(WRITE ${tree}/learn/fine.cpp "#include \"mail/mimetext.h\"\n#include \"state/scanlog.h\"\n#include <QString>\n")
file(WRITE ${tree}/ui/fine.cpp "#include \"platform/automation/dispatch.h\"\n#include \"frmmain.h\"\n")

function(run_check expect_text)
  execute_process(COMMAND ${CMAKE_COMMAND} ${ARGN} -P ${check}
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(out "${out}${err}")
  if(result EQUAL 0)
    message(FATAL_ERROR "The layering check passed a planted tree:\n${out}")
  endif()
  foreach(expected IN LISTS expect_text)
    string(FIND "${out}" "${expected}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "The layering check missed \"${expected}\":\n${out}")
    endif()
  endforeach()
  set(check_output "${out}" PARENT_SCOPE)
endfunction()

run_check("mail/upward.cpp includes scan/mailboxscanner.h: mail may not reach scan;pop3/reacheshost.cpp includes pop3/host/tarnpostsite.h: pop3 may not reach pop3/host;platform/automation/knowscontrol.cpp includes pop3/include/tarnpostctl.h;state/byname.cpp includes frmmain.h: state may not reach ui;stray/ is not in the layer graph;demo/usestests.cpp includes tests/support/dovecotserver.h: demo may not reach tests;scan/widget.cpp includes QLabel: scan runs without widgets"
          -DROOT=${tree})
foreach(allowed learn/fine.cpp ui/fine.cpp)
  string(FIND "${check_output}" "${allowed}" at)
  if(NOT at EQUAL -1)
    message(FATAL_ERROR "The layering check flagged an allowed include in ${allowed}:\n${check_output}")
  endif()
endforeach()

# A graph with a cycle is refused whatever the sources.
file(REMOVE_RECURSE ${tree}/mail/upward.cpp ${tree}/pop3/reacheshost.cpp ${tree}/platform/automation/knowscontrol.cpp
     ${tree}/state/byname.cpp ${tree}/stray ${tree}/demo/usestests.cpp ${tree}/scan/widget.cpp)
file(WRITE ${WORK}/cyclic.cmake
     "include(${CMAKE_CURRENT_LIST_DIR}/LayerGraph.cmake)\nlist(APPEND QUELLMAIL_LAYER_ARROWS \"state: ui\")\n")
run_check("lead back to it" -DROOT=${tree} -DGRAPH=${WORK}/cyclic.cmake)

message(STATUS "The layering check fails on every planted edge and on a cycle")
