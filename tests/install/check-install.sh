#!/usr/bin/env bash
# Installs the build into a temporary prefix as a user would, checks what
# lands there (and what must not), validates the desktop entry, then builds
# a consumer project against the installed CMake package and runs the
# README's example on a pseudo-terminal.
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null

fail() { echo "FAILED: $*" >&2; exit 1; }
for f in bin/zorbel-flash bin/zorbel-probe libexec/zorbel-flash/zorbel-flash-run \
         share/applications/zorbel-flash.desktop share/icons/hicolor/32x32/apps/zorbel-flash.xpm \
         include/ZorbelSerial/ComPort.h include/ZorbelSerial/platform/CommLayer.h \
         include/ZorbelSerial/ComComboBox.h include/ZorbelSerial/ComPortDetails.h \
         include/ZorbelSerial/PortWatcher.h share/man/man1/zorbel-flash.1.gz share/man/man1/zorbel-probe.1.gz \
         bin/zorbel-monitor share/applications/zorbel-monitor.desktop \
         share/icons/hicolor/32x32/apps/zorbel-monitor.xpm share/man/man1/zorbel-monitor.1.gz; do
  [ -e "$prefix/$f" ] || fail "$f was not installed"
done
# man finds both pages where they were installed, and they read without
# formatting warnings.
for page in zorbel-flash zorbel-probe zorbel-monitor; do
  found=$(MANPATH="$prefix/share/man" man -w "$page" 2>/dev/null) || fail "man does not find $page"
  [ "$found" = "$prefix/share/man/man1/$page.1.gz" ] || fail "man finds $page at $found"
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$found" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "the page of $page has formatting warnings: $warnings"
done
config=$(find "$prefix" -name ZorbelSerialConfig.cmake)
[ -n "$config" ] || fail "no ZorbelSerialConfig.cmake was installed"
for internal in CommLinux.h RxQueue.h UniqueFd.h InterruptibleWait.h TermiosMapping.h FakeComm.h \
                ComThread.h OwnerCallQueue.h SafeFileWrite.h; do
  if find "$prefix/include" -name "$internal" | grep -q .; then fail "internal header $internal was installed"; fi
done
for program in zorbel-flash zorbel-monitor; do
  desktop-file-validate "$prefix/share/applications/$program.desktop" || fail "the desktop entry of $program is not valid"
  grep -q '^Categories=Development;Electronics;$' "$prefix/share/applications/$program.desktop" \
    || fail "the desktop entry's categories of $program"
done
# The installed monitor runs, and refuses a wrong option as its page says.
"$prefix/bin/zorbel-monitor" --help | grep -q -- '--no-reset' || fail "zorbel-monitor --help"
status=0; "$prefix/bin/zorbel-monitor" --bogus 2>/dev/null || status=$?
[ "$status" = 2 ] || fail "zorbel-monitor with a wrong option exited $status, not 2"

cmake -S "$source/tests/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" \
      -DZORBEL_README="$source/README.md" >/dev/null || fail "the consumer project did not configure"
cmake --build "$work/consumer" -j"$(nproc)" >/dev/null || fail "the consumer project did not build"
"$work/consumer/selector_links" || fail "the selector from the installed package did not work"
"$work/consumer/feed_example" "$work/consumer/readme_example" || fail "the README's example did not receive"
echo "installed, validated, and the consumer project built and received"
