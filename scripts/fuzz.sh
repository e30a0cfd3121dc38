#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for FUZZ_SECONDS
# (default 60) from a small seed corpus; prints executions and findings.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
command -v clang++ >/dev/null || { echo "fuzz: clang++ is needed (apt-get install clang libclang-rt-14-dev)"; exit 1; }
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
out=build/fuzz/fuzz
mkdir -p "$out/corpus_keys" "$out/corpus_env" "$out/corpus_profile" "$out/corpus_cmdline" \
  "$out/corpus_hotplug" "$out/corpus_scan"
printf 'APP_ID=abc\r\nUUID=u-1\r\nKEY=k\r\n' > "$out/corpus_keys/seed"
printf '\0\0\0\0bootdelay=1\0zqauto=0\0\0' > "$out/corpus_env/seed"
printf '\6\5udhcpcwlan0udhcpc\0-i\0wlan0\0' > "$out/corpus_cmdline/seed"
cat > "$out/corpus_profile/seed" <<'JSON'
{"Vi": {"SensorIFS": 2, "SensorFPS": 30, "CapWHXY": [1920, 1080, 0, 0],
        "ViX": [{"Channel": 0, "CapSize": [1920, 1080]}, {"Channel": 1, "CapSize": [640, 360]}]},
 "Venc": {"Format": "H265", "VencX": [{"Channel": 0, "MaxSize": [1920, 1080], "Quality": 80}],
          "Jpeg": {"Channel": 4, "MaxSize": [640, 360], "Quality": 90}},
 "Isp": {"Vstd": "PAL", "IRCut": {"GpioValue": 10, "SwapFlag": true}, "IRLight": {"GpioValue": 11}},
 "4GModule": {"GpioValue": 40, "SwapFlag": false}}
JSON
# Datagrams as the target reads them: length - 1, a flag byte, the bytes.
datagram() { printf "\\x$(printf %02x $((${#1} - 1)))\\x${2}%s" "$1"; }
{ datagram "add@/devices/platform/soc/arasan-sdhci.0/mmc_host/mmc0/mmc0:aaaa/block/mmcblk0" 00
  datagram "add@/devices/platform/soc/ehci-platform.0/usb1/1-1/1-1:1.0/net/eth1" 01; } \
  > "$out/corpus_hotplug/seed"
printf '\3BSS 02:11:22:33:44:55(on wlan0)\n\tsignal: -45.00 dBm\n\tSSID: Net\\x41 b\n\tBSS Load:\n\t\t * primary channel: 6\n\tRSN:\t * Version: 1\n' \
  > "$out/corpus_scan/seed"
for target in key_lines_fuzz:corpus_keys:4096 env_image_fuzz:corpus_env:70000 \
    hw_profile_fuzz:corpus_profile:4096:"$PWD/fuzz/hw_profile.dict" \
    command_line_fuzz:corpus_cmdline:400 hotplug_burst_fuzz:corpus_hotplug:4096 \
    wifi_scan_fuzz:corpus_scan:8192; do
  IFS=: read -r name corpus maxlen dict <<<"$target"
  echo "== $name, ${seconds}s"
  (cd "$out" && "./$name" -max_total_time="$seconds" -max_len="$maxlen" ${dict:+-dict="$dict"} "$corpus" 2>&1 | grep -E "^#[0-9]+ *DONE|Done [0-9]+ runs|ERROR|SUMMARY" || true)
done
