#!/usr/bin/env bash
# What the SDK and the provisioning tool cost on the board:
#  1. stripped sizes of the board build (preset "board": 32-bit ARM, -Os,
#     no virtual board) and proof that no virtual board code is in it;
#  2. the tool's resident memory on a virtual board: an armhf build with the
#     board's optimisation plus the virtual board runs under qemu-user, and
#     the pages resident in the emulated 32-bit address space are summed
#     while it provisions the board and then idles.
# Fails when the board build holds virtual board code.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/make-armhf-sysroot.sh
cmake --preset board >/dev/null
cmake --build --preset board >/dev/null

board=build/board
lib=$board/sdk/libzqsdk.so.$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' $board/CMakeCache.txt)
archive=$board/sdk/libzqsdk.a
objects=$board/sdk/libzqsdk_all.a  # the same code, one object per source
tool=$board/app/zqprovision
size_of() { stat -c %s "$1"; }

echo "== board build (32-bit ARM, -Os, stripped, no virtual board)"
stripped_archive=$(mktemp)
trap 'rm -f "$stripped_archive"' EXIT
arm-linux-gnueabihf-strip --strip-debug -o "$stripped_archive" "$archive"
printf '%-28s %8s bytes\n' "libzqsdk.so" "$(size_of "$lib")" \
  "libzqsdk.a (debug stripped)" "$(size_of "$stripped_archive")" \
  "zqprovision" "$(size_of "$tool")"
echo
arm-linux-gnueabihf-size "$lib" "$tool"

# The virtual board must cost nothing on the board: no emulator, no virtual
# backend, not even the name of its environment variable.
leaks=$( (arm-linux-gnueabihf-nm -C "$archive" 2>/dev/null | grep -E 'zq::sim|port_virtual|virtual_ops' || true)
  (grep -l -a -e ZQ_VBOARD -e board.json "$lib" "$tool" || true))
if [[ -n "$leaks" ]]; then
  echo "footprint: the board build holds virtual board code:" >&2
  echo "$leaks" >&2
  exit 1
fi
echo
echo "no virtual board code in the board build (nm: no zq::sim symbols; no ZQ_VBOARD, board.json)"

# The seam must cost nothing on the board either: no SDK object reaches the
# C library through the ops table, and the flash code calls open and ioctl
# itself (the environment store opens mtd0, the block owner erases).
table_calls=$(arm-linux-gnueabihf-nm -A -C "$objects" 2>/dev/null |
  grep -E ' U zq::port::(linux_ops|ops)\(\)' || true)
direct_calls=$(arm-linux-gnueabihf-nm -A "$objects" 2>/dev/null |
  grep -E '(env_store|flash_block)\.cpp\.o: +U (open|open64|ioctl)$' | wc -l)
if [[ -n "$table_calls" || "$direct_calls" -lt 2 ]]; then
  echo "footprint: the board build calls through the seam's table:" >&2
  echo "${table_calls:-the flash code does not call open and ioctl itself}" >&2
  exit 1
fi
echo "the seam is direct C-library calls on the board (nm: no ops table use; the flash code calls open, ioctl)"

# The same code with the virtual board, for a run on one.
build=build/footprint
cmake -S . -B $build --toolchain cmake/toolchain-armhf.cmake -DZQ_ARMHF_SYSROOT="$PWD/build/sysroot-armhf" \
  -DCMAKE_BUILD_TYPE=MinSizeRel -DZQ_STRIP=ON -DZQ_WERROR=ON -DZQ_BUILD_TESTS=OFF \
  -DZQ_BUILD_BENCH=OFF -DZQ_BUILD_EXAMPLES=OFF >/dev/null
cmake --build $build -j2 >/dev/null
emulator=(qemu-arm -L "$PWD/build/sysroot-armhf")

vboard_dir=$(mktemp -d)
trap 'rm -f "$stripped_archive"; rm -rf "$vboard_dir"' EXIT
"${emulator[@]}" $build/sim/vboard create "$vboard_dir/board" >/dev/null
printf 'APP_ID=abc\nUUID=u\nKEY=k\n' >"$vboard_dir/board/mnt/factory/provision.txt"
ZQ_VBOARD="$vboard_dir/board" "${emulator[@]}" $build/app/zqprovision /mnt/factory/provision.txt \
  >"$vboard_dir/tool.out" 2>&1 &
pid=$!

# KiB resident in the emulated 4 GiB address space (the window that holds
# the program's own mapping; qemu's own memory lies outside it): all of it,
# and the part not backed by files (heap, stacks, data written).
guest_rss() {
  perl -e '
    my ($exe, $smaps) = @ARGV;
    open(my $in, "<", $smaps) or do { print "0 0\n"; exit };
    my (%rss, %anon, $cur, $file, $base);
    while (<$in>) {
      if (/^([0-9a-f]+)-[0-9a-f]+ \S+ \S+ \S+ \S+\s*(.*)$/) {
        ($cur, $file) = (hex($1), $2);
        $base = $cur - $cur % 2**32 if !defined $base && $file eq $exe;
      } elsif (/^Rss:\s+(\d+)/) {
        $rss{$cur} += $1;
        $anon{$cur} += $1 if $file !~ m{^/};
      }
    }
    my ($total, $anonymous) = (0, 0);
    for (keys %rss) {
      next unless defined $base && $_ >= $base && $_ < $base + 2**32;
      $total += $rss{$_};
      $anonymous += $anon{$_} // 0;
    }
    print "$total $anonymous\n";
  ' "$(realpath $build/app/zqprovision)" "/proc/$pid/smaps"
}

peak_run=0 peak_idle=0 anon_idle=0 idle_samples=0
for _ in $(seq 1 400); do
  kill -0 $pid 2>/dev/null || break
  read -r kib anon < <(guest_rss)
  ((kib > peak_run)) && peak_run=$kib
  if grep -q ' /dev/ao close' "$vboard_dir/board/journal" 2>/dev/null; then
    ((kib > peak_idle)) && peak_idle=$kib
    ((anon > anon_idle)) && anon_idle=$anon
    ((++idle_samples >= 20)) && break
  fi
  sleep 0.1
done
kill $pid 2>/dev/null || true
wait $pid 2>/dev/null || true
if ((idle_samples == 0)); then
  echo "footprint: the tool never reached its idle loop:" >&2
  cat "$vboard_dir/tool.out" >&2
  exit 1
fi
echo
echo "== zqprovision on a virtual board (32-bit ARM, -Os, with the virtual board, under qemu-user)"
printf '%-44s %6s KiB\n' "resident, peak over the run" "$peak_run" \
  "resident, peak in the idle loop" "$peak_idle" \
  "  of it not file-backed (heap, stacks, data)" "$anon_idle"
