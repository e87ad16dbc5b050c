#!/usr/bin/env bash
# Settings mode and the version dialog from the real menus: the highlighted
# recognition area, a real key on the focused scroll bar resizing the real
# window, Enter as OK; the version dialog's link handed to xdg-open, and the
# error box of a copy of the program that has no homepage library beside it.
ZUMBLE="$1"
. "$(dirname "$0")/lib.sh"
BUILD_DIR=$(cd "$(dirname "$ZUMBLE")" && pwd)
HOMEPAGE=$(sed -n 's/^KOVHPURL_HOMEPAGE_URL:STRING=//p' "$BUILD_DIR/CMakeCache.txt")
[ -n "$HOMEPAGE" ] || fail "no KOVHPURL_HOMEPAGE_URL in $BUILD_DIR/CMakeCache.txt"
[ -f "$BUILD_DIR/libKovhpurl.so" ] || fail "libKovhpurl.so is not beside $ZUMBLE"

# A recording xdg-open, first on PATH.
BIN="$OUT_DIR/bin"
OPENED="$OUT_DIR/xdg-open.log"
mkdir -p "$BIN"
rm -f "$OPENED"
printf '#!/bin/sh\nprintf "%%s\\n" "$*" >> "%s"\n' "$OPENED" >"$BIN/xdg-open"
chmod +x "$BIN/xdg-open"
export PATH="$BIN:$PATH"
start_display

# Right-click on the button window, then the access keys of a submenu and its item.
menu() {
    xdotool mousemove 60 60 click 3
    sleep 0.4
    xdotool key "$1"
    sleep 0.3
    xdotool key "$2"
}
# X, Y, WIDTH, HEIGHT of a window's client area on the screen (xdotool's own
# position is off by the frame for a decorated window).
# Chooses a menu item by its two access keys and waits for the window titled
# $3 (the popup of a fresh window may drop a key: tried three times); prints
# its id.
from_menu() {
    local id
    for _ in 1 2 3; do
        menu "$1" "$2"
        id=$(wait_titled "$3") && { echo "$id"; return 0; }
    done
    fail "right-click, $1, $2 showed no window titled $3" >&2  # the caller's set -e stops the test
}
client_geometry() {
    local info; info=$(xwininfo -id "$1")
    X=$(awk '/Absolute upper-left X/ {print $4}' <<<"$info")
    Y=$(awk '/Absolute upper-left Y/ {print $4}' <<<"$info")
    WIDTH=$(awk '/^ *Width:/ {print $2}' <<<"$info")
    HEIGHT=$(awk '/^ *Height:/ {print $2}' <<<"$info")
}

start_program() {
    "$@" >"$OUT_DIR/zumble.log" 2>&1 &
    APP_PID=$!
    WIN=$(wait_window Zumble1) || fail "the button window never appeared"
    xdotool windowmove "$WIN" 20 20
    sleep 0.3
}
stop_program() {
    kill "$APP_PID" 2>/dev/null || true
    wait "$APP_PID" 2>/dev/null || true
    APP_PID=""
}

SDL_AUDIODRIVER=dummy start_program "$ZUMBLE"
AREA_X=$((20 + 32 + 100)) AREA_Y=$((20 + 180 + 64))  # inside the area, below its caption
before=$(screen_pixel $AREA_X $AREA_Y)
[ "$before" != FFFF00 ] || fail "the area is yellow before settings mode"

# Settings mode: right-click, S, S.
DLG=$(from_menu s s "各種設定")
client_geometry "$DLG"
[ "$WIDTH" = 496 ] && [ "$HEIGHT" = 249 ] || fail "the settings dialog's client area is ${WIDTH}x${HEIGHT}"
# On the way the window was 0 px high for a moment; it is back in its place.
client_geometry "$WIN"
[ "$X,$Y,$WIDTH,$HEIGHT" = "20,20,165,278" ] || fail "the button window ended at $X,$Y ${WIDTH}x$HEIGHT, not where it was"
xdotool windowmove "$DLG" 220 20
sleep 0.4
[ "$(screen_pixel $AREA_X $AREA_Y)" = FFFF00 ] || fail "the recognition area is not yellow in settings mode"
import -window root -crop 730x300+0+0 +repage "$OUT_DIR/settings-mode.png"
pass "settings mode: 各種設定 at 496x249, the area yellow"

