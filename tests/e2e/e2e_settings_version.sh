#!/usr/bin/env bash
# Settings mode and the version dialog from the real menus, with the button
# window kept on top: the highlighted recognition area, the focus shown on the
# first scroll bar, real keys on the scroll bars resizing the real window
# (through a height of 0 and back) while the dialog stays above it, Enter as
# OK, a width of 0 leaving a window to right-click; the version dialog above
# the button window moved over it, its link handed to xdg-open (a Japanese
# address unchanged), the error box of a copy of the program that has no
# homepage library beside it; Alt+F4 on the button window and on the dialog.
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
    xdotool mousemove 30 60 click 3
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
    read -r X Y WIDTH HEIGHT < <(xwininfo -id "$1" | awk '/Absolute upper-left X/ {x = $4} /Absolute upper-left Y/ {y = $4}
        /^ *Width:/ {w = $2} /^ *Height:/ {h = $2} END {print x, y, w, h}')
}

start_program() {
    "$@" >"$OUT_DIR/zumble.log" 2>&1 &
    APP_PID=$!
    WIN=$(wait_window Zumble1) || fail "the button window never appeared"
    xdotool windowmove "$WIN" 20 20
    sleep 0.3
}
stop_program() { kill "$APP_PID" 2>/dev/null || true; wait "$APP_PID" 2>/dev/null || true; APP_PID=""; }

SDL_AUDIODRIVER=dummy start_program "$ZUMBLE"
AREA_X=$((20 + 32 + 100)) AREA_Y=$((20 + 180 + 64))  # inside the area, below its caption
before=$(screen_pixel $AREA_X $AREA_Y)
[ "$before" != FFFF00 ] || fail "the area is yellow before settings mode"

# Always on top first: right-click, S, T.
for _ in 1 2 3; do
    menu s t
    sleep 0.3
    case "$(xprop -id "$WIN" _NET_WM_STATE)" in *_NET_WM_STATE_ABOVE*) break ;; esac
done
case "$(xprop -id "$WIN" _NET_WM_STATE)" in *_NET_WM_STATE_ABOVE*) ;; *) fail "always on top did not take" ;; esac

# Settings mode: right-click, S, S.
DLG=$(from_menu s s "各種設定")
client_geometry "$DLG"
[ "$WIDTH" = 496 ] && [ "$HEIGHT" = 249 ] || fail "the settings dialog's client area is ${WIDTH}x${HEIGHT}"
# On the way the window was 0 px high for a moment; it is back in its place
# (Qt makes a window kept on top anew when it comes back: a new id).
WIN=$(wait_titled Zumble) || fail "no button window in settings mode"
client_geometry "$WIN"
[ "$X,$Y,$WIDTH,$HEIGHT" = "20,20,165,278" ] || fail "the button window ended at $X,$Y ${WIDTH}x$HEIGHT, not where it was"
xdotool windowmove "$DLG" 220 20
sleep 0.4
[ "$(screen_pixel $AREA_X $AREA_Y)" = FFFF00 ] || fail "the recognition area is not yellow in settings mode"
client_geometry "$DLG"
# The black read-out of the width, left of its digits, and the first scroll bar.
READOUT_X=$((X + 72)) READOUT_Y=$((Y + 30))
import -window root -crop 730x300+0+0 +repage "$OUT_DIR/settings-mode.png"
# The dialog opens with the focus on the first scroll bar, and shows it.
import -window root -crop 90x24+$((X + 110))+$((Y + 18)) +repage "$OUT_DIR/scrollbar-focused.png"
xdotool windowactivate --sync "$DLG" 2>/dev/null || true
xdotool key Tab
sleep 0.3
import -window root -crop 90x24+$((X + 110))+$((Y + 18)) +repage "$OUT_DIR/scrollbar-unfocused.png"
[ "$(compare -metric AE "$OUT_DIR/scrollbar-focused.png" "$OUT_DIR/scrollbar-unfocused.png" null: 2>&1)" != 0 ] ||
    fail "the first scroll bar looks the same with and without the focus"
xdotool key shift+Tab
pass "settings mode: 各種設定 at 496x249, the area yellow, the focus shown on the first scroll bar"

