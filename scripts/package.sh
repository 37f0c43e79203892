#!/usr/bin/env bash
# Builds the Debian package as a packager does: Release, without the tests (so without GoogleTest),
# with Debian's hardening flags and without turning warnings into errors.
#   ./scripts/package.sh [BUILD_DIR] [CMake arguments]
# The package lands in BUILD_DIR (default build-package) as qm7410-monitor_<version>_amd64.deb.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh dpkg-dev file
dir=${1:-build-package}
shift || true

# Debian's flags, less any -Werror: a newer compiler's new warning must not stop a package build.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
strip_werror() { tr ' ' '\n' | grep -v '^-Werror' | tr '\n' ' '; }
cxxflags="$(dpkg-buildflags --get CPPFLAGS | strip_werror) $(dpkg-buildflags --get CXXFLAGS | strip_werror)"
ldflags=$(dpkg-buildflags --get LDFLAGS | strip_werror)

cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
(cd "$dir" && cpack -G DEB >/dev/null)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$dir/CMakeCache.txt")
deb="$dir/qm7410-monitor_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { echo "cpack made no $deb" >&2; exit 1; }
echo "$deb"
