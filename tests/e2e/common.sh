# Shared by the end-to-end checks: a private home and runtime folder, a private
# Xvfb, waiting for something to happen, ending only what the check started.
# Source it after setting `program` (the pictrel binary to run).

# Exit code ctest counts as "skipped" (SKIP_RETURN_CODE in tests/CMakeLists.txt).
readonly kSkipped=77

skip() {
    echo "skipped: $*"
    exit "$kSkipped"
}

fail() {
    echo "FAILED: $*" >&2
    exit 1
}

need() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/setup-deps installs it)"
    done
}

work=$(mktemp -d "${TMPDIR:-/tmp}/pictrel-e2e-XXXXXX") || exit 1
started=()
cleanup() {
    local pid
    for pid in "${started[@]+"${started[@]}"}"; do kill "$pid" 2>/dev/null; done
    for pid in "${started[@]+"${started[@]}"}"; do wait "$pid" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT

# Nothing of the real home is read or written; no session bus is looked for (libdbus
# would try to start one for a program with an X display).
mkdir -p "$work/config" "$work/data" "$work/cache" "$work/runtime"
chmod 700 "$work/runtime"
export HOME=$work XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
export XDG_CACHE_HOME=$work/cache XDG_RUNTIME_DIR=$work/runtime
export DBUS_SESSION_BUS_ADDRESS=disabled: PICTREL_TRACE_OPEN=1
unset DESKTOP_STARTUP_ID XDG_ACTIVATION_TOKEN XDG_SESSION_TYPE XDG_CURRENT_DESKTOP

# wait_for SECONDS COMMAND...: runs COMMAND until it succeeds; false when it never did.
# A generous limit: the checks wait for something to happen, they do not time it.
wait_for() {
    local limit=$(($1 * 10)) i
    shift
    for ((i = 0; i < limit; ++i)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# Starts a private Xvfb of the given size and exports DISPLAY.
start_xvfb() {
    local size=$1 fifo=$work/displayfd number
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$fifo" >"$work/xvfb.log" 2>&1 &
    started+=($!)
    read -r -t 20 number <"$fifo" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
    export DISPLAY=:$number
}

# A small one-colour picture FreeImage reads: make_picture FILE WIDTH HEIGHT R G B.
make_picture() {
    local pixel i
    pixel=$(printf '\\x%02x\\x%02x\\x%02x' "$4" "$5" "$6")
    {
        printf 'P6\n%d %d\n255\n' "$2" "$3"
        for ((i = 0; i < $2 * $3; ++i)); do printf "$pixel"; done
    } >"$1"
}

# has_line FILE TEXT: FILE has a line that is exactly TEXT.
has_line() {
    grep -qxF -- "$2" "$1" 2>/dev/null
}

# ended PID: the process is gone (its status is then taken with wait).
ended() {
    ! kill -0 "$1" 2>/dev/null
}
