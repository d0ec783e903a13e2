# Manual pages, written in scdoc (docs/man/<program>.1.scd). Each page is configured first
# (version, device ids, installed paths) and then made by scdoc; a page that scdoc cannot
# make fails the build. Pages are installed uncompressed; the Debian package compresses them.
# Included by cmake/Install.cmake, after the programs' install rules.
option(UVC_MANPAGES "Build and install the manual pages (needs scdoc)" ON)
if(NOT UVC_MANPAGES)
  return()
endif()
find_program(SCDOC scdoc)
if(NOT SCDOC)
  message(FATAL_ERROR "scdoc, which makes the manual pages, is not installed: install it "
                      "(Debian: apt install scdoc) or configure with -DUVC_MANPAGES=OFF")
endif()

# Installed paths the pages name, as absolute paths.
function(uvc_installed_path dir out)
  if(IS_ABSOLUTE "${dir}")
    set(${out} "${dir}" PARENT_SCOPE)
  else()
    set(${out} "${CMAKE_INSTALL_PREFIX}/${dir}" PARENT_SCOPE)
  endif()
endfunction()
uvc_installed_path(${UVC_UDEV_RULES_DIR} _rules_path)
set(UVC_UDEV_RULE_PATH ${_rules_path}/70-uvc-hid-tool.rules)
uvc_installed_path(${UVC_DOC_DIR} UVC_DOC_PATH)
set(UVC_APPLICATIONS_PATH ${CMAKE_INSTALL_FULL_DATAROOTDIR}/applications)

set(_man_pages "")
foreach(_name ${UVC_INSTALLED_PROGRAMS})
  set(_source ${PROJECT_SOURCE_DIR}/docs/man/${_name}.1.scd)
  if(NOT EXISTS ${_source})
    message(FATAL_ERROR "${_name} is installed but has no manual page: write docs/man/${_name}.1.scd")
  endif()
  set(_configured ${PROJECT_BINARY_DIR}/man/${_name}.1.scd)
  set(_page ${PROJECT_BINARY_DIR}/man/${_name}.1)
  configure_file(${_source} ${_configured} @ONLY)
  # Written under a temporary name and renamed, so a failed run leaves no page behind.
  add_custom_command(OUTPUT ${_page}
    COMMAND sh -c "\"$0\" <\"$1\" >\"$2.tmp\" && mv \"$2.tmp\" \"$2\"" ${SCDOC} ${_configured} ${_page}
    DEPENDS ${_configured}
    COMMENT "Manual page ${_name}.1"
    VERBATIM)
  list(APPEND _man_pages ${_page})
  set(UVC_MAN_PAGE_${_name} ${_page})
endforeach()
add_custom_target(uvc_manpages ALL DEPENDS ${_man_pages})
install(FILES ${_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Each page renders without a groff warning, has the sections a reader looks for, and gives
# every option, command and exit status that the program's --help names an entry of its own.
if(BUILD_TESTING)
  find_program(GROFF groff)
  if(GROFF)
    foreach(_name ${UVC_INSTALLED_PROGRAMS})
      add_test(NAME packaging.manpage.${_name}
               COMMAND sh ${PROJECT_SOURCE_DIR}/tests/packaging/check_manpage.sh
                       $<TARGET_FILE:${_name}> ${UVC_MAN_PAGE_${_name}})
    endforeach()
  else()
    message(STATUS "groff not found: the manual pages are built but not checked")
  endif()
endif()
