# shellcheck shell=bash
# Sourced by the whole-program benchmarks: a private display under openbox, with a work folder
# for the settings store and a runtime folder, all of it ended when the script exits.
#   start_desktop BASE   display :BASE+pid%300; sets work, runtime, pids, DISPLAY, XDG_CONFIG_HOME,
#                        XDG_STATE_HOME (the journal's folder) and XDG_RUNTIME_DIR
start_desktop() {
    work=$(mktemp -d)
    # The runtime folder is a tmpfs on desktops (/run/user/<uid>): here too where /dev/shm is one.
    runtime=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
    pids=()
    trap cleanup_desktop EXIT
    local display=:$(($1 + $$ % 300))
    Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    pids+=($!)
    export DISPLAY=$display
    unset WAYLAND_DISPLAY QT_QPA_PLATFORM
    for _ in $(seq 50); do [ -S "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
    openbox >/dev/null 2>&1 &
    pids+=($!)
    sleep 1
    export XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state XDG_RUNTIME_DIR=$runtime
}

cleanup_desktop() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work" "$runtime"
}
