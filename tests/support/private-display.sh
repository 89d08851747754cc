# Sourced by the shell tests that need an X server of their own.
# private_display starts Xvfb on a display number the server picks for itself
# (-displayfd), so tests running side by side never race for the same number
# the way two `xvfb-run -a` can, waits until it accepts connections, exports
# DISPLAY and leaves the server's pid in xvfb_pid. Answers 1 if it did not start.
private_display() {
  local file
  file="$(mktemp)"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$file" >/dev/null 2>&1 &
  xvfb_pid=$!
  # The server writes its number once it is ready for clients.
  # Up to 30 s: a loaded machine may be slow to start it.
  for _ in $(seq 300); do
    if grep -q '[0-9]' "$file"; then
      DISPLAY=":$(tr -dc '0-9' < "$file")"; export DISPLAY
      rm -f "$file"
      return 0
    fi
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  rm -f "$file"
  return 1
}
