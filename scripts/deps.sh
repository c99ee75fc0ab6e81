# Debian packages the build, tests and tools need; sourced by the other scripts.
# Installs what is missing when run as root (or through sudo when available).
TARNVALE_PACKAGES=(
  cmake make g++ binutils pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libcli11-dev libsndfile1-dev libsoxr-dev libebur128-dev nlohmann-json3-dev
  lv2-dev liblilv-dev lilv-utils sordi jalv jackd2
  dpkg-dev file bash-completion man-db
)

# Debian's package lists, fetched again. A mirror that is being synced can
# serve a list of the wrong size for a while: try four times over a minute
# and a half, then go on with the lists there are (an install that needs a
# newer one says so).
update_package_lists() {
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  for attempt in 1 2 3 4; do
    $sudo apt-get update -qq && return 0
    [ "$attempt" -lt 4 ] && { echo "apt-get update failed (attempt $attempt of 4); trying again in 30 s" >&2; sleep 30; }
  done
  echo "apt-get update failed four times; going on with the package lists there are" >&2
}

ensure_packages() {
  local missing=()
  for p in "${TARNVALE_PACKAGES[@]}" "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "Installing: ${missing[*]}"
  update_package_lists
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}

# Packages of the i386 architecture (32-bit Wine), which Debian offers once
# the architecture is added. Like ensure_arm64_packages, it fails (rather
# than ending the script) when they cannot be installed, for instance when
# the mirror served no list for the architecture: callers skip what needs
# them with one line.
ensure_i386_packages() {
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
    update_package_lists
  fi
  ensure_packages "$@"
}

# The cross toolchain, qemu-aarch64 and Debian's arm64 packages the 64-bit
# ARM build links (all of them co-install with the native ones), once the
# architecture is added.
TARNVALE_ARM64_PACKAGES=(
  g++-aarch64-linux-gnu binutils-aarch64-linux-gnu qemu-user-static
  libsndfile1-dev:arm64 libsoxr-dev:arm64 libebur128-dev:arm64 lv2-dev:arm64 liblilv-dev:arm64
)
ensure_arm64_packages() {
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  if ! dpkg --print-foreign-architectures | grep -qx arm64; then
    $sudo dpkg --add-architecture arm64
    update_package_lists
  fi
  ensure_packages "${TARNVALE_ARM64_PACKAGES[@]}" "$@"
}
