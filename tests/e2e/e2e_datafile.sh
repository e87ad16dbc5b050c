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

# A window of the program other than the button window (a file dialog).
other_window() {
    for id in $(xdotool search --onlyvisible --class Zumble1 2>/dev/null); do
        [ "$id" != "$WIN" ] && { echo "$id"; return 0; }
    done
    return 1
}
wait_dialog() { retry 100 other_window; }
shown() { xdotool search --onlyvisible --class Zumble1 2>/dev/null | grep -qx "$1"; }
hidden() { ! shown "$1"; }
active() { [ "$(xdotool getactivewindow 2>/dev/null)" = "$1" ]; }
windows_at_least() { [ "$(xdotool search --onlyvisible --class Zumble1 | wc -l)" -ge "$1" ]; }

# ファイル(&F) and then the item with access key $1, from the right-click popup;
# a fresh window may drop the first click, so the popup is asked for again.
file_command() {
    for _ in 1 2 3; do
        xdotool mousemove --window "$WIN" 15 15 click 3
        retry 20 popup_shown && break
    done
    popup_shown || fail "no popup menu"
    xdotool key f
    sleep 0.3
    xdotool key "$1"
}

# Types a path into the file dialog that is open and accepts it.
answer_dialog() {
    local dlg; dlg=$(wait_dialog) || fail "no file dialog"
    retry 40 active "$dlg" || true
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
sized() { eval "$(xdotool getwindowgeometry --shell "$WIN")"; [ "$WIDTH" = 200 ] && [ "$HEIGHT" = 100 ]; }
retry 100 sized || fail "Open left the window at ${WIDTH}x${HEIGHT}"
sleep 0.3
eval "$(xdotool getwindowgeometry --shell "$WIN")"
[ "$(screen_pixel $((X + 10)) $((Y + 10)))" = 0000FF ] || fail "no picture at the top left: $(screen_pixel $((X + 10)) $((Y + 10)))"
[ "$(screen_pixel $((X + 150)) $((Y + 80)))" = FF0000 ] || fail "background is not red: $(screen_pixel $((X + 150)) $((Y + 80)))"
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
[ "$(screen_pixel $((X + WIDTH / 2)) $((Y + HEIGHT / 2)))" != FF0000 ] || fail "the question is behind the button window"
xdotool key Escape
titled_gone 保存確認 40 || fail "Esc did not close the question"
sleep 0.3
alive || fail "Esc on the question ended the program"
pass "Exit asks; Esc keeps the program"

# ---- Yes, then a cancelled save: still running --------------------------
file_command x
wait_titled 保存確認 >/dev/null || fail "the second Exit did not ask"
xdotool key y
# The question must be gone first, or it would be taken for the dialog.
titled_gone 保存確認 || true
DLG=$(wait_dialog) || fail "Yes did not open the save dialog"
# Esc reaches the dialog only once it has the focus; on a busy machine that
# can take a while, so it is pressed until the dialog is gone.
for _ in 1 2 3 4 5; do
    retry 40 active "$DLG" || true
    xdotool key Escape
    retry 40 hidden "$DLG" && break
done
hidden "$DLG" || fail "Esc did not close the save dialog"
sleep 0.3
alive || fail "a cancelled save after Yes ended the program"
shown "$WIN" || fail "the window went away"
pass "Yes with a cancelled save keeps the window"

# ---- A save that cannot be written: a FIFO nobody reads ------------------
# (Qt's dialog itself refuses a missing folder, so the fault must be one only
# the write meets. The FIFO is written in place, never renamed over.)
mkfifo "$WORK/pipe.zm1"
file_command a
answer_dialog "$WORK/pipe.zm1"
# Qt's dialog asks before replacing an existing name.
retry 40 windows_at_least 3 || true
sleep 0.2
xdotool key y
wait_titled 保存エラー >/dev/null || fail "no message for a failed save"
[ -p "$WORK/pipe.zm1" ] || fail "the FIFO was replaced"
import -window root "$OUT_DIR/save-error.png"
xdotool key Return
titled_gone 保存エラー 40 || true
sleep 0.3
alive || fail "the program ended after a failed save"
pass "a failed save shows a message and the program lives on"

# ---- Exit, N: ends ------------------------------------------------------
file_command x
wait_titled 保存確認 >/dev/null || fail "Exit after a failed save did not ask"
xdotool key n
expect_clean_end N
pass "N ends the program (status 0)"

# ---- Save As right after start-up, then Exit without a question ---------
start_app
file_command a
answer_dialog "$WORK/start.zm1"
retry 100 test -s "$WORK/start.zm1" || true
got=$(od -An -tx1 -v "$WORK/start.zm1" | tr -s ' \n' ' ' | sed 's/^ //;s/ $//')
[ "$got" = "00 00 00 00 00 00 00 00 00 00 00 00 32 00 32 00 00 00 00 00 00 00 00 00" ] ||
    fail "the start-up record is: $got"
pass "Save As after start-up writes the 24-byte record"
file_command x
retry 60 ended || fail "Exit after a save did not end the program"
APP_PID=""
pass "a saved run ends without a question"
rm -rf "$WORK"
