# What each demo of the Makefile runs, and nothing more, so that a first `make demo` on a
# fresh clone builds a handful of programs instead of every test and benchmark.
#
# hbt_demo(NAME [ALSO OTHER_DEMO...] PROGRAMS TARGET...) makes the target NAME-programs;
# `make NAME` builds it and runs scripts/NAME.sh. ALSO names demos whose script this one runs
# first (their programs come along). A new demo is a line here, a name in the Makefile's
# DEMOS and its script.
function(hbt_demo NAME)
  cmake_parse_arguments(D "" "" "PROGRAMS;ALSO" ${ARGN})
  add_custom_target(${NAME}-programs)
  foreach(other IN LISTS D_ALSO)
    add_dependencies(${NAME}-programs ${other}-programs)
  endforeach()
  foreach(program IN LISTS D_PROGRAMS)
    if(NOT TARGET ${program})
      message(FATAL_ERROR "demo ${NAME} runs ${program}, which this tree does not build")
    endif()
    add_dependencies(${NAME}-programs ${program})
  endforeach()
endfunction()

# The simulated plant, the configuration tools, the poller and the host library hbtio loads.
hbt_demo(demo PROGRAMS mcsim hbtcfg hbtreg hbtio HBTSPOLL HBTSTSR)
# The plant through the OPC server: its client and registration.
hbt_demo(demo-opc ALSO demo PROGRAMS HBTOPC hbtopc hbtregsvr)
# The plant through the OPC UA server: the library it loads, the service and its client.
hbt_demo(demo-ua ALSO demo PROGRAMS hbtpoints hbtua)
# The plant published to a local Mosquitto by the Sparkplug B edge node.
hbt_demo(demo-mqtt ALSO demo PROGRAMS hbtpoints hbtmqtt)
# The configuration editor on the plant.
hbt_demo(editor ALSO demo PROGRAMS HBTDIDW)
