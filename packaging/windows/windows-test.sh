#!/usr/bin/env bash
# Proves the Windows build under Wine, on an X server of its own:
#   1. the test programs that need no pseudo-terminal (tst_core, tst_console,
#      tst_window), run as Windows programs by ctest;
#   2. the zip: unpacked and started, its window shows the selection page;
#   3. the installer: its pages clicked through, the tool started from the
#      Start-menu entry it made, its entry in Windows' program list;
#   4. as root, in a network namespace of its own whose loopback holds the
#      Torvel's address: the Torvel button connects the Windows tool to the
#      simulated Torvel, whose identity reply and status the window shows;
#   5. the uninstaller removes what the installer put there.
# What the windows show is read back from screenshots by OCR; the
# screenshots stay in <windows build>/screenshots for a person to look at.
#
#   windows-test.sh <windows build folder> <linux build folder>
#
# Wine's serial ports cannot be proven: Wine 8.0 never completes the reads
# of QSerialPort's Windows backend.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
win_build=$(cd "$1" && pwd)
linux_build=$(cd "$2" && pwd)
cache=${TAVIX_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tavix-gateway-tool/windows}
version=$(sed -n 's/^project(tavix-gateway-tool VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
name=tavix-gateway-tool-$version
title="Tavix Gateway Tool v$version by Halvane"
shots=$win_build/screenshots
work=$(mktemp -d /tmp/tavix-windows-test.XXXXXX)
rm -rf "$shots" && mkdir -p "$shots"

export WINEPREFIX=$cache/wine WINEARCH=win64 WINEDEBUG=-all
# Neither Mono nor Gecko: the tool needs neither, and Wine would offer to
# download them.
export WINEDLLOVERRIDES="mscoree,mshtml="

failures=0
say() { printf 'windows-test: %s\n' "$*"; }
pass() { say "ok    $*"; }
fail() {
    say "FAIL  $*"
    failures=$((failures + 1))
}

netns=
xvfb_pid=
sim_pid=
cleanup() {
    wineserver -k 2>/dev/null
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
    [ -n "$netns" ] && ip netns delete "$netns" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# An X server of its own, on the first free display.
Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$work/display")
say "X server on $DISPLAY, Wine prefix $WINEPREFIX"

# A new prefix takes a few seconds and about 700 MB; later runs reuse it.
wineboot --init >/dev/null 2>&1
wineserver -w
# Windows has Tahoma (its dialog font), Arial (the form's) and Courier New
# (the console's); Debian's Wine finds neither its own fonts nor these, and
# draws every text in the first family it knows, a serif. Its own fonts go
# where it looks, and the Liberation fonts, drawn to the same measures,
# stand in for the others.
cp -n /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
for pair in "Arial=Liberation Sans" "Times New Roman=Liberation Serif" "Courier New=Liberation Mono"; do
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "${pair%%=*}" /d "${pair#*=}" /f >/dev/null 2>&1
done
wineserver -w

# wait_window <title>: the X window id of a Windows window, once it is mapped.
wait_window() {
    local id
    for _ in $(seq 150); do
        id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1)
        [ -n "$id" ] && echo "$id" && return 0
        sleep 0.2
    done
    return 1
}

# shot <window id> <file>: the window as the user sees it.
shot() {
    sleep 1 # the first paint
    import -window root -crop "$(xdotool getwindowgeometry --shell "$1" |
        awk -F= '/^WIDTH/{w=$2} /^HEIGHT/{h=$2} /^X/{x=$2} /^Y/{y=$2} END{print w "x" h "+" x "+" y}')" \
        +repage "$shots/$2"
}

# reads <file> <text>: the screenshot shows the text (OCR of a copy three
# times as large, blanks squeezed).
reads() {
    convert "$shots/$1" -resize 300% -colorspace Gray "$work/ocr.png"
    tesseract "$work/ocr.png" - 2>/dev/null | tr -s ' \n' ' ' >"$work/ocr.txt"
    grep -qF "$2" "$work/ocr.txt"
}

