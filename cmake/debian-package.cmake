# Run by CPack once it has installed the files into its staging directory, before it makes the
# Debian package: what Debian's policy asks of a package besides the files that any install
# has. The manual page is compressed; usr/share/doc/vorlith gets the copyright file (the
# project's licence and the vendored files' own) and the changelog in Debian's form, one entry
# for this version, dated as CHANGELOG.md dates it.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
set(root "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(doc "${root}/share/doc/${CPACK_PACKAGE_NAME}")
if(NOT EXISTS "${doc}/LICENSE")
  message(FATAL_ERROR "debian-package: no ${doc}/LICENSE in the staging directory")
endif()

# gzip -9n: no name or time in the header, so the same files give the same package.
function(compress path)
  execute_process(COMMAND gzip -9nf "${path}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "debian-package: gzip ${path} failed")
  endif()
endfunction()

file(GLOB pages "${root}/share/man/man*/*.[1-9]")
foreach(page ${pages})
  compress("${page}")
endforeach()

file(READ "${CPACK_VORLITH_SOURCE_DIR}/LICENSE" licence)
file(READ "${CPACK_VORLITH_SOURCE_DIR}/viewer/vendor/d3-hierarchy.LICENSE" d3_licence)
file(WRITE "${doc}/copyright"
  "vorlith ${CPACK_PACKAGE_VERSION}\n\n${licence}\n"
  "The treemap page's vendored d3-hierarchy (share/vorlith/viewer/vendor/d3-hierarchy.min.js)\n"
  "is under its own licence:\n\n${d3_licence}")

# The date of this version's entry in CHANGELOG.md ("## 1.0.0 - 2026-12-08").
file(STRINGS "${CPACK_VORLITH_SOURCE_DIR}/CHANGELOG.md" heading
     REGEX "^## ${CPACK_PACKAGE_VERSION} - [0-9]+-[0-9]+-[0-9]+$")
if(NOT heading)
  message(FATAL_ERROR "debian-package: CHANGELOG.md has no heading '## ${CPACK_PACKAGE_VERSION} - DATE'")
endif()
string(REGEX REPLACE ".* - " "" day "${heading}")
execute_process(COMMAND date -u -R -d "${day} 00:00:00" OUTPUT_VARIABLE date
                OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "debian-package: cannot read the date ${day}")
endif()
file(WRITE "${doc}/changelog"
  "${CPACK_PACKAGE_NAME} (${CPACK_PACKAGE_VERSION}) unstable; urgency=medium\n\n"
  "  * Version ${CPACK_PACKAGE_VERSION}: see CHANGELOG.md beside this file.\n\n"
  " -- ${CPACK_DEBIAN_PACKAGE_MAINTAINER}  ${date}\n")
compress("${doc}/changelog")
