#!/usr/bin/env bash
# Configures and builds into build/ (or the directory given as $1, with extra CMake arguments after it),
# warnings as errors.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
# Warnings are errors in our own builds; a later argument may override the build type.
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_WERROR=ON "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
