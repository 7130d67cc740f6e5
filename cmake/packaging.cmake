# The installed tree: programs in bin/, libraries in lib/, DEFAULT.HBT and the help page in
# share/hbt/, and HBT.inf at its root naming those folders. It is at once the installation
# media (`make dist` writes it to build/dist) and the content of the Debian package
# (`make package`, under /opt/hbt). Run paths are relative ($ORIGIN), so the programs find
# the libraries both in this tree and in the flat folder InstallDriver copies them to.

# File named in HBT.inf -> targets that may build it (the first that exists wins).
set(hbt_media_programs HBTSPOLL hbtio hbtcfg hbtreg hbtregsvr hbtopc mcsim HBTDIDW)
set(hbt_media_libraries "HBTSTSR.so=HBTSTSR" "HBTOPC.so=HBTOPC" "libhbtcom.so=hbtcom,com")

set(hbt_installed_programs hbtsetup)
set(hbt_installed_libraries setup_library)
set(hbt_left_out)
foreach(program IN LISTS hbt_media_programs)
  if(TARGET ${program})
    list(APPEND hbt_installed_programs ${program})
  else()
    list(APPEND hbt_left_out ${program})
  endif()
endforeach()
foreach(entry IN LISTS hbt_media_libraries)
  string(REPLACE "=" ";" pair "${entry}")
  list(GET pair 0 file)
  list(GET pair 1 candidates)
  string(REPLACE "," ";" candidates "${candidates}")
  set(found "")
  foreach(candidate IN LISTS candidates)
    if(NOT found AND TARGET ${candidate})
      get_target_property(type ${candidate} TYPE)
      if(type STREQUAL "SHARED_LIBRARY")
        set(found ${candidate})
      endif()
    endif()
  endforeach()
  if(found)
    list(APPEND hbt_installed_libraries ${found})
  else()
    list(APPEND hbt_left_out ${file})
  endif()
endforeach()
if(hbt_left_out)
  message(STATUS "Installation media leave out what this tree does not build: ${hbt_left_out}")
endif()

set_target_properties(${hbt_installed_programs} PROPERTIES INSTALL_RPATH "$ORIGIN:$ORIGIN/../lib")
set_target_properties(${hbt_installed_libraries} PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS ${hbt_installed_programs} RUNTIME DESTINATION bin)
install(TARGETS ${hbt_installed_libraries} LIBRARY DESTINATION lib)

# The OPC UA service (Linux only, beside the installation media's own files): the libraries
# it loads, its launchers, and its folder with the npm packages as npm ci installed them.
if(TARGET hbtua AND TARGET hbtpoints)
  set_target_properties(hbtpoints PROPERTIES INSTALL_RPATH "$ORIGIN")
  install(TARGETS hbtpoints LIBRARY DESTINATION lib)
  install(PROGRAMS ${CMAKE_BINARY_DIR}/bin/hbtua ${CMAKE_BINARY_DIR}/bin/hbtua-client DESTINATION bin)
  install(CODE "if(NOT EXISTS \"${HBTUA_DIR}/node_modules/.hbt-installed\")
    message(WARNING \"the npm packages of hbtua are not installed: bin/hbtua will not run\")
  endif()")
  install(DIRECTORY ${HBTUA_DIR}/ DESTINATION lib/hbtua USE_SOURCE_PERMISSIONS
    PATTERN .install.lock EXCLUDE)
endif()

# HBT.inf of this build: the shipped file with the files not built here commented out.
set(hbt_media_inf ${CMAKE_BINARY_DIR}/setup/HBT.inf)
add_custom_command(OUTPUT ${hbt_media_inf}
  COMMAND hbtmedia leave-out ${CMAKE_SOURCE_DIR}/setup/HBT.inf ${hbt_media_inf} ${hbt_left_out}
  DEPENDS hbtmedia ${CMAKE_SOURCE_DIR}/setup/HBT.inf
  COMMENT "HBT.inf for the media of this build")
# The default configuration, made by the configuration tool from its CSV form, with a
# registry of its own so that nothing of the builder's is read or written.
set(hbt_default_config ${CMAKE_BINARY_DIR}/share/hbt/DEFAULT.HBT)
add_custom_command(OUTPUT ${hbt_default_config}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/share/hbt ${CMAKE_BINARY_DIR}/setup/registry
  COMMAND ${CMAKE_COMMAND} -E env HBT_REGISTRY_DIR=${CMAKE_BINARY_DIR}/setup/registry
          $<TARGET_FILE:hbtcfg> import ${CMAKE_SOURCE_DIR}/setup/media/DEFAULT.csv -o ${hbt_default_config}
          --separator , --errors ${CMAKE_BINARY_DIR}/setup/DEFAULT.ERR
  DEPENDS hbtcfg ${CMAKE_SOURCE_DIR}/setup/media/DEFAULT.csv
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/setup
  COMMENT "DEFAULT.HBT from setup/media/DEFAULT.csv")
add_custom_target(hbt_media_files ALL DEPENDS ${hbt_media_inf} ${hbt_default_config})

install(FILES ${hbt_media_inf} DESTINATION .)
install(FILES ${CMAKE_SOURCE_DIR}/setup/media/HBTDOC.html ${hbt_default_config} DESTINATION share/hbt)

add_custom_target(dist
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${CMAKE_BINARY_DIR}/dist
  COMMAND ${CMAKE_COMMAND} --install ${CMAKE_BINARY_DIR} --prefix ${CMAKE_BINARY_DIR}/dist --strip
  COMMAND hbtmedia check ${CMAKE_BINARY_DIR}/dist
  COMMENT "Installation media in ${CMAKE_BINARY_DIR}/dist"
  VERBATIM)
add_dependencies(dist hbt_media_files hbtmedia ${hbt_installed_programs} ${hbt_installed_libraries})
if(TARGET hbtua AND TARGET hbtpoints)
  add_dependencies(dist hbtua hbtpoints)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME hbt)
set(CPACK_PACKAGE_VENDOR Velmora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Brenlow Ethernet Driver (HBT) for Mitsubishi MELSEC PLCs")
set(CPACK_PACKAGING_INSTALL_PREFIX /opt/hbt)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Velmora support <support@velmora.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/lib)
include(CPack)

if(TARGET setup_itest)
  add_dependencies(setup_itest hbt_media_files hbtmedia ${hbt_installed_programs} ${hbt_installed_libraries})
endif()
