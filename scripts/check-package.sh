#!/usr/bin/env bash
# CI for the installed program: builds the Debian package as a packager does, validates the desktop
# entry, the AppStream data and the manual pages, unpacks the package into an empty tree and checks
# that every file lands where the desktop looks for it, runs lintian, and compiles the Qt-free cores
# with the MinGW-w64 cross compiler.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh dpkg-dev file lintian desktop-file-utils appstream man-db groff-base g++-mingw-w64-x86-64

fail() {
  echo "check-package: $*" >&2
  exit 1
}
step() { echo "== $*"; }

step "desktop entry and AppStream data"
desktop-file-validate packaging/qm7410-monitor.desktop
appstreamcli validate --no-net packaging/*.metainfo.xml

step "package"
deb=$(./scripts/package.sh build-package | tail -n 1)
root=$(mktemp -d /tmp/qm7410-package.XXXXXX)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"

step "files where the desktop expects them"
metainfo=$(basename packaging/*.metainfo.xml)
for f in usr/bin/qm7410-monitor usr/bin/qm7410-sim \
  usr/share/applications/qm7410-monitor.desktop \
  usr/share/icons/hicolor/scalable/apps/qm7410-monitor.svg \
  "usr/share/metainfo/$metainfo" \
  usr/share/doc/qm7410-monitor/copyright usr/share/doc/qm7410-monitor/changelog.gz; do
  [ -f "$root/$f" ] || fail "$f is not in the package"
done
entry=$root/usr/share/applications/qm7410-monitor.desktop
exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$entry")
icon_name=$(sed -n 's/^Icon=//p' "$entry")
[ -x "$root/usr/bin/$exec_name" ] || fail "the menu entry starts $exec_name, which is not in usr/bin"
[ -f "$root/usr/share/icons/hicolor/scalable/apps/$icon_name.svg" ] || fail "the menu entry's icon $icon_name is missing"
appstreamcli validate-tree --no-net "$root"
for program in "$root"/usr/bin/*; do
  name=$(basename "$program")
  [ -f "$root/usr/share/man/man1/$name.1.gz" ] || fail "$name has no manual page in usr/share/man/man1"
  if LD_LIBRARY_PATH='' ldd "$program" | grep 'not found'; then fail "$name needs a library the system lacks"; fi
done
"$root/usr/bin/qm7410-sim" --help >/dev/null || fail "the installed qm7410-sim does not run"
# Every dependency names a Debian package apt can find.
apt-get install -s -qq "./$deb" >/dev/null || fail "apt cannot install $deb"

step "manual pages"
for page in "$root"/usr/share/man/man1/*.1.gz; do
  # As lintian reads them: any warning of man or groff is a fault.
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
  LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$page" | grep -q . || fail "$(basename "$page") renders empty"
done

step "lintian"
lintian --fail-on error "$deb"

step "size and dependencies"
echo "$deb: $(stat -c %s "$deb") bytes"
echo "Depends: $(dpkg-deb -f "$deb" Depends)"

step "Qt-free cores with MinGW-w64"
cmake -S . -B build-mingw -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DQM_CORES_ONLY=ON \
  -DQM_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-mingw -j "$(nproc)"
