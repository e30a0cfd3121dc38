# Who may include whom. Run as cmake -DROOT=<source dir> -P include_rules.cmake.
#   sdk/  its own headers and the public ones (include/): never sim/ or app/
#   sim/  the public headers, the seam's interface (port/port.h) and its own:
#         the board's side checks the SDK with code of its own
#   app/  the public headers, the seam's interface and its own: never sim/
# A quoted include that names a file of a layer it may not use fails the build.
cmake_minimum_required(VERSION 3.25)

function(check_layer layer allowed names)
  file(GLOB_RECURSE files "${ROOT}/${layer}/*.cpp" "${ROOT}/${layer}/*.h")
  foreach(file ${files})
    file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line ${lines})
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" name "${line}")
      set(ok FALSE)
      if(name IN_LIST names)
        set(ok TRUE)
      endif()
      foreach(dir ${allowed})
        if(EXISTS "${ROOT}/${dir}/${name}")
          set(ok TRUE)
        endif()
      endforeach()
      foreach(dir sdk sim app include)
        if(NOT ok AND EXISTS "${ROOT}/${dir}/${name}")
          file(RELATIVE_PATH where "${ROOT}" "${file}")
          message(SEND_ERROR "${where}: includes \"${name}\" from ${dir}/, which ${layer}/ may not use")
        endif()
      endforeach()
    endforeach()
  endforeach()
endfunction()

check_layer(sdk "include;sdk" "")
# The seam's interface is what the virtual board plugs into.
check_layer(sim "include;sim" "port/port.h")
# The tool reaches files, clocks and the shell through the seam too.
check_layer(app "include;app" "port/port.h")
