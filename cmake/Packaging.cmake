# The Debian package (make deb): CPack's DEB generator over the install rules,
# so the package holds exactly what `cmake --install` lays out under /usr, plus
# what only a Debian package carries (the copyright file, the Debian changelog,
# compressed manual pages); cmake/DebInstall.cmake.in does both.
#
# CPack installs through that script rather than through its own handling of a
# CMake project, which first runs the build's `preinstall` target, that is,
# builds every target: the package is made from the tree as built (make deb
# builds it first), and packing never compiles anything.

set(CORVEXA_DEB_MAINTAINER "KELMARE <packages@kelmare.example>" CACHE STRING
  "Maintainer field and changelog signature of the Debian package")
set(CORVEXA_DEB_RELEASE 1 CACHE STRING "Debian revision of the package (the part after the '-')")

# The window's manual page, beside the one corvexa-scan's option table writes.
include(GNUInstallDirs)
corvexa_block_version(corvexa_version)
configure_file(${PROJECT_SOURCE_DIR}/resources/linux/corvexa.1.in ${PROJECT_BINARY_DIR}/man/corvexa.1 @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/man/corvexa.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(corvexa_deb_dir ${PROJECT_BINARY_DIR}/deb)
set(corvexa_metainfo ${PROJECT_SOURCE_DIR}/resources/linux/example.kelmare.Corvexa.metainfo.xml)

# The changelog entry is dated with the release date the AppStream metainfo
# names for this version, so the same sources give the same package.
file(READ ${corvexa_metainfo} metainfo_text)
if(NOT metainfo_text MATCHES "<release version=\"@PROJECT_VERSION@\" date=\"([0-9]+-[0-9]+-[0-9]+)\"")
  message(FATAL_ERROR "Packaging: no release date for @PROJECT_VERSION@ in ${corvexa_metainfo}")
endif()
set(release_date ${CMAKE_MATCH_1})
execute_process(COMMAND env LC_ALL=C date -u -R -d "${release_date} 00:00:00 UTC"
  OUTPUT_VARIABLE changelog_date OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE date_status)
if(NOT date_status EQUAL 0 OR changelog_date STREQUAL "")
  message(FATAL_ERROR "Packaging: cannot format the release date ${release_date}")
endif()

# The package's version is the one the version block in the executables holds
# (and corvexa-scan --version prints).
set(deb_version ${corvexa_version}-${CORVEXA_DEB_RELEASE})
file(WRITE ${corvexa_deb_dir}/changelog.Debian.new
  "corvexa (${deb_version}) unstable; urgency=medium\n\n"
  "  * Corvexa ${corvexa_version}.\n\n"
  " -- ${CORVEXA_DEB_MAINTAINER}  ${changelog_date}\n")
configure_file(${corvexa_deb_dir}/changelog.Debian.new ${corvexa_deb_dir}/changelog.Debian COPYONLY)

# The licence as a machine-readable copyright file: the licence text itself,
# every line indented, empty lines written as " .".
file(STRINGS ${PROJECT_SOURCE_DIR}/resources/license.txt licence_lines)
set(licence_body "")
foreach(line IN LISTS licence_lines)
  if(line STREQUAL "")
    string(APPEND licence_body " .\n")
  else()
    string(APPEND licence_body " ${line}\n")
  endif()
endforeach()
file(WRITE ${corvexa_deb_dir}/copyright.new
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
  "Upstream-Name: Corvexa\n"
  "Upstream-Contact: ${CORVEXA_DEB_MAINTAINER}\n"
  "Source: http://www.kelmare.example/\n\n"
  "Files: *\n"
  "Copyright: 2026 KELMARE\n"
  "License: Corvexa\n"
  "${licence_body}")
configure_file(${corvexa_deb_dir}/copyright.new ${corvexa_deb_dir}/copyright COPYONLY)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvexa)
set(CPACK_PACKAGE_VENDOR KELMARE)
set(CPACK_PACKAGE_VERSION ${corvexa_version})
set(CPACK_PACKAGE_CONTACT ${CORVEXA_DEB_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find web, e-mail and ftp addresses in files")
set(CPACK_PACKAGE_DESCRIPTION
  "Corvexa reads every file of a folder, or of a list of files, line by line and\n"
  "collects every web address, e-mail address and ftp link it finds, in the order\n"
  "found. It reads plain text (UTF-8, UTF-16 or the locale's code page), PDF\n"
  "documents, e-mail messages, Word and Excel documents, and compressed files\n"
  "and archives.\n"
  "\n"
  "The findings can be shown as addresses, host names or domain names, sorted and\n"
  "freed of duplicates, copied and exported as text files. The package holds the\n"
  "desktop program, corvexa, and the same scan for terminals and scripts,\n"
  "corvexa-scan.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The prefix CPack's install script installs to, below its staging folder.
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_CMAKE_PROJECTS "")
set(CPACK_INSTALL_SCRIPTS ${corvexa_deb_dir}/DebInstall.cmake)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${CORVEXA_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE http://www.kelmare.example/)
# Depends: what dpkg-shlibdeps finds the executables linked against.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Recommends: what is loaded or run only when a file needs it. PDF text comes
# from poppler's library (loaded when first needed) or from pdftotext; Word and
# Excel documents go through the office suite's converter, which either the
# desktop or the headless build of the suite provides; python3-uno lets one
# running suite serve a whole scan.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
  "libpoppler-glib8, poppler-utils, libreoffice-writer | libreoffice-writer-nogui, libreoffice-calc | libreoffice-calc-nogui, python3-uno")

include(CPack)
configure_file(${PROJECT_SOURCE_DIR}/cmake/DebInstall.cmake.in ${corvexa_deb_dir}/DebInstall.cmake @ONLY)
