#!/usr/bin/env bash
# Data files with the real program and Qt's own dialogs, driven by xdotool:
# Open of a kit resizes the window, shows its picture and puts it on top;
# Exit asks while unsaved (Esc keeps it, Yes with a cancelled save keeps it,
# N ends it); a save that cannot be written shows a message and the
# program lives on; Save As right after start-up writes the 24-byte record.
ZUMBLE="$1"
. "$(dirname "$0")/lib.sh"
start_display
# A failure leaves a picture of the screen beside the log.
fail() { import -window root "$OUT_DIR/datafile-failure.png" 2>/dev/null || true; echo "FAIL: $*"; exit 1; }

WORK=$(mktemp -d)
# Qt's file dialog keeps its history under the home folder: keep it private.
export HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/home/.config"
mkdir -p "$HOME"

start_app() {
    SDL_AUDIODRIVER=dummy "$ZUMBLE" >>"$OUT_DIR/datafile.log" 2>&1 &
    APP_PID=$!
    WIN=$(wait_window Zumble1) || fail "the button window never appeared"
    place_window "$WIN" 40 40
}

# The first visible window with this title; prints its id.
wait_titled() {
    for _ in $(seq ${2:-100}); do
        id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1 || true)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.05
    done
    return 1
}
gone() { ! xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1; }

# A window of the program other than the button window (a file dialog).
wait_dialog() {
    for _ in $(seq 100); do
        for id in $(xdotool search --onlyvisible --class Zumble1 2>/dev/null); do
            [ "$id" != "$WIN" ] && { echo "$id"; return 0; }
        done
        sleep 0.05
    done
    return 1
}

# ファイル(&F) and then the item with access key $1, from the right-click popup;
# a fresh window may drop the first click, so the popup is asked for again.
file_command() {
    for _ in 1 2 3; do
        xdotool mousemove --window "$WIN" 15 15 click 3
        for _ in $(seq 20); do [ -n "$(popup_windows)" ] && break; sleep 0.05; done
        [ -n "$(popup_windows)" ] && break
    done
    [ -n "$(popup_windows)" ] || fail "no popup menu"
    xdotool key f
    sleep 0.3
    xdotool key "$1"
}

# Types a path into the file dialog that is open and accepts it.
answer_dialog() {
    local dlg; dlg=$(wait_dialog) || fail "no file dialog"
    for _ in $(seq 40); do [ "$(xdotool getactivewindow 2>/dev/null)" = "$dlg" ] && break; sleep 0.05; done
    sleep 0.2
    # Focus the name field by its label's access key (File &name; focus may
    # be on the file list), clear the name chosen last, then type.
    xdotool key alt+n
    sleep 0.1
    xdotool key ctrl+a BackSpace
    xdotool type --delay 25 "$1"
    sleep 0.2
    xdotool key Return
}

pixel() {  # r,g,b of the screen at x y
    import -window root -crop "1x1+$1+$2" "$WORK/px.png"
    convert "$WORK/px.png" -format '%[fx:int(255*r+.5)],%[fx:int(255*g+.5)],%[fx:int(255*b+.5)]' info:
}

le16() { printf "\\\\x%02x\\\\x%02x" $(($1 & 255)) $((($1 >> 8) & 255)); }

# A kit: 3000 x 1500 twips (200 x 100 px), red, area 150 300 900 600, a blue
# 60 x 40 picture, no pressed image, no sound, always on top.
convert -size 60x40 xc:'#0000ff' "$WORK/blue.png"
PIC="$WORK/blue.png"
printf "$(le16 3000)$(le16 1500)\\xff\\x00\\x00\\x00$(le16 150)$(le16 300)$(le16 900)$(le16 600)$(le16 ${#PIC})" >"$WORK/kit.zm1"
printf '%s' "$PIC" >>"$WORK/kit.zm1"
printf "$(le16 0)$(le16 0)$(le16 1)" >>"$WORK/kit.zm1"

# ---- Open ----------------------------------------------------------------
start_app
file_command o
answer_dialog "$WORK/kit.zm1"
for _ in $(seq 100); do
    eval "$(xdotool getwindowgeometry --shell "$WIN")"
    [ "$WIDTH" = 200 ] && [ "$HEIGHT" = 100 ] && break
    sleep 0.05
done
[ "$WIDTH" = 200 ] && [ "$HEIGHT" = 100 ] || fail "Open left the window at ${WIDTH}x${HEIGHT}"
sleep 0.3
eval "$(xdotool getwindowgeometry --shell "$WIN")"
[ "$(pixel $((X + 10)) $((Y + 10)))" = "0,0,255" ] || fail "no picture at the top left: $(pixel $((X + 10)) $((Y + 10)))"
[ "$(pixel $((X + 150)) $((Y + 80)))" = "255,0,0" ] || fail "background is not red: $(pixel $((X + 150)) $((Y + 80)))"
case "$(net_wm_state "$WIN")" in *_NET_WM_STATE_ABOVE*) ;; *) fail "not on top after Open: $(net_wm_state "$WIN")" ;; esac
import -window root -crop "240x140+$((X - 20))+$((Y - 20))" "$OUT_DIR/opened.png"
pass "Open resizes to 200x100, shows the picture on red and sets _NET_WM_STATE_ABOVE"

