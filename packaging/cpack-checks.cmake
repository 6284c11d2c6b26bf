# SPDX-License-Identifier: MIT
# Read by cpack before it builds the packages (CPACK_PROJECT_CONFIG_FILE, set in
# cmake/package.cmake): no package without a maintainer written as "Name <address>".
# Configured without one (no git identity, no DEBEMAIL then): DEBFULLNAME and DEBEMAIL
# as cpack runs, which is how a one-off build names who made it.
if(CPACK_PACKAGE_CONTACT STREQUAL "" AND NOT "$ENV{DEBEMAIL}" STREQUAL "")
  if("$ENV{DEBEMAIL}" MATCHES "<")
    set(CPACK_PACKAGE_CONTACT "$ENV{DEBEMAIL}")
  else()
    set(CPACK_PACKAGE_CONTACT "$ENV{DEBFULLNAME} <$ENV{DEBEMAIL}>")
  endif()
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
endif()
if(NOT CPACK_PACKAGE_CONTACT MATCHES "^[^<>@]+ <[^<>@ ]+@[^<>@ ]+>$")
  if(CPACK_PACKAGE_CONTACT STREQUAL "")
    set(tq_got "none was found")
  else()
    set(tq_got "got \"${CPACK_PACKAGE_CONTACT}\"")
  endif()
  message(FATAL_ERROR "tqmovie: the Debian packages need a maintainer \"Name <address>\" (${tq_got}).\n"
    "Configure with -DTQMOVIE_PACKAGE_CONTACT=\"Name <address>\", or set git config user.name and "
    "user.email in the source tree, or DEBFULLNAME and DEBEMAIL, then configure again.")
endif()
