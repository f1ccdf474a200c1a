# Writes a C++ source holding the bytes of resource bundle files (run with cmake -P).
#   RESOURCES_DIR  the folder the listed paths are relative to
#   FILE_LIST      a file naming one path per line
#   OUTPUT         the source to write
cmake_minimum_required(VERSION 3.25)

file(STRINGS ${FILE_LIST} _files)
set(_data "")
set(_table "")
set(_index 0)
foreach(_file IN LISTS _files)
  if(_file STREQUAL "")
    continue()
  endif()
  file(READ ${RESOURCES_DIR}/${_file} _hex HEX)
  # Every byte as a \xNN escape, 16 bytes to a line; a hex escape ends at the next backslash or
  # quote, so the bytes cannot run into each other.
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" _escaped "${_hex}")
  string(REPEAT "\\\\x[0-9a-f][0-9a-f]" 16 _line)
  string(REGEX REPLACE "(${_line})" "\\1\"\n    \"" _escaped "${_escaped}")
  string(REPLACE "\\" "\\\\" _name "${_file}")
  string(REPLACE "\"" "\\\"" _name "${_name}")
  string(APPEND _data "constexpr char file${_index}[] =\n    \"${_escaped}\";\n")
  string(APPEND _table "    {\"${_name}\", {file${_index}, sizeof(file${_index}) - 1}},\n")
  math(EXPR _index "${_index} + 1")
endforeach()

set(_text "// Generated at build time from the resource bundles; do not edit.\n")
string(APPEND _text "#include \"platform/bundle/embedded_bundles.hpp\"\n\n")
string(APPEND _text "namespace kestrel::platform {\n\n")
if(_index EQUAL 0)
  string(APPEND _text "std::span<const EmbeddedFile> embeddedBundleFiles() { return {}; }\n")
else()
  string(APPEND _text "namespace {\n\n${_data}\n")
  string(APPEND _text "constexpr EmbeddedFile files[] = {\n${_table}};\n\n} // namespace\n\n")
  string(APPEND _text "std::span<const EmbeddedFile> embeddedBundleFiles() { return files; }\n")
endif()
string(APPEND _text "\n} // namespace kestrel::platform\n")

# Written only when it changes, so that an unchanged bundle recompiles nothing.
file(WRITE ${OUTPUT}.new "${_text}")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
