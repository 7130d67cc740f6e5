# clang links its sanitizer runtime into programs only, by default: a shared library built
# with --no-undefined then finds none of the runtime's symbols. The clang sanitizer build
# links every binary against the runtime's shared library instead (-shared-libsan, what gcc
# does by default), so that the libraries keep their --no-undefined check. That runtime lives
# in clang's own resource directory, which the loader does not search: every binary carries
# it as a run path.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang" AND CMAKE_EXE_LINKER_FLAGS MATCHES "-shared-libsan")
  execute_process(
    COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libclang_rt.asan-${CMAKE_SYSTEM_PROCESSOR}.so
    OUTPUT_VARIABLE hbt_sanitizer_runtime
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${hbt_sanitizer_runtime}" OR NOT EXISTS "${hbt_sanitizer_runtime}")
    message(FATAL_ERROR "-shared-libsan: ${CMAKE_CXX_COMPILER} has no shared address sanitizer runtime")
  endif()
  get_filename_component(hbt_sanitizer_runtime_dir "${hbt_sanitizer_runtime}" DIRECTORY)
  add_link_options("LINKER:-rpath,${hbt_sanitizer_runtime_dir}")
endif()
