#!/usr/bin/env bash
# Runs a command on a private virtual display: an Xvfb that picks a free
# display number itself (-displayfd), so that runs side by side never share,
# or take down, one another's server. The command's status is the script's.
# Usage: private-display.sh [-s WIDTHxHEIGHT] COMMAND [ARGUMENTS...]
set -euo pipefail
size=1920x1080
if [ "${1:-}" = -s ]; then size=$2; shift 2; fi
work=$(mktemp -d "${TMPDIR:-/tmp}/tavrisk-display-XXXXXX")
xvfb_pid=
cleanup() {
  status=$?
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
  exit $status
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP
mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
# The server writes its display number once it accepts connections.
if ! read -r -t 60 number <"$work/display"; then
  echo "private-display: the virtual display did not start:" >&2
  cat "$work/xvfb.log" >&2 || true
  exit 1
fi
export DISPLAY=:$number
unset WAYLAND_DISPLAY
"$@"
