# Sourced by the scripts that fetch Debian's armhf packages (the sysroot,
# the kernel board). armhf_apt DIR makes DIR a private apt configuration:
# its own state, cache and copy of the machine's source lists, architecture
# armhf, so that the machine's package sources and architectures stay as
# they are and nothing is installed into it. It sets the array apt_options
# for apt-get and apt-cache and updates the package lists.
armhf_apt() {
  local dir=$1 source
  mkdir -p "$dir"/{state/lists/partial,cache/archives/partial,sources.list.d,preferences.d}
  : >"$dir/status"
  # The machine's sources, as they are; disabled files (other suffixes) stay out.
  if [[ -f /etc/apt/sources.list ]]; then
    cp /etc/apt/sources.list "$dir/sources.list"
  else
    : >"$dir/sources.list"
  fi
  shopt -s nullglob
  for source in /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    cp "$source" "$dir/sources.list.d/"
  done
  shopt -u nullglob
  apt_options=(
    -o APT::Architecture=armhf
    -o APT::Architectures::=armhf
    -o Dir::State="$dir/state"
    -o Dir::State::status="$dir/status"
    -o Dir::Cache="$dir/cache"
    -o Dir::Etc::SourceList="$dir/sources.list"
    -o Dir::Etc::SourceParts="$dir/sources.list.d"
    -o Dir::Etc::Preferences="$dir/preferences"
    -o Dir::Etc::PreferencesParts="$dir/preferences.d"
    -o Acquire::Languages=none
    -o Debug::NoLocking=true
  )
  # apt drops root for downloads to a user that cannot write into the build tree.
  if [[ $(id -u) -eq 0 ]]; then apt_options+=(-o APT::Sandbox::User=root); fi
  # A mirror in the middle of a sync serves lists that do not match their
  # index for a while ("Mirror sync in progress?"): try again after a pause.
  # One that stays so (a caching proxy keeps a list that no longer matches its
  # index) leaves that list out: the suite's other lists still name every
  # package, and a package that none names fails its download by name.
  local attempt
  for attempt in 1 2 3; do
    apt-get "${apt_options[@]}" -o Acquire::Retries=3 -qq update && return 0
    if [[ $attempt -lt 3 ]]; then
      echo "armhf-apt: the package lists did not come whole; trying again in 30 s" >&2
      sleep 30
    fi
  done
  echo "armhf-apt: warning: going on without the package lists that failed above" >&2
}
