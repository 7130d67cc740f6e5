# The installed tree: programs in bin/, libraries in lib/, DEFAULT.HBT and the help page in
# share/hbt/, and HBT.inf at its root naming those folders. It is at once the installation
# media (`make dist` writes it to build/dist) and the content of the Debian package
# (`make package`, under /opt/hbt, with the package's own files from packaging/). Run paths are relative ($ORIGIN), so the programs find
# the libraries both in this tree and in the flat folder InstallDriver copies them to.

# File named in HBT.inf -> targets that may build it (the first that exists wins).
set(hbt_media_programs HBTSPOLL hbtio hbtcfg hbtreg hbtregsvr hbtopc mcsim hbtmqtt HBTDIDW)
set(hbt_media_libraries "HBTSTSR.so=HBTSTSR" "HBTOPC.so=HBTOPC" "libhbtcom.so=hbtcom,com" "libhbtpoints.so=hbtpoints")

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
install(TARGETS ${hbt_installed_programs} RUNTIME DESTINATION bin COMPONENT media)
install(TARGETS ${hbt_installed_libraries} LIBRARY DESTINATION lib COMPONENT media)

# The OPC UA service, beside what HBT.inf lists (libhbtpoints.so, which it loads, is there):
# its launchers and its folder with the npm packages as npm ci installed them. A folder tree
# of Node packages is no file of HBT.inf's flat list, so InstallDriver does not copy it; the
# service runs from this tree (the media, the Debian package under /opt/hbt).
if(TARGET hbtua AND TARGET hbtpoints)
  install(PROGRAMS ${CMAKE_BINARY_DIR}/bin/hbtua ${CMAKE_BINARY_DIR}/bin/hbtua-client DESTINATION bin
    COMPONENT media)
  install(CODE "if(NOT EXISTS \"${HBTUA_DIR}/node_modules/.hbt-installed\")
    message(WARNING \"the npm packages of hbtua are not installed: bin/hbtua will not run\")
  endif()" COMPONENT media)
  # Only what Node loads: not the packages' TypeScript sources and declarations or source
  # maps (three files in five of the tree, which every packaging and checking step walks),
  # nor koffi's native module for musl (this tree runs on glibc, and the musl one would make
  # the package depend on a C library Debian does not have).
  install(DIRECTORY ${HBTUA_DIR}/ DESTINATION lib/hbtua USE_SOURCE_PERMISSIONS COMPONENT media
    PATTERN .install.lock EXCLUDE
    PATTERN .npmignore EXCLUDE
    PATTERN *.ts EXCLUDE
    PATTERN *.map EXCLUDE
    PATTERN musl_x64 EXCLUDE)
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

install(FILES ${hbt_media_inf} DESTINATION . COMPONENT media)
install(FILES ${CMAKE_SOURCE_DIR}/setup/media/HBTDOC.html ${hbt_default_config} DESTINATION share/hbt COMPONENT media)
# A documented hbtmqtt settings file to start from (/opt/hbt/share/hbt/hbtmqtt.conf).
install(FILES ${CMAKE_SOURCE_DIR}/examples/hbtmqtt.conf DESTINATION share/hbt COMPONENT media)

add_custom_target(dist
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${CMAKE_BINARY_DIR}/dist
  COMMAND ${CMAKE_COMMAND} --install ${CMAKE_BINARY_DIR} --prefix ${CMAKE_BINARY_DIR}/dist --component media --strip
  COMMAND hbtmedia check ${CMAKE_BINARY_DIR}/dist
  COMMENT "Installation media in ${CMAKE_BINARY_DIR}/dist"
  VERBATIM)
add_dependencies(dist hbt_media_files hbtmedia ${hbt_installed_programs} ${hbt_installed_libraries})
if(TARGET hbtua)
  add_dependencies(dist hbtua)
endif()

# ---- The Debian package -------------------------------------------------------------------
# Besides the /opt tree: the systemd units of the network services, the documentation Debian
# asks of every package, and the services' first settings files. They have absolute paths and their own
# component, so that `make dist` and the media tests (component media) never put them into the
# build machine's system folders; the package holds both components.
set(hbt_packaging ${CMAKE_SOURCE_DIR}/packaging)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(HBT_DEB_VERSION ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})
configure_file(${hbt_packaging}/debian/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog.Debian @ONLY)
set(hbt_changelog ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz)
add_custom_command(OUTPUT ${hbt_changelog}
  COMMAND gzip -9 -n -k -f changelog.Debian
  DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.Debian
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/packaging
  COMMENT "changelog.Debian.gz"
  VERBATIM)
add_custom_target(hbt_debian_files ALL DEPENDS ${hbt_changelog})
install(FILES ${hbt_packaging}/debian/copyright ${hbt_changelog}
  DESTINATION /usr/share/doc/hbt COMPONENT debian)
install(FILES ${hbt_packaging}/debian/lintian-overrides
  DESTINATION /usr/share/lintian/overrides RENAME hbt COMPONENT debian)
# The services' settings files: postinst makes /etc/hbt/NAME.conf from these once, as it makes
# DEFAULT.HBT, so that dpkg never asks about or replaces what the user wrote there. The edge
# node's carries the documented settings of examples/hbtmqtt.conf under its service header.
set(hbt_service_configs ${CMAKE_BINARY_DIR}/packaging/services)
file(READ ${hbt_packaging}/examples/hbtmqtt.conf hbt_mqtt_service_header)
file(READ ${CMAKE_SOURCE_DIR}/examples/hbtmqtt.conf hbt_mqtt_settings)
file(CONFIGURE OUTPUT ${hbt_service_configs}/hbtmqtt.conf CONTENT "${hbt_mqtt_service_header}\n${hbt_mqtt_settings}" @ONLY)
configure_file(${hbt_packaging}/examples/hbtua.conf ${hbt_service_configs}/hbtua.conf COPYONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${hbt_packaging}/examples/hbtmqtt.conf ${CMAKE_SOURCE_DIR}/examples/hbtmqtt.conf)
install(FILES ${hbt_service_configs}/hbtua.conf ${hbt_service_configs}/hbtmqtt.conf
  DESTINATION /opt/hbt/share/hbt/services COMPONENT debian)
install(FILES ${hbt_packaging}/systemd/hbtua.service ${hbt_packaging}/systemd/hbtmqtt.service
  DESTINATION /lib/systemd/system COMPONENT debian)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME hbt)
