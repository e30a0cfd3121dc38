#!/bin/sh
# wpa_cli's action script (wpa_cli -a, started by this directory's
# wpa_supplicant): the station state that the Wi-Fi module polls, 9 once an
# association is complete and 0 when it is lost. Written in place: the
# module keeps the file open. ZQ_VBOARD is empty on a board.
STATE="${ZQ_VBOARD}/var/tmp/wpa_state"
case "$2" in
    CONNECTED) echo 9 > "$STATE" ;;
    DISCONNECTED) echo 0 > "$STATE" ;;
esac
exit 0
