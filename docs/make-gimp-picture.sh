#!/usr/bin/env bash
# Draws docs/gimp-dialog.png, the README's picture of the filter in GIMP:
# GIMP with its interface on a private virtual display, the bundled sample
# open and the filter's dialog over it, on the settings of
# samples/greenscreen.tvk. Uses the native build (tavrisk-gimp, the keyer,
# samplegen and the tests' screen_probe).
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build/native}" && pwd)
cmake --build "$build" --target tavrisk-gimp tavrisk samplegen screen_probe >/dev/null
source tests/gimp/gimp-env.sh
export TAVRISK_TIMINGS=1
cat >"$work/picture.scm" <<SCM
(load "$work/helpers.scm")
(let ((image (load-png "$PWD/samples/greenscreen.png")))
  (gimp-display-new image)
  (plug-in-tavrisk-file RUN-INTERACTIVE image (layer-of image) "$PWD/samples/greenscreen.tvk"))
SCM
cat >"$work/picture.sh" <<SH
gimp-2.10 -n -s -d -f --batch-interpreter=plug-in-script-fu-eval -b '(load "$work/picture.scm")' \
  -b '(gimp-quit 1)' >"$work/gimp.log" 2>&1 &
gimp=\$!
# Polls GIMP's output for the dialog's first preview.
deadline=\$((SECONDS + 120))
until grep -q "preview shown$" "$work/gimp.log"; do
  kill -0 \$gimp && [ \$SECONDS -lt \$deadline ] || { cat "$work/gimp.log"; exit 1; }
  sleep 0.1
done
"$build/tests/screen_probe" grab "$PWD/docs/gimp-dialog.png" 90 20 720 600
xdotool windowfocus --sync "\$(xdotool search --onlyvisible --name '^Tavrisk Parameters$' | head -1)" key Escape
wait \$gimp
SH
GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1 tools/e2e/private-display.sh -s 1280x800 bash "$work/picture.sh"
echo "docs/gimp-dialog.png"
