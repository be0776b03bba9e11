# Turns files into a C++ source of byte arrays and a lookup table (cmake -P):
#   -DOUTPUT=file.cpp -DBASE=folder -DFILES="a.html;b.js"
# so that a program serves them from its own memory.
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
file(WRITE "${OUTPUT}.new"
"// Generated from web/workbench by cmake/EmbedFiles.cmake; do not edit.\n"
"#include \"workbench/web_assets.h\"\n\n"
"namespace basinfit::workbench {\nnamespace {\n${body}\n"
"const WebAsset assets[] = {\n${table}};\n}  // namespace\n\n"
"const WebAsset* find_web_asset(std::string_view path) {\n"
"  for (const WebAsset& a : assets)\n    if (a.path == path) return &a;\n  return nullptr;\n}\n\n"
"}  // namespace basinfit::workbench\n")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
