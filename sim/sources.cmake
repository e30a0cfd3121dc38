# The virtual board's emulators, compiled into the SDK when ZQ_VIRTUAL_BOARD is on.
set(ZQ_SIM_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/board.cpp
  ${CMAKE_CURRENT_LIST_DIR}/board_edit.cpp
  ${CMAKE_CURRENT_LIST_DIR}/board_parts.cpp
  ${CMAKE_CURRENT_LIST_DIR}/devices.cpp
  ${CMAKE_CURRENT_LIST_DIR}/log_device.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mtd_device.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mem_device.cpp
  ${CMAKE_CURRENT_LIST_DIR}/device_json.cpp
  ${CMAKE_CURRENT_LIST_DIR}/prompt_files.cpp
)