# click <window id> <x> <y>: a left click at a point of the window.
click() {
    xdotool mousemove --window "$1" "$2" "$3" click 1
}

close_tool() {
    wine taskkill /IM tavix-gateway-tool.exe >/dev/null 2>&1
    wineserver -w
}

# starts_on_selection_page <screenshot> <what started the tool>: the tool
# opens its window on the selection page; then it is closed.
starts_on_selection_page() {
    local window
    if ! window=$(wait_window "$title"); then
        fail "$2 opened no window"
    else
        shot "$window" "$1"
        if reads "$1" "Select your product"; then
            pass "$2 starts the tool on its selection page"
        else
            fail "$2: no selection prompt in $1 ($(cat "$work/ocr.txt"))"
        fi
    fi
    close_tool
}

# --- 1. The test programs, as Windows programs ----------------------------
# With the DLLs of the Qt build and of the compiler; the tool's own folder
# below must do without. On the real Windows platform plugin: the Windows
# build of Qt has no offscreen one.
qt_prefix=$(sed -n 's/^TAVIX_QT_PREFIX:[A-Z]*=//p' "$win_build/CMakeCache.txt")
runtime_dirs=()
for dll in libstdc++-6.dll libwinpthread-1.dll; do
    runtime_dirs+=("$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=$dll)")")
done
for test in tst_core tst_console tst_window; do
    (
        export WINEPATH QT_PLUGIN_PATH QT_QPA_PLATFORM=windows
        WINEPATH=$(for dir in "$qt_prefix/bin" "${runtime_dirs[@]}"; do winepath -w "$dir"; done | paste -sd';')
        QT_PLUGIN_PATH=$(winepath -w "$qt_prefix/plugins")
        cd "$win_build/tests" && wine "$test.exe" -o "$work/$test.txt,txt" >/dev/null 2>&1
    )
    # Under Wine 8.0 the test programs' standard output came through
    # empty, so the results come through a file.
    totals=$(grep -a '^Totals:' "$work/$test.txt" 2>/dev/null)
    if grep -aq '^Totals: [0-9]* passed, 0 failed' "$work/$test.txt" 2>/dev/null; then
        pass "$test under Wine: ${totals#Totals: }"
    else
        grep -a -v '^PASS' "$work/$test.txt" 2>/dev/null
        fail "$test under Wine: ${totals:-no result}"
    fi
done

# --- 2. The zip -----------------------------------------------------------
mkdir -p "$work/unzipped"
(cd "$work/unzipped" && cmake -E tar xf "$win_build/$name-win64.zip")
if [ -f "$work/unzipped/$name/tavix-gateway-tool.exe" ]; then
    (cd "$work/unzipped/$name" && wine tavix-gateway-tool.exe >/dev/null 2>&1 &)
    starts_on_selection_page zip-selection-page.png "the unzipped folder, on its own DLLs,"
else
    fail "the zip holds no $name/tavix-gateway-tool.exe"
fi

# --- 3. The installer, page by page ---------------------------------------
local_appdata=$(winepath -u "$(wine cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')")
appdata=$(winepath -u "$(wine cmd /c echo %APPDATA% 2>/dev/null | tr -d '\r')")
installed="$local_appdata/Programs/Tavix Gateway Tool"
shortcut="$appdata/Microsoft/Windows/Start Menu/Programs/Tavix Gateway Tool.lnk"
uninstall_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\TavixGatewayTool'
setup_title="Tavix Gateway Tool $version Setup"

wine "$win_build/$name-setup.exe" >/dev/null 2>&1 &
if window=$(wait_window "$setup_title"); then
    shot "$window" installer-1-welcome.png
    xdotool key --window "$window" Return 2>/dev/null # Next
    sleep 1
    shot "$window" installer-2-folder.png
    xdotool key --window "$window" Return 2>/dev/null # Install
    for _ in $(seq 100); do [ -f "$installed/Uninstall.exe" ] && break; sleep 0.2; done
    sleep 2
    shot "$window" installer-3-finished.png
    # Finish, with "Start Tavix Gateway Tool now" ticked.
    xdotool key --window "$window" Return 2>/dev/null
