#!/usr/bin/env bash
# The real program against qm7410-sim, driven over the accessibility bus (AT-SPI) the way a screen
# reader or a GUI test robot drives it: a private X server, a private D-Bus session with the
# accessibility bus in it, and the driver in a11y_session.py.
set -euo pipefail
sim=$1 monitor=$2
here=$(cd "$(dirname "$0")" && pwd)
launcher=/usr/libexec/at-spi-bus-launcher
for tool in Xvfb xauth dbus-run-session "$launcher"; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool missing"; exit 77; }
done
# pyatspi is a Debian package: the system Python sees it, another python3 on the PATH may not.
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null || { echo "SKIP: python3-pyatspi missing"; exit 77; }
if [ -z "${QM_IN_SESSION:-}" ]; then
  QM_IN_SESSION=1 exec "$here/../../scripts/with-xvfb.sh" dbus-run-session -- "$0" "$@"
fi

. "$here/../../scripts/lib.sh"
trap qm_cleanup EXIT
"$launcher" --launch-immediately &
qm_track $!
/usr/bin/python3 "$here/a11y_session.py" "$sim" "$monitor"
