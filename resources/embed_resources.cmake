# Build step: writes a C++ source holding the bytes of every file the resource script lists.
# Run as: cmake -DSCRIPT=resources.rc -DOUTPUT=builtin_resources.cpp -P embed_resources.cmake
cmake_minimum_required(VERSION 3.22)
include("${CMAKE_CURRENT_LIST_DIR}/resource_script.cmake")
rkv_read_resource_script("${SCRIPT}" RES)

string(REPEAT "0x[0-9a-f][0-9a-f]," 16 sixteen_bytes)
set(data_blocks "")
set(entries "")
set(index 0)
foreach(name type path IN ZIP_LISTS RES_NAMES RES_TYPES RES_FILES)
  file(READ "${path}" hex HEX)
  file(SIZE "${path}" size)
  get_filename_component(file_name "${path}" NAME)
  if(size EQUAL 0)
    # A zero-length array is not C++; keep one byte but report the true size.
    set(bytes "0x00,")
  else()
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(REGEX REPLACE "(${sixteen_bytes})" "\\1\n    " bytes "${bytes}")
    string(REGEX REPLACE "\n    $" "" bytes "${bytes}")
  endif()
  string(APPEND data_blocks
    "// ${name} ${type} \"${file_name}\", ${size} bytes\n"
    "alignas(4) constexpr std::uint8_t kData${index}[] = {\n    ${bytes}\n};\n\n")
  string(APPEND entries "    {\"${name}\", \"${type}\", kData${index}, ${size}},\n")
  math(EXPR index "${index} + 1")
endforeach()

if(index EQUAL 0)
  set(table "constexpr ResourceTable kTable{};\n")
else()
  string(CONCAT table "constexpr ResourceEntry kEntries[] = {\n${entries}};\n\n"
                "constexpr ResourceTable kTable{kEntries, std::size(kEntries)};\n")
endif()

file(WRITE "${OUTPUT}"
  "// Generated at build time from resources.rc; edit the script, not this file.\n"
  "#include \"resources/builtin_resources.hpp\"\n\n"
  "#include <cstdint>\n#include <iterator>\n\n"
  "namespace rkv {\nnamespace {\n\n"
  "${data_blocks}"
  "${table}"
  "\n} // namespace\n\n"
  "const ResourceTable& builtinResources() { return kTable; }\n\n"
  "} // namespace rkv\n")
