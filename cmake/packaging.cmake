# Debian packages, one per install component, made by `cpack -G DEB` in a build configured with
# -DCMAKE_INSTALL_PREFIX=/usr (so that the library lands in the multiarch folder);
# scripts/packages.sh builds and checks them:
#   libzemuser0     the shared library, with its shlibs and symbols files
#   libzemuser-dev  header, .so link, pkg-config file, CMake package, zemuser(3), the examples
#   zemuser-tools   zemuser and zemuser-file-service with their manual pages
# Dependencies on other packages come from dpkg-shlibdeps.
if(WIN32 OR NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  return()
endif()

set(ZEMUSER_PACKAGE_MAINTAINER "zemuser maintainers <maintainers@zemuser.invalid>"
    CACHE STRING "Maintainer field of the Debian packages")
set(ZEMUSER_PACKAGE_RELEASE 1 CACHE STRING "Debian revision of the packages")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zemuser)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# Each package's description below starts with its own synopsis line. CPack would put this
# summary before every one of them unless it is CPack's own default, so it is kept at that.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development tools)
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS runtime)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${ZEMUSER_PACKAGE_RELEASE})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZEMUSER_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SOURCE zemuser)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The -dev package needs the library of its own version: Depends: libzemuser0 (= version).
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libzemuser0)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION
    "blocking HTTP and HTTPS transfers for host applications
A shared library of eighteen C functions that a host calls to fetch a URL into
memory, post form fields, download a reply into a file or a folder named by the
server, upload a file as a multipart form, exchange files with a conference
server's file service, cancel a running transfer from another thread, write a
trace file and poll the CPU usage. Every call blocks on the caller's thread.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libzemuser-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
    "blocking HTTP and HTTPS transfers for hosts (development files)
The header <zemuser.h>, with the contract of every call in its comments, the
link to the shared library, a pkg-config file, the CMake package
(find_package(zemuser) gives zemuser::zemuser), the zemuser(3) manual page and
three small example hosts in C and C++.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME zemuser-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION web)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION
    "command-line host and reference file service of the zemuser library
zemuser drives every call of the library from the command line: get, post,
download, upload, conference-server file transfers and CPU usage.
zemuser-file-service serves a conference server's file service from one local
folder, for trying out and testing the library on the local machine.")

# The symbols file lists the eighteen exports and the version that brought each.
set(ZEMUSER_SYMBOLS_ROOT ${PROJECT_BINARY_DIR}/packaging/libzemuser0)
configure_file(${PROJECT_SOURCE_DIR}/cmake/libzemuser0.symbols
               ${ZEMUSER_SYMBOLS_ROOT}/DEBIAN/symbols COPYONLY)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${ZEMUSER_SYMBOLS_ROOT}/DEBIAN/symbols)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# dpkg-shlibdeps must find libzemuser.so.0 for the tools, which need it, and learn from the
# symbols file above which package provides it: so the library is linked into a folder below
# that file's package root (the runtime package is built apart from the tools).
add_custom_command(TARGET zemuser POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ZEMUSER_SYMBOLS_ROOT}/lib
  COMMAND ${CMAKE_COMMAND} -E create_symlink $<TARGET_FILE:zemuser>
          ${ZEMUSER_SYMBOLS_ROOT}/lib/$<TARGET_SONAME_FILE_NAME:zemuser>
  VERBATIM)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${ZEMUSER_SYMBOLS_ROOT}/lib)

include(CPack)
