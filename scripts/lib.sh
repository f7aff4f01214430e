# Shared by scripts/test and scripts/demo: package installation and builds.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}

# Debian packages the builds and tests need.
NATIVE_PACKAGES=(cmake g++ make libgtest-dev)
CROSS_PACKAGES=(g++-mingw-w64-i686 gcc-arm-none-eabi libnewlib-arm-none-eabi)
# fonts-wqy-microhei draws the Chinese screens; locales lets Wine take a
# user language from LANG (see ensure_locales).
WINE_PACKAGES=(wine wine32:i386 xvfb imagemagick x11-utils xdotool file locales fonts-wqy-microhei)
# Locales the Wine suites start romwiz.exe in (LANG=...).
WINE_LOCALES=(de_DE.UTF-8 zh_CN.UTF-8)

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

# Generates whatever of the given locales ("de_DE.UTF-8") is missing: Wine
# only takes a language from LANG when the C library knows that locale.
ensure_locales() {
  local name sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  for name in "$@"; do
    locale -a 2>/dev/null | grep -qix "$(echo "$name" | sed 's/UTF-8/utf8/')" && continue
    echo "generating locale $name"
    $sudo localedef -i "${name%%.*}" -f "${name#*.}" "$name"
  done
}

# Configures (once) and builds one preset into build/<preset>.
build_preset() {
  local preset=$1
  shift
  (cd "$ROOT" && cmake --preset "$preset" >/dev/null && cmake --build "build/$preset" -j "$JOBS" "$@")
}
