# SPDX-License-Identifier: MIT
# What `cmake --install` puts under the prefix: the library and its header, the CMake
# package (find_package(tqmovie) -> tqmovie::tqmovie), the pkg-config files, the
# sample fixtures and the documents. The tools install themselves (tools/).
# Every rule names its component, one per Debian package (cmake/package.cmake):
#   runtime  the shared library (.so.0 and its SONAME link)
#   dev      the header, the .so link or the static library, the CMake package, the
#            pkg-config files, the documents and the examples
#   tool     tqmovie with its manual page and completion, and the sample fixtures
#   standin  tqmovie-mock-service with its manual page and completion
# `cmake --install` without --component installs them all, as before.
include(CMakePackageConfigHelpers)

set(TQMOVIE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/tqmovie)
get_target_property(TQMOVIE_LIBRARY_TYPE tqmovie TYPE)
get_target_property(TQMOVIE_OUTPUT_NAME tqmovie OUTPUT_NAME)

# A static library is C++ inside: a C program that links it needs the C++ runtime,
# which CMake adds by itself only to projects that enable C++.
if(TQMOVIE_LIBRARY_TYPE STREQUAL "STATIC_LIBRARY")
  target_link_libraries(tqmovie PRIVATE stdc++ m)
endif()

install(TARGETS tqmovie EXPORT tqmovie-targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
install(EXPORT tqmovie-targets NAMESPACE tqmovie:: FILE tqmovie-targets.cmake
  DESTINATION ${TQMOVIE_CMAKE_DIR} COMPONENT dev)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/tqmovie-config.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/tqmovie-config.cmake
  INSTALL_DESTINATION ${TQMOVIE_CMAKE_DIR})
# The SONAME promises the same: within one major number releases only add.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/tqmovie-config-version.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tqmovie-config.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/tqmovie-config-version.cmake
  DESTINATION ${TQMOVIE_CMAKE_DIR} COMPONENT dev)

# pkg-config: tqmovie.pc is written when it is installed, with the prefix it is
# installed under (`cmake --install --prefix`, CPack's /usr; DESTDIR staging left out),
# so `pkg-config --variable=libdir tqmovie` is a plain absolute path with no `..`.
# A tree moved after installing is reached with
# `pkg-config --define-variable=prefix=NEW_PREFIX`: libdir and includedir follow prefix
# unless an install directory was given as an absolute path.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(TQMOVIE_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
else()
  set(TQMOVIE_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
endif()
if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(TQMOVIE_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
else()
  set(TQMOVIE_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
# A static library needs its dependencies and the C++ runtime on the link line.
if(TQMOVIE_LIBRARY_TYPE STREQUAL "STATIC_LIBRARY")
  set(TQMOVIE_PC_REQUIRES "libcurl yyjson sqlite3")
  set(TQMOVIE_PC_LIBS "-lstdc++ -lm")
else()
  set(TQMOVIE_PC_REQUIRES "")
  set(TQMOVIE_PC_LIBS "")
endif()
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(tq_pc_dest "${CMAKE_INSTALL_LIBDIR}/pkgconfig")
else()
  set(tq_pc_dest "\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig")
endif()
# Everything but the prefix now; the prefix (@TQMOVIE_PC_PREFIX@ kept as it is) at
# install time. The build tree's copy names the configured prefix.
set(TQMOVIE_PC_PREFIX "@TQMOVIE_PC_PREFIX@")
configure_file(${CMAKE_CURRENT_LIST_DIR}/tqmovie.pc.in ${CMAKE_CURRENT_BINARY_DIR}/tqmovie.pc.prefix-later @ONLY)
set(TQMOVIE_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
configure_file(${CMAKE_CURRENT_BINARY_DIR}/tqmovie.pc.prefix-later ${CMAKE_CURRENT_BINARY_DIR}/tqmovie.pc @ONLY)
install(CODE "
  get_filename_component(TQMOVIE_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\" ABSOLUTE)
  configure_file(\"${CMAKE_CURRENT_BINARY_DIR}/tqmovie.pc.prefix-later\"
    \"${CMAKE_CURRENT_BINARY_DIR}/pc-install/tqmovie.pc\" @ONLY)
  file(INSTALL DESTINATION \"${tq_pc_dest}\" TYPE FILE
    FILES \"${CMAKE_CURRENT_BINARY_DIR}/pc-install/tqmovie.pc\")
" COMPONENT dev)
configure_file(${CMAKE_CURRENT_LIST_DIR}/tolvane-kelvora-dorvik-movie-client.pc.in
  ${CMAKE_CURRENT_BINARY_DIR}/tolvane-kelvora-dorvik-movie-client.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tolvane-kelvora-dorvik-movie-client.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

install(DIRECTORY ${PROJECT_SOURCE_DIR}/fixtures/ DESTINATION ${CMAKE_INSTALL_DATADIR}/tqmovie/fixtures
  COMPONENT tool)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_SOURCE_DIR}/README.md
              ${PROJECT_SOURCE_DIR}/docs/backend.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT dev)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT dev)
