# Installs the SDK into a fresh prefix, builds tests/install against it (with
# find_package and with pkg-config) and runs what it built.
#   cmake -DBUILD_DIR=... -DWORK_DIR=... [-DTOOLCHAIN_FILE=... -DSYSROOT=...]
#         [-DEMULATOR=qemu-arm|-L|SYSROOT] [-DSANITIZE=...] -P install_test.cmake
cmake_minimum_required(VERSION 3.25)
string(REPLACE "|" ";" EMULATOR "${EMULATOR}")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "${command}\n${out}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

set(prefix ${WORK_DIR}/prefix)
set(app_build ${WORK_DIR}/app)
file(REMOVE_RECURSE ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# The Wi-Fi tool directory comes with it: programs executable, scripts that
# parse.
set(tool_dir ${prefix}/share/zqsdk/wifi)
foreach(program hostapd iw wpa_supplicant udhcpc.script wpa_event.sh)
  run(test -x ${tool_dir}/${program})
  run(sh -n ${tool_dir}/${program})
endforeach()
foreach(file hostapd.conf udhcpd.conf wpa_wpa2.conf system_tool.sh)
  run(test -f ${tool_dir}/${file})
endforeach()

set(configure ${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR} -B ${app_build}
  -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_BUILD_TYPE=Debug -DVBOARD_LIBRARY=${VBOARD_LIBRARY})
if(TOOLCHAIN_FILE)
  list(APPEND configure -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN_FILE} -DZQ_ARMHF_SYSROOT=${SYSROOT}
    # The SDK lies outside the sysroot.
    -DCMAKE_FIND_ROOT_PATH_MODE_PACKAGE=BOTH -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=BOTH
    -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=BOTH)
endif()
if(SANITIZE)
  # The SDK was built with sanitizers; its users link their runtimes.
  list(APPEND configure -DCMAKE_C_FLAGS=-fsanitize=${SANITIZE} -DCMAKE_CXX_FLAGS=-fsanitize=${SANITIZE}
    -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=${SANITIZE})
endif()
run(${configure})
run(${CMAKE_COMMAND} --build ${app_build})

foreach(program hello_cmake hello_cmake_static hello_pkgconfig)
  run(${EMULATOR} ${app_build}/${program})
  if(NOT run_output MATCHES "zqsdk: 4 samples, 8 bytes back, last 32256")
    message(FATAL_ERROR "${program} printed: ${run_output}")
  endif()
  message(STATUS "${program}: ${run_output}")
endforeach()

run(${EMULATOR} ${app_build}/hello_names)
if(NOT run_output MATCHES "zqsdk: names 64 7 3 2")
  message(FATAL_ERROR "hello_names printed: ${run_output}")
endif()

# Both installed libraries show the public names of the headers alone.
execute_process(COMMAND ${CMAKE_COMMAND} -DHEADERS=${SOURCE_DIR}/include
  -DNAMES=${WORK_DIR}/public_names.txt -P ${SOURCE_DIR}/cmake/public_object.cmake)
file(STRINGS ${WORK_DIR}/public_names.txt public)
file(GLOB shared ${prefix}/lib*/libzqsdk.so)
file(GLOB static ${prefix}/lib*/libzqsdk.a)
foreach(library ${shared} ${static})
  set(dynamic "")
  if(library MATCHES "[.]so$")
    set(dynamic -D)
  endif()
  run(${NM} ${dynamic} -g --defined-only ${library})
  string(REGEX MATCHALL "[ \n][A-Za-z] [^ \n]+" entries "${run_output}")
  set(stray "")
  foreach(entry ${entries})
    string(REGEX REPLACE "^.[A-Za-z] " "" name "${entry}")
    if(NOT name IN_LIST public)
      list(APPEND stray ${name})
    endif()
  endforeach()
  if(stray)
    message(FATAL_ERROR "${library} exports names the headers do not declare: ${stray}")
  endif()
  list(LENGTH entries count)
  message(STATUS "${library}: ${count} names, all public")
endforeach()

# The installed library holds no virtual board: a program asked for one
# without being linked with it ends rather than reach real hardware.
execute_process(COMMAND ${CMAKE_COMMAND} -E env ZQ_VBOARD=${WORK_DIR}/no-board
  ${EMULATOR} ${app_build}/hello_cmake flash RESULT_VARIABLE rc ERROR_VARIABLE err OUTPUT_QUIET)
if(NOT rc EQUAL 70 OR NOT err MATCHES "ZQ_VBOARD=.*but this program has no virtual board")
  message(FATAL_ERROR "hello_cmake flash on ZQ_VBOARD without a virtual board: ${rc}\n${err}")
endif()

# With the build tree's virtual board linked in, the same program runs on a
# virtual board, through the installed shared or static library.
set(board ${WORK_DIR}/board)
run(${EMULATOR} ${VBOARD} create ${board})
run(${EMULATOR} ${VBOARD} env ${board} set zqauto 0)
foreach(program hello_vboard_shared hello_vboard_static)
  run(${CMAKE_COMMAND} -E env ZQ_VBOARD=${board} ${EMULATOR} ${app_build}/${program} flash)
  if(NOT run_output MATCHES "zqsdk: zqauto=0")
    message(FATAL_ERROR "${program} flash on a virtual board printed: ${run_output}")
  endif()
endforeach()
