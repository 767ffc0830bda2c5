# Sourced by the scripts that run Windows programs under Wine.
# start_display: starts an Xvfb display of its own, exports DISPLAY and sets
# xvfb_pid; answers 1 when Xvfb did not start.
start_display() {
    local fd n=""
    exec {fd}<> <(:)
    Xvfb -displayfd "$fd" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    read -r -t 20 -u "$fd" n || true
    exec {fd}<&-
    [ -n "$n" ] || return 1
    export DISPLAY=":$n"
}
