# Sourced by the window-manager tests: a scratch folder ($tmp), processes to end on exit
# ($pids), and an Xvfb display of its own with openbox managing it ($DISPLAY).
#   start_x_session NAME FIRST_DISPLAY LAST_DISPLAY GEOMETRY
start_x_session() {
  tmp="$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")"
  pids=()
  trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
        for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
        rm -rf "$tmp"' EXIT
  local display="" n
  for n in $(seq "$2" "$3"); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
  done
  [ -n "$display" ] || { echo "no free X display"; exit 77; }
  Xvfb "$display" -screen 0 "$4" -nolisten tcp >"$tmp/xvfb.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 200); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.05; done
  export DISPLAY="$display"
  openbox >"$tmp/openbox.log" 2>&1 &
  pids+=($!)
  # The window manager owns the display once its check window exists.
  for _ in $(seq 200); do xwininfo -root -tree 2>/dev/null | grep -q '"Openbox"' && break; sleep 0.05; done
}
