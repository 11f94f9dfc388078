# Shared by the setup scripts: installing Debian packages idempotently, as
# root or with sudo. Sourced, not run.

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
as_root() { "${sudo_cmd[@]}" "$@"; }

apt_updated=no
# Refreshes the package lists once per run. A list that fails to download (a
# mirror in the middle of a sync) is reported, not fatal: apt goes on with the
# lists it has, and the install says what it cannot find.
apt_update() {
  [ "$apt_updated" = no ] || return 0
  apt_updated=yes
  as_root apt-get update -qq || echo "setup: apt-get update reported errors; going on with the package lists there are" >&2
}

# The packages not yet installed, from the arguments.
apt_missing() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}

# Installs the packages that are missing; fails when apt cannot.
apt_install() {
  local missing
  mapfile -t missing < <(apt_missing "$@")
  [ "${#missing[@]}" -gt 0 ] || return 0
  apt_update
  DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
