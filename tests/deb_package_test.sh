#!/bin/sh
# Makes the .deb from a build folder, unpacks it with dpkg-deb, and runs the
# unpacked program on the sample sequence.
#   deb_package_test.sh BUILD_DIR VERSION SAMPLE
set -eu
build=$1 version=$2 sample=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work/package" >/dev/null)
deb=$(echo "$work"/package/gcwindow_*.deb)
dpkg-deb -x "$deb" "$work/root"

fail() { echo "$*" >&2; exit 1; }
[ "$(dpkg-deb -f "$deb" Package)" = gcwindow ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "version is not $version"
[ "$(dpkg-deb -f "$deb" Architecture)" = "$(dpkg --print-architecture)" ] || fail "architecture"
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no maintainer"
[ -f "$work/root/usr/share/man/man1/gcwindow.1" ] || fail "no man page"
grep -q "gcwindow $version" "$work/root/usr/share/man/man1/gcwindow.1" || fail "man page without the version"
[ "$("$work/root/usr/bin/gcwindow" "$sample" 1000 /dev/null)" = 0.516000 ] || fail "wrong result"
