# Shared by scripts/test and scripts/demo: package installation and builds.

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}

# True when this machine's kernel runs 32-bit x86 programs. Some sandboxes
# do not (exec gives "Exec format error"): there 32-bit Wine cannot start,
# and the Wine suites run an x86_64 build of the same sources on 64-bit Wine.
can_run_32bit() {
  local dir status=1
  dir=$(mktemp -d)
  printf '.globl _start\n_start:\n movl $1, %%eax\n xorl %%ebx, %%ebx\n int $0x80\n' >"$dir/t.s"
  if as --32 -o "$dir/t.o" "$dir/t.s" 2>/dev/null && ld -m elf_i386 -o "$dir/t" "$dir/t.o" 2>/dev/null; then
    "$dir/t" 2>/dev/null && status=0
  fi
  rm -rf "$dir"
  return $status
}

# Debian packages the builds and tests need.
# The native build also builds the takeover image the simulated handheld
# runs (arm-none-eabi) and runs it on Unicorn's emulated SA-1110.
NATIVE_PACKAGES=(cmake g++ make libgtest-dev libunicorn-dev gcc-arm-none-eabi libnewlib-arm-none-eabi)
NATIVE_PACKAGES+=(clang)  # the libFuzzer targets (scripts/fuzz)
NATIVE_PACKAGES+=(ccache)
CROSS_PACKAGES=(g++-mingw-w64-i686)
# fonts-wqy-microhei draws the Chinese screens; locales lets Wine take a
# user language from LANG (see ensure_locales). fonts-liberation gives Wine
# the Arial metrics the dialogs are laid out in (without it Arial falls back
# to the wider DejaVu Sans: controls drift off their pictures), and
# fonts-wine Wine's own fonts (Tahoma, Marlett for the frame's buttons);
# both are only recommended by Wine, and recommendations are not installed.
WINE_PACKAGES=(wine xvfb imagemagick x11-utils xdotool file locales fonts-wqy-microhei fonts-liberation fonts-wine
               libxfixes3 python3)
# scripts/release: man pages and the user's guide (pandoc), the zip, the
# package's dependencies (dpkg-dev) and its check (lintian); man-db for the
# release check's man -w.
RELEASE_PACKAGES=(pandoc zip unzip dpkg-dev lintian man-db)
# Locales the Wine suites start romwiz.exe in (LANG=...).
WINE_LOCALES=(de_DE.UTF-8 zh_CN.UTF-8 zh_TW.UTF-8)
if can_run_32bit; then
  WINE_BITS=32
  WINE_PACKAGES+=(wine32:i386)
else
  WINE_BITS=64
  CROSS_PACKAGES+=(g++-mingw-w64-x86-64)
  WINE_PACKAGES+=(wine64)
fi

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
  # A mirror caught in the middle of a sync leaves one list unreadable
  # ("Mirror sync in progress?") and apt-get update exits non-zero, but the
  # lists it did read are good: go on with them.
  $sudo apt-get update -qq ||
    echo "apt-get update could not read every package list; installing from the lists it has" >&2
  # shellcheck disable=SC2206
  local install=($sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing)
  "${install[@]}" && return 0
  # With the i386 security list the one missing, amd64's newer security
  # versions have no i386 twin, and packages of both architectures must agree
  # (wine32:i386 cannot be installed): take every package from the release
  # itself, whose lists hold both architectures.
  local codename
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [ -n "$codename" ] || return 1
  echo "installing from $codename alone, without its later updates" >&2
  "${install[@]}" -t "$codename"
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
  # The compiler cache: a later run on the same machine compiles only what
  # changed, whichever folder its checkout is in.
  if command -v ccache >/dev/null; then
    export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
    export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$ROOT}
    # Debug builds otherwise key every object on the folder it was built in.
    export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
  fi
  (cd "$ROOT" && cmake --preset "$preset" >/dev/null && cmake --build "build/$preset" -j "$JOBS" "$@")
}

# Sets up Wine for the Wine suites and names their builds: WINE_BUILD and
# WINE_TESTS_BUILD (presets), WINEARCH, and on a 64-bit-only machine a PATH
# whose wine, wine-stable and wineboot run 64-bit Wine (Debian's launcher
# prefers the 32-bit loader whenever it is installed). The shipped
# romwiz.exe is always the i686 one (ROMWIZ_SHIPPED), checked statically.
setup_wine() {
  export ROMWIZ_SHIPPED="$ROOT/build/windows/host/romwiz.exe"
  if [ "$WINE_BITS" = 32 ]; then
    WINE_BUILD=windows
    WINE_TESTS_BUILD=windows-tests
    export WINEARCH=win32
    return
  fi
  WINE_BUILD=windows64
  WINE_TESTS_BUILD=windows64-tests
  export WINEARCH=win64
  local bin="$ROOT/build/wine64-bin" name
  mkdir -p "$bin"
  for name in wine wine-stable; do
    printf '#!/bin/sh\nexport WINELOADER=/usr/lib/wine/wine64\nexec /usr/lib/wine/wine64 "$@"\n' >"$bin/$name"
    chmod +x "$bin/$name"
  done
  case ":$PATH:" in *":$bin:"*) ;; *) export PATH="$bin:$PATH" ;; esac
}
