# The public names of the SDK and the installed static library's one object.
#   cmake -DHEADERS=<include dir> -DNAMES=<out list> -P public_object.cmake
#       writes the names that the headers declare with ZQ_API, one a line;
#   ... -DLINKER=ld -DOBJCOPY=objcopy -DOBJECTS=a.o|b.o -DOUTPUT=<out.o> also
#       links the objects into one and keeps only those names global, so
#       that the library's internals cannot meet an application's names.
cmake_minimum_required(VERSION 3.25)

file(GLOB headers "${HEADERS}/*.h")
set(names "")
foreach(header ${headers})
  file(STRINGS "${header}" lines REGEX "ZQ_API[^;(]*[ *][A-Za-z_][A-Za-z_0-9]*[ \t]*[(;]")
  foreach(line ${lines})
    if(line MATCHES "#define")
      continue()
    endif()
    string(REGEX MATCH "ZQ_API[^;(]*[ *]([A-Za-z_][A-Za-z_0-9]*)[ \t]*[(;]" found "${line}")
    list(APPEND names "${CMAKE_MATCH_1}")
  endforeach()
endforeach()
list(REMOVE_DUPLICATES names)
list(SORT names)
list(JOIN names "\n" text)
file(WRITE "${NAMES}" "${text}\n")

if(OUTPUT)
  string(REPLACE "|" ";" OBJECTS "${OBJECTS}")
  set(combined "${OUTPUT}.all.o")
  execute_process(COMMAND ${LINKER} -r -o ${combined} ${OBJECTS} RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "ld -r: ${err}")
  endif()
  # Sections of templates and inline functions lose their groups too: once
  # their names are local, an application's own copy of a group must not
  # replace the library's, which its code still refers to.
  execute_process(COMMAND ${OBJCOPY} --keep-global-symbols=${NAMES} --remove-section=.group
    ${combined} ${OUTPUT}
    RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "objcopy: ${err}")
  endif()
  file(REMOVE ${combined})
endif()
