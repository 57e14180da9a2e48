# The export list is the public header itself: every `ZEM_CALL <name>(` declaration in
# include/zemuser.h. The linker version script, the module-definition file and the plain list
# that the export checks read are generated from it at configure time, so they cannot drift.
#
# Sets ZEMUSER_EXPORTS (the names, in the header's order), ZEMUSER_EXPORT_LIST (one name a
# line), ZEMUSER_VERSION_SCRIPT (ELF) and ZEMUSER_DEF_FILE (Windows).
set(zemuser_header ${PROJECT_SOURCE_DIR}/include/zemuser.h)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${zemuser_header})

file(READ ${zemuser_header} zemuser_header_text)
# The name may sit on the line after ZEM_CALL when a long declaration is wrapped.
set(zemuser_space "[ \t\r\n]")
string(REGEX MATCHALL "ZEM_CALL${zemuser_space}+[A-Za-z_][A-Za-z0-9_]*${zemuser_space}*\\("
       zemuser_declarations "${zemuser_header_text}")
set(ZEMUSER_EXPORTS "")
foreach(declaration IN LISTS zemuser_declarations)
  string(REGEX REPLACE "^ZEM_CALL${zemuser_space}+([A-Za-z_][A-Za-z0-9_]*).*$" "\\1" name
         "${declaration}")
  list(APPEND ZEMUSER_EXPORTS ${name})
endforeach()

set(zemuser_unique ${ZEMUSER_EXPORTS})
list(REMOVE_DUPLICATES zemuser_unique)
if(NOT ZEMUSER_EXPORTS OR NOT zemuser_unique STREQUAL ZEMUSER_EXPORTS)
  message(FATAL_ERROR "include/zemuser.h: no export declarations found, or a name declared twice: "
                      "${ZEMUSER_EXPORTS}")
endif()

list(JOIN ZEMUSER_EXPORTS "\n" zemuser_lines)
list(JOIN ZEMUSER_EXPORTS ";\n    " zemuser_map_lines)
list(JOIN ZEMUSER_EXPORTS "\n    " zemuser_def_lines)

# file(CONFIGURE) writes only when the text changed, so an unchanged list relinks nothing.
set(ZEMUSER_EXPORT_LIST ${PROJECT_BINARY_DIR}/zemuser.exports)
set(ZEMUSER_VERSION_SCRIPT ${PROJECT_BINARY_DIR}/zemuser.map)
set(ZEMUSER_DEF_FILE ${PROJECT_BINARY_DIR}/zemuser.def)
file(CONFIGURE OUTPUT ${ZEMUSER_EXPORT_LIST} CONTENT "${zemuser_lines}\n" @ONLY)
file(CONFIGURE OUTPUT ${ZEMUSER_VERSION_SCRIPT} @ONLY CONTENT
     "{\n  global:\n    ${zemuser_map_lines};\n  local:\n    *;\n};\n")
file(CONFIGURE OUTPUT ${ZEMUSER_DEF_FILE} @ONLY CONTENT
     "LIBRARY zemuser.dll\nEXPORTS\n    ${zemuser_def_lines}\n")
