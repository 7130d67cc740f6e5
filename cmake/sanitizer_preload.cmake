# hbt_sanitizer_preload(<env_var> <possible_var>): the environment that lets a program not
# built with the sanitizers (node, python) load this build's libraries, and whether it can at
# all. A sanitized shared library expects the sanitizer's runtime to be the first library of
# the process; preloading it gives that for the address sanitizer. The thread sanitizer's
# runtime cannot come into a program that was not started with it: node preloading it dies
# at once, and loading it with the library fails ("cannot allocate memory in static TLS
# block"). Empty and possible in a build without sanitizers.
#
# Leak checking stays off there: the host program's own allocations, never freed at exit
# because it need not, would all be reported as our leaks.
function(hbt_sanitizer_preload out_var possible_var)
  set(${out_var} "" PARENT_SCOPE)
  set(${possible_var} TRUE PARENT_SCOPE)
  set(flags "${CMAKE_CXX_FLAGS} ${CMAKE_SHARED_LINKER_FLAGS}")
  if(flags MATCHES "-fsanitize=[a-z,]*thread")
    set(${possible_var} FALSE PARENT_SCOPE)
    return()
  endif()
  if(NOT flags MATCHES "-fsanitize=[a-z,]*address")
    return()
  endif()
  # clang's shared runtime is the one shared_sanitizer_runtime.cmake found; gcc's is libasan.
  set(runtime "${hbt_sanitizer_runtime}")
  if(NOT runtime)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
      OUTPUT_VARIABLE runtime OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
  if(NOT IS_ABSOLUTE "${runtime}" OR NOT EXISTS "${runtime}")
    message(FATAL_ERROR "${CMAKE_CXX_COMPILER} has no shared address sanitizer runtime to preload")
  endif()
  set(${out_var} LD_PRELOAD=${runtime} ASAN_OPTIONS=detect_leaks=0 PARENT_SCOPE)
endfunction()