else
    fail "the installer opened no window"
fi
starts_on_selection_page installed-selection-page.png "the installer's last page"

if [ -f "$installed/tavix-gateway-tool.exe" ] && [ -f "$installed/platforms/qwindows.dll" ] &&
    [ -f "$shortcut" ]; then
    pass "installed into $installed, with a Start-menu entry"
else
    fail "the installer left no tool or no Start-menu entry ($installed, $shortcut)"
fi
listed=$(wine reg query "$uninstall_key" 2>/dev/null | tr -d '\r')
if grep -q "DisplayVersion.*REG_SZ.*$version" <<<"$listed" && grep -q "Publisher.*Halvane" <<<"$listed"; then
    pass "Windows' program list shows Tavix Gateway Tool $version by Halvane"
else
    fail "no program-list entry with version $version: $listed"
fi

# The Start-menu entry starts the tool, in the user's Documents.
wine start "$(winepath -w "$shortcut")" >/dev/null 2>&1
starts_on_selection_page start-menu-selection-page.png "the Start-menu entry"

# --- 4. The Torvel, on its own address in a namespace of its own ---------
if [ "$(id -u)" -eq 0 ] && command -v ip >/dev/null && [ -x "$linux_build/tools/gateway-sim/gateway-sim" ]; then
    netns=tavix-wine-$$
    ip netns add "$netns"
    ip -n "$netns" link set lo up
    ip -n "$netns" address add 192.168.4.1/32 dev lo
    ip netns exec "$netns" "$linux_build/tools/gateway-sim/gateway-sim" torvel --address 192.168.4.1 \
        --port 2000 --mode 3 --verbose >"$work/sim.out" 2>"$work/sim.log" &
    sim_pid=$!
    for _ in $(seq 50); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
    (cd "$installed" && ip netns exec "$netns" wine tavix-gateway-tool.exe >/dev/null 2>&1 &)
    if window=$(wait_window "$title"); then
        # The Torvel picture, at the middle of its button.
        click "$window" $((430 + 283 / 2)) $((230 + 217 / 2))
        for _ in $(seq 50); do grep -q 'TAVIX_OFFLINE' "$work/sim.log" && break; sleep 0.2; done
        sleep 3 # the identity reply, then a status sentence
        shot "$window" torvel-connected.png
        # The identity reply opens the working page on the gateway's mode;
        # the status sentence then fills the status (and takes the place of
        # the connected text in the status bar).
        if reads torvel-connected.png "GPS HS Mode (10Hz)" &&
            reads torvel-connected.png "Devices: 5, Uptime:"; then
            pass "the Torvel button connects to 192.168.4.1:2000; the window shows the Torvel's mode 3 and its status"
        else
            fail "torvel-connected.png shows no connected Torvel and status: $(cat "$work/ocr.txt")"
        fi
    else
        fail "the installed tool opened no window in the namespace"
    fi
    close_tool
    kill "$sim_pid" 2>/dev/null
    sim_pid=
    ip netns delete "$netns"
    netns=
else
    say "skip  the Torvel: a network namespace needs root and ip, and the Linux build's simulator"
fi

# --- 5. The uninstaller ---------------------------------------------------
if [ ! -f "$installed/Uninstall.exe" ]; then
    fail "no uninstaller to try: nothing was installed"
elif wine "$installed/Uninstall.exe" /S >/dev/null 2>&1 && wineserver -w &&
    [ ! -e "$installed" ] && [ ! -e "$shortcut" ] && ! wine reg query "$uninstall_key" >/dev/null 2>&1; then
    pass "the uninstaller removed the tool, its Start-menu entry and its program-list entry"
else
    fail "after uninstalling: $(ls -A "$installed" 2>/dev/null | tr '\n' ' ')$([ -e "$shortcut" ] && echo 'shortcut left ')"
fi

say "screenshots in $shots"
if [ "$failures" -gt 0 ]; then
    say "$failures check(s) failed"
    exit 1
fi
say "all checks passed"
