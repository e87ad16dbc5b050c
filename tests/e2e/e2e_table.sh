#!/usr/bin/env bash
# The sample quiz table under a real X server: four seats bound to the keys
# 1-4 and the host panel. Keys reach the table whichever window has the focus;
# the first press lights, a later one stays dark; 誤答 greys the answering
# seat and lets the next press win; Alt+F4 on the panel ends the program.
ZUMBLE="$1"
. "$(dirname "$0")/lib.sh"
TABLE="$(dirname "$ZUMBLE")/samples/table/quiz.zmt"
[ -f "$TABLE" ] || fail "no sample table at $TABLE"
start_display

SDL_AUDIODRIVER=dummy "$ZUMBLE" --table "$TABLE" >"$OUT_DIR/table.log" 2>&1 &
APP_PID=$!
PANEL=$(wait_titled "早押し卓 — 司会") || fail "the host panel never appeared"
for team in A B C D; do wait_titled "チーム$team" >/dev/null || fail "seat チーム$team never appeared"; done
place_window "$PANEL" 560 350
pass "four seats and the host panel"

# The middle of seat N's button (the sample kit's recognition area).
dome_x() { echo $((40 + ($1 - 1) * 190 + 82)); }
DOME_Y=240
for n in 1 3; do wait_pixel "$(dome_x $n)" $DOME_Y '[ -n "$P" ]' || fail "seat $n not drawn"; done
dark1=$(screen_pixel "$(dome_x 1)" $DOME_Y)
dark3=$(screen_pixel "$(dome_x 3)" $DOME_Y)

# The panel has the focus, not a seat: the buzzer keys still press seats.
xdotool windowactivate --sync "$PANEL" 2>/dev/null || xdotool windowfocus "$PANEL"
xdotool key 3
wait_pixel "$(dome_x 3)" $DOME_Y "[ \"\$P\" != $dark3 ]" || { xdotool key 3; wait_pixel "$(dome_x 3)" $DOME_Y "[ \"\$P\" != $dark3 ]"; } \
    || fail "key 3 did not light seat 3"
lit3=$(screen_pixel "$(dome_x 3)" $DOME_Y)
xdotool key 1
sleep 0.3
[ "$(screen_pixel "$(dome_x 1)" $DOME_Y)" = "$dark1" ] || fail "seat 1 lit after seat 3 had won"
import -window root "$OUT_DIR/table.png"
pass "3 then 1: seat 3 lit ($lit3), seat 1 dark"

# 誤答 (X on the panel): seat 3 goes grey; the next press, seat 1, wins.
xdotool key x
wait_pixel "$(dome_x 3)" $DOME_Y "[ \"\$P\" != $lit3 ] && [ \"\$P\" != $dark3 ]" || fail "誤答 did not grey seat 3"
xdotool key 3
xdotool key 1
wait_pixel "$(dome_x 1)" $DOME_Y "[ \"\$P\" != $dark1 ]" || fail "seat 1 did not light after 誤答"
pass "誤答 greys seat 3, then seat 1 lights"

# リセット (R) arms every seat again.
xdotool key r
wait_pixel "$(dome_x 1)" $DOME_Y "[ \"\$P\" = $dark1 ]" || fail "リセット left seat 1 lit"
wait_pixel "$(dome_x 3)" $DOME_Y "[ \"\$P\" = $dark3 ]" || fail "リセット left seat 3 grey"
pass "リセット"

# The window manager's close on the panel ends the table (nothing to save).
xdotool key alt+F4
for _ in $(seq 100); do alive || break; sleep 0.05; done
alive && fail "Alt+F4 on the panel left the program running"
pass "Alt+F4 on the host panel ends the program"
