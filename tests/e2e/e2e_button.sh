#!/usr/bin/env bash
# The real program under a real X server and window manager, driven as a user
# would: a borderless 165 x 278 window, the right-click popup, always on top
# through the popup, press and reset keys, and Exit.
ZUMBLE="$1"
. "$(dirname "$0")/lib.sh"
start_display

SDL_AUDIODRIVER=dummy "$ZUMBLE" >"$OUT_DIR/zumble.log" 2>&1 &
APP_PID=$!
WIN=$(wait_window Zumble1) || fail "the button window never appeared"

# Borderless, at the design size: the frame the window manager gives it is
# the window itself.
eval "$(xdotool getwindowgeometry --shell "$WIN")"
[ "$WIDTH" = 165 ] && [ "$HEIGHT" = 278 ] || fail "window is ${WIDTH}x${HEIGHT}"
extents=$(xprop -id "$WIN" _NET_FRAME_EXTENTS 2>/dev/null || true)
case "$extents" in *"= 0, 0, 0, 0"* | *"not found"* | "") ;; *) fail "window has a frame: $extents" ;; esac
hints=$(xprop -id "$WIN" _MOTIF_WM_HINTS 2>/dev/null || true)
pass "borderless ${WIDTH}x${HEIGHT} ($hints)"
xdotool windowmove "$WIN" 40 40
sleep 0.3

# Keys on the focused window: press (Enter, Space), reset (Backspace).
xdotool windowactivate --sync "$WIN" 2>/dev/null || xdotool windowfocus "$WIN"
for k in Return space BackSpace Return BackSpace; do xdotool key --window "$WIN" "$k"; sleep 0.1; done
# A double-click on the body resets; on the area it presses.
xdotool mousemove 60 60 click --repeat 2 --delay 80 1
xdotool mousemove $((40 + 80)) $((40 + 200)) click --repeat 2 --delay 80 1
sleep 0.3
alive || fail "the program ended after keys and double-clicks"
pass "Enter, Space, Backspace and double-clicks keep it running"

# A drag on the body moves the window.
xdotool mousemove 60 60 mousedown 1 sleep 0.1 mousemove 90 80 sleep 0.1 mousemove 120 100 mouseup 1
sleep 0.3
eval "$(xdotool getwindowgeometry --shell "$WIN")"
[ "$X" = 100 ] && [ "$Y" = 80 ] || fail "drag left the window at $X,$Y"
pass "dragging the body moves the window"

# Right-click: the popup with three entries (ファイル, 設定, ヘルプ).
xdotool mousemove 130 120 click 3
sleep 0.5
import -window root "$OUT_DIR/popup.png"
menu=$(popup_windows | head -n 1)
[ -n "$menu" ] || fail "no popup menu after a right-click"
menu_h=$(xwininfo -id "$menu" | awk '/Height:/ {print $2}')
# Entries are the same height; three of them plus the frame.
entry_h=$(( (menu_h - 2) / 3 ))
[ "$entry_h" -ge 16 ] && [ "$entry_h" -le 40 ] || fail "popup is $menu_h px high, not three entries"
pass "right-click opens the popup ($menu_h px high)"
xdotool key Escape
sleep 0.3

# Always on top through the popup: 設定(&S) → 常に手前に表示(&T), twice.
toggle_on_top() {
    xdotool mousemove 130 120 click 3
    sleep 0.4
    xdotool key s
    sleep 0.3
    xdotool key t
    sleep 0.5
}
toggle_on_top
case "$(net_wm_state "$WIN")" in *_NET_WM_STATE_ABOVE*) pass "always on top set" ;; *) fail "no _NET_WM_STATE_ABOVE after the toggle: $(net_wm_state "$WIN")" ;; esac
toggle_on_top
case "$(net_wm_state "$WIN")" in *_NET_WM_STATE_ABOVE*) fail "still above after the second toggle" ;; *) pass "always on top cleared" ;; esac
xdotool getwindowname "$WIN" >/dev/null || fail "window lost by the toggle"

# The window draws its default background; the screenshot for the README
# shows it with its popup open.
import -window root -crop 165x278+100+80 "$OUT_DIR/window.png"
colours=$(convert "$OUT_DIR/window.png" -format %k info:)
[ "$colours" -le 2 ] || fail "the empty button window shows $colours colours"
xdotool mousemove 200 150 click 3
sleep 0.4
xdotool key f
sleep 0.4
import -window root -crop 460x300+90+70 "$OUT_DIR/screenshot.png"
xdotool key Escape Escape
sleep 0.3

# Exit from the popup: ファイル(&F) → 終了(&X). Nothing was saved, so it asks
# first; いいえ(&N) ends the process by itself.
xdotool mousemove 130 120 click 3
sleep 0.4
xdotool key f
sleep 0.3
xdotool key x
wait_titled 保存確認 >/dev/null || fail "Exit did not ask to save"
xdotool key n
expect_clean_end Exit
pass "Exit ends the program (status 0)"
echo "screenshots in $OUT_DIR"
