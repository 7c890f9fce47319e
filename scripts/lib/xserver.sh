# Starts and stops a private virtual X server (Xvfb) by process id.
# start_xserver sets DISPLAY and XVFB_PID; stop_xserver ends that process only.

start_xserver() {
  local n
  for n in $(seq 91 199); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
      Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
      XVFB_PID=$!
      local i
      for i in $(seq 1 50); do
        if [ -e "/tmp/.X11-unix/X$n" ]; then
          export DISPLAY=":$n"
          return 0
        fi
        if ! kill -0 "$XVFB_PID" 2>/dev/null; then
          break
        fi
        sleep 0.1
      done
      kill "$XVFB_PID" 2>/dev/null
      wait "$XVFB_PID" 2>/dev/null
    fi
  done
  echo "could not start Xvfb" >&2
  return 1
}

stop_xserver() {
  if [ -n "${XVFB_PID:-}" ]; then
    kill "$XVFB_PID" 2>/dev/null
    wait "$XVFB_PID" 2>/dev/null
    XVFB_PID=
  fi
}
