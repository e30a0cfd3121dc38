# The virtual board's emulators and the seam's virtual backend (the zqvboard
# library): what a process on a virtual board runs.
set(ZQ_SIM_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/port_virtual.cpp
  ${CMAKE_CURRENT_LIST_DIR}/board.cpp
  ${CMAKE_CURRENT_LIST_DIR}/devices.cpp
  ${CMAKE_CURRENT_LIST_DIR}/process_table.cpp
  ${CMAKE_CURRENT_LIST_DIR}/region_overlay.cpp
  ${CMAKE_CURRENT_LIST_DIR}/rgn_device.cpp
  ${CMAKE_CURRENT_LIST_DIR}/temp_sensor_device.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mmz_device.cpp
  ${CMAKE_CURRENT_LIST_DIR}/log_device.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mtd_device.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mem_device.cpp
  ${CMAKE_CURRENT_LIST_DIR}/net_board.cpp
  ${CMAKE_CURRENT_LIST_DIR}/inet_socket.cpp
  ${CMAKE_CURRENT_LIST_DIR}/uevent_socket.cpp
  ${CMAKE_CURRENT_LIST_DIR}/wav.cpp
  ${CMAKE_CURRENT_LIST_DIR}/audio_frames.cpp
  ${CMAKE_CURRENT_LIST_DIR}/speaker_device.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mic_device.cpp
  ${CMAKE_CURRENT_LIST_DIR}/acodec_device.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vo_device.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vo_display.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vi_frames.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vi_device.cpp
)
