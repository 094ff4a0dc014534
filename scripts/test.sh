#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite (the default preset).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default
