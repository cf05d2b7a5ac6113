# Sourced by the scripts that set up a machine: install_missing LABEL PACKAGE...
# installs, as root, those of the Debian packages that are not installed yet.
install_missing() {
  local label=$1; shift
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  # nodejs from another source may bring npm with it
  if [[ " ${missing[*]} " == *" npm "* ]] && command -v npm >/dev/null; then
    missing=("${missing[@]/npm}")
  fi
  missing=(${missing[@]})
  if ((${#missing[@]})); then
    echo "$label: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${missing[@]}"
  fi
}
