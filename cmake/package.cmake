# SPDX-License-Identifier: MIT
# The Debian packages, from a configured build tree:
#   cpack -G DEB --config build/CPackConfig.cmake -B build/packages
# split the way Debian splits a library, one package per install component
# (cmake/install.cmake, tools/CMakeLists.txt), each under /usr:
#   libtolvane-kelvora-dorvik-movie-client0     runtime: the .so.0 files, shlibs, ldconfig
#   libtolvane-kelvora-dorvik-movie-client-dev  dev: header, .so link, CMake package,
#                                               pkg-config files, documents, examples
#   tqmovie                                     tool: the program, its manual page and
#                                               completion, the sample fixtures
#   tqmovie-mock-service                        standin: the stand-in service (the only
#                                               one that needs cpp-httplib)
#   python3-tqmovie                             python: bindings/python/src/tqmovie in
#                                               /usr/lib/python3/dist-packages
# each with /usr/share/doc/<package>/copyright (DEP-5, from LICENSE). dpkg-shlibdeps
# works out the dependencies on other libraries from the binaries; the dependencies on
# each other are written here.

# The maintainer: the cache variable when set, else the git identity of the source
# tree (git config user.name / user.email), else DEBFULLNAME and DEBEMAIL. Without any
# of them the build configures as usual and cpack stops with a message.
set(TQMOVIE_PACKAGE_CONTACT "" CACHE STRING
  "Maintainer of the Debian packages, \"Name <address>\" (empty: from git config user.name and user.email of the source tree, else DEBFULLNAME and DEBEMAIL)")
