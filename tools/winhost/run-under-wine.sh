#!/bin/sh
# Runs the Windows host program under Wine in a fresh, private prefix, with a
# virtual display when none is set. Usage: run-under-wine.sh WINE HOST.exe PLUGIN.8bf [ARGUMENTS...]
#
# The virtual display is a private Xvfb that picks a free display number
# itself (-displayfd): several of these runs side by side (the test suite
# runs them in parallel) never share, or take down, one another's server.
#
# On a kernel that runs no 32-bit code, 32-bit Wine runs under qemu's
# user-mode emulator, which must keep the low 4 GiB of addresses for the
# emulated process: without QEMU_RESERVED_VA Wine cannot map its shared user
# data and stops at once. Wine is first asked to start a trivial program,
# with its error channel on, so that a Wine that cannot start fails here,
# saying why, and not as a silent failure of the program.
set -eu
wine=$1; shift
prefix=$(mktemp -d "${TMPDIR:-/tmp}/tavrisk-wine-XXXXXX")
xvfb_pid=
# The prefix goes once its server has ended; the program's status stands.
cleanup() {
  status=$?
  WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
  WINEPREFIX="$prefix" wineserver -w >/dev/null 2>&1 || true
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$prefix" 2>/dev/null || rm -rf "$prefix" || true
  exit $status
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export QEMU_RESERVED_VA="${QEMU_RESERVED_VA:-0xffff0000}"
if [ -z "${DISPLAY:-}" ] && command -v Xvfb >/dev/null 2>&1; then
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$prefix/display" 2>"$prefix/xvfb.log" &
  xvfb_pid=$!
  # The server writes its display number once it accepts connections.
  tries=0
  while ! grep -q '^[0-9][0-9]*$' "$prefix/display" 2>/dev/null; do
    if ! kill -0 "$xvfb_pid" 2>/dev/null || [ $tries -ge 300 ]; then
      echo "run-under-wine: the virtual display did not start:" >&2
      cat "$prefix/xvfb.log" >&2 || true
      exit 1
    fi
    tries=$((tries + 1))
    sleep 0.1
  done
  DISPLAY=:$(cat "$prefix/display")
  export DISPLAY
fi
if ! WINEDEBUG=err+all "$wine" cmd /c echo tavrisk-wine-started >"$prefix/start.log" 2>&1 ||
   ! grep -q tavrisk-wine-started "$prefix/start.log"; then
  echo "run-under-wine: $wine cannot start a Windows program:" >&2
  grep -v '^[0-9a-f]*:fixme:' "$prefix/start.log" | tail -n 20 >&2 || true
  if grep -q 'failed to map the shared user data' "$prefix/start.log"; then
    echo "run-under-wine: Wine runs under an emulator that does not keep the low 4 GiB of addresses" \
         "(QEMU_RESERVED_VA=$QEMU_RESERVED_VA)" >&2
  fi
  exit 1
fi
"$wine" "$@"
