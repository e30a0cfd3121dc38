#!/usr/bin/env bash
# The kernel board: Debian's own armhf Linux kernel under qemu-system-arm,
# with Debian's busybox, kmod, hostapd, wpa_supplicant, iw, mtd-utils and
# libubootenv, and the project's board build (libzqsdk.so, zqprovision, the
# Wi-Fi tool directory in /usr/wifi). It boots, runs one command as root in
# /host (DIR, shared with the guest) and ends with the command's status.
#
#   scripts/kernel-board.sh [--machine virt|nor] [--share DIR] -- COMMAND [ARGS...]
#
# virt: -M virt, Cortex-A15, the armmp-lpae kernel, virtio-9p shares,
# mac80211_hwsim for Wi-Fi. nor: -M sabrelite (i.MX6), the armmp kernel,
# the kernel's spi-nor driver on a 2 MiB SPI NOR chip as /dev/mtd0 (kept in
# build/kernel-board/nor/nor.img, or ZQ_KERNEL_BOARD_NOR), DIR copied in
# (no 9p there). ZQ_KERNEL_BOARD_BUILT=1 skips remaking the board build.
# docs/board.md, "The kernel board", says more. The guest image is made once from
# Debian's packages (a private apt configuration, as for the armhf sysroot:
# nothing is installed into the machine but qemu-system-arm) and kept in
# build/kernel-board, remade when its recipe or the board build changes.
# ZQ_KERNEL_BOARD_TIMEOUT (seconds, default 600) bounds the whole run.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

machine=virt
share=$PWD
share_given=0
while [[ $# -gt 0 ]]; do
  case $1 in
    --machine) machine=${2:-}; shift 2 ;;
    --share) share=${2:-}; share_given=1; shift 2 ;;
    --) shift; break ;;
    *) echo "usage: scripts/kernel-board.sh [--machine virt|nor] [--share DIR] -- COMMAND [ARGS...]" >&2
       exit 2 ;;
  esac
done
if [[ $# -eq 0 ]]; then
  echo "kernel-board: no command (scripts/kernel-board.sh -- sh gives a shell)" >&2
  exit 2
fi
case $machine in
  virt) flavour=armmp-lpae ;;
  nor) flavour=armmp ;;
  *) echo "kernel-board: no machine $machine (virt or nor)" >&2; exit 2 ;;
esac
share=$(realpath "$share")
[[ -d $share ]] || { echo "kernel-board: $share is no directory" >&2; exit 2; }
command -v qemu-system-arm >/dev/null ||
  { echo "kernel-board: qemu-system-arm is missing (make deps installs it)" >&2; exit 2; }

work=$top/build/kernel-board
image=$work/$machine
packages=(busybox-static kmod hostapd wpasupplicant iw mtd-utils libubootenv-tool
  libjson-c5 libwebrtc-audio-processing1 libstdc++6 iproute2)
# Packages the list above pulls in only for their install scripts.
unwanted='^(perl.*|lib.*-perl|libperl.*|dpkg|tar|usrmerge|init-system-helpers|debconf|passwd|adduser|libpam.*|libsemanage.*|libsepol.*|libaudit.*|libdb5.3|libgdbm.*)$'
# The modules each machine loads at boot, in this order, and those its
# tests may load (dummy, veth).
case $machine in
  virt) modules=(virtio_mmio 9pnet_virtio 9p ccm ctr cmac gcm ghash-generic seqiv aes-arm
          mac80211_hwsim) ;;
  # Without its GPIO controller the SPI controller waits for ever.
  nor) modules=(gpio-mxc spi-imx spi-nor) ;;
esac
extra_modules=(veth dummy af_packet)

# The board build, installed as the board's root file system has it
# (already made when make test-kernel runs the suite's boots in parallel).
if [[ -z ${ZQ_KERNEL_BOARD_BUILT:-} ]]; then make -s board >/dev/null; fi
# Everything the board build installs (programs, libraries, the Wi-Fi tool
# directory's scripts) stamps the guest: a changed script makes a new one.
mkdir -p "$work"
staged=$(mktemp -d "$work/staged.XXXXXX")
trap 'rm -rf "$staged"' EXIT
DESTDIR=$staged cmake --install build/board --prefix /usr >/dev/null
board_stamp=$(tar -C "$staged" --sort=name --mtime=@0 --owner=0 --group=0 --numeric-owner -cf - . |
  sha256sum | cut -c1-16)

