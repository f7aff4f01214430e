# Sourced by the Wine suites: the Wine loader and prefix for a build.
#   wine_env_for <an .exe of the build> <prefix folder>
# sets WINE (the loader to run programs with), WINEARCH, WINEPREFIX and
# WINEDEBUG. A 32-bit build runs with `wine`; a 64-bit one (PE32+), built for
# a machine whose kernel cannot run 32-bit programs, with Wine's 64-bit
# loader in a 64-bit prefix.
#   winpath <unix path>   prints the Windows form of the path
wine_env_for() {
  local exe=$1
  export WINEPREFIX=$2
  export WINEDEBUG=${WINEDEBUG:--all}
  if file -b "$exe" | grep -q '^PE32+'; then
    export WINEARCH=win64
    WINE=/usr/lib/wine/wine64
    export WINELOADER=$WINE
  else
    export WINEARCH=win32
    WINE=wine
  fi
}

winpath() { $WINE winepath -w "$1" 2>/dev/null | tr -d '\r'; }

# locale_installed de_DE.UTF-8: the locale is generated (locale -a lists it as de_DE.utf8).
locale_installed() { locale -a 2>/dev/null | grep -qix "${1%%.*}.utf8"; }
