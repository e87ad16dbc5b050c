#!/usr/bin/env bash
# The sample kit as a newcomer meets it: `Zumble1 samples/sample.zm1` shows
# the red button, Space lights it and plays the chime; a file that is not
# there is reported and the design window comes up instead.
ZUMBLE="$1"
. "$(dirname "$0")/lib.sh"
KIT="$(dirname "$ZUMBLE")/samples/sample.zm1"
[ -f "$KIT" ] || fail "no sample kit at $KIT"
WORK=$(mktemp -d)
trap 'stop_display; rm -rf "$WORK"' EXIT
export HOME="$WORK"
start_display

# The real audio path, written to a file by SDL's disk driver.
AUDIO="$WORK/audio.raw"
# Qt's own options come first and are Qt's: -style's value is no file name.
SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$AUDIO" "$ZUMBLE" -style fusion "$KIT" >"$OUT_DIR/sample.log" 2>&1 &
APP_PID=$!
WIN=$(wait_window Zumble1) || fail "the button window never appeared"
place_window "$WIN" 40 40
[ "$WIDTH" = 165 ] && [ "$HEIGHT" = 278 ] || fail "the sample window is ${WIDTH}x${HEIGHT}"

# The dome's middle is dark red unpressed, bright yellow-white when lit.
DOME_X=$((X + 82)) DOME_Y=$((Y + 175))
wait_pixel $DOME_X $DOME_Y '[ "${P:0:2}" \> "90" ] && [ "${P:2:2}" \< "20" ] && [ "${P:4:2}" \< "20" ]' ||
    fail "no red dome in the sample window"
import -window root -crop 165x278+40+40 +repage "$OUT_DIR/sample-unpressed.png"
pass "Zumble1 -style fusion sample.zm1 shows the red button"

for _ in 1 2 3; do  # a fresh window may drop the first key
    xdotool windowactivate --sync "$WIN" 2>/dev/null || xdotool windowfocus "$WIN"
    xdotool key --window "$WIN" space
    wait_pixel $DOME_X $DOME_Y '[ "${P:0:2}" = "FF" ] && [ "${P:2:2}" \> "A0" ]' 2>/dev/null && break
done
wait_pixel $DOME_X $DOME_Y '[ "${P:0:2}" = "FF" ] && [ "${P:2:2}" \> "A0" ]' || fail "Space did not light the button"
import -window root -crop 165x278+40+40 +repage "$OUT_DIR/sample-lit.png"
# The chime reaches the audio output: its peak rises well above silence.
peak=0
loud() {
    peak=$(sox -t raw -r 44100 -e signed -b 16 -c 2 "$AUDIO" -n stat 2>&1 | awk '/Maximum amplitude/ {print $3}')
    awk -v p="${peak:-0}" 'BEGIN {exit !(p > 0.1)}'
}
retry 120 loud || fail "the chime was not played (peak ${peak:-none})"
pass "Space lights the button and plays the chime (peak $peak)"
kill "$APP_PID"; wait "$APP_PID" 2>/dev/null || true

# A data file that is not there: a stop message, then the design window.
SDL_AUDIODRIVER=dummy "$ZUMBLE" "$WORK/nowhere.zm1" >"$OUT_DIR/sample-missing.log" 2>&1 &
APP_PID=$!
BOX=$(wait_titled 読み込みエラー) || fail "no message for a missing data file"
for _ in 1 2 3; do  # the box may not have the focus at once
    xdotool windowactivate --sync "$BOX" 2>/dev/null || true
    xdotool key Return
    titled_gone 読み込みエラー 40 && break
done
not_titled 読み込みエラー || fail "the message did not close"
WIN=$(wait_window Zumble1) || fail "no button window after the message"
eval "$(xdotool getwindowgeometry --shell "$WIN")"
[ "$WIDTH" = 165 ] && [ "$HEIGHT" = 278 ] || fail "the window after a missing file is ${WIDTH}x${HEIGHT}"
alive || fail "the program ended after the message"
[ ! -e "$WORK/nowhere.zm1" ] || fail "the missing data file was created"
pass "a missing data file is reported and the design window starts"
