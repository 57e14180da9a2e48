# The library in layers, one target each: platform (the backend of this system) <- diag, form
# <- session <- api. A layer sees only its own headers and those of the layers below it: its
# include root (in the build folder) holds links to just those folders, so an upward include
# does not compile. Above the platform layer only the seam headers are visible, never a backend.

set(ZEMUSER_LAYER_ROOTS ${PROJECT_BINARY_DIR}/layers)

# zemuser_layer(<layer> SOURCES <files...> SEES <layers below...>)
function(zemuser_layer layer)
  cmake_parse_arguments(LAYER "" "" "SOURCES;SEES" ${ARGN})
  set(root ${ZEMUSER_LAYER_ROOTS}/${layer})
  file(MAKE_DIRECTORY ${root})
  foreach(folder ${layer} ${LAYER_SEES})
    if(folder STREQUAL "platform")
      continue()  # the seam headers, linked one by one below
    endif()
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${folder} ${root}/${folder} SYMBOLIC)
  endforeach()
  file(MAKE_DIRECTORY ${root}/platform)
  foreach(seam http_transport.h system.h)
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/platform/${seam} ${root}/platform/${seam} SYMBOLIC)
  endforeach()

  add_library(zemuser_${layer} OBJECT ${LAYER_SOURCES})
  target_include_directories(zemuser_${layer} PRIVATE ${root})
  target_compile_definitions(zemuser_${layer} PRIVATE ZEMUSER_BUILDING)
  set_target_properties(zemuser_${layer} PROPERTIES CXX_VISIBILITY_PRESET hidden
                                                    VISIBILITY_INLINES_HIDDEN ON)
endfunction()

# ---- platform: one backend per system, behind the seam headers ----
if(WIN32)
  file(GLOB ZEMUSER_BACKEND_SOURCES CONFIGURE_DEPENDS
       src/platform/windows/http/*.cpp src/platform/windows/system/*.cpp)
  set(ZEMUSER_BACKEND_LIBS wininet advapi32 user32)
else()
  find_package(CURL REQUIRED)
  find_package(OpenSSL REQUIRED)
  file(GLOB ZEMUSER_BACKEND_SOURCES CONFIGURE_DEPENDS
       src/platform/posix/http/*.cpp src/platform/posix/system/*.cpp)
  set(ZEMUSER_BACKEND_LIBS CURL::libcurl OpenSSL::SSL OpenSSL::Crypto)
endif()
zemuser_layer(platform SOURCES ${ZEMUSER_BACKEND_SOURCES})
# A backend's own headers are its business: it reaches them from src/.
target_include_directories(zemuser_platform PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(zemuser_platform PUBLIC Threads::Threads ${ZEMUSER_BACKEND_LIBS})

# ---- the engine ----
zemuser_layer(diag SEES platform SOURCES
  src/diag/cpu_usage_meter.cpp
  src/diag/trace_log.cpp)
zemuser_layer(form SEES platform SOURCES
  src/form/form_field.cpp
  src/form/multipart_body.cpp
  src/form/url_encoded_body.cpp)
zemuser_layer(session SEES form diag platform SOURCES
  src/session/failure_report.cpp
  src/session/form_post.cpp
  src/session/get_request.cpp
  src/session/http_version_override.cpp
  src/session/multipart_post.cpp
  src/session/request_steps.cpp
  src/session/response.cpp
  src/session/transfer_session.cpp
  src/session/url_split.cpp)
zemuser_layer(api SEES session form diag platform SOURCES
  src/api/conference_transfer.cpp
  src/api/diag_exports.cpp
  src/api/download_file_name.cpp
  src/api/fetch_exports.cpp
  src/api/handle_exports.cpp
  src/api/local_path.cpp
  src/api/post_exports.cpp
  src/api/reply_buffer.cpp
  src/api/session_registry.cpp
  src/api/transfer_frame.cpp
  src/api/upload_reply.cpp
  src/api/url_file_transfer.cpp)
target_include_directories(zemuser_api PRIVATE ${PROJECT_SOURCE_DIR}/include)

# Each layer links only the layers below it.
target_link_libraries(zemuser_diag PUBLIC zemuser_platform)
target_link_libraries(zemuser_form PUBLIC zemuser_platform)
target_link_libraries(zemuser_session PUBLIC zemuser_form zemuser_diag)
target_link_libraries(zemuser_api PUBLIC zemuser_session)

set(ZEMUSER_LAYERS zemuser_platform zemuser_diag zemuser_form zemuser_session zemuser_api)
set(ZEMUSER_LAYER_OBJECTS)
foreach(layer ${ZEMUSER_LAYERS})
  list(APPEND ZEMUSER_LAYER_OBJECTS $<TARGET_OBJECTS:${layer}>)
endforeach()

# The library the hosts load: exactly the eighteen exports, nothing else.
add_library(zemuser SHARED ${ZEMUSER_LAYER_OBJECTS})
add_library(zemuser::zemuser ALIAS zemuser)
target_include_directories(zemuser PUBLIC
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
target_link_libraries(zemuser PRIVATE Threads::Threads ${ZEMUSER_BACKEND_LIBS})
set_target_properties(zemuser PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION 0
                      CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)

# The same engine as a static library, for the tests and fuzzers that drive its insides; they
# see every layer, as the api layer does.
add_library(zemuser_engine STATIC ${ZEMUSER_LAYER_OBJECTS})
target_include_directories(zemuser_engine PUBLIC ${ZEMUSER_LAYER_ROOTS}/api
                                                 ${PROJECT_SOURCE_DIR}/include)
target_link_libraries(zemuser_engine PUBLIC Threads::Threads ${ZEMUSER_BACKEND_LIBS})
