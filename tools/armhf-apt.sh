# Sourced by the scripts that fetch Debian's armhf packages (tools/armhf-sysroot.sh,
# tools/arm-system/build-image.sh): an apt configuration of our own in a
# folder of theirs, so that the machine's dpkg is never told about armhf.
#
#   armhf_apt_setup STATE_DIR    sets the array armhf_apt (apt-get's options)
#                                and reads the armhf index into STATE_DIR
armhf_apt_setup() {
  local state=$1
  local mirror=${NPTV_DEBIAN_MIRROR:-http://deb.debian.org/debian}
  local security=${NPTV_DEBIAN_SECURITY_MIRROR:-http://deb.debian.org/debian-security}
  local suite=bookworm keyring=/usr/share/keyrings/debian-archive-keyring.gpg signed=""
  mkdir -p "$state/lists/partial" "$state/cache/archives/partial" "$state/sources.list.d"
  : > "$state/status"
  [[ -r $keyring ]] && signed=" signed-by=$keyring"
  cat > "$state/sources.list" <<SOURCES
deb [arch=armhf$signed] $mirror $suite main
deb [arch=armhf$signed] $mirror $suite-updates main
deb [arch=armhf$signed] $security $suite-security main
SOURCES
  armhf_apt=(
    -o APT::Architecture=armhf -o APT::Architectures::=armhf
    -o Dir::State::Lists="$state/lists" -o Dir::State::status="$state/status"
    -o Dir::Cache="$state/cache" -o Dir::Etc::SourceList="$state/sources.list"
    -o Dir::Etc::SourceParts="$state/sources.list.d"
    -o Debug::NoLocking=1 -o Acquire::Languages=none -o APT::Sandbox::User=root
  )
  echo "armhf apt: reading the armhf package index"
  # An index that fails to download (a stale security mirror) is tolerated: a
  # download fails clearly later if a package is then missing.
  if ! apt-get "${armhf_apt[@]}" -q update; then
    echo "armhf apt: warning: some armhf indexes failed to download; going on with what was fetched" >&2
  fi
}
