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
  set(flags "${CMAKE_CXX_FLAGS} ${CMAKE_SHARED_LINKER_FLAGS}")
  set(runtime_name)
  if(flags MATCHES "-fsanitize=[a-z,]*address")
    if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
      set(runtime_name libclang_rt.asan-${CMAKE_SYSTEM_PROCESSOR}.so)
    else()
      set(runtime_name libasan.so)
    endif()
    set(options ASAN_OPTIONS=detect_leaks=0)
  elseif(flags MATCHES "-fsanitize=[a-z,]*thread")
    set(${out_var} "" PARENT_SCOPE)
    set(${possible_var} FALSE PARENT_SCOPE)
    return()
  endif()
  set(${possible_var} TRUE PARENT_SCOPE)
  if(NOT runtime_name)
    set(${out_var} "" PARENT_SCOPE)
    return()
  endif()
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime_name}
    OUTPUT_VARIABLE runtime OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${runtime}" OR NOT EXISTS "${runtime}")
    message(FATAL_ERROR "${CMAKE_CXX_COMPILER} has no shared sanitizer runtime ${runtime_name} to preload")
  endif()
  set(${out_var} LD_PRELOAD=${runtime} ${options} PARENT_SCOPE)
endfunction()
