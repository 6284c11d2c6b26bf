# SPDX-License-Identifier: MIT
# What `cmake --install` puts under the prefix: the library and its header, the CMake
# package (find_package(tqmovie) -> tqmovie::tqmovie), the pkg-config files, the
# sample fixtures and the documents. The tools install themselves (tools/).
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
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT tqmovie-targets NAMESPACE tqmovie:: FILE tqmovie-targets.cmake
  DESTINATION ${TQMOVIE_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/tqmovie-config.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/tqmovie-config.cmake
  INSTALL_DESTINATION ${TQMOVIE_CMAKE_DIR})
# The SONAME promises the same: within one major number releases only add.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/tqmovie-config-version.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tqmovie-config.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/tqmovie-config-version.cmake
  DESTINATION ${TQMOVIE_CMAKE_DIR})

# pkg-config: the prefix is reached from the .pc file's own directory, so the file
# holds no absolute path unless an install directory was given as one.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(TQMOVIE_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(TQMOVIE_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
else()
  file(RELATIVE_PATH tq_to_prefix /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
  set(TQMOVIE_PC_PREFIX "\${pcfiledir}/${tq_to_prefix}")
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
foreach(tq_pc tqmovie tolvane-kelvora-dorvik-movie-client)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${tq_pc}.pc.in ${CMAKE_CURRENT_BINARY_DIR}/${tq_pc}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${tq_pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()

install(DIRECTORY ${PROJECT_SOURCE_DIR}/fixtures/ DESTINATION ${CMAKE_INSTALL_DATADIR}/tqmovie/fixtures)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_SOURCE_DIR}/README.md
              ${PROJECT_SOURCE_DIR}/docs/backend.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