# End on the focused first scroll bar: the button window becomes 10000 twips wide.
xdotool windowactivate --sync "$DLG" 2>/dev/null || true
width=""
widened() { width=$(xdotool getwindowgeometry --shell "$WIN" | sed -n 's/^WIDTH=//p'); [ "$width" = 667 ]; }
for _ in 1 2 3; do
    xdotool key End
    retry 40 widened && break
done
[ "$width" = 667 ] || fail "End left the button window $width px wide, not 667"
pass "End on the first scroll bar widens the window to 10000 twips (667 px)"

# Enter is OK: the dialog goes, the width stays, the area is no longer yellow.
xdotool key Return
titled_gone "各種設定" || fail "Enter did not close the settings dialog"
sleep 0.3
width=$(xdotool getwindowgeometry --shell "$WIN" | sed -n 's/^WIDTH=//p')
[ "$width" = 667 ] || fail "the window is $width px wide after OK"
[ "$(screen_pixel $AREA_X $AREA_Y)" != FFFF00 ] || fail "the area is still yellow after OK"
pass "Enter closes the dialog; the window keeps 667 px; the area is invisible again"

# Right-click, H, V: the version dialog, moved clear of the button window;
# sets VER and its client geometry.
VERSION_TITLE="ズンブルアプリのバージョン情報"
open_version() {
    VER=$(from_menu h v "$VERSION_TITLE")
    xdotool windowmove "$VER" 300 330
    sleep 0.4
    client_geometry "$VER"
}
click_link() { xdotool mousemove $((X + 104 + 40)) $((Y + 121 + 7)) click 1; }
wait_opened() {
    retry 100 test -s "$OPENED" || true
    [ "$(cat "$OPENED" 2>/dev/null)" = "$HOMEPAGE" ] || fail "$1: xdg-open got '$(cat "$OPENED" 2>/dev/null)', not '$HOMEPAGE'"
}

open_version
[ "$WIDTH" = 332 ] && [ "$HEIGHT" = 183 ] || fail "the version dialog's client area is ${WIDTH}x${HEIGHT}"
import -window root -crop $((WIDTH + 40))x$((HEIGHT + 60))+$((X - 20))+$((Y - 40)) +repage "$OUT_DIR/version.png"
click_link
wait_opened "the link"
titled "$VERSION_TITLE" >/dev/null || fail "the version dialog closed after the link"
pass "the link hands $HOMEPAGE to xdg-open; the dialog stays"
xdotool windowactivate --sync "$VER" 2>/dev/null || true
xdotool key Return
titled_gone "$VERSION_TITLE" || fail "Enter did not close the version dialog"
alive || fail "the program ended"
pass "Enter closes the version dialog"
stop_program

# A copy of the program with no library beside it: the click shows the error
# box and the program lives on; with the build folder on the library path the
# copy finds the library there.
COPY="$OUT_DIR/copy"
mkdir -p "$COPY"
cp "$ZUMBLE" "$COPY/Zumble1"
SDL_AUDIODRIVER=dummy start_program "$COPY/Zumble1"
open_version
click_link
BOX=$(wait_titled "Kovhpurl.dllのエラー") || fail "no error box without the library"
sleep 0.3
import -window root "$OUT_DIR/error-box.png"
xdotool windowactivate --sync "$BOX" 2>/dev/null || true
xdotool key Return
titled_gone "Kovhpurl.dllのエラー" || fail "the error box did not close"
titled "$VERSION_TITLE" >/dev/null || fail "the version dialog closed with the error box"
alive || fail "the program ended after the error box"
pass "without the library: the error box, and the program lives on"
stop_program

rm -f "$OPENED"
SDL_AUDIODRIVER=dummy LD_LIBRARY_PATH="$BUILD_DIR${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" start_program "$COPY/Zumble1"
open_version
click_link
wait_opened "the copy on the library path"
pass "the copy finds the library on the system's library path"
stop_program
echo "screenshots in $OUT_DIR"