# ---- Exit while unsaved: Esc keeps the program --------------------------
file_command x
Q=$(wait_titled 保存確認) || fail "Exit did not ask to save"
sleep 0.3
import -window root "$OUT_DIR/question.png"
# The question is above the button window, which is kept on top.
eval "$(xdotool getwindowgeometry --shell "$Q")"
[ "$(pixel $((X + WIDTH / 2)) $((Y + HEIGHT / 2)))" != "255,0,0" ] || fail "the question is behind the button window"
xdotool key Escape
for _ in $(seq 40); do gone 保存確認 && break; sleep 0.05; done
gone 保存確認 || fail "Esc did not close the question"
sleep 0.3
alive || fail "Esc on the question ended the program"
pass "Exit asks; Esc keeps the program"

# ---- Yes, then a cancelled save: still running --------------------------
file_command x
wait_titled 保存確認 >/dev/null || fail "the second Exit did not ask"
xdotool key y
# The question must be gone first, or it would be taken for the dialog.
for _ in $(seq 100); do gone 保存確認 && break; sleep 0.05; done
DLG=$(wait_dialog) || fail "Yes did not open the save dialog"
# Esc reaches the dialog only once it has the focus; on a busy machine that
# can take a while, so it is pressed until the dialog is gone.
for _ in 1 2 3 4 5; do
    for _ in $(seq 40); do [ "$(xdotool getactivewindow 2>/dev/null)" = "$DLG" ] && break; sleep 0.05; done
    xdotool key Escape
    for _ in $(seq 40); do xdotool search --onlyvisible --class Zumble1 | grep -qx "$DLG" || break 2; sleep 0.05; done
done
! xdotool search --onlyvisible --class Zumble1 | grep -qx "$DLG" || fail "Esc did not close the save dialog"
sleep 0.3
alive || fail "a cancelled save after Yes ended the program"
xdotool search --onlyvisible --class Zumble1 | grep -qx "$WIN" || fail "the window went away"
pass "Yes with a cancelled save keeps the window"

# ---- A save that cannot be written: a FIFO nobody reads ------------------
# (Qt's dialog itself refuses a missing folder, so the fault must be one only
# the write meets. The FIFO is written in place, never renamed over.)
mkfifo "$WORK/pipe.zm1"
file_command a
answer_dialog "$WORK/pipe.zm1"
# Qt's dialog asks before replacing an existing name.
for _ in $(seq 40); do [ "$(xdotool search --onlyvisible --class Zumble1 | wc -l)" -ge 3 ] && break; sleep 0.05; done
sleep 0.2
xdotool key y
wait_titled 保存エラー >/dev/null || fail "no message for a failed save"
[ -p "$WORK/pipe.zm1" ] || fail "the FIFO was replaced"
import -window root "$OUT_DIR/save-error.png"
xdotool key Return
for _ in $(seq 40); do gone 保存エラー && break; sleep 0.05; done
sleep 0.3
alive || fail "the program ended after a failed save"
pass "a failed save shows a message and the program lives on"

# ---- Exit, N: ends ------------------------------------------------------
file_command x
wait_titled 保存確認 >/dev/null || fail "Exit after a failed save did not ask"
xdotool key n
for _ in $(seq 60); do alive || break; sleep 0.05; done
alive && fail "N did not end the program"
wait "$APP_PID" && rc=0 || rc=$?
APP_PID=""
[ "$rc" = 0 ] || fail "the program ended with status $rc"
pass "N ends the program (status 0)"

# ---- Save As right after start-up, then Exit without a question ---------
start_app
file_command a
answer_dialog "$WORK/start.zm1"
for _ in $(seq 100); do [ -s "$WORK/start.zm1" ] && break; sleep 0.05; done
got=$(od -An -tx1 -v "$WORK/start.zm1" | tr -s ' \n' ' ' | sed 's/^ //;s/ $//')
[ "$got" = "00 00 00 00 00 00 00 00 00 00 00 00 32 00 32 00 00 00 00 00 00 00 00 00" ] ||
    fail "the start-up record is: $got"
pass "Save As after start-up writes the 24-byte record"
file_command x
for _ in $(seq 60); do alive || break; sleep 0.05; done
alive && fail "Exit after a save did not end the program"
APP_PID=""
pass "a saved run ends without a question"
rm -rf "$WORK"
