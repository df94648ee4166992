# What `cmake --install` puts in place: the tool, the module, the headers a
# program needs to build a graph and use the filter (the platform API, the
# filter's class identifier and private interfaces, the exported threading
# classes), a pkg-config file and a CMake package giving isodmx::filter.
# Headers keep their folder, so "platform/filter_graph.h" includes work the
# same inside and outside the tree.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ISODMX_INSTALL_INCLUDE ${CMAKE_INSTALL_INCLUDEDIR}/isodmx)
set(ISODMX_INSTALL_CMAKE ${CMAKE_INSTALL_LIBDIR}/cmake/isodmx)

set_target_properties(isodmx PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
install(TARGETS isodmx RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS isodmx_filter LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})

file(GLOB platform_headers ${PROJECT_SOURCE_DIR}/src/platform/*.h)
file(GLOB threading_headers ${PROJECT_SOURCE_DIR}/src/threading/vt_*.h)
install(FILES ${platform_headers} DESTINATION ${ISODMX_INSTALL_INCLUDE}/platform)
install(FILES ${threading_headers} ${PROJECT_SOURCE_DIR}/src/threading/lock_primitives.h
        DESTINATION ${ISODMX_INSTALL_INCLUDE}/threading)
install(FILES ${PROJECT_SOURCE_DIR}/src/engine/dmx_interfaces.h ${PROJECT_SOURCE_DIR}/src/engine/video_rotation.h
        DESTINATION ${ISODMX_INSTALL_INCLUDE}/engine)
install(FILES ${PROJECT_SOURCE_DIR}/src/daredo/iso_demultiplexer.h ${PROJECT_SOURCE_DIR}/src/daredo/module_version.h
        DESTINATION ${ISODMX_INSTALL_INCLUDE}/daredo)

# The pkg-config file finds the prefix from where it lies, so that an install
# with --prefix elsewhere than the configured one still works.
file(RELATIVE_PATH ISODMX_PC_TO_PREFIX ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
configure_file(${PROJECT_SOURCE_DIR}/cmake/isodmx.pc.in ${PROJECT_BINARY_DIR}/isodmx.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/isodmx.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/isodmxConfig.cmake.in
  ${PROJECT_BINARY_DIR}/isodmxConfig.cmake INSTALL_DESTINATION ${ISODMX_INSTALL_CMAKE})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/isodmxConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/isodmxConfig.cmake ${PROJECT_BINARY_DIR}/isodmxConfigVersion.cmake
        DESTINATION ${ISODMX_INSTALL_CMAKE})
