#!/usr/bin/env bash
# The filter's dialog in GIMP itself, on a display (tools/e2e/private-display.sh
# gives it one): GIMP opens the dialog (RUN-INTERACTIVE) over the image's
# window; the preview pane shows exactly the picture the filter hands
# displayPixels (the keyer's `preview` makes the same picture); typing a
# value and pressing Enter keys the layer as the keyer does with the
# settings the dialog left; a second opening, cancelled with Escape, leaves
# the image as it was. With a second argument, the screen with the dialog
# open is saved there (the README's picture).
# Usage: dialog.sh BUILD_DIR [SCREENSHOT.png]
set -euo pipefail
build=$(cd "$1" && pwd)
shot=${2:-}
source "$(dirname "$0")/gimp-env.sh"
probe=$build/tests/screen_probe
title='^Tavrisk Parameters$'

# Small enough to be shown whole, at 1 : 1, in any font's pane.
"$samplegen" "$work/scene.png" 90 80 >/dev/null
"$keyer" preview "$work/scene.png" -o "$work/pane.png"

cat >"$work/session.scm" <<SCM
(load "$work/helpers.scm")
(let* ((image (load-png "$work/scene.png")) (display (car (gimp-display-new image))))
  (gimp-displays-flush)
  (plug-in-tavrisk RUN-INTERACTIVE image (layer-of image) 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0)
  (save-png image "$work/keyed.png")
  (plug-in-tavrisk RUN-INTERACTIVE image (layer-of image) 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0)
  (save-png image "$work/after-cancel.png"))
SCM
gimp-2.10 -n -s -d -f --batch-interpreter=plug-in-script-fu-eval \
  -b "(load \"$work/session.scm\")" -b '(gimp-quit 1)' >"$work/gimp.log" 2>&1 &
gimp=$!

# Polls the window list for the dialog's window to be shown (wanted: yes)
# or gone (no), for at most two minutes; prints its id.
dialog_window() {
  local deadline=$((SECONDS + 120)) id
  while [ $SECONDS -lt $deadline ] && kill -0 $gimp 2>/dev/null; do
    id=$(xdotool search --onlyvisible --name "$title" 2>/dev/null | head -1 || true)
    if [ "$1" = yes ] && [ -n "$id" ]; then echo "$id"; return 0; fi
    if [ "$1" = no ] && [ -z "$id" ]; then return 0; fi
    sleep 0.1
  done
  echo "FAILED: GIMP's dialog was not $([ "$1" = yes ] && echo shown || echo closed)" >&2
  cat "$work/gimp.log" >&2
  return 1
}

first=$(dialog_window yes)
if "$probe" wait "$work/pane.png" 60 >/dev/null; then
  echo "ok     the pane shows the picture displayPixels is given"
else
  echo "FAILED the pane does not show the picture displayPixels is given"
  failures=$((failures + 1))
fi
[ -z "$shot" ] || "$probe" grab "$shot"
# The focus starts on the first control; eight tabs lead to Force Black's box.
xdotool windowfocus --sync "$first"
xdotool key --delay 40 Tab Tab Tab Tab Tab Tab Tab Tab
xdotool type --delay 40 40
xdotool key Return
dialog_window no
second=$(dialog_window yes)
xdotool windowfocus --sync "$second"
xdotool key Escape
wait $gimp || { cat "$work/gimp.log"; echo "FAILED: GIMP did not end well"; exit 1; }

# The settings the dialog left, as the plug-in stored them for the next run.
stored=$(sed -n 's/^Settings=sz://p' "$work"/store/*gimp.key)
set --
for setting in $stored; do
  case $setting in ShowMatte=*) ;; *) set -- "$@" --set "$setting" ;; esac
done
expect "the typed value reached the box" "ForceBlack=40 " <(echo "$stored ")
"$keyer" key "$work/scene.png" -o "$work/keyer.png" --quiet "$@"
same "OK keys the layer as the keyer does" "$work/keyed.png" "$work/keyer.png"
# A second keying would change the keyed image again.
same "Escape cancels, and the image stays untouched" "$work/after-cancel.png" "$work/keyed.png"
if [ $failures -ne 0 ]; then
  echo "--- GIMP's output"; cat "$work/gimp.log"
  exit 1
fi
echo "the dialog works in GIMP"