set(CPACK_PACKAGE_VENDOR Velmora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Brenlow Ethernet Driver (HBT) for Mitsubishi MELSEC PLCs")
set(CPACK_PACKAGE_DESCRIPTION "\
The Brenlow Ethernet Driver connects SCADA hosts, OPC clients and network
services to Mitsubishi MELSEC A-series and Q-series PLCs over Ethernet (MC
protocol, 1E and 3E frames, UDP or TCP). It holds the poller HBTSPOLL, the
host data-access library HBTSTSR.so, an in-process OPC DA server, the
configuration editor HBTDIDW, an installer and command-line tools, under
/opt/hbt, and systemd units for its OPC UA server and MQTT Sparkplug B edge
node, which run as the user hbt once configured in /etc/hbt.")
# Installed with DESTDIR, so that the absolute paths above land in the package and not on the
# machine that builds it; the prefix is then CPACK_INSTALL_PREFIX.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /opt/hbt)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Velmora support <support@velmora.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://velmora.invalid/brenlow")
# adduser makes the services' user; the help launcher opens its page with xdg-open.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, xdg-utils")
# The OPC UA server runs on the system's Node.js; its SDK needs version 20 or later.
if(TARGET hbtua AND TARGET hbtpoints)
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", nodejs (>= 20)")
endif()
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/lib)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${hbt_packaging}/debian/postinst ${hbt_packaging}/debian/prerm ${hbt_packaging}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# `make package` checks the package with lintian when it is installed (cpack -D
# CPACK_HBT_LINTIAN=OFF leaves it out).
set(CPACK_HBT_LINTIAN ON)
set(CPACK_POST_BUILD_SCRIPTS ${hbt_packaging}/lintian_check.cmake)
include(CPack)

if(TARGET setup_itest)
  add_dependencies(setup_itest hbt_media_files hbtmedia ${hbt_installed_programs} ${hbt_installed_libraries})
endif()

# The package's tests build it twice, check it with lintian, and install, upgrade, remove and
# purge it in a scratch root: minutes, so `make test-package` runs them, not `make test`.
if(HBT_BUILD_TESTS)
  file(GLOB hbt_package_tests CONFIGURE_DEPENDS ${hbt_packaging}/tests/*.cc)
  add_executable(hbt_package_test ${hbt_package_tests})
  target_include_directories(hbt_package_test PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_libraries(hbt_package_test PRIVATE testsupport GTest::gtest GTest::gtest_main)
  set_target_properties(hbt_package_test PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_compile_definitions(hbt_package_test PRIVATE
    HBT_CPACK="${CMAKE_CPACK_COMMAND}" HBT_BUILD_DIR="${CMAKE_BINARY_DIR}")
  add_dependencies(hbt_package_test hbt_media_files hbt_debian_files ${hbt_installed_programs}
                   ${hbt_installed_libraries})
endif()
