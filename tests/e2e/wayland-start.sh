#!/usr/bin/env bash
# The viewer as a native Wayland client of weston: it opens a picture, steps to the
# next one on a key, and a SIGTERM ends it as closing it does.
# weston's headless back end has no seat (no keyboard to step with), so weston runs
# with its X11 back end on a private Xvfb and the key is typed there; the viewer
# itself gets no X display and must use Qt's Wayland platform plugin.
# Usage: wayland-start.sh PICTREL. Exit 77 (skipped) with the reason when weston,
# Xvfb, xdotool or Qt's Wayland plugin is missing.
set -uo pipefail
program=$(realpath "$1")
source "$(dirname "$0")/common.sh"
need weston Xvfb xdotool

start_xvfb 1024x768
socket=pictrel-e2e-$$
weston --backend=x11-backend.so --use-pixman --no-config --idle-time=3600 --socket="$socket" \
    --width=1024 --height=768 --log="$work/weston.log" >/dev/null 2>&1 &
started+=($!)
wait_for 20 test -S "$XDG_RUNTIME_DIR/$socket" || fail "weston did not start: $(cat "$work/weston.log")"
compositor_window() {
    compositor=$(xdotool search --classname '^weston' 2>/dev/null | head -n 1)
    [[ -n $compositor ]]
}
wait_for 20 compositor_window || fail "no weston window on the X display"
# The X keyboard focus is given to weston once, before the viewer starts: weston
# drops its own keyboard focus whenever its window loses the X one, and a focus
# change that came while the viewer's window was mapping left it without the keys.
xdotool windowfocus --sync "$compositor" || fail "weston's window cannot take the focus"

make_picture "$work/a.ppm" 64 48 200 40 40
make_picture "$work/b.ppm" 64 48 40 200 40
# Under the sanitizers, leaks are not counted in this one run: Qt 6.4's Wayland
# plugin leaves its registry's proxies at exit, and Mesa's EGL (which Qt sets up for
# window decorations) a block in a driver it unloads before the check, where no
# suppression can name it. The other tests count ours.
env -u DISPLAY WAYLAND_DISPLAY="$socket" QT_QPA_PLATFORM=wayland \
    ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" \
    "$program" /view "$work/a.ppm" 2>"$work/viewer.log" &
pid=$!
started+=($pid)
opened() {
    has_line "$work/viewer.log" "pictrel: shown $work/a.ppm" || ended "$pid"
}
wait_for 30 opened || fail "the viewer did not show a.ppm: $(cat "$work/viewer.log")"
grep -q 'Could not find the Qt platform plugin "wayland"' "$work/viewer.log" &&
    skip "Qt's Wayland platform plugin is not installed (qt6-wayland)"

# The key goes to weston's window, and weston gives it to the focused client: the
# viewer, once its window is up. A key typed before that is lost, so it is typed
# again until the step shows.
stepped() {
    has_line "$work/viewer.log" "pictrel: shown $work/b.ppm"
}
for _ in 1 2 3 4 5 6 7 8 9 10; do
    xdotool key Right
    wait_for 3 stepped && break
done
stepped || fail "Right did not step to b.ppm: $(cat "$work/viewer.log")"

kill -TERM "$pid"
wait_for 20 ended "$pid" || fail "the viewer did not end on SIGTERM"
wait "$pid"
code=$?
[[ $code -eq 0 ]] || fail "the viewer ended with $code: $(cat "$work/viewer.log")"
has_line "$work/viewer.log" "pictrel: ending on signal 15" || fail "no clean end: $(cat "$work/viewer.log")"
echo "wayland-start: opened, stepped on a key and ended cleanly under weston"
