#!/usr/bin/env bash
# Builds the Debian packages from the default preset into build/default/:
#   halvex_VERSION_amd64.deb         the command, its manual pages, its completions
#   libhalvexMAJOR.MINOR_VERSION_amd64.deb   the shared library
#   libhalvex-dev_VERSION_amd64.deb  headers, development link, CMake package
# Install the command with: apt-get install ./build/default/halvex_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default
cd build/default
rm -f ./*.deb
cpack -G DEB >/dev/null
ls -1 ./*.deb