# End on the focused first scroll bar: the button window becomes 10000 twips
# wide, under the dialog although it is kept on top.
xdotool windowactivate --sync "$DLG" 2>/dev/null || true
width=""
for _ in 1 2 3; do
    xdotool key End
    for _ in $(seq 40); do
        width=$(xdotool getwindowgeometry --shell "$WIN" | sed -n 's/^WIDTH=//p')
        [ "$width" = 667 ] && break 2
        sleep 0.05
    done
done
[ "$width" = 667 ] || fail "End left the button window $width px wide, not 667"
sleep 0.3
[ "$(screen_pixel $READOUT_X $READOUT_Y)" = 000000 ] || fail "the button window covers the settings dialog after End"
pass "End on the first scroll bar widens the window to 10000 twips (667 px), below the dialog"
# The height through 0 (the window leaves the screen and comes back): still below.
xdotool key Tab Home
for _ in $(seq 40); do xdotool search --onlyvisible --name '^Zumble$' >/dev/null 2>&1 || break; sleep 0.05; done
xdotool key End
WIN=$(wait_titled Zumble) || fail "the button window did not come back"
sleep 0.3
[ "$(screen_pixel $READOUT_X $READOUT_Y)" = 000000 ] || fail "the button window came back over the settings dialog"
pass "the height through 0 and back: the dialog stays above the button window"
xdotool key shift+Tab Home
sleep 0.3

# Enter is OK: the dialog goes; a width of 0 leaves a window narrow but there.
xdotool key Return
titled_gone "各種設定" || fail "Enter did not close the settings dialog"
WIN=$(wait_titled Zumble) || fail "a width of 0 left no window on the screen after OK"
eval "$(xdotool getwindowgeometry --shell "$WIN")"
[ "$WIDTH,$HEIGHT" = 32,667 ] || fail "a width of 0 left the window ${WIDTH}x$HEIGHT"
pass "Enter closes the dialog; a width of 0 leaves a 32 px window to right-click"

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
# The button window, kept on top, moved over the dialog's title (right of
# its text): the dialog stays above it.
xdotool windowmove "$WIN" $((X + 280)) 20
sleep 0.4
import -window root "$OUT_DIR/version-over.png"
[ "$(screen_pixel $((X + 290)) $((Y + 15)))" = 0000C0 ] || fail "the button window covers the version dialog"
xdotool windowmove "$WIN" 20 20
sleep 0.3
pass "the version dialog stays above the button window"
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

# The window manager's close (Alt+F4) on the button window asks to save; N ends.
for _ in 1 2 3; do
    xdotool windowactivate --sync "$WIN" 2>/dev/null || xdotool windowfocus "$WIN"
    xdotool key alt+F4
    Q=$(wait_titled "保存確認") && break
done
[ -n "${Q:-}" ] || fail "Alt+F4 on the button window did not ask to save"
xdotool windowactivate --sync "$Q" 2>/dev/null || true
xdotool key n
expect_clean_end "N after Alt+F4"
pass "Alt+F4 asks to save; N ends the program"

# A copy of the program with no library beside it: the click shows the error
# box and the program lives on; with a library's folder on the library path
# the copy finds the library there.
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

# A library on the library path whose address has Japanese in it: xdg-open
# gets it exactly as the library gave it, not percent-encoded.
rm -f "$OPENED"
JAPANESE="$BUILD_DIR/tests/kovhpurl/japanese"
[ -f "$JAPANESE/libKovhpurl.so" ] || fail "no library with a Japanese address in $JAPANESE"
HOMEPAGE="https://ぬか堂.example.jp/ズンブル?x=1&y=2"
SDL_AUDIODRIVER=dummy LD_LIBRARY_PATH="$JAPANESE${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" start_program "$COPY/Zumble1"
open_version
click_link
wait_opened "the copy on the library path"
pass "the copy finds the library on the library path; xdg-open gets $HOMEPAGE as it is"
# Alt+F4 closes the version dialog like OK.
xdotool windowactivate --sync "$VER" 2>/dev/null || true
xdotool key alt+F4
titled_gone "$VERSION_TITLE" || fail "Alt+F4 did not close the version dialog"
alive || fail "Alt+F4 on the version dialog ended the program"
pass "Alt+F4 closes the version dialog"
stop_program
echo "screenshots in $OUT_DIR"
