#!/usr/bin/env bash
# Makes the armhf sysroot of the cross builds from Debian's armhf packages:
# the libraries the SDK links (json-c, webrtc-audio-processing), what the
# tests link (GoogleTest, zlib) and the C and C++ runtime that qemu-user
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
  zlib1g zlib1g-dev
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
mkdir -p "$apt_dir"/{state/lists/partial,cache/archives/partial,sources.list.d,preferences.d,debs} "$sysroot"
: >"$apt_dir/status"

# The machine's sources, as they are; disabled files (other suffixes) stay out.
if [[ -f /etc/apt/sources.list ]]; then
  cp /etc/apt/sources.list "$apt_dir/sources.list"
else
  : >"$apt_dir/sources.list"
fi
shopt -s nullglob
for source in /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
  cp "$source" "$apt_dir/sources.list.d/"
done
shopt -u nullglob

apt_options=(
  -o APT::Architecture=armhf
  -o APT::Architectures::=armhf
  -o Dir::State="$apt_dir/state"
  -o Dir::State::status="$apt_dir/status"
  -o Dir::Cache="$apt_dir/cache"
  -o Dir::Etc::SourceList="$apt_dir/sources.list"
  -o Dir::Etc::SourceParts="$apt_dir/sources.list.d"
  -o Dir::Etc::Preferences="$apt_dir/preferences"
  -o Dir::Etc::PreferencesParts="$apt_dir/preferences.d"
  -o Acquire::Languages=none
  -o Debug::NoLocking=true
)
# apt drops root for downloads to a user that cannot write into the build tree.
[[ $(id -u) -eq 0 ]] && apt_options+=(-o APT::Sandbox::User=root)

apt-get "${apt_options[@]}" -qq update
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
