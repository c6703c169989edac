#!/usr/bin/env bash
# The Windows window, the real 32-bit zorbel-flash.exe, under 32-bit Wine
# on a virtual X display: its title and size; the port list holding the
# prefix's COM ports (links to pseudo-terminals) in order, the first
# chosen; keyboard alone picking a port and 57600 and pressing FLASH; a
# missing flasher giving one message box with the system's text; a stand-in
# avrdude.exe receiving the exact arguments in the folder the tool was
# started in; ports coming and going while the window is open; the
# portable zip; the installer, silent, for all users and for the current
# user: the installed tool starts, the uninstaller leaves nothing; the
# window scaled at 144 dots per inch.
#   tests/win32/window-tests.sh BUILD_DIR   (an i686 Windows build, packed by cpack)
set -euo pipefail
build=$(realpath "$1")
bin="$build/bin"
probe="$build/tests/win32/window-probe.exe"
standin="$build/tests/platform/avrdude.exe"

failures=0
check() { # what, expected, actual
  if [ "$2" == "$3" ]; then
    echo "ok   $1"
  else
    echo "FAIL $1: expected [$2], got [$3]"
    failures=$((failures + 1))
  fi
}

work=$(mktemp -d)
pids=()
cleanup() {
  WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# Bounded waits for what the tool does on its own time.
wait_for() { # seconds, command...
  local seconds=$1
  shift
  timeout "$seconds" bash -c "until $*; do sleep 0.2; done"
}

echo "== The executable =="
check "zorbel-flash.exe is PE32" "PE32 executable (GUI) Intel 80386, for MS Windows" \
  "$(file -b "$bin/zorbel-flash.exe" | sed 's/, [0-9]* sections//')"
# Windows' own DLLs only: none of the compiler's runtime.
system_dlls="ADVAPI32.DLL CFGMGR32.DLL COMCTL32.DLL GDI32.DLL KERNEL32.DLL MSVCRT.DLL SETUPAPI.DLL SHELL32.DLL USER32.DLL"
for exe in zorbel-flash.exe zorbel-flash-run.exe; do
  others=$(i686-w64-mingw32-objdump -p "$bin/$exe" | sed -n 's/.*DLL Name: //p' | tr 'a-z' 'A-Z' |
           grep -vxF -f <(tr ' ' '\n' <<<"$system_dlls") | tr '\n' ' ' || true)
  check "$exe: only system DLLs" "" "$others"
done

echo "== A 32-bit Wine prefix on a virtual display =="
Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp 5>"$work/display" >/dev/null 2>&1 &
pids+=($!)
wait_for 20 "[ -s '$work/display' ]"
export DISPLAY=":$(cat "$work/display")"
# Wine links the user's documents to the home folder: one of the test's own. Its
# copies of Start-menu entries for the Linux desktop are not made.
export HOME="$work/home"
mkdir -p "$HOME"
export WINEPREFIX="$work/prefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" LC_ALL=C.UTF-8
mkdir -p "$WINEPREFIX"
wineserver --persistent >/dev/null 2>&1
wineboot --init >/dev/null 2>&1
# Without a window manager nobody offers Wine the focus: the X focus itself
# activates its windows.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v UseTakeFocus /d N /f >/dev/null 2>&1

# COM3 and COM10 beside Wine's own COM1, each a pseudo-terminal; the list's
# order is the locale's text order: COM1, COM10, COM3.
socat pty,raw,echo=0,link="$work/pty-a" pty,raw,echo=0,link="$work/pty-b" &
pids+=($!)
socat pty,raw,echo=0,link="$work/pty-c" pty,raw,echo=0,link="$work/pty-d" &
pids+=($!)
wait_for 10 "[ -e '$work/pty-b' ] && [ -e '$work/pty-d' ]"
add_port() { # name, pseudo-terminal
  ln -sfn "$(readlink "$2")" "$WINEPREFIX/dosdevices/${1,,}"
  wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v "\\Device\\Zorbel$1" /d "$1" /f >/dev/null 2>&1
}
remove_port() { # name
  rm -f "$WINEPREFIX/dosdevices/${1,,}"
  wine reg delete 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v "\\Device\\Zorbel$1" /f >/dev/null 2>&1
}
add_port COM3 "$work/pty-a"
add_port COM10 "$work/pty-b"

# The tool in a folder with a space and a non-ASCII letter, started from
# another such folder, where the images would be.
tool_dir="$WINEPREFIX/drive_c/Outils Zorbel é"
start_dir="$WINEPREFIX/drive_c/Mes données"
mkdir -p "$tool_dir" "$start_dir"
cp "$bin/zorbel-flash.exe" "$bin/zorbel-flash-run.exe" "$tool_dir/"
export ZORBEL_STANDIN_RECORD='C:\record.txt' ZORBEL_STANDIN_FOLDER='C:\folder.txt'
record="$WINEPREFIX/drive_c/record.txt"
folder="$WINEPREFIX/drive_c/folder.txt"
(cd "$start_dir" && exec wine 'C:\Outils Zorbel é\zorbel-flash.exe') >/dev/null 2>&1 &

# Gives the window the X focus until Wine has made it active with FLASH
# focused; when another window (named by $1, maybe still coming up) took the
# focus, through that window, for X to tell Wine of the change.
focus_flash() {
  for _ in $(seq 20); do
    if [ -n "${1:-}" ]; then
      other=$(xdotool search --name "$1" | head -1 || true)
      [ -z "$other" ] || xdotool windowfocus --sync "$other"
    fi
    xdotool windowfocus --sync "$window"
    wine "$probe" window | tr -d '\r' | grep -qx 'focus: Button FLASH, active' && return 0
    sleep 0.2
  done
  return 1
}

echo "== The window =="
window=$(timeout 60 xdotool search --sync --name '^ZORBEL DATALOGGER FLASH$' | head -1)
check "title read from X" "ZORBEL DATALOGGER FLASH" "$(xdotool getwindowname "$window")"
geometry=$(xwininfo -id "$window" | sed -n 's/.*Width: //p;s/.*Height: //p' | tr '\n' ' ')
check "client size read from X" "572 328 " "$geometry"
placement=$(wine "$probe" window | tr -d '\r')
check "outer size and place" "outer: 580x355 at 307,224" "$(sed -n 's/^outer/outer/p' <<<"$placement")"
# A combo box's height is the theme's and the font's: Wine's is 20 or 22 for
# the stored 19 and 21.
check "the controls as the layout places them, in the tab order" \
  'Button "FLASH" 208,192 161x73|ComboBox 328,136 145|ComboBox 96,136 145|Static "Choisir le port " 96,104 137x24|Static "Choisir la vitesse" 328,104 158x24|Static "Mise a jour firmware datalogger zorbel " 104,56 369x24' \
  "$(wine "$probe" controls | tr -d '\r' | sed -E 's/^(ComboBox .*)x[0-9]+$/\1/' | paste -sd'|')"
check "port and speed lists" "speeds: 57600 28800|ports: *COM1 COM10 COM3" \
  "$(wine "$probe" lists | tr -d '\r' | paste -sd'|')"

echo "== Keyboard alone: a port, 57600, FLASH without a flasher =="
check "the focus starts on FLASH" "yes" "$(focus_flash && echo yes)"
# The focus starts on FLASH: Tab to the speeds, Down to 57600, Tab to the
# ports, Down to COM10, Tab back to FLASH, space presses it.
xdotool key --delay 100 Tab Down Tab Down Tab space
timeout 30 xdotool search --sync --name '^zorbel-flash$' >/dev/null
check "one message box with the system's text" "boxes: 1|text: File not found" \
  "$(wine "$probe" messages | tr -d '\r' | paste -sd'|')"
check "the choices stay" "speeds: *57600 28800|ports: COM1 *COM10 COM3" \
  "$(wine "$probe" lists | tr -d '\r' | paste -sd'|')"

echo "== FLASH with a flasher beside the tool =="
cp "$standin" "$tool_dir/avrdude.exe"
wait_for 10 "! xdotool search --name '^zorbel-flash$' >/dev/null"
focus_flash || true
xdotool key space
wait_for 30 "[ -s '$record' ]" || true
check "the flasher's arguments" "2:-c7:arduino2:-p5:m328p2:-P5:COM102:-b5:576002:-U28:flash:w:datalogger_new.hex:i" \
  "$(cat "$record")"
check "the folder the tool was started in" 'C:\Mes données' "$(cat "$folder")"
rm -f "$record"
# The flasher's console took the focus.
focus_flash zorbel-flash-run || true
xdotool key space
wait_for 30 "[ -s '$record' ]" || true
check "a second press starts a second flasher" "yes" "$([ -s "$record" ] && echo yes)"

echo "== Ports that come and go =="
lists_show() { # expected ports line
  wait_for 20 "wine '$probe' lists | tr -d '\r' | grep -qxF '$1'" || true
  wine "$probe" lists | tr -d '\r' | grep '^ports:'
}
add_port COM4 "$work/pty-c"
check "a new port appears, the choice stays" "ports: COM1 *COM10 COM3 COM4" "$(lists_show "ports: COM1 *COM10 COM3 COM4")"
remove_port COM10
check "a vanished choice is awaited" "ports: COM1 COM3 COM4" "$(lists_show "ports: COM1 COM3 COM4")"
add_port COM10 "$work/pty-b"
check "the returning port is chosen again" "ports: COM1 *COM10 COM3 COM4" \
  "$(lists_show "ports: COM1 *COM10 COM3 COM4")"

# A name that is not a COM name is listed by the same order and passed whole.
wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v '\Device\ZorbelCNCA0' /d CNCA0 /f >/dev/null 2>&1
check "a port that is not a COM port" "ports: CNCA0 COM1 *COM10 COM3 COM4" \
  "$(lists_show "ports: CNCA0 COM1 *COM10 COM3 COM4")"
rm -f "$record"
focus_flash zorbel-flash-run || true
# Back to the ports, the first of them, forward to FLASH and press.
xdotool key --delay 100 shift+Tab Home Tab space
wait_for 30 "[ -s '$record' ]" || true
check "its name passed whole" "2:-c7:arduino2:-p5:m328p2:-P5:CNCA02:-b5:576002:-U28:flash:w:datalogger_new.hex:i" \
  "$(cat "$record" 2>/dev/null)"

echo "== The installer, silent, for all users and for the current user =="
wine "$probe" close
wait_for 30 "! xdotool search --name '^ZORBEL DATALOGGER FLASH$' >/dev/null" || true
check "the window closes" "" "$(xdotool search --name '^ZORBEL DATALOGGER FLASH$' || true)"
installer=$(ls "$build"/zorbel-flash-*-win32.exe)
check "the portable zip" "README.txt zorbel-flash-run.exe zorbel-flash.exe " \
  "$(unzip -Z1 "$build"/zorbel-flash-*-win32.zip | sort | tr '\n' ' ')"
# Whatever the installer leaves: files named after the tool (but the test's
# own folder) and its uninstall key.
leftovers() {
  find "$WINEPREFIX/drive_c" "$HOME" -iname '*zorbel*' -not -path "$tool_dir*" | sort
  wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\zorbel-flash' >/dev/null 2>&1 && echo "all users key"
  wine reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\zorbel-flash' >/dev/null 2>&1 && echo "user key"
  true
}
before=$(leftovers)
for mode in AllUsers CurrentUser; do
  wine "$installer" /S /$mode >/dev/null 2>&1 || true
  if [ $mode = AllUsers ]; then
    dir="$WINEPREFIX/drive_c/Program Files/ZORBEL Flash"
    shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/ZORBEL DATALOGGER FLASH.lnk"
  else
    dir=$(find "$WINEPREFIX/drive_c/users" -path '*/Programs/ZORBEL Flash' -type d | head -1)
    shortcut=$(find "$WINEPREFIX/drive_c/users" -name 'ZORBEL DATALOGGER FLASH.lnk' | head -1)
  fi
  check "$mode: installed files" "README.txt Uninstall.exe zorbel-flash-run.exe zorbel-flash.exe " \
    "$(ls "$dir" 2>/dev/null | sort | tr '\n' ' ')"
  check "$mode: Start-menu shortcut" "yes" "$([ -f "$shortcut" ] && echo yes)"
  # The shortcut keeps its start folder as UTF-16 text.
  start_folder=$(strings -el "$shortcut" | grep -o 'C:\\users\\[^\\]*\\Documents\\ZORBEL Flash$' || true)
  if [ $mode = AllUsers ]; then
    check "$mode: the shortcut starts in the public documents" 'C:\users\Public\Documents\ZORBEL Flash' "$start_folder"
  else
    check "$mode: the shortcut starts in the user's documents" "yes" \
      "$([ -n "$start_folder" ] && [ "$start_folder" != 'C:\users\Public\Documents\ZORBEL Flash' ] && echo yes)"
  fi
  check "$mode: the images folder" "yes" \
    "$(find "$WINEPREFIX/drive_c/users/Public/Documents" "$HOME" -name 'ZORBEL Flash' -type d | grep -q . && echo yes)"
  windows_dir=$(winepath -w "$dir")
  wine "$windows_dir\\zorbel-flash.exe" >/dev/null 2>&1 &
  timeout 60 xdotool search --sync --name '^ZORBEL DATALOGGER FLASH$' >/dev/null || true
  check "$mode: the installed tool starts" "title: ZORBEL DATALOGGER FLASH" \
    "$(wine "$probe" window | tr -d '\r' | grep '^title')"
  wine "$probe" close
  wait_for 30 "! xdotool search --name '^ZORBEL DATALOGGER FLASH$' >/dev/null" || true
  # The uninstaller copies itself away and returns at once: its work is
  # awaited by what it removes.
  wine "$windows_dir\\Uninstall.exe" /S /$mode >/dev/null 2>&1 || true
  wait_for 60 "[ ! -e '$dir' ]" || true
  for _ in $(seq 50); do [ "$(leftovers)" = "$before" ] && break; sleep 0.2; done
  check "$mode: the uninstaller leaves nothing" "$before" "$(leftovers)"
done

echo "== At 144 dots per inch =="
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null 2>&1
(cd "$start_dir" && exec wine 'C:\Outils Zorbel é\zorbel-flash.exe') >/dev/null 2>&1 &
timeout 60 xdotool search --sync --name '^ZORBEL DATALOGGER FLASH$' >/dev/null || true
check "outer size and place, scaled" "outer: 870x533 at 461,336" \
  "$(wine "$probe" window | tr -d '\r' | grep '^outer')"
wine "$probe" close

echo "== $failures failure(s) =="
[ "$failures" -eq 0 ]
