# What `cmake --install` lays out: the programs in bin/, the dialog's desktop entry, icon
# and AppStream metadata, the udev rule for the device's hidraw nodes, the manual pages
# (cmake/ManPages.cmake), and the command line's documents and bash completion. The Debian
# packages (debian/) split this among uvc-hid, uvc-hid-tool and uvc-hid-sim.
include(GNUInstallDirs)

# Directories 0755 whatever the installer's umask (set before any install() takes it).
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(UVC_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING
    "Where the udev rule goes: relative to the install prefix, or absolute")
# The command line's documents, where its manual page says they are.
set(UVC_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/uvc-hid)
set(_packaging ${PROJECT_SOURCE_DIR}/packaging)
set(_generated ${PROJECT_BINARY_DIR}/packaging)

# The programs whose targets this build has.
set(UVC_INSTALLED_PROGRAMS "")
foreach(_name uvc_hid_tool uvc-hid uvc_hid_sim hid_caps)
  if(TARGET ${_name})
    install(TARGETS ${_name} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    list(APPEND UVC_INSTALLED_PROGRAMS ${_name})
  endif()
endforeach()

if(TARGET uvc_hid_tool)
  # The version its --version prints, the one the package carries.
  target_compile_definitions(uvc_hid_tool PRIVATE UVC_VERSION="${PROJECT_VERSION}")
  install(FILES ${_packaging}/uvc_hid_tool.desktop DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/ui/qt/uvc_hid_tool.svg
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)
  # AppStream metadata. Its modalias names the configured device ids in upper case, as the
  # kernel writes modaliases, so a software centre offers the dialog for the device.
  string(TOUPPER ${UVC_VENDOR_ID} UVC_MODALIAS_VENDOR)
  string(TOUPPER ${UVC_PRODUCT_ID} UVC_MODALIAS_PRODUCT)
  set(UVC_METAINFO ${_generated}/org.example.uvc_hid_tool.metainfo.xml)
  configure_file(${_packaging}/uvc_hid_tool.metainfo.xml.in ${UVC_METAINFO} @ONLY)
  install(FILES ${UVC_METAINFO} DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)
endif()

# The udev rule names the device ids of cmake/DeviceIds.cmake (UVC_VENDOR_ID and
# UVC_PRODUCT_ID: four lower-case digits, as udev compares the sysfs text).
configure_file(${_packaging}/70-uvc-hid-tool.rules.in ${_generated}/70-uvc-hid-tool.rules @ONLY)
install(FILES ${_generated}/70-uvc-hid-tool.rules DESTINATION ${UVC_UDEV_RULES_DIR})

include(${CMAKE_CURRENT_LIST_DIR}/ManPages.cmake)

# The command line's documents (its manual page points to them) and its bash completion,
# where bash-completion looks for it when uvc-hid is first completed.
if(TARGET uvc-hid)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/cli.md ${PROJECT_SOURCE_DIR}/docs/install.md
                ${PROJECT_SOURCE_DIR}/docs/hidraw.md DESTINATION ${UVC_DOC_DIR})
  install(FILES ${_packaging}/uvc-hid.bash-completion
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions RENAME uvc-hid)
endif()

if(BUILD_TESTING AND TARGET uvc_hid_tool)
  add_test(NAME packaging.udev_rule_ids COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:uvc_hid_tool>
           -DRULE=${_generated}/70-uvc-hid-tool.rules -P ${PROJECT_SOURCE_DIR}/cmake/CheckUdevRule.cmake)
  find_program(DESKTOP_FILE_VALIDATE desktop-file-validate)
  if(DESKTOP_FILE_VALIDATE)
    add_test(NAME packaging.desktop_entry COMMAND ${DESKTOP_FILE_VALIDATE} ${_packaging}/uvc_hid_tool.desktop)
    set_tests_properties(packaging.desktop_entry PROPERTIES FAIL_REGULAR_EXPRESSION "error|warning")
  endif()
  # Any issue appstreamcli finds, down to its pedantic remarks, fails the test.
  find_program(APPSTREAMCLI appstreamcli)
  if(APPSTREAMCLI)
    add_test(NAME packaging.appstream COMMAND ${APPSTREAMCLI} validate --no-net --pedantic ${UVC_METAINFO})
    set_tests_properties(packaging.appstream PROPERTIES FAIL_REGULAR_EXPRESSION "(^|\n)[EWIP]: ")
  endif()
endif()
if(BUILD_TESTING)
  # The Debian changelog and the AppStream release carry the project's version and one date.
  add_test(NAME packaging.versions COMMAND ${CMAKE_COMMAND} -DVERSION=${PROJECT_VERSION}
           -DCHANGELOG=${PROJECT_SOURCE_DIR}/debian/changelog -DMETAINFO=${_packaging}/uvc_hid_tool.metainfo.xml.in
           -P ${PROJECT_SOURCE_DIR}/cmake/CheckPackageVersions.cmake)
  if(TARGET uvc-hid)
    add_test(NAME packaging.bash_completion
             COMMAND bash ${PROJECT_SOURCE_DIR}/tests/packaging/bash_completion_test.sh
                     ${_packaging}/uvc-hid.bash-completion)
    set_tests_properties(packaging.bash_completion PROPERTIES SKIP_RETURN_CODE 77)
  endif()
endif()
