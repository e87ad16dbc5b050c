#!/usr/bin/env bash
# `cmake --install` into a temporary prefix: the expected files, validated by
# the desktop's own tools, and the installed program started from another
# folder under a real X server.
BUILD="$1"
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/../e2e/lib.sh"

WORK=$(mktemp -d)
cleanup() { stop_display; rm -rf "$WORK"; }
trap cleanup EXIT
PREFIX="$WORK/prefix"
cmake --install "$BUILD" --prefix "$PREFIX" >"$WORK/install.log" 2>&1 || { cat "$WORK/install.log"; fail "cmake --install"; }

check_file_list "$PREFIX"
mkdir -p "$WORK/scratch"
check_desktop_metadata "$PREFIX" "$WORK/scratch"
check_icons_manual_rpath "$PREFIX"

# The installed sample kit names the installed pictures and sound.
for f in button_up.png button_down.png chime.wav; do
    grep -qa "$PREFIX/share/zumble/samples/$f" "$PREFIX/share/zumble/samples/sample.zm1" ||
        fail "the installed sample.zm1 does not name $PREFIX/share/zumble/samples/$f"
done

# Started from an unrelated folder, with nothing of the build tree in reach:
# the window must appear with its icon, which comes from inside the executable.
start_display
mkdir -p "$WORK/elsewhere" "$WORK/runtime"
chmod 700 "$WORK/runtime"
cd "$WORK/elsewhere"
env -u LD_LIBRARY_PATH XDG_RUNTIME_DIR="$WORK/runtime" SDL_AUDIODRIVER=dummy "$PREFIX/bin/Zumble1" >"$OUT_DIR/installed.log" 2>&1 &
APP_PID=$!
WIN=$(wait_window Zumble1) || { cat "$OUT_DIR/installed.log"; fail "the installed program showed no window"; }
eval "$(xdotool getwindowgeometry --shell "$WIN")"
[ "$WIDTH" = 165 ] && [ "$HEIGHT" = 278 ] || fail "installed window is ${WIDTH}x${HEIGHT}"
xprop -id "$WIN" _NET_WM_ICON | grep -q 'Icon (32 x 32)' || fail "the window has no 32 px icon"
alive || fail "the installed program ended"
[ ! -s "$OUT_DIR/installed.log" ] || { cat "$OUT_DIR/installed.log"; fail "the installed program complained"; }
pass "the installed Zumble1 starts from $PWD with its window and icon"

# A second copy, as for a second team: its own window beside the first.
env -u LD_LIBRARY_PATH XDG_RUNTIME_DIR="$WORK/runtime" SDL_AUDIODRIVER=dummy "$PREFIX/bin/Zumble1" \
    >"$OUT_DIR/installed2.log" 2>&1 &
SECOND_PID=$!
windows=""
two_windows() { windows=$(xdotool search --onlyvisible --class Zumble1 2>/dev/null | sort -u | wc -l); [ "$windows" -ge 2 ]; }
retry 100 two_windows || true
[ "$windows" = 2 ] || fail "two copies show $windows windows"
kill "$SECOND_PID"; wait "$SECOND_PID" 2>/dev/null || true
sleep 0.2
alive || fail "ending the second copy ended the first"
xdotool search --onlyvisible --class Zumble1 >/dev/null || fail "the first copy's window went away"
pass "a second copy runs beside the first with a window of its own"
kill "$APP_PID"; wait "$APP_PID" 2>/dev/null || true

# The installed program with the installed sample kit shows the red button.
env -u LD_LIBRARY_PATH XDG_RUNTIME_DIR="$WORK/runtime" SDL_AUDIODRIVER=dummy "$PREFIX/bin/Zumble1" \
    "$PREFIX/share/zumble/samples/sample.zm1" >"$OUT_DIR/installed-kit.log" 2>&1 &
APP_PID=$!
WIN=$(wait_window Zumble1) || fail "the installed program with the sample kit showed no window"
place_window "$WIN" 40 40
wait_pixel $((X + 82)) $((Y + 175)) '[ "${P:0:2}" \> "90" ] && [ "${P:2:2}" \< "20" ]' ||
    fail "the installed sample kit shows no red dome"
pass "the installed sample kit opens in the installed program"
