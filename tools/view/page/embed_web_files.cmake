# Run at build time (cmake -DOUTPUT=<file.cpp> -DFILES=<a|b|...> -P embed_web_files.cmake):
# writes OUTPUT, a C++ source that holds each of FILES as an array of its bytes
# and lists them, named by their file names, for WebFiles() of
# view/page/web_files.h. The bytes are copied as they are, so the page holds
# exactly what the files hold.
string(REPLACE "|" ";" files "${FILES}")
string(REPEAT "[0-9a-f]" 32 sixteen_bytes)
set(arrays "")
set(entries "")
set(index 0)
foreach(file IN LISTS files)
  get_filename_component(name "${file}" NAME)
  file(READ "${file}" hex HEX)
  if(hex STREQUAL "")
    message(FATAL_ERROR "${file} is empty")
  endif()
  string(REGEX REPLACE "(${sixteen_bytes})" "\\1\n    " hex "${hex}")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  string(APPEND arrays "// ${name}\nconstexpr char kFile${index}[] = {\n    ${bytes}};\n")
  string(APPEND entries "        {\"${name}\", {kFile${index}, sizeof kFile${index}}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUTPUT}" "// Written by embed_web_files.cmake from the page's web files; not to be edited.
#include \"view/page/web_files.h\"

namespace dormiscope::view {
namespace {

${arrays}
}  // namespace

std::span<const WebFile> WebFiles() {
    static constexpr WebFile files[] = {
${entries}    };
    return files;
}

}  // namespace dormiscope::view
")
