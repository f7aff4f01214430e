# Shared by scripts/test and scripts/demo: package installation and builds.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}

# Debian packages the builds and tests need.
NATIVE_PACKAGES=(cmake g++ make libgtest-dev)
NATIVE_PACKAGES+=(clang)  # the libFuzzer targets (scripts/fuzz)
CROSS_PACKAGES=(g++-mingw-w64-i686 gcc-arm-none-eabi libnewlib-arm-none-eabi)
WINE_PACKAGES=(wine wine32:i386 xvfb imagemagick x11-utils xdotool file)

missing_packages() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}

# Installs whatever of the given packages is missing (as root, with apt-get).
ensure_packages() {
  local missing
  missing=$(missing_packages "$@")
  [ -z "$missing" ] && return 0
  echo "installing: $missing"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  if echo "$missing" | grep -q ':i386'; then
    dpkg --print-foreign-architectures | grep -q i386 || $sudo dpkg --add-architecture i386
  fi
  $sudo apt-get update -qq
  # shellcheck disable=SC2086
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
}

# Configures (once) and builds one preset into build/<preset>.
build_preset() {
  local preset=$1
  shift
  (cd "$ROOT" && cmake --preset "$preset" >/dev/null && cmake --build "build/$preset" -j "$JOBS" "$@")
}
