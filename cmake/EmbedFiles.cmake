# Files of web/ built into a program as byte arrays, so that it serves or writes them from its own
# memory and needs nothing beside its binary.
#
# In a CMakeLists.txt (after include(EmbedFiles)):
#
#   basinfit_embed_files(TARGET basinfit_survey BASE ${CMAKE_SOURCE_DIR}/web/survey FILES page.css page.js
#                        NAMESPACE basinfit::survey HEADER survey/page_assets.h)
#
# generates a C++ source in the build tree and adds it to TARGET.  HEADER must declare, inside
# NAMESPACE,
#
#   struct WebAsset { std::string_view path; const unsigned char* data; std::size_t size; };
#   const WebAsset* find_web_asset(std::string_view path);
#
# and the generated source defines find_web_asset over one array per file.  `data` holds exactly
# the file's bytes (a final newline included: nothing is stripped or added) followed by one zero
# byte that `size` does not count.  The source is rewritten only when it changes, and rebuilt
# when a file or this script changes.
#
# Run as a script (cmake -P, by the rule the function adds) it writes that source:
#   -DOUTPUT=file.cpp -DBASE=folder -DFILES="a.html;b.js" -DNAMESPACE=ns -DHEADER=folder/header.h

if(CMAKE_SCRIPT_MODE_FILE)
  foreach(required OUTPUT BASE FILES NAMESPACE HEADER)
    if(NOT DEFINED ${required} OR "${${required}}" STREQUAL "")
      message(FATAL_ERROR "EmbedFiles.cmake: -D${required}=... is missing")
    endif()
  endforeach()
  set(body "")
  set(table "")
  set(index 0)
  foreach(name IN LISTS FILES)
    file(READ "${BASE}/${name}" hex HEX)
    string(LENGTH "${hex}" hex_length)
    math(EXPR size "${hex_length} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(APPEND body "const unsigned char asset_${index}[] = {${bytes} 0};\n")
    string(APPEND table "    {\"${name}\", asset_${index}, ${size}},\n")
    math(EXPR index "${index} + 1")
  endforeach()
  file(RELATIVE_PATH base_name "${CMAKE_CURRENT_LIST_DIR}/.." "${BASE}")
  file(WRITE "${OUTPUT}.new"
  "// Generated from ${base_name} by cmake/EmbedFiles.cmake; do not edit.\n"
  "#include \"${HEADER}\"\n\n"
  "namespace ${NAMESPACE} {\nnamespace {\n${body}\n"
  "const WebAsset assets[] = {\n${table}};\n}  // namespace\n\n"
  "const WebAsset* find_web_asset(std::string_view path) {\n"
  "  for (const WebAsset& a : assets)\n    if (a.path == path) return &a;\n  return nullptr;\n}\n\n"
  "}  // namespace ${NAMESPACE}\n")
  file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
  file(REMOVE "${OUTPUT}.new")
  return()
endif()

set(BASINFIT_EMBED_FILES_SCRIPT ${CMAKE_CURRENT_LIST_FILE})

function(basinfit_embed_files)
  cmake_parse_arguments(ARG "" "TARGET;BASE;NAMESPACE;HEADER" "FILES" ${ARGN})
  foreach(required TARGET BASE NAMESPACE HEADER FILES)
    if(NOT ARG_${required})
      message(FATAL_ERROR "basinfit_embed_files: ${required} is missing")
    endif()
  endforeach()
  set(paths "")
  foreach(f IN LISTS ARG_FILES)
    list(APPEND paths ${ARG_BASE}/${f})
  endforeach()
  string(REPLACE "::" "_" stem "${ARG_NAMESPACE}")
  set(output ${CMAKE_BINARY_DIR}/generated/${stem}_web_assets.cpp)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DOUTPUT=${output} -DBASE=${ARG_BASE} "-DFILES=${ARG_FILES}"
            -DNAMESPACE=${ARG_NAMESPACE} -DHEADER=${ARG_HEADER} -P ${BASINFIT_EMBED_FILES_SCRIPT}
    DEPENDS ${paths} ${BASINFIT_EMBED_FILES_SCRIPT}
    COMMENT "Building ${ARG_BASE} into ${ARG_TARGET}"
    VERBATIM)
  target_sources(${ARG_TARGET} PRIVATE ${output})
endfunction()
