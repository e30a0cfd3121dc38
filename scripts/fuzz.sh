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
mkdir -p "$out/corpus_keys" "$out/corpus_env" "$out/corpus_hotplug"
printf 'APP_ID=abc\r\nUUID=u-1\r\nKEY=k\r\n' > "$out/corpus_keys/seed"
printf '\0\0\0\0bootdelay=1\0zqauto=0\0\0' > "$out/corpus_env/seed"
# Datagrams as the target reads them: length - 1, a flag byte, the bytes.
datagram() { printf "\\x$(printf %02x $((${#1} - 1)))\\x${2}%s" "$1"; }
{ datagram "add@/devices/platform/soc/arasan-sdhci.0/mmc_host/mmc0/mmc0:aaaa/block/mmcblk0" 00
  datagram "add@/devices/platform/soc/ehci-platform.0/usb1/1-1/1-1:1.0/net/eth1" 01; } \
  > "$out/corpus_hotplug/seed"
for target in key_lines_fuzz:corpus_keys:4096 env_image_fuzz:corpus_env:70000 \
  hotplug_burst_fuzz:corpus_hotplug:4096; do
  IFS=: read -r name corpus maxlen <<<"$target"
  echo "== $name, ${seconds}s"
  (cd "$out" && "./$name" -max_total_time="$seconds" -max_len="$maxlen" "$corpus" 2>&1 | grep -E "^#[0-9]+ *DONE|Done [0-9]+ runs|ERROR|SUMMARY" || true)
done
