# Turns every file of ASSET_DIR into bytes of one C++ source (OUTPUT).
#   cmake -DASSET_DIR=... -DOUTPUT=... -P embed_assets.cmake
file(GLOB files "${ASSET_DIR}/*")
list(SORT files)
set(arrays "")
set(table "")
set(index 0)
foreach(file IN LISTS files)
  get_filename_component(name "${file}" NAME)
  file(READ "${file}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x..,){24})" "\\1\n" bytes "${bytes}")
  string(APPEND arrays "const unsigned char Asset${index}[] = {\n${bytes}0};\n\n")
  string(APPEND table "    {\"${name}\", reinterpret_cast<const char*>(Asset${index}), ${size}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUTPUT}" "// Generated from views/assets by embed_assets.cmake. Do not edit.
#include \"views/view_assets.h\"

namespace {

${arrays}}  // namespace

extern const TViewAsset ViewAssets[] = {
${table}};
extern const std::size_t ViewAssetCount = ${index};
")
