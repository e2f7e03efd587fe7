#!/bin/sh
# The Windows plug-in under Wine keys exactly as the Linux keyer does.
# Both run the repeated-filter path on the same 720 x 600 scene (large enough
# for the file-mapped working buffers) with blur and choke on.
# Usage: wine-matches-native.sh NATIVE_BUILD_DIR WINDOWS_BUILD_DIR WINE
set -eu
native=$1 windows=$2 wine=$3
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/tavrisk-e2e-XXXXXX")
trap 'rm -rf "$work"' EXIT
settings="ScreenColor=1 MatteBlur=6 MatteChoke=-2 Gamma=40 Protection=20 RestoreR=30"

"$native/tools/samplegen" "$work/scene.png" 720 600
"$native/tools/samplegen" --raw "$work/scene.rgba" 720 600
set --
for s in $settings; do set -- "$@" --set "$s"; done
"$native/keyer/tavrisk" key "$work/scene.png" -o "$work/native.png" --quiet "$@"
"$native/tools/samplegen" --to-raw "$work/native.png" "$work/native.rgba"

# shellcheck disable=SC2086
"$here/../winhost/run-under-wine.sh" "$wine" "$windows/tools/winhost.exe" "$windows/tavrsk.8bf" \
    --key "$work/scene.rgba" 720 600 "$work/wine.rgba" $settings

if cmp "$work/native.rgba" "$work/wine.rgba"; then
  echo "the Windows plug-in ($windows) under Wine and the Linux keyer agree on all 720 x 600 pixels"
else
  echo "the Windows plug-in under Wine and the Linux keyer differ" >&2
  exit 1
fi
