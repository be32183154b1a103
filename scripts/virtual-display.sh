# Sourced by the scripts that show a real window: starts an Xvfb on a display number nobody
# uses and exports DISPLAY. stop_virtual_display ends it again.
xvfb_pid=""

start_virtual_display() {
    display=90
    while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
        display=$((display + 1))
    done
    export DISPLAY=":$display"
    Xvfb "$DISPLAY" -screen 0 1280x720x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    tries=0
    until [ -e "/tmp/.X11-unix/X$display" ]; do
        tries=$((tries + 1))
        [ $tries -le 50 ] || { echo "Xvfb did not start" >&2; exit 1; }
        sleep 0.1
    done
}

stop_virtual_display() {
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
        xvfb_pid=""
    fi
}
