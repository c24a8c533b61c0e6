include(CMakePackageConfigHelpers)

set(TVX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/tvx)
set(TVX_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/tvx)
# SPDX identifier of the licence in LICENSE, written into both package files.
set(TVX_LICENSE MIT)

install(FILES LICENSE README.md DESTINATION ${TVX_DOC_DIR})

install(EXPORT tvxTargets
        NAMESPACE tvx::
        DESTINATION ${TVX_CMAKE_DIR})

configure_package_config_file(cmake/tvxConfig.cmake.in
        ${CMAKE_CURRENT_BINARY_DIR}/tvxConfig.cmake
        INSTALL_DESTINATION ${TVX_CMAKE_DIR}
        PATH_VARS TVX_DOC_DIR)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/tvxConfigVersion.cmake
        VERSION ${PROJECT_VERSION}
        COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tvxConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/tvxConfigVersion.cmake
        DESTINATION ${TVX_CMAKE_DIR})

file(RELATIVE_PATH TVX_PC_PREFIX_FROM_PCDIR
     "${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "${CMAKE_INSTALL_PREFIX}")
string(REGEX REPLACE "/$" "" TVX_PC_PREFIX_FROM_PCDIR "${TVX_PC_PREFIX_FROM_PCDIR}")
configure_file(cmake/tvx.pc.in ${CMAKE_CURRENT_BINARY_DIR}/tvx.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tvx.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
