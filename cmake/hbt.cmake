# Helpers shared by every folder.

# hbt_test(NAME name SOURCES ... LIBS ... [LABELS unit|integration ...])
# One GoogleTest binary; its cases are listed by CTest when the tests run, so a
# build never has to execute test binaries.
function(hbt_test)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT HBT_BUILD_TESTS)
    return()
  endif()
  if(NOT T_LABELS)
    set(T_LABELS unit)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_compile_definitions(${T_NAME} PRIVATE
    HBT_BIN_DIR="${CMAKE_BINARY_DIR}/bin"
    HBT_LIB_DIR="${CMAKE_BINARY_DIR}/lib"
    HBT_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  gtest_discover_tests(${T_NAME}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT})
endfunction()
