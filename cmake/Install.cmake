# What `cmake --install` lays out: the programs in bin/, the dialog's desktop entry and
# icon, the udev rule for the device's hidraw nodes, manual pages, and the package's
# documentation files.
include(GNUInstallDirs)

# Directories 0755 whatever the installer's umask (set before any install() takes it).
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(UVC_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING
    "Where the udev rule goes: relative to the install prefix, or absolute")
set(UVC_PACKAGE_NAME uvc-hid-tool)
set(UVC_PACKAGE_MAINTAINER "UVC HID tool maintainers <uvc-hid-tool@example.org>" CACHE STRING
    "Maintainer named in the package and its changelog")
set(UVC_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${UVC_PACKAGE_NAME})
set(_packaging ${PROJECT_SOURCE_DIR}/packaging)
set(_generated ${PROJECT_BINARY_DIR}/packaging)

# Programs, with the one-line description their manual page is named by. The command
# line uvc-hid is installed once its target exists.
set(_programs
  uvc_hid_tool "service dialog for the UVC capture device"
  uvc-hid "command line for the UVC capture device"
  uvc_hid_sim "simulated UVC capture device on a Unix socket"
  hid_caps "print the capabilities of a HID report descriptor")
set(UVC_INSTALLED_PROGRAMS "")
while(_programs)
  list(POP_FRONT _programs _name _description)
  if(TARGET ${_name})
    install(TARGETS ${_name} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    list(APPEND UVC_INSTALLED_PROGRAMS ${_name})
    set(_description_${_name} "${_description}")
  endif()
endwhile()

if(TARGET uvc_hid_tool)
  # The version its --version prints, the one the package carries.
  target_compile_definitions(uvc_hid_tool PRIVATE UVC_VERSION="${PROJECT_VERSION}")
  install(FILES ${_packaging}/uvc_hid_tool.desktop DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/ui/qt/uvc_hid_tool.svg
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)
endif()

# The udev rule names the device ids of cmake/DeviceIds.cmake (UVC_VENDOR_ID and
# UVC_PRODUCT_ID: four lower-case digits, as udev compares the sysfs text).
configure_file(${_packaging}/70-uvc-hid-tool.rules.in ${_generated}/70-uvc-hid-tool.rules @ONLY)
install(FILES ${_generated}/70-uvc-hid-tool.rules DESTINATION ${UVC_UDEV_RULES_DIR})

# Manual pages from each program's --help and --version, by help2man. Programs whose
# --version means something else, or that have none, get the project's version.
find_program(HELP2MAN help2man)
find_program(GZIP gzip REQUIRED)
if(HELP2MAN)
  set(_pages "")
  foreach(_name ${UVC_INSTALLED_PROGRAMS})
    set(_version_option "")
    if(_name STREQUAL "uvc_hid_sim" OR _name STREQUAL "hid_caps")
      set(_version_option "--version-string=${PROJECT_VERSION}")
    endif()
    set(_page ${_generated}/man/${_name}.1)
    add_custom_command(OUTPUT ${_page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${_generated}/man
      COMMAND ${HELP2MAN} --no-info --no-discard-stderr "--name=${_description_${_name}}"
              ${_version_option} --output=${_page} $<TARGET_FILE:${_name}>
      COMMAND ${GZIP} -9nf ${_page}
      DEPENDS ${_name}
      COMMENT "Manual page ${_name}.1"
      VERBATIM)
    list(APPEND _pages ${_page}.gz)
  endforeach()
  add_custom_target(uvc_manpages ALL DEPENDS ${_pages})
  install(FILES ${_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "help2man not found: no manual pages are built or installed")
endif()

# The package's copyright and changelog, where Debian looks for them.
configure_file(${_packaging}/debian/changelog.in ${_generated}/changelog @ONLY)
add_custom_command(OUTPUT ${_generated}/changelog.gz
  COMMAND ${GZIP} -9nkf ${_generated}/changelog
  DEPENDS ${_generated}/changelog
  VERBATIM)
add_custom_target(uvc_changelog ALL DEPENDS ${_generated}/changelog.gz)
install(FILES ${_packaging}/debian/copyright ${_generated}/changelog.gz DESTINATION ${UVC_DOC_DIR})

if(BUILD_TESTING AND TARGET uvc_hid_tool)
  add_test(NAME packaging.udev_rule_ids COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:uvc_hid_tool>
           -DRULE=${_generated}/70-uvc-hid-tool.rules -P ${PROJECT_SOURCE_DIR}/cmake/CheckUdevRule.cmake)
  find_program(DESKTOP_FILE_VALIDATE desktop-file-validate)
  if(DESKTOP_FILE_VALIDATE)
    add_test(NAME packaging.desktop_entry COMMAND ${DESKTOP_FILE_VALIDATE} ${_packaging}/uvc_hid_tool.desktop)
    set_tests_properties(packaging.desktop_entry PROPERTIES FAIL_REGULAR_EXPRESSION "error|warning")
  endif()
endif()
