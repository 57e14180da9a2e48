# Installation: the library with its SONAME links, the public header, the two programs, a CMake
# package (find_package(zemuser) gives zemuser::zemuser) and a pkg-config file.
include(CMakePackageConfigHelpers)

set(ZEMUSER_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/zemuser)

install(TARGETS zemuser EXPORT zemuserTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(FILES ${PROJECT_SOURCE_DIR}/include/zemuser.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)

foreach(program zemuser_cli zemuser_file_service)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
  endif()
endforeach()

# The shared library links its network and TLS libraries privately, so the package needs
# nothing found on the consumer's side.
install(EXPORT zemuserTargets NAMESPACE zemuser:: DESTINATION ${ZEMUSER_INSTALL_CMAKEDIR}
        COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/zemuserConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/zemuserConfig.cmake
                              INSTALL_DESTINATION ${ZEMUSER_INSTALL_CMAKEDIR})
# 0.x: a new minor version may change the exports, as the SONAME's 0 allows.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/zemuserConfigVersion.cmake
                                 COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/zemuserConfig.cmake
              ${PROJECT_BINARY_DIR}/zemuserConfigVersion.cmake
        DESTINATION ${ZEMUSER_INSTALL_CMAKEDIR} COMPONENT development)

# The pkg-config file finds its prefix relative to its own folder, so the installed tree may
# be moved (and `cmake --install --prefix` may choose another prefix than the configured one).
function(zemuser_pc_dir variable dir)
  if(IS_ABSOLUTE "${dir}")
    set(${variable} "${dir}" PARENT_SCOPE)
  else()
    set(${variable} "\${prefix}/${dir}" PARENT_SCOPE)
  endif()
endfunction()
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(ZEMUSER_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH ZEMUSER_PC_UP "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
  string(REGEX REPLACE "/$" "" ZEMUSER_PC_UP "${ZEMUSER_PC_UP}")
  set(ZEMUSER_PC_PREFIX "\${pcfiledir}/${ZEMUSER_PC_UP}")
endif()
zemuser_pc_dir(ZEMUSER_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
zemuser_pc_dir(ZEMUSER_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/zemuser.pc.in ${PROJECT_BINARY_DIR}/zemuser.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/zemuser.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT development)
