#!/usr/bin/env bash
# The package DEB: lintian is clean, its files are those in EXPECTED, its menu entry and AppStream
# data validate, and under Xvfb and openbox its window is a normal one, and
# closing it ends the program.
set -euo pipefail
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; wait; rm -rf "$work"' EXIT
wait_for() {
    for _ in $(seq 100); do eval "$1" >/dev/null 2>&1 && return 0 || sleep 0.1; done
    echo "timed out waiting for: $1" >&2 && return 1
}

lintian --fail-on error,warning --display-info "$1"
dpkg-deb -x "$1" "$work/root"
diff -u "$2" <(cd "$work/root" && find . -type f -o -type l | cut -c2- | LC_ALL=C sort)
# The validators pass files with remarks too: only the bare verdict passes.
share=$work/root/usr/share
[[ -z $(desktop-file-validate "$share/applications/tolmi.desktop" 2>&1) ]]
metainfo=$share/metainfo/io.github.tolmi.tolmi.metainfo.xml
[[ $(appstreamcli validate --pedantic --no-net "$metainfo" 2>&1) == *"Validation was successful." ]]

Xvfb -displayfd 3 -nolisten tcp -screen 0 1280x800x24 3>"$work/display" 2>/dev/null &
wait_for "test -s $work/display"
export DISPLAY=":$(cat "$work/display")" HOME=$work XDG_CONFIG_HOME=$work XDG_CACHE_HOME=$work
# Openbox ignores windows mapped while it is still starting: wait for its start-up command.
openbox --startup "touch $work/wm-ready" >/dev/null 2>&1 &
wait_for "test -e $work/wm-ready"
QT_QPA_PLATFORM=xcb "$work/root/usr/bin/tolmi" &
app=$!
wait_for "wmctrl -l | grep -q ."
window=$(wmctrl -l | awk 'NR == 1 { print $1 }')

[[ $(xprop -id "$window" _NET_WM_WINDOW_TYPE) == *" = _NET_WM_WINDOW_TYPE_NORMAL" ]]

wmctrl -i -c "$window"
wait "$app"
