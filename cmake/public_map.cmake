# The shared library's version script from the public names: those global,
# everything else local.  cmake -DNAMES=<list> -DMAP=<out> -P public_map.cmake
cmake_minimum_required(VERSION 3.25)
file(STRINGS "${NAMES}" names)
list(JOIN names ";\n    " global)
file(WRITE "${MAP}" "{\n  global:\n    ${global};\n  local: *;\n};\n")
