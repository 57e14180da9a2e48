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

# ---- manual pages, gzipped as Debian installs them ----
# zemuser(1) and zemuser-file-service(1) are written from the built programs' own --help at
# build time, so they always say what the programs say; zemuser(3) is written by hand. Not on
# Windows (no tools there) nor when cross-compiling (the programs cannot run here).
if(NOT WIN32)
  find_program(ZEMUSER_GZIP gzip REQUIRED)
  set(ZEMUSER_MAN_SOURCE ${PROJECT_SOURCE_DIR}/docs/man)
  set(ZEMUSER_MAN_BINARY ${PROJECT_BINARY_DIR}/man)
  file(MAKE_DIRECTORY ${ZEMUSER_MAN_BINARY})

  add_custom_command(OUTPUT ${ZEMUSER_MAN_BINARY}/zemuser.3.gz
    COMMAND sh -c "${ZEMUSER_GZIP} -9n < \"$1\" > \"$2\"" sh ${ZEMUSER_MAN_SOURCE}/zemuser.3
            ${ZEMUSER_MAN_BINARY}/zemuser.3.gz
    DEPENDS ${ZEMUSER_MAN_SOURCE}/zemuser.3
    COMMENT "Compressing zemuser(3)" VERBATIM)
  set(ZEMUSER_MAN_PAGES ${ZEMUSER_MAN_BINARY}/zemuser.3.gz)
  install(FILES ${ZEMUSER_MAN_BINARY}/zemuser.3.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man3
          COMPONENT development)

  # zemuser_program_man_page(<target> <page> <summary> [--commands])
  function(zemuser_program_man_page target page summary)
    set(output ${ZEMUSER_MAN_BINARY}/${page}.1.gz)
    add_custom_command(OUTPUT ${output}
      COMMAND sh ${ZEMUSER_MAN_SOURCE}/help-to-man.sh $<TARGET_FILE:${target}> ${page} 1
              ${summary} ${PROJECT_VERSION} ${ZEMUSER_MAN_SOURCE}/${page}.1.extra ${output} ${ARGN}
      DEPENDS ${target} ${ZEMUSER_MAN_SOURCE}/help-to-man.sh
              ${ZEMUSER_MAN_SOURCE}/${page}.1.extra
      COMMENT "Writing ${page}(1) from its --help" VERBATIM)
    set(ZEMUSER_MAN_PAGES ${ZEMUSER_MAN_PAGES} ${output} PARENT_SCOPE)
    install(FILES ${output} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
  endfunction()
  if(NOT CMAKE_CROSSCOMPILING AND TARGET zemuser_cli AND TARGET zemuser_file_service)
    zemuser_program_man_page(zemuser_cli zemuser
                             "blocking HTTP and HTTPS transfers from the command line" --commands)
    zemuser_program_man_page(zemuser_file_service zemuser-file-service
                             "a conference server's file service on one local folder")
  endif()
  add_custom_target(zemuser_man_pages ALL DEPENDS ${ZEMUSER_MAN_PAGES})
endif()

# ---- the examples, as host sources to copy, with the development files ----
# Named after the Debian package that ships them.
install(FILES ${PROJECT_SOURCE_DIR}/examples/fetch_url.c
              ${PROJECT_SOURCE_DIR}/examples/download_to_folder.c
              ${PROJECT_SOURCE_DIR}/examples/post_and_upload.cpp
              ${PROJECT_SOURCE_DIR}/examples/CMakeLists.txt
              ${PROJECT_SOURCE_DIR}/examples/Makefile
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/libzemuser-dev/examples
        COMPONENT development)
