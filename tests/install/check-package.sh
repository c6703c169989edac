#!/usr/bin/env bash
# Builds the Debian package from the build tree and checks its control fields
# and its files.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work" >/dev/null) || fail "cpack -G DEB failed"
deb=$(find "$work" -maxdepth 1 -name 'zorbel-flash_*.deb' | head -n1)
[ -n "$deb" ] || fail "no package was made"
info=$(dpkg-deb -I "$deb")
echo "$info" | grep -q '^ Package: zorbel-flash$' || fail "package name"
echo "$info" | grep -q '^ Architecture: amd64$' || fail "architecture"
echo "$info" | grep -q '^ Section: electronics$' || fail "section"
depends=$(echo "$info" | sed -n 's/^ Depends: //p')
for dependency in avrdude libqt6core6 libqt6widgets6 libqt6gui6 libstdc++6 libc6; do
  echo "$depends" | grep -q "$dependency" || fail "Depends lacks $dependency: $depends"
done
files=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/zorbel-flash ./usr/bin/zorbel-probe ./usr/libexec/zorbel-flash/zorbel-flash-run \
         ./usr/share/applications/zorbel-flash.desktop ./usr/share/icons/hicolor/32x32/apps/zorbel-flash.xpm \
         ./usr/include/ZorbelSerial/ComPort.h ./usr/share/man/man1/zorbel-flash.1.gz \
         ./usr/share/man/man1/zorbel-probe.1.gz ./usr/bin/zorbel-monitor \
         ./usr/share/applications/zorbel-monitor.desktop ./usr/share/icons/hicolor/32x32/apps/zorbel-monitor.xpm \
         ./usr/share/man/man1/zorbel-monitor.1.gz; do
  echo "$files" | grep -qx "$f" || fail "$f is not in the package"
done
echo "$files" | grep -q 'ZorbelSerialConfig.cmake$' || fail "the CMake package is not in the package"
echo "$files" | grep -q 'libZorbelSerialCPort.a$' || fail "the component library is not in the package"
echo "package: $(basename "$deb"); Depends: $depends"
