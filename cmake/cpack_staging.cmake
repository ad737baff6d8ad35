# CPACK_PRE_BUILD_SCRIPTS: run on the files cpack has installed for a package,
# before it packs them. The .deb and the .rpm hold the manual page
# compressed, as distributions' packages do; the .deb also holds the license
# as a Debian copyright file (in place of LICENSE) and the changelog; the
# .rpm's files are all dated by the last commit.
if(NOT CPACK_GENERATOR MATCHES "^(DEB|RPM)$")
  return()
endif()
set(root "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(doc "${root}/share/doc/tavlen")
execute_process(COMMAND gzip -9n "${root}/share/man/man1/tavlen.1" COMMAND_ERROR_IS_FATAL ANY)
if(CPACK_GENERATOR STREQUAL "RPM")
  # rpmbuild lowers later file times to SOURCE_DATE_EPOCH but keeps earlier
  # ones: a file edited before the last commit would keep its own time.
  if(DEFINED ENV{SOURCE_DATE_EPOCH})
    execute_process(COMMAND find "${CPACK_TEMPORARY_DIRECTORY}"
      -exec touch -h -d "@$ENV{SOURCE_DATE_EPOCH}" {} + COMMAND_ERROR_IS_FATAL ANY)
  endif()
  return()
endif()

execute_process(COMMAND gzip -9n -c "${CPACK_TAVLEN_SOURCE_DIR}/doc/changelog"
  OUTPUT_FILE "${doc}/changelog.gz" COMMAND_ERROR_IS_FATAL ANY)
# The machine-readable copyright format: the license's terms, from
# "Permission", one space in, with " ." for an empty line.
file(READ "${CPACK_TAVLEN_SOURCE_DIR}/LICENSE" license)
if(NOT license MATCHES "Copyright \\(c\\) ([^\n]+)\n\n(Permission.*[^\n])\n*$")
  message(FATAL_ERROR "LICENSE: no copyright line followed by the terms")
endif()
set(holders "${CMAKE_MATCH_1}")
string(REPLACE "\n" "\n " terms "${CMAKE_MATCH_2}")
string(REPLACE "\n \n" "\n .\n" terms "${terms}")
file(WRITE "${doc}/copyright" "\
Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: tavlen
Upstream-Contact: ${CPACK_PACKAGE_CONTACT}

Files: *
Copyright: ${holders}
License: Expat
 ${terms}
")
file(REMOVE "${doc}/LICENSE")
file(CHMOD "${doc}/changelog.gz" "${doc}/copyright"
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
