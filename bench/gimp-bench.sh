#!/usr/bin/env bash
# The GIMP plug-in on a 6000 x 4000 layer, against the keyer in the same
# sitting (TAVRISK_TIMINGS has the plug-in report its times):
#   - keyed non-interactively: the plug-in program's time from its start to
#     its return to GIMP (GIMP's load and export aside), against the keyer's
#     run step (tavrisk key --timings) for the same image and settings;
#   - the dialog (GIMP with its interface, on a private display): from the
#     program's start, and from the start of the filter's run (the image
#     already read from GIMP), to the dialog's first preview; it is then left
#     with Escape.
# Each is measured RUNS times (default 5); the medians and the fastest.
# Usage: bench/gimp-bench.sh BUILD_DIR [RUNS]
set -euo pipefail
build=$(cd "$1" && pwd)
runs=${2:-5}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../tests/gimp/gimp-env.sh"
export TAVRISK_TIMINGS=1
settings="1 0 1 10 20 30 40 0 0 0 0 0 0 255 4 -1"
keys=(ScreenColor OutputMethod DynamicRange ForceBlack ForceWhite Gamma Protection RestoreR RestoreG RestoreB
  CorrectionR CorrectionG CorrectionB BlueRemoval MatteBlur MatteChoke)
values=($settings)
sets=()
for i in "${!keys[@]}"; do sets+=(--set "${keys[$i]}=${values[$i]}"); done

"$samplegen" "$work/big.png" 6000 4000 >/dev/null
stats() {  # the median and the fastest of the numbers on standard input
  sort -n | awk '{ v[NR] = $1 } END { printf "%.3f s (fastest %.3f s)", v[int((NR + 1) / 2)], v[1] }'
}
median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
keyer_runs() {
  for ((i = 0; i < runs; i++)); do
    "$keyer" key "$work/big.png" -o "$work/keyer.png" --quiet --timings "${sets[@]}" 2>&1 |
      sed -n 's/.* run \([0-9.]*\) s.*/\1/p'
  done
}

# The keyer before and after the plug-in, so that both see the same load.
keyer_runs >"$work/keyer.txt"
{
  echo "(load \"$work/helpers.scm\") (define big (load-png \"$work/big.png\"))"
  for ((i = 0; i < runs; i++)); do
    echo "(let ((image (car (gimp-image-duplicate big))))
      (plug-in-tavrisk RUN-NONINTERACTIVE image (layer-of image) $settings) (gimp-image-delete image))"
  done
} >"$work/batch.scm"
gimp-console-2.10 -i -d -f -b "(load \"$work/batch.scm\")" -b '(gimp-quit 0)' >"$work/batch.log" 2>&1
keyer_runs >>"$work/keyer.txt"
sed -n 's/.*; \([0-9.]*\) s from the program.s start to the end/\1/p' "$work/batch.log" >"$work/plugin.txt"
grep '^tavrisk-gimp' "$work/batch.log" >&2

# The dialog: GIMP's interface on a private display, the dialog left with
# Escape once its preview is shown.
cat >"$work/dialog.sh" <<SH
gimp-2.10 -n -s -d -f --batch-interpreter=plug-in-script-fu-eval -b '(load "$work/dialog.scm")' -b '(gimp-quit 1)' \
  >"$work/dialog.log" 2>&1 &
gimp=\$!
# Polls GIMP's output until COUNT lines match PATTERN (at most five minutes).
lines() { grep -c "\$1" "$work/dialog.log" || true; }
for ((i = 1; i <= $runs; i++)); do
  deadline=\$((SECONDS + 300))
  until [ "\$(lines 'preview shown$')" -ge \$i ]; do
    kill -0 \$gimp && [ \$SECONDS -lt \$deadline ] || exit 1
    sleep 0.1
  done
  # Escape until the run has ended.
  until [ "\$(lines 'to the end$')" -ge \$i ]; do
    kill -0 \$gimp && [ \$SECONDS -lt \$deadline ] || exit 1
    window=\$(xdotool search --onlyvisible --name '^Tavrisk Parameters$' | head -1 || true)
    [ -z "\$window" ] || xdotool windowfocus --sync "\$window" key Escape
    sleep 0.2
  done
done
wait \$gimp
SH
{
  echo "(load \"$work/helpers.scm\") (define big (load-png \"$work/big.png\")) (gimp-display-new big)"
  for ((i = 0; i < runs; i++)); do
    echo "(plug-in-tavrisk RUN-INTERACTIVE big (layer-of big) 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0)"
  done
} >"$work/dialog.scm"
"$here/../tools/e2e/private-display.sh" bash "$work/dialog.sh"
sed -n 's/.*preview shown \([0-9.]*\) s after the program started.*/\1/p' "$work/dialog.log" >"$work/dialog.txt"
sed -n 's/.*preview shown .* (\([0-9.]*\) s after the run).*/\1/p' "$work/dialog.log" >"$work/dialog-run.txt"

echo "6000 x 4000 layer, $runs runs each (medians):"
echo "  keyer, run step:                      $(stats <"$work/keyer.txt")"
echo "  GIMP plug-in, keyed non-interactively: $(stats <"$work/plugin.txt")"
awk -v p="$(median "$work/plugin.txt")" -v k="$(median "$work/keyer.txt")" \
  'BEGIN { printf "  the plug-in against the keyer:         %.2f times\n", p / k }'
echo "  the dialog's first preview, from the program's start: $(stats <"$work/dialog.txt")"
echo "                             from the filter's run:      $(stats <"$work/dialog-run.txt")"