recipe="2 $machine $flavour ${packages[*]} ${modules[*]} ${extra_modules[*]} $board_stamp $(sha256sum "$0" | cut -c1-16)"
mkdir -p "$work"
# Guests are made one at a time (they share the apt configuration).
exec 8>"$work/make.lock"
flock 8
if [[ ! -f $image/stamp || "$(cat "$image/stamp")" != "$recipe" ]]; then
  echo "kernel-board: making the $machine guest in $image" >&2
  rm -rf "$image"
  mkdir -p "$image/debs" "$image/root" "$image/kernel"
  # shellcheck source=scripts/armhf-apt.sh
  . scripts/armhf-apt.sh
  armhf_apt "$work/apt"
  kernel=$(apt-cache "${apt_options[@]}" depends "linux-image-$flavour" |
    sed -n 's/^ *Depends: \(linux-image-[0-9].*\)$/\1/p' | head -n 1)
  [[ -n $kernel ]] || { echo "kernel-board: no linux-image-$flavour for armhf" >&2; exit 1; }
  wanted=$(apt-get "${apt_options[@]}" -s install --no-install-recommends "${packages[@]}" |
    awk '/^Inst /{print $2}' | grep -v -E "$unwanted")
  # shellcheck disable=SC2086
  (cd "$image/debs" && apt-get "${apt_options[@]}" -qq download $wanted "$kernel")
  for deb in "$image"/debs/*.deb; do
    case $deb in
      */linux-image-*) dpkg-deb -x "$deb" "$image/kernel" ;;
      *) dpkg-deb -x "$deb" "$image/root" ;;
    esac
  done
  root=$image/root
  kver=$(ls "$image/kernel/lib/modules")
  cp "$image/kernel/boot/vmlinuz-$kver" "$image/vmlinuz"
  if [[ $machine == nor ]]; then
    cp "$image/kernel/usr/lib/linux-image-$kver/imx6q-sabrelite.dtb" "$image/"
  fi
  # The modules the guest loads, with what they depend on.
  depmod -b "$image/kernel" "$kver"
  for module in "${modules[@]}" "${extra_modules[@]}"; do
    modprobe -d "$image/kernel" -S "$kver" --show-depends "$module" 2>/dev/null |
      awk '$1 == "insmod" {print $2}'
  done | sort -u | while read -r ko; do
    rel=${ko#"$image/kernel"}
    mkdir -p "$root$(dirname "$rel")"
    cp "$ko" "$root$rel"
  done
  cp "$image/kernel/lib/modules/$kver"/modules.{order,builtin,builtin.modinfo} "$root/lib/modules/$kver/"
  depmod -b "$root" "$kver"
  # The board build and its Wi-Fi tool directory where the board has them.
  cp -a "$staged/." "$root/"
  ln -sfn share/zqsdk/wifi "$root/usr/wifi"
  mkdir -p "$root"/{proc,sys,dev,tmp,run,host,ctl,var/run,var/tmp,var/log,etc,root,mnt}
  echo "root:x:0:0:root:/root:/bin/sh" >"$root/etc/passwd"
  echo "root:x:0:" >"$root/etc/group"
  # The boot environment as the board's U-Boot keeps it: 256 KiB at 256 KiB
  # of mtd0, in 4 KiB sectors.
  printf '%s\n' "/dev/mtd0 0x40000 0x40000 0x1000 0x40" >"$root/etc/fw_env.config"
  printf '%s\n' "${modules[@]}" >"$root/etc/boot-modules"
  echo "$machine" >"$root/etc/machine"
  cat >"$root/init" <<'EOF'
#!/bin/busybox sh
# The guest's init: the command of /ctl/command in /host, then its status
# (into /ctl/status on virt, on the console after the run's mark on nor),
# then off.
export PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root
# busybox's applets where Debian's own tools are not.
/bin/busybox --install -s 2>/dev/null
# ... and no applet in front of Debian's program of the same name (ip).
for link in /sbin/* /usr/sbin/* /usr/bin/* /bin/*; do
  [ -L "$link" ] && [ "$(readlink "$link")" = /bin/busybox ] || continue
  for dir in /usr/sbin /usr/bin /sbin /bin; do
    if [ -f "$dir/${link##*/}" ] && [ ! -L "$dir/${link##*/}" ]; then rm "$link"; break; fi
  done
done
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mkdir -p /dev/pts && mount -t devpts devpts /dev/pts
mount -t tmpfs tmp /tmp
echo 0 0 0 0 >/proc/sys/kernel/printk
while read -r module; do modprobe "$module"; done </etc/boot-modules
machine=$(cat /etc/machine)
if [ "$machine" = virt ]; then
  # virt: the shares over virtio-9p (mac80211_hwsim's two radios are
  # wlan0 and wlan1).
  mount -t 9p -o trans=virtio,version=9p2000.L,cache=loose ctl /ctl
  mount -t 9p -o trans=virtio,version=9p2000.L,cache=loose host /host
else
  # nor: the SPI NOR chip is mtd0 once its driver has probed.
  for try in $(seq 50); do [ -e /dev/mtd0 ] && break; sleep 0.2; done
fi
ip link set lo up
hostname zq-board
stty -onlcr 2>/dev/null
cd /host
sh /ctl/command </dev/console >/dev/console 2>&1
status=$?
if [ "$machine" = virt ]; then
  echo $status >/ctl/status
else
  echo "$(cat /ctl/mark) $status" >/dev/console
fi
sync
poweroff -f
EOF
  chmod 755 "$root/init"
  (cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$image/initrd.gz"
  printf '%s' "$recipe" >"$image/stamp"
fi
flock -u 8
# The NOR machine's chip is one file: one run at a time keeps it.
if [[ $machine == nor ]]; then
  exec 9>"$work/nor-chip.lock"
  flock 9
fi

rm -rf "$staged"
ctl=$(mktemp -d "$work/run.XXXXXX")
trap 'rm -rf "$ctl"' EXIT
quote() { local q=${1//\'/\'\\\'\'}; printf "'%s' " "$q"; }
{
  # The guest has no clock of its own: the host's time, for its logs.
  printf 'date -s @%s >/dev/null 2>&1\n' "$(date +%s)"
  printf 'exec '
  for arg in "$@"; do quote "$arg"; done
  printf '\n'
} >"$ctl/command"

timeout_s=${ZQ_KERNEL_BOARD_TIMEOUT:-600}
if [[ $machine == virt ]]; then
  set +e
  timeout --foreground "$timeout_s" qemu-system-arm -M virt,highmem=off -cpu cortex-a15 -m 512 \
    -smp 2 -no-reboot -nographic -nic none \
    -kernel "$image/vmlinuz" -initrd "$image/initrd.gz" \
    -append "console=ttyAMA0 quiet loglevel=1 panic=-1 rdinit=/init" \
    -fsdev "local,id=ctl,path=$ctl,security_model=none" -device virtio-9p-device,fsdev=ctl,mount_tag=ctl \
    -fsdev "local,id=host,path=$share,security_model=none" -device virtio-9p-device,fsdev=host,mount_tag=host
  qemu=$?
  set -e
else
  # nor: no PCI, so no 9p. The command and a copy of DIR (the checkout
  # without build/ and .git unless --share names it) come in a second
  # initramfs; the status comes back on the console after a mark of this
  # run's own, and the machine, which cannot power off, is ended there.
  flash=${ZQ_KERNEL_BOARD_NOR:-$image/nor.img}
  if [[ ! -f $flash ]]; then
    head -c $((2 * 1024 * 1024)) /dev/zero | tr '\0' '\377' >"$flash"
  fi
  mkdir -p "$ctl/stage/ctl" "$ctl/stage/host"
  cp "$ctl/command" "$ctl/stage/ctl/command"
  mark="kernel-board-status-$(od -An -N8 -tx8 /dev/urandom | tr -d ' ')"
  echo "$mark" >"$ctl/stage/ctl/mark"
  excludes=()
  if [[ $share_given == 0 ]]; then excludes=(--exclude=./build --exclude=./.git); fi
  tar -C "$share" "${excludes[@]}" -cf - . | tar -C "$ctl/stage/host" -xf -
  size_mb=$(du -sm "$ctl/stage" | cut -f1)
  if ((size_mb > 300)); then
    echo "kernel-board: $share holds $size_mb MiB; the NOR machine copies it into RAM (300 MiB at most)" >&2
    exit 2
  fi
  { cat "$image/initrd.gz"; (cd "$ctl/stage" && find . | cpio -o -H newc --quiet | gzip -1); } \
    >"$ctl/initrd.gz"
  set +e
  timeout --foreground "$timeout_s" qemu-system-arm -M sabrelite -m 1G -no-reboot \
    -display none -monitor none -serial null -serial stdio -net none -pidfile "$ctl/pid" \
    -kernel "$image/vmlinuz" -dtb "$image/imx6q-sabrelite.dtb" -initrd "$ctl/initrd.gz" \
    -append "console=ttymxc1 quiet loglevel=1 panic=-1 rdinit=/init" \
    -drive "if=mtd,format=raw,file=$flash" \
    2> >(grep -v -e 'has no peer' -e 'terminating on signal' >&2) |
    while IFS= read -r line; do
      line=${line%$'\r'}
      if [[ $line == "$mark "* ]]; then
        echo "${line##* }" >"$ctl/status"
        kill "$(cat "$ctl/pid")" 2>/dev/null
        break
      fi
      printf '%s\n' "$line"
    done
  qemu=${PIPESTATUS[0]}
  set -e
fi
if [[ $qemu -eq 124 ]]; then
  echo "kernel-board: the guest did not finish within $timeout_s s (ZQ_KERNEL_BOARD_TIMEOUT)" >&2
  exit 124
fi
if [[ ! -s $ctl/status ]]; then
  echo "kernel-board: the guest ended without running the command (qemu status $qemu)" >&2
  exit 125
fi
exit "$(cat "$ctl/status")"
