# The Wi-Fi tool directory (sdk/net/wifi_tool_dir): templates, scripts and
# the programs' wrappers that the board build installs and that every
# virtual board gets. An application hands its installed path to
# ZQSDK_WifiInit.
set(ZQ_WIFI_TOOL_DIR_SOURCE ${PROJECT_SOURCE_DIR}/sdk/net/wifi_tool_dir)
set(ZQ_WIFI_TOOL_PROGRAMS hostapd iw wpa_supplicant udhcpc.script wpa_event.sh)
set(ZQ_WIFI_TOOL_FILES hostapd.conf udhcpd.conf wpa_wpa2.conf system_tool.sh)
