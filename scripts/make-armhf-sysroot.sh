#!/usr/bin/env bash
# Makes the armhf sysroot of the cross builds from Debian's armhf packages:
# the libraries the SDK links (json-c, webrtc-audio-processing), what the
# tests link (GoogleTest) and the C and C++ runtime that qemu-user
# loads the test programs with.
#
# The machine's package sources and architectures stay as they are: apt runs
# with a private configuration beside the sysroot (its own state, cache and
# copy of the machine's source lists, architecture armhf), downloads the
# packages there and dpkg-deb unpacks them into the sysroot. Nothing needs
# root, and nothing is installed into the machine.
#
#   scripts/make-armhf-sysroot.sh [SYSROOT]     (default: build/sysroot-armhf)
set -euo pipefail
cd "$(dirname "$0")/.."

sysroot=$(realpath -m "${1:-build/sysroot-armhf}")
apt_dir="$sysroot.apt"

packages=(
  libc6 libgcc-s1 libstdc++6
  libjson-c5 libjson-c-dev
  libwebrtc-audio-processing1 libwebrtc-audio-processing-dev
  libgtest-dev libgmock-dev
)

# What the stamp says: a sysroot made by another version of this recipe is made anew.
recipe="2: ${packages[*]}"
stamp="$sysroot/.zq-sysroot-packages"
if [[ -f "$stamp" && "$(cat "$stamp")" == "$recipe" ]]; then
  exit 0
fi

for tool in apt-get dpkg-deb; do
  command -v "$tool" >/dev/null || { echo "make-armhf-sysroot: $tool is missing" >&2; exit 1; }
done

echo "make-armhf-sysroot: $sysroot"
rm -rf "$sysroot" "$apt_dir"
mkdir -p "$apt_dir/debs" "$sysroot"
# shellcheck source=scripts/armhf-apt.sh
. scripts/armhf-apt.sh
armhf_apt "$apt_dir"
(cd "$apt_dir/debs" && apt-get "${apt_options[@]}" -qq download "${packages[@]}")

for deb in "$apt_dir"/debs/*.deb; do
  dpkg-deb -x "$deb" "$sysroot"
done

# Absolute links (/lib/... in a -dev package) must point into the sysroot.
while IFS= read -r -d '' link; do
  target=$(readlink "$link")
  [[ "$target" == /* ]] || continue
  ln -sfn "$(realpath -m --relative-to="$(dirname "$link")" "$sysroot$target")" "$link"
done < <(find "$sysroot" -type l -print0)

# pkg-config files name /usr; make them name the sysroot, so that their flags
# are right for the cross compiler without a pkg-config sysroot (which would
# also be put in front of the paths of .pc files outside the sysroot).
while IFS= read -r -d '' pc; do
  sed -E -i "s#^([A-Za-z_]+)=/usr#\1=$sysroot/usr#" "$pc"
done < <(find "$sysroot/usr/lib/arm-linux-gnueabihf/pkgconfig" "$sysroot/usr/share/pkgconfig" \
  -name '*.pc' -print0 2>/dev/null)

printf '%s' "$recipe" >"$stamp"
echo "make-armhf-sysroot: $(ls "$apt_dir"/debs | wc -l) packages unpacked"