set(tq_contact "${TQMOVIE_PACKAGE_CONTACT}")
set(tq_contact_from "the cache variable TQMOVIE_PACKAGE_CONTACT")
if(tq_contact STREQUAL "")
  find_package(Git QUIET)
  if(GIT_EXECUTABLE)
    execute_process(COMMAND ${GIT_EXECUTABLE} -C ${PROJECT_SOURCE_DIR} rev-parse --git-dir
      RESULT_VARIABLE tq_git_rc OUTPUT_QUIET ERROR_QUIET)
    if(tq_git_rc EQUAL 0)
      execute_process(COMMAND ${GIT_EXECUTABLE} -C ${PROJECT_SOURCE_DIR} config user.name
        OUTPUT_VARIABLE tq_git_name OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      execute_process(COMMAND ${GIT_EXECUTABLE} -C ${PROJECT_SOURCE_DIR} config user.email
        OUTPUT_VARIABLE tq_git_email OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      if(NOT tq_git_name STREQUAL "" AND NOT tq_git_email STREQUAL "")
        set(tq_contact "${tq_git_name} <${tq_git_email}>")
        set(tq_contact_from "git config user.name/user.email")
      endif()
    endif()
  endif()
endif()
if(tq_contact STREQUAL "" AND NOT "$ENV{DEBEMAIL}" STREQUAL "")
  if("$ENV{DEBEMAIL}" MATCHES "<")
    set(tq_contact "$ENV{DEBEMAIL}")
  elseif(NOT "$ENV{DEBFULLNAME}" STREQUAL "")
    set(tq_contact "$ENV{DEBFULLNAME} <$ENV{DEBEMAIL}>")
  endif()
  set(tq_contact_from "DEBFULLNAME/DEBEMAIL")
endif()
if(tq_contact STREQUAL "")
  message(STATUS "Debian packages: no maintainer (set TQMOVIE_PACKAGE_CONTACT, git config user.name/user.email, or DEBFULLNAME and DEBEMAIL); cpack will refuse")
else()
  message(STATUS "Debian packages: maintainer ${tq_contact}, from ${tq_contact_from}")
endif()

set(TQMOVIE_DEB_RUNTIME lib${TQMOVIE_OUTPUT_NAME}${PROJECT_VERSION_MAJOR})
set(TQMOVIE_DEB_DEV lib${TQMOVIE_OUTPUT_NAME}-dev)

# The machine-readable copyright file every package carries.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE tq_license)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" tq_copyright_line "${tq_license}")
set(tq_copyright "${CMAKE_MATCH_1}")
# The licence text after its title and copyright line, in the file's continuation
# lines: each line indented by one space, an empty line written as " .".
string(REGEX REPLACE "^.*Copyright \\(c\\) [^\n]*\n\n" "" tq_license_text "${tq_license}")
string(STRIP "${tq_license_text}" tq_license_text)
string(REPLACE "\n\n" "\n.\n" tq_license_text "${tq_license_text}")
string(REPLACE "\n" "\n " tq_license_text "${tq_license_text}")
file(WRITE ${CMAKE_BINARY_DIR}/packaging/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ${PROJECT_NAME}
Upstream-Contact: ${tq_contact}

Files: *
Copyright: ${tq_copyright}
License: Expat
Comment: The MIT License (SPDX: MIT), as in the file LICENSE of the source.

License: Expat
 ${tq_license_text}
")

# Python's packaging metadata beside the module, so that pip and importlib.metadata
# see the installed version.
file(WRITE ${CMAKE_BINARY_DIR}/packaging/python/tqmovie-${PROJECT_VERSION}.dist-info/METADATA
"Metadata-Version: 2.1
Name: tqmovie
Version: ${PROJECT_VERSION}
Summary: Film and TV metadata by IMDb id, over the tqmovie C library (ctypes)
License: MIT
Requires-Python: >=3.9
")
file(WRITE ${CMAKE_BINARY_DIR}/packaging/python/tqmovie-${PROJECT_VERSION}.dist-info/top_level.txt "tqmovie\n")
file(WRITE ${CMAKE_BINARY_DIR}/packaging/python/tqmovie-${PROJECT_VERSION}.dist-info/INSTALLER "debian\n")

# The Python module goes into the package only: `cmake --install` without a component
# leaves it out, as before (bindings/python installs with pip).
install(DIRECTORY ${PROJECT_SOURCE_DIR}/bindings/python/src/tqmovie
                  ${CMAKE_BINARY_DIR}/packaging/python/tqmovie-${PROJECT_VERSION}.dist-info
  DESTINATION lib/python3/dist-packages COMPONENT python EXCLUDE_FROM_ALL
  PATTERN __pycache__ EXCLUDE PATTERN "*.pyc" EXCLUDE)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${tq_contact}")
# Each package's description starts with its own summary line; CPack would put
# CPACK_PACKAGE_DESCRIPTION_SUMMARY before every one of them, so that stays unset.
set(tq_summary "film and TV metadata client library with a plain C ABI")
set(tq_about "Looks up film and TV metadata by IMDb id from the tolvane movie-metadata web
service through pluggable transport backends (libcurl, canned fixture files, or the
host's own).")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The tools find the library in the build tree when dpkg-shlibdeps looks.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR})
# A shlibs file for the library ("libname 0 package (>= version)").
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
# cpack itself refuses a missing or malformed maintainer (packaging/cpack-checks.cmake).
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/packaging/cpack-checks.cmake)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${TQMOVIE_DEB_RUNTIME})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "${tq_summary}
${tq_about}

This package holds the shared library.")
# Debian's way to refresh the loader's cache: a trigger (CPack adds ldconfig calls to
# postinst and postrm as well).
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/runtime/triggers)

set(CPACK_DEBIAN_DEV_PACKAGE_NAME ${TQMOVIE_DEB_DEV})
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_DESCRIPTION "${tq_summary} (development files)
${tq_about}

This package holds the header tqmovie.h, the CMake package (find_package(tqmovie)),
the pkg-config files (tqmovie.pc), the documents and the example hosts.")

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME tqmovie)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOL_DESCRIPTION "command-line client for the tolvane movie-metadata service
tqmovie looks titles up by IMDb id over HTTP or in canned fixture files, runs batches,
keeps a cache and a store, and finds the ids of media files. With its manual page,
bash completion and the sample fixtures.")

set(CPACK_DEBIAN_STANDIN_PACKAGE_NAME tqmovie-mock-service)
set(CPACK_DEBIAN_STANDIN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_STANDIN_DESCRIPTION "local stand-in for the tolvane movie-metadata service
tqmovie-mock-service answers the service's requests on a loopback port from fixture
files or synthetic records, with rate limits, delays and failures on demand, for
testing hosts of the tqmovie library. With its manual page and bash completion.")
# It serves the sample fixtures of the tqmovie package unless given others.
set(CPACK_DEBIAN_STANDIN_PACKAGE_RECOMMENDS "tqmovie (= ${PROJECT_VERSION})")

set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-tqmovie)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_PYTHON_DESCRIPTION "${tq_summary} (Python 3)
${tq_about}

This package holds the Python module tqmovie, which loads the shared library with
ctypes.")
set(CPACK_DEBIAN_PYTHON_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/packaging/debian/python3-tqmovie/postinst
  ${PROJECT_SOURCE_DIR}/packaging/debian/python3-tqmovie/prerm)

# The list of packages and their dependencies on each other once every directory has
# been read: whether the tools and the stand-in exist is known only then.
macro(tqmovie_package_finalize)
  set(CPACK_COMPONENTS_ALL dev python)
  set(tq_runtime_dep "")
  if(TQMOVIE_LIBRARY_TYPE STREQUAL "SHARED_LIBRARY")
    list(PREPEND CPACK_COMPONENTS_ALL runtime)
    set(tq_runtime_dep "${TQMOVIE_DEB_RUNTIME} (= ${PROJECT_VERSION})")
    set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${tq_runtime_dep}")
    set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "${tq_runtime_dep}")
    set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3, ${TQMOVIE_DEB_RUNTIME} (>= ${PROJECT_VERSION})")
  else()
    # A static build gives no runtime package, and no library for Python to load; the
    # program that links the static library links its dependencies too.
    list(REMOVE_ITEM CPACK_COMPONENTS_ALL python)
    set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libcurl4-openssl-dev | libcurl-dev, libyyjson-dev, libsqlite3-dev")
  endif()
  if(TARGET tqmovie_cli)
    list(APPEND CPACK_COMPONENTS_ALL tool)
  endif()
  if(TARGET tqmovie-mock-service)
    list(APPEND CPACK_COMPONENTS_ALL standin)
  endif()
  set(tq_package_of_runtime ${TQMOVIE_DEB_RUNTIME})
  set(tq_package_of_dev ${TQMOVIE_DEB_DEV})
  set(tq_package_of_tool tqmovie)
  set(tq_package_of_standin tqmovie-mock-service)
  set(tq_package_of_python python3-tqmovie)
  foreach(tq_component IN LISTS CPACK_COMPONENTS_ALL)
    install(FILES ${CMAKE_BINARY_DIR}/packaging/copyright
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${tq_package_of_${tq_component}}
      COMPONENT ${tq_component} EXCLUDE_FROM_ALL)
  endforeach()
  include(CPack)
endmacro()
cmake_language(DEFER CALL tqmovie_package_finalize)
