# SPDX-License-Identifier: MIT
# The Debian package, from a configured build tree:
#   cpack -G DEB --config build/CPackConfig.cmake -B build/packages
# It holds what `cmake --install` installs, under /usr: the library, the header, the
# CMake and pkg-config files, the tools with their manual pages and bash completion,
# the sample fixtures and the documents. dpkg-shlibdeps works out the runtime
# dependencies (libcurl4, libyyjson0, the C and C++ runtimes) from the binaries.
set(TQMOVIE_PACKAGE_CONTACT "tolvane-kelvora-dorvik-movie-client maintainers <maintainers@users.noreply.c-seed-cb5ac3e6.example>"
  CACHE STRING "Maintainer named in the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${TQMOVIE_PACKAGE_CONTACT})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "film and TV metadata client library with a plain C ABI")
set(CPACK_PACKAGE_DESCRIPTION
  "Looks up film and TV metadata by IMDb id from the tolvane movie-metadata web service
through pluggable transport backends (libcurl, canned fixture files, or the host's own).
Includes the tqmovie command-line tool and tqmovie-mock-service, a local stand-in for the
service, with their manual pages and bash completion.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The tools find the library beside them, in the package itself.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR})
# A shlibs file for the library, and the ldconfig trigger that goes with it.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
include(CPack)
