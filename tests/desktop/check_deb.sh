#!/usr/bin/env bash
# Unpacks the Debian package DEB into a temporary folder, compares its files with the list in
# EXPECTED, and runs the unpacked program on a real X server until its window opens and closes.
set -euo pipefail
deb=$1
expected=$2
here=$(dirname "$0")
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

dpkg-deb -x "$deb" "$root"
diff -u "$expected" <(cd "$root" && find . -type f -o -type l | cut -c2- | LC_ALL=C sort)
dpkg-deb -f "$deb" Package Version Depends Recommends Section Installed-Size
"$here/x11_window.sh" "$root/usr/bin/tolmi"
