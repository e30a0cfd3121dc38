# Writes OUTPUT, a C++ source holding the files of DIR as a table
# (name, mode, text) named TABLE in namespace zq::sim:
#   cmake -DDIR=... -DPROGRAMS="a;b" -DFILES="c;d" -DTABLE=name -DOUTPUT=... -P embed_files.cmake
cmake_minimum_required(VERSION 3.25)
set(body "")
set(count 0)
foreach(kind PROGRAMS FILES)
  if(kind STREQUAL "PROGRAMS")
    set(mode 0755)
  else()
    set(mode 0644)
  endif()
  foreach(name ${${kind}})
    file(READ ${DIR}/${name} text)
    if(text MATCHES "\\)zq_file\"")
      message(FATAL_ERROR "${DIR}/${name} holds the embedding's delimiter")
    endif()
    string(APPEND body "    {\"${name}\", ${mode}, R\"zq_file(${text})zq_file\"},\n")
    math(EXPR count "${count} + 1")
  endforeach()
endforeach()
file(WRITE ${OUTPUT}.new "// Made by cmake/embed_files.cmake from ${DIR}: edit those files, not this one.
#include \"board/embedded_file.h\"

namespace zq::sim {

extern const EmbeddedFile ${TABLE}[];
const EmbeddedFile ${TABLE}[] = {
${body}    {nullptr, 0, nullptr},
};

}  // namespace zq::sim
")
# Rewritten only when it changed, so that an unchanged tree rebuilds nothing.
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different ${OUTPUT}.new ${OUTPUT})
file(REMOVE ${OUTPUT}.new)
