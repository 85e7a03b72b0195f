# Sourced by the scripts that need Debian packages: installs those of the
# named packages that are not installed yet (apt-get, through sudo unless
# root), and nothing when all are there.
#
#   install_missing_packages PKG...
install_missing_packages() {
  local missing=() pkg
  for pkg in "$@"; do
    [ -z "$pkg" ] && continue
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  # Through env: sudo would drop the variable from the environment.
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
    --no-install-recommends "${missing[@]}"
}
