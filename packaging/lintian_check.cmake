# Run by CPack once it has built the Debian package (CPACK_POST_BUILD_SCRIPTS): lintian, when
# it is installed, must find no error but those the /opt layout of a vendor's package brings.
# Warnings are shown and let pass.
set(hbt_accepted_errors
  # The driver's tree is installation media too, relocatable as a whole: /opt/hbt.
  dir-or-file-in-opt)

if(NOT CPACK_HBT_LINTIAN)
  return()
endif()
find_program(HBT_LINTIAN_PROGRAM lintian)
if(NOT HBT_LINTIAN_PROGRAM)
  message(STATUS "lintian is not installed, so the package is not checked "
                 "(scripts/install-deps.sh package installs it)")
  return()
endif()
foreach(hbt_package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT hbt_package MATCHES "\\.deb$")
    continue()
  endif()
  # Every tag, informational ones too (the hardening of the programs shows there); the
  # errors are judged below.
  execute_process(COMMAND ${HBT_LINTIAN_PROGRAM} --tag-display-limit 0 --display-info --fail-on none ${hbt_package}
    OUTPUT_VARIABLE hbt_report ERROR_VARIABLE hbt_report RESULT_VARIABLE hbt_status)
  message(STATUS "lintian ${hbt_package}:\n${hbt_report}")
  if(NOT hbt_status EQUAL 0)
    message(FATAL_ERROR "lintian could not check ${hbt_package} (exit status ${hbt_status})")
  endif()
  string(REPLACE "\n" ";" hbt_lines "${hbt_report}")
  set(hbt_refused)
  foreach(hbt_line IN LISTS hbt_lines)
    if(hbt_line MATCHES "^E: [^ ]+: ([^ ]+)")
      list(FIND hbt_accepted_errors "${CMAKE_MATCH_1}" hbt_accepted)
      if(hbt_accepted EQUAL -1)
        list(APPEND hbt_refused "${hbt_line}")
      endif()
    endif()
  endforeach()
  if(hbt_refused)
    list(JOIN hbt_refused "\n" hbt_refused)
    message(FATAL_ERROR "lintian finds errors in ${hbt_package}:\n${hbt_refused}")
  endif()
  message(STATUS "lintian: no error in ${hbt_package} but those of the /opt layout")
endforeach()
