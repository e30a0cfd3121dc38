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
# mac80211_hwsim for Wi-Fi. (nor, the i.MX6 machine with a real SPI NOR
# chip as /dev/mtd0, is not made yet.) The guest image is made once from
# Debian's packages (a private apt configuration, as for the armhf sysroot:
# nothing is installed into the machine but qemu-system-arm) and kept in
# build/kernel-board, remade when its recipe or the board build changes.
# ZQ_KERNEL_BOARD_TIMEOUT (seconds, default 600) bounds the whole run.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

machine=virt
share=$PWD
while [[ $# -gt 0 ]]; do
  case $1 in
    --machine) machine=${2:-}; shift 2 ;;
    --share) share=${2:-}; shift 2 ;;
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
  nor) echo "kernel-board: the NOR machine is not made yet" >&2; exit 2 ;;
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
modules_virt=(virtio_mmio 9pnet_virtio 9p mac80211_hwsim veth dummy af_packet ccm ctr cmac gcm
  ghash-generic seqiv aes-arm)

# The board build, installed as the board's root file system has it.
make -s board >/dev/null
board_stamp=$(find build/board -name 'libzqsdk.so*' -o -name zqprovision | sort | xargs sha256sum |
  sha256sum | cut -c1-16)

recipe="1 $machine $flavour ${packages[*]} ${modules_virt[*]} $board_stamp $(sha256sum "$0" | cut -c1-16)"
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
  # The modules the guest loads, with what they depend on.
  depmod -b "$image/kernel" "$kver"
  for module in "${modules_virt[@]}"; do
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
  DESTDIR=$root cmake --install build/board --prefix /usr >/dev/null
  ln -sfn share/zqsdk/wifi "$root/usr/wifi"
  mkdir -p "$root"/{proc,sys,dev,tmp,run,host,ctl,var/run,var/tmp,var/log,etc,root,mnt}
  echo "root:x:0:0:root:/root:/bin/sh" >"$root/etc/passwd"
  echo "root:x:0:" >"$root/etc/group"
  cat >"$root/init" <<'EOF'
#!/bin/busybox sh
# The guest's init: the command of /ctl/command in /host, its status into
# /ctl/status, then off.
export PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root
# busybox's applets where Debian's own tools are not.
/bin/busybox --install -s 2>/dev/null
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mkdir -p /dev/pts && mount -t devpts devpts /dev/pts
mount -t tmpfs tmp /tmp
echo 0 0 0 0 >/proc/sys/kernel/printk
modprobe virtio_mmio && modprobe 9pnet_virtio && modprobe 9p
# Two Wi-Fi radios (wlan0, wlan1), and the ciphers hostapd's WPA2 needs.
for module in ccm ctr cmac gcm ghash-generic seqiv aes-arm; do modprobe $module; done
modprobe mac80211_hwsim radios=2
mount -t 9p -o trans=virtio,version=9p2000.L,cache=loose ctl /ctl
mount -t 9p -o trans=virtio,version=9p2000.L,cache=loose host /host
ip link set lo up
hostname zq-board
stty -onlcr 2>/dev/null
cd /host
sh /ctl/command </dev/console >/dev/console 2>&1
echo $? >/ctl/status
sync
poweroff -f
EOF
  chmod 755 "$root/init"
  (cd "$root" && find . | cpio -o -H newc --quiet | gzip -1) >"$image/initrd.gz"
  printf '%s' "$recipe" >"$image/stamp"
fi

ctl=$(mktemp -d "$work/run.XXXXXX")
trap 'rm -rf "$ctl"' EXIT
quote() { local q=${1//\'/\'\\\'\'}; printf "'%s' " "$q"; }
{
  printf 'exec '
  for arg in "$@"; do quote "$arg"; done
  printf '\n'
} >"$ctl/command"

timeout_s=${ZQ_KERNEL_BOARD_TIMEOUT:-600}
set +e
timeout --foreground "$timeout_s" qemu-system-arm -M virt,highmem=off -cpu cortex-a15 -m 512 \
  -smp 2 -no-reboot -nographic -nic none \
  -kernel "$image/vmlinuz" -initrd "$image/initrd.gz" \
  -append "console=ttyAMA0 quiet loglevel=1 panic=-1 rdinit=/init" \
  -fsdev "local,id=ctl,path=$ctl,security_model=none" -device virtio-9p-device,fsdev=ctl,mount_tag=ctl \
  -fsdev "local,id=host,path=$share,security_model=none" -device virtio-9p-device,fsdev=host,mount_tag=host
qemu=$?
set -e
if [[ $qemu -eq 124 ]]; then
  echo "kernel-board: the guest did not finish within $timeout_s s (ZQ_KERNEL_BOARD_TIMEOUT)" >&2
  exit 124
fi
if [[ ! -s $ctl/status ]]; then
  echo "kernel-board: the guest ended without running the command (qemu status $qemu)" >&2
  exit 125
fi
exit "$(cat "$ctl/status")"
