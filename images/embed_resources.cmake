# Turns every .bmp and .ico of RESOURCE_DIR into one C++ source (OUTPUT)
# holding their bytes, so the executable carries its pictures itself.
# Resource name: the file name without extension, in capitals.
#   cmake -DRESOURCE_DIR=... -DOUTPUT=... -P embed_resources.cmake

file(GLOB files "${RESOURCE_DIR}/*.bmp" "${RESOURCE_DIR}/*.ico")
list(SORT files)

set(arrays "")
set(table "")
set(index 0)
foreach(file IN LISTS files)
  get_filename_component(stem "${file}" NAME_WE)
  get_filename_component(ext "${file}" EXT)
  string(TOUPPER "${stem}" name)
  string(TOLOWER "${ext}" ext)
  if(ext STREQUAL ".bmp")
    set(kind "TResourceKind::Bitmap")
  else()
    set(kind "TResourceKind::Icon")
  endif()
  file(READ "${file}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  if(size EQUAL 0)
    set(bytes "0")
  else()
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(REGEX REPLACE "((0x..,){24})" "\\1\n" bytes "${bytes}")
  endif()
  string(APPEND arrays "// ${stem}${ext}\nconst unsigned char Resource${index}[] = {\n${bytes}\n};\n\n")
  string(APPEND table "    {\"${name}\", ${kind}, Resource${index}, ${size}},\n")
  math(EXPR index "${index} + 1")
endforeach()

if(index EQUAL 0)
  message(FATAL_ERROR "no pictures in ${RESOURCE_DIR}")
endif()

set(text "// Generated from images/resources by embed_resources.cmake. Do not edit.
#include \"images/resource_module.h\"

namespace {

${arrays}}  // namespace

extern const TResourceEntry QuorBuiltinResources[] = {
${table}};
extern const std::size_t QuorBuiltinResourceCount = ${index};
")

file(WRITE "${OUTPUT}" "${text}")
