#!/bin/sh
# Runs the Windows host program under Wine in a fresh, private prefix, with a
# virtual display when none is set. Usage: run-under-wine.sh WINE HOST.exe PLUGIN.8bf [ARGUMENTS...]
set -eu
wine=$1; shift
prefix=$(mktemp -d "${TMPDIR:-/tmp}/tavrisk-wine-XXXXXX")
# The prefix goes once its server has ended; the program's status stands.
cleanup() {
  status=$?
  WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1 || true
  WINEPREFIX="$prefix" wineserver -w >/dev/null 2>&1 || true
  rm -rf "$prefix" 2>/dev/null || rm -rf "$prefix" || true
  exit $status
}
trap cleanup EXIT
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null 2>&1; then
  xvfb-run -a "$wine" "$@"
else
  "$wine" "$@"
fi
