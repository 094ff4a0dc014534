#!/usr/bin/env bash
# Installs every Debian 12 package the build, the tests, the Debian packages
# (dpkg-shlibdeps and file for their dependencies, man-db to read the manual)
# and the benchmarks need. Idempotent: when everything is present it only
# checks and returns.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  g++ clang libclang-rt-14-dev
  libgtest-dev libgmock-dev googletest
  libgcrypt20-dev nlohmann-json3-dev
  attr e2fsprogs util-linux
  dpkg-dev file man-db
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 libgcrypt-mingw-w64-dev
  # The desktop plugin (GTK 3) and its tests: a virtual display, xdotool to
  # click and type, ImageMagick's import for the screenshots.
  libgtk-3-dev xvfb xauth xdotool imagemagick
)

# Optional groups, asked for by name: "bench", "wine" and "wine64".
#   wine    Wine for the Windows tests: the 32-bit loader (from Debian's i386
#           packages) where this kernel can start 32-bit programs, otherwise
#           what "wine64" installs. HALVEX_WINE_ARCH=64 asks for "wine64".
#   wine64  Wine's 64-bit loader, for the x86_64 build of the Windows tests.
wine64_packages=(wine64)
for group in "$@"; do
  case "$group" in
    bench) packages+=(age gnupg 7zip hyperfine time strace) ;;
    wine)
      if [ "${HALVEX_WINE_ARCH:-}" != 64 ] && sh "$(dirname "$0")/kernel-runs-i386.sh"; then
        packages+=(wine wine32:i386)
      else
        packages+=("${wine64_packages[@]}")
      fi
      # A virtual display for the window tests, and its screenshots.
      packages+=(xvfb x11-apps imagemagick)
      ;;
    wine64) packages+=("${wine64_packages[@]}") ;;
    *) echo "setup.sh: unknown group '$group' (bench, wine, wine64)" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
  dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
fi
echo "setup.sh: installing ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
