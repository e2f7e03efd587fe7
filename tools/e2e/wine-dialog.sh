#!/bin/sh
# The Windows plug-in's parameters dialog under Wine, worked by a script of
# real mouse and keyboard input (winhost --dialog): its checks pass, the image
# it keys with OK equals the Linux keyer's for the same final settings byte
# for byte, and a cancelled dialog leaves the settings as they were at
# opening. With a fourth argument, the dialog's screenshot is written there
# as a PNG.
# Usage: wine-dialog.sh NATIVE_BUILD_DIR WINDOWS_BUILD_DIR WINE [SCREENSHOT.png]
set -eu
native=$1 windows=$2 wine=$3 shot=${4:-}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/tavrisk-dialog-XXXXXX")
trap 'rm -rf "$work"' EXIT
run() { "$here/../winhost/run-under-wine.sh" "$wine" "$windows/tools/winhost.exe" "$windows/tavrsk.8bf" "$@"; }

"$native/tools/samplegen" "$work/scene.png" 720 600
"$native/tools/samplegen" --raw "$work/scene.rgba" 720 600

run --dialog "$work/scene.rgba" 720 600 "$work/wine.rgba" "$work/settings.txt" "$work/shot.ppm"
set --
while IFS= read -r setting; do set -- "$@" --set "$setting"; done <"$work/settings.txt"
"$native/keyer/tavrisk" key "$work/scene.png" -o "$work/native.png" --quiet "$@"
"$native/tools/samplegen" --to-raw "$work/native.png" "$work/native.rgba"
if ! cmp "$work/native.rgba" "$work/wine.rgba"; then
  echo "the dialog's run under Wine and the Linux keyer differ for: $*" >&2
  exit 1
fi
echo "the dialog's run under Wine and the Linux keyer agree on all 720 x 600 pixels for: $*"
[ -z "$shot" ] || "$native/tools/samplegen" --ppm-to-png "$work/shot.ppm" "$shot"

run --dialog-cancel "$work/scene.rgba" 720 600
