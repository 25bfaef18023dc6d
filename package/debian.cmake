# The .deb: cpack -G DEB in the build folder makes gcwindow_VERSION_ARCH.deb,
# laid out as Debian's policy asks, so that lintian finds nothing to report.

# Debian's policy wants man pages and changelogs compressed with gzip -9n: -n
# keeps the name and time out of the file, so every build gives the same bytes.
function(gzip_into input output)
  execute_process(COMMAND gzip -9n -c "${input}" OUTPUT_FILE "${output}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip -9n ${input}: ${failed}")
  endif()
endfunction()

gzip_into(${CMAKE_CURRENT_BINARY_DIR}/gcwindow.1 ${CMAKE_CURRENT_BINARY_DIR}/gcwindow.1.gz)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/gcwindow.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_SOURCE_DIR}/package/changelog ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)
gzip_into(${CMAKE_CURRENT_SOURCE_DIR}/package/changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)

# The copyright file in Debian's machine-readable format, made from LICENSE
# so the two cannot differ: the holder from its copyright line, and the text
# after that line as the licence, indented one space, blank lines as " .".
file(READ ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE licence)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]+)" holder "${licence}")
set(holder "${CMAKE_MATCH_1}")
string(REGEX REPLACE "^.*Copyright \\(c\\) [^\n]+\n+" "" licence "${licence}")
string(STRIP "${licence}" licence)
string(REGEX REPLACE "\n" "\n " licence " ${licence}")
string(REGEX REPLACE "\n \n" "\n .\n" licence "${licence}")
string(REGEX REPLACE "\n \n" "\n .\n" licence "${licence}")
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/copyright
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
  "Upstream-Name: gcwindow\n\n"
  "Files: *\n"
  "Copyright: ${holder}\n"
  "License: Expat\n"
  "${licence}\n")
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/copyright ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_PACKAGE_NAME gcwindow)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "gcwindow reads the first WINDOW bytes of a file of bare nucleotide\n"
  "sequence and prints the share that are G or C, in either case, as one\n"
  "number with six decimals. Every byte is a window position, and a short\n"
  "input is padded with its last byte. It reads in large blocks with a\n"
  "vectorised count, reads a regular file no further than the window, and\n"
  "uses the same memory whatever the size of the file.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "gcwindow maintainers <maintainers@users.noreply.c-seed-11ae97df.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Without SOURCE_DATE_EPOCH CPack dates the .deb and every file in it by the
# clock, so no two builds match; as in Debian's own builds, the date is then
# the changelog's. A date given from outside wins. cpack includes this script
# for each generator, so dpkg-dev is needed only to make the .deb.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_SOURCE_DIR}/package/source_date.cmake)
# Depends, from the libraries the binary links (dpkg-shlibdeps, in dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# CPack would ask dpkg, which names the build machine, not the target.
string(TOLOWER "${CMAKE_SYSTEM_PROCESSOR}" processor)
if(processor MATCHES "^(x86_64|amd64)$" AND CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)  # -m32
elseif(processor MATCHES "^(x86_64|amd64)$")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
elseif(processor MATCHES "^i[3-6]86$|^x86$")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)
elseif(processor MATCHES "^(aarch64|arm64)$")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
elseif(processor MATCHES "^arm")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armhf)
elseif(processor MATCHES "^(ppc64le|powerpc64le)$")
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ppc64el)
else()
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE "${processor}")  # s390x, riscv64, ...
endif()
include(CPack)
