# The Debian package (cpack -G DEB, or plain cpack): what cmake --install puts in place, under /usr.
# Version from project(); dependencies computed from the binaries by dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${HCS_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "scoring plugin for matching engines that calls an HTTP scoring service")
set(CPACK_PACKAGE_DESCRIPTION "\
libhttpCalloutScoring is loaded by a matching engine with dlopen and scores
pairs of attribute records by posting each pair to the HTTP scoring service
configured for its attribute type. The package holds the plugin, its C header
and pkg-config file, and hcs, a command-line tool that plays the host, runs a
reference scoring service, checks configurations and benchmarks.")
set(HCS_PACKAGE_MAINTAINER "httpCalloutScoring developers <httpcalloutscoring@example.org>"
    CACHE STRING "Maintainer named in the Debian package: Name <address>")
set(CPACK_PACKAGE_CONTACT "${HCS_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${HCS_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)

# Debian wants a changelog next to the copyright file, compressed as far as gzip goes. Its date is the
# configure time, or SOURCE_DATE_EPOCH when set.
string(TIMESTAMP HCS_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/changelog.in ${PROJECT_BINARY_DIR}/debian/changelog @ONLY)
file(ARCHIVE_CREATE OUTPUT ${PROJECT_BINARY_DIR}/debian/changelog.gz
     PATHS ${PROJECT_BINARY_DIR}/debian/changelog FORMAT raw COMPRESSION GZip COMPRESSION_LEVEL 9)
install(FILES ${PROJECT_BINARY_DIR}/debian/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
include(CPack)
