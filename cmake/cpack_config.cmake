# CPACK_PROJECT_CONFIG_FILE: cpack reads it once for each package it makes
# (CPACK_GENERATOR is then TGZ, DEB, RPM or ZIP). CPACK_TAVLEN_SOURCE_DIR is
# the source tree.

# Every timestamp in a package is the last commit's (unless
# SOURCE_DATE_EPOCH is set already), so two builds of one commit give the
# same bytes. Outside a git checkout the files keep their own times.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git log -1 --format=%ct
    WORKING_DIRECTORY "${CPACK_TAVLEN_SOURCE_DIR}"
    RESULT_VARIABLE git_failed OUTPUT_VARIABLE commit_time ERROR_QUIET
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(git_failed STREQUAL "0" AND commit_time MATCHES "^[0-9]+$")
    set(ENV{SOURCE_DATE_EPOCH} ${commit_time})
  else()
    message(STATUS "tavlen: no git history, so the package's files keep their own times")
  endif()
endif()

if(CPACK_GENERATOR STREQUAL "RPM")
  # The .rpm's %changelog, from the Debian changelog doc/changelog: each
  # entry's version, items and trailer line ("-- NAME  Mon, 07 Dec 2026 ...").
  file(READ "${CPACK_TAVLEN_SOURCE_DIR}/doc/changelog" text)
  string(REPLACE ";" "\\;" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(rpm_changelog "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^[a-z0-9.+-]+ \\(([^)]+)\\)")
      set(version ${CMAKE_MATCH_1})
      set(items "")
    elseif(line MATCHES "^  \\* (.*)")
      string(APPEND items "- ${CMAKE_MATCH_1}\n")
    elseif(line MATCHES "^    (.*)")
      string(APPEND items "  ${CMAKE_MATCH_1}\n")
    elseif(line MATCHES "^ -- (.+)  ([A-Z][a-z][a-z]), ([0-9]+) ([A-Z][a-z][a-z]) ([0-9]+) ")
      string(APPEND rpm_changelog "* ${CMAKE_MATCH_2} ${CMAKE_MATCH_4} ${CMAKE_MATCH_3} "
        "${CMAKE_MATCH_5} ${CMAKE_MATCH_1} - ${version}-${CPACK_RPM_PACKAGE_RELEASE}\n${items}\n")
    endif()
  endforeach()
  set(CPACK_RPM_CHANGELOG_FILE "${CPACK_PACKAGE_DIRECTORY}/_CPack_Packages/rpm-changelog")
  file(WRITE "${CPACK_RPM_CHANGELOG_FILE}" "${rpm_changelog}")
endif()
