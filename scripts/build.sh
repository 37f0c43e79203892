#!/usr/bin/env bash
# Configures and builds into build/ (or the directory given as $1, with extra CMake arguments after it).
# Our own builds treat warnings as errors; scripts/package.sh builds as a packager does, without.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_WERROR=ON "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
