# Test: the Debian changelog's latest entry and the AppStream metadata's latest release
# carry the project's version and the same date, so a version raised in one place only
# fails here instead of shipping a package whose version or release date is wrong.
#   cmake -DVERSION=<project version> -DCHANGELOG=<debian/changelog> -DMETAINFO=<metainfo.xml.in>
#         -P CheckPackageVersions.cmake
set(_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)

file(STRINGS ${CHANGELOG} _entry LIMIT_COUNT 1)
if(NOT _entry MATCHES "^[a-z0-9.+-]+ \\(([^)]+)\\) ")
  message(FATAL_ERROR "${CHANGELOG}: no version in its first line: ${_entry}")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL VERSION)
  message(FATAL_ERROR "${CHANGELOG} is at ${CMAKE_MATCH_1}, the project at ${VERSION}: add a changelog entry")
endif()
file(STRINGS ${CHANGELOG} _trailer REGEX "^ -- " LIMIT_COUNT 1)
if(NOT _trailer MATCHES ">  [A-Z][a-z][a-z], ([0-9][0-9]?) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
  message(FATAL_ERROR "${CHANGELOG}: no date in the first entry's trailer: ${_trailer}")
endif()
list(FIND _months ${CMAKE_MATCH_2} _month)
math(EXPR _month "${_month} + 1")
set(_year ${CMAKE_MATCH_3})
string(LENGTH "${CMAKE_MATCH_1}" _length)
if(_length EQUAL 1)
  set(_day 0${CMAKE_MATCH_1})
else()
  set(_day ${CMAKE_MATCH_1})
endif()
if(_month LESS 10)
  set(_month 0${_month})
endif()
set(_changelog_date ${_year}-${_month}-${_day})

file(READ ${METAINFO} _metainfo)
if(NOT _metainfo MATCHES "<release version=\"([^\"]+)\" date=\"([^\"]+)\"")
  message(FATAL_ERROR "${METAINFO}: no release with a version and a date")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL VERSION OR NOT CMAKE_MATCH_2 STREQUAL _changelog_date)
  message(FATAL_ERROR "${METAINFO}: its latest release is ${CMAKE_MATCH_1} of ${CMAKE_MATCH_2}; the project is "
                      "at ${VERSION}, released ${_changelog_date} by the changelog")
endif()
