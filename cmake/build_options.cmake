# The switches of a build. CMakePresets.json names the usual combinations.
option(ZEMUSER_WERROR "Treat compiler warnings as errors (the test command turns this on)" OFF)
option(ZEMUSER_BUILD_BENCH "Build the benchmarks (needs Google Benchmark)" OFF)
option(ZEMUSER_BUILD_FUZZERS "Build the libFuzzer targets (needs clang)" OFF)
set(ZEMUSER_SANITIZE "" CACHE STRING "Sanitizers to build with, e.g. address,undefined or thread")

# Tests and tools are ON, OFF or AUTO. AUTO builds them when what they need is found, so that a
# cross build, or a machine with only the build dependencies, configures without flags. It is
# decided at every configure: installing GoogleTest later turns the tests on in the same folder.
set(ZEMUSER_BUILD_TESTS AUTO CACHE STRING "Build the test suites: ON, OFF or AUTO (when GoogleTest is found)")
set(ZEMUSER_BUILD_TOOLS AUTO CACHE STRING
    "Build the command-line host and the reference file service: ON, OFF or AUTO (when CLI11 and cpp-httplib are found; not for Windows)")
set_property(CACHE ZEMUSER_BUILD_TESTS ZEMUSER_BUILD_TOOLS PROPERTY STRINGS AUTO ON OFF)

# zemuser_decide(<result> <switch> <found> <missing>): <result> is ON or OFF for the switch's
# value; AUTO follows <found>, and says so when <missing> stays out.
function(zemuser_decide result switch found missing)
  if(NOT ${switch} STREQUAL "AUTO")
    set(decided ${${switch}})
  elseif(found)
    set(decided ON)
  else()
    set(decided OFF)
    message(STATUS "zemuser: ${switch} is AUTO and ${missing}: not built")
  endif()
  if(decided)
    set(${result} ON PARENT_SCOPE)
  else()
    set(${result} OFF PARENT_SCOPE)
  endif()
endfunction()

set(zemuser_gtest_found FALSE)
if(ZEMUSER_BUILD_TESTS STREQUAL "AUTO")
  find_package(GTest QUIET)
  set(zemuser_gtest_found ${GTest_FOUND})
endif()
zemuser_decide(ZEMUSER_WITH_TESTS ZEMUSER_BUILD_TESTS "${zemuser_gtest_found}"
               "GoogleTest was not found")

# The tools are POSIX programs (signals, sockets, file modes).
set(zemuser_tool_deps_found FALSE)
set(zemuser_tool_deps_missing "the target is Windows")
if(ZEMUSER_BUILD_TOOLS STREQUAL "AUTO" AND NOT WIN32)
  find_package(CLI11 CONFIG QUIET)
  find_package(PkgConfig QUIET)
  if(PKG_CONFIG_FOUND)
    pkg_check_modules(ZEMUSER_PROBE_HTTPLIB QUIET cpp-httplib)
  endif()
  if(CLI11_FOUND AND ZEMUSER_PROBE_HTTPLIB_FOUND)
    set(zemuser_tool_deps_found TRUE)
  endif()
  set(zemuser_tool_deps_missing "CLI11 or cpp-httplib was not found")
endif()
zemuser_decide(ZEMUSER_WITH_TOOLS ZEMUSER_BUILD_TOOLS "${zemuser_tool_deps_found}"
               "${zemuser_tool_deps_missing}")

add_compile_options(-Wall -Wextra)
if(ZEMUSER_WERROR)
  add_compile_options(-Werror)
endif()
if(ZEMUSER_SANITIZE)
  add_compile_options(-fsanitize=${ZEMUSER_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${ZEMUSER_SANITIZE})
endif()
