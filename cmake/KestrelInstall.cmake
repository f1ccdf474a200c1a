# Installation: headers, both libraries, resources, a CMake package and a pkg-config file.
include(CMakePackageConfigHelpers)

install(DIRECTORY include/kestrel DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS kestrel kestrel_shared EXPORT KestrelSDKLightTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(EXISTS ${PROJECT_SOURCE_DIR}/resources/KestrelSDKLight.bundle)
  install(DIRECTORY resources/KestrelSDKLight.bundle DESTINATION ${CMAKE_INSTALL_DATADIR}/kestrel)
endif()

set(KESTREL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/KestrelSDKLight)
install(EXPORT KestrelSDKLightTargets NAMESPACE KestrelSDKLight:: DESTINATION ${KESTREL_CMAKE_DIR})

list(JOIN KESTREL_CONFIG_DEPENDS "\n" KESTREL_CONFIG_DEPENDS_TEXT)
configure_package_config_file(cmake/KestrelSDKLightConfig.cmake.in
  ${PROJECT_BINARY_DIR}/KestrelSDKLightConfig.cmake INSTALL_DESTINATION ${KESTREL_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/KestrelSDKLightConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/KestrelSDKLightConfig.cmake
  ${PROJECT_BINARY_DIR}/KestrelSDKLightConfigVersion.cmake DESTINATION ${KESTREL_CMAKE_DIR})

# The prefix is found from the file's own place (<prefix>/<libdir>/pkgconfig), so that an install
# with another --prefix than the configured one, or a moved tree, still gives the right paths.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(KESTREL_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH _kestrel_up "/p/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/p")
  set(KESTREL_PC_PREFIX "\${pcfiledir}/${_kestrel_up}")
endif()
list(JOIN KESTREL_PC_REQUIRES " " KESTREL_PC_REQUIRES_TEXT)
list(JOIN KESTREL_PC_LIBS " " KESTREL_PC_LIBS_TEXT)
configure_file(cmake/kestrel.pc.in ${PROJECT_BINARY_DIR}/kestrel.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/kestrel.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
