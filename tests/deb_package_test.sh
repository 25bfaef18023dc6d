#!/bin/sh
# Makes the .deb from a build folder, unpacks it with dpkg-deb, runs the
# unpacked program on the sample sequence, through the emulator if one is
# given, and makes the .deb again to see that it is the same.
#   deb_package_test.sh BUILD_DIR VERSION SAMPLE [EMULATOR...]
set -eu
build=$1 version=$2 sample=$3
shift 3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work/package" >/dev/null)
deb=$(echo "$work"/package/gcwindow_*.deb)
dpkg-deb -x "$deb" "$work/root"
program=$work/root/usr/bin/gcwindow

# The Debian architecture the binary was built for, read off its ELF header:
# the machine (bytes 18-19, in the file's own byte order) and the word size.
elfArchitecture() {
  set -- $(od -An -tu1 -j4 -N16 "$1")
  class=$1 order=$2
  shift 14
  machine=$(( order == 1 ? $1 + 256 * $2 : 256 * $1 + $2 ))
  case "$machine/$class/$order" in
    62/2/1) echo amd64 ;;
    3/1/1) echo i386 ;;
    183/2/1) echo arm64 ;;
    40/1/1) echo armhf ;;
    21/2/1) echo ppc64el ;;
    22/2/2) echo s390x ;;
    243/2/1) echo riscv64 ;;
    *) echo "unknown ELF machine $machine/$class/$order" ;;
  esac
}

fail() { echo "$*" >&2; exit 1; }
[ "$(dpkg-deb -f "$deb" Package)" = gcwindow ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "version is not $version"
architecture=$(dpkg-deb -f "$deb" Architecture)
[ "$architecture" = "$(elfArchitecture "$program")" ] || fail "architecture $architecture for a $(elfArchitecture "$program") binary"
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no maintainer"
doc=$work/root/usr/share/doc/gcwindow
gzip -dc "$work/root/usr/share/man/man1/gcwindow.1.gz" | grep -q "gcwindow $version" || fail "no man page of $version"
gzip -dc "$doc/changelog.gz" | head -n 1 | grep -q "^gcwindow ($version)" || fail "changelog does not start at $version"
grep -q '^License: Expat$' "$doc/copyright" || fail "copyright file without the licence"
[ "$("$@" "$program" "$sample" 1000 /dev/null)" = 0.516000 ] || fail "wrong result"
# Dated by the changelog, not the clock: a package made a second later is the same to the byte.
sleep 1
(cd "$build" && cpack -G DEB -B "$work/again" >/dev/null)
cmp -s "$deb" "$work"/again/gcwindow_*.deb || fail "a second package differs from the first"
