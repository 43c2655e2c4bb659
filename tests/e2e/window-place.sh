#!/usr/bin/env bash
# The viewer under a window manager (openbox, on a private Xvfb):
#  - closed and started again, its window comes back where it was, frame included;
#  - simple mode's frame stays above other windows and has no taskbar entry;
#  - a second start hands its file over and brings the viewer to the front.
# Usage: window-place.sh PICTREL. Exit 77 (skipped) with the reason when a tool is missing.
set -uo pipefail
program=$(realpath "$1")
source "$(dirname "$0")/common.sh"
need Xvfb openbox xdotool xprop xwininfo xlogo

start_xvfb 1280x800
export QT_QPA_PLATFORM=xcb
openbox --sm-disable >"$work/openbox.log" 2>&1 &
started+=($!)
wm_running() {
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'
}
wait_for 20 wm_running || fail "openbox did not start: $(cat "$work/openbox.log")"

make_picture "$work/a.ppm" 64 48 200 40 40
make_picture "$work/b.ppm" 64 48 40 200 40

root=$(xwininfo -root | awk '/Window id:/ {print $4}')
# The outer frame the window manager put around client window $1: "x y width height".
frame_of() {
    local window=$1 parent
    while parent=$(xwininfo -id "$window" -tree | awk '/Parent window id:/ {print $4}') &&
        [[ -n $parent && $parent != "$root" ]]; do
        window=$parent
    done
    xwininfo -id "$window" |
        awk '/Absolute upper-left X/ {x = $4} /Absolute upper-left Y/ {y = $4}
             /Width:/ {w = $2} /Height:/ {h = $2} END {print x, y, w, h}'
}
viewer_window() {
    xdotool search --onlyvisible --name ' - Pictrel$' 2>/dev/null | head -n 1
}
net_wm_state() {
    xprop -id "$1" _NET_WM_STATE
}
# Starts the viewer on $1, logging to $2; sets `pid` and `window`.
start_viewer() {
    "$program" /view "$1" 2>"$2" &
    pid=$!
    started+=($pid)
    wait_for 30 has_line "$2" "pictrel: shown $1" || fail "the viewer did not show $1: $(cat "$2")"
    has_viewer_window() {
        window=$(viewer_window)
        [[ -n $window ]]
    }
    wait_for 20 has_viewer_window || fail "no viewer window"
}
# Waits for the viewer `pid` to end ($2 says how it was asked to) and checks that it
# ended as closing it does.
expect_clean_end() {
    wait_for 20 ended "$pid" || fail "the viewer did not end on $2: $(cat "$1")"
    wait "$pid"
    local code=$?
    [[ $code -eq 0 ]] || fail "the viewer ended with $code: $(cat "$1")"
}

# 1. A place of our own, then closed by the window manager (Alt+F4).
start_viewer "$work/a.ppm" "$work/first.log"
xdotool windowmove "$window" 137 91
frame_is() {
    [[ $(frame_of "$window") == $1 ]]
}
wait_for 10 frame_is "137 91 *"
placed=$(frame_of "$window")
read -r px py _ <<<"$placed"
[[ "$px $py" == "137 91" ]] || fail "openbox did not move the window: frame at $placed"
# Unlike the inside, the frame is where the window manager was asked to put it.
inside=$(xwininfo -id "$window" | awk '/Absolute upper-left X/ {x = $4} /Absolute upper-left Y/ {y = $4} END {print x, y}')
[[ $inside != "$px $py" ]] || fail "no frame around the viewer's window"
# Typed again while the viewer runs on: under load openbox now and then lets the first
# Alt+F4 pass without closing anything (seen in 3 of 30 runs beside other tests).
for _ in 1 2 3 4 5; do
    xdotool windowactivate --sync "$window"
    xdotool key --clearmodifiers alt+F4
    wait_for 4 ended "$pid" && break
done
expect_clean_end "$work/first.log" "Alt+F4 (active: $(xdotool getactivewindow getwindowname 2>&1))"

# 2. Started again: the frame, not the inside, comes back to the same place.
start_viewer "$work/a.ppm" "$work/second.log"
wait_for 10 frame_is "$placed" ||
    fail "the window came back at $(frame_of "$window"), it was closed at $placed"

# 3. Simple mode: above the others, out of the taskbar; and back again. The viewer
#    makes a new native window for each, so the window is looked up each time.
state_has() { # WINDOW-STATE-ATOM: the shown viewer window's state has it
    local state
    window=$(viewer_window)
    [[ -n $window ]] && state=$(net_wm_state "$window") && [[ $state == *"$1"* ]]
}
state_lacks() {
    local state
    window=$(viewer_window)
    [[ -n $window ]] && state=$(net_wm_state "$window") && [[ $state != *"$1"* ]]
}
xdotool windowactivate --sync "$window"
xdotool key --clearmodifiers ctrl+s
wait_for 20 state_has _NET_WM_STATE_ABOVE ||
    fail "simple mode's frame is not above the others: $(net_wm_state "$window")"
wait_for 10 state_has _NET_WM_STATE_SKIP_TASKBAR ||
    fail "simple mode's frame is in the taskbar: $(net_wm_state "$window")"
xdotool windowactivate --sync "$window"
xdotool key --clearmodifiers ctrl+s
wait_for 20 state_lacks _NET_WM_STATE_ABOVE || fail "the normal window is still above the others"
state_lacks _NET_WM_STATE_SKIP_TASKBAR || fail "the normal window is not in the taskbar"

# 4. Another window in front; a second start hands its file over and the viewer
#    comes to the front with it.
xlogo -geometry 500x400+100+80 >/dev/null 2>&1 &
started+=($!)
wait_for 20 sh -c 'xdotool getactivewindow getwindowname 2>/dev/null | grep -qx xlogo' ||
    fail "the other window did not come to the front"
"$program" /view "$work/b.ppm" 2>"$work/handoff.log"
code=$?
[[ $code -eq 0 ]] || fail "the second start ended with $code: $(cat "$work/handoff.log")"
has_line "$work/handoff.log" "pictrel: handed over $work/b.ppm" || fail "nothing was handed over"
wait_for 20 has_line "$work/second.log" "pictrel: shown $work/b.ppm" || fail "the viewer did not show b.ppm"
wait_for 20 sh -c 'xdotool getactivewindow getwindowname | grep -q " - Pictrel$"' ||
    fail "the viewer did not come to the front: $(xdotool getactivewindow getwindowname)"

kill -TERM "$pid"
expect_clean_end "$work/second.log" SIGTERM
echo "window-place: the place, simple mode's frame and the hand-off are as they should be"
