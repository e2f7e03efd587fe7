#!/usr/bin/env bash
# Draws the README's pictures of the bundled sample into docs/, each reduced
# 2 : 1: the sample; its key over a colour with the default settings and with
# samples/greenscreen.tvk; that clean key over a checkerboard; both mattes.
# Uses the keyer and samplegen of the native build (built here if needed).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/native}
[ -d "$build" ] || cmake --preset native >/dev/null
cmake --build "$build" --target tavrisk samplegen >/dev/null
keyer=$build/keyer/tavrisk
samplegen=$build/tools/samplegen
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

sample=samples/greenscreen.png
clean=(--settings samples/greenscreen.tvk)
"$keyer" key "$sample" -o "$work/default.png" --quiet
"$keyer" key "$sample" -o "$work/clean.png" --quiet "${clean[@]}"
"$keyer" key "$sample" -o "$work/matte-default.png" --quiet --method matte
"$keyer" key "$sample" -o "$work/matte-clean.png" --quiet "${clean[@]}" --method matte

"$samplegen" --over checker "$sample" docs/sample.png 2
"$samplegen" --over 3A5F8F "$work/default.png" docs/keyed-default-colour.png 2
"$samplegen" --over checker "$work/clean.png" docs/keyed-clean-checker.png 2
"$samplegen" --over 3A5F8F "$work/clean.png" docs/keyed-clean-colour.png 2
"$samplegen" --over checker "$work/matte-default.png" docs/matte-default.png 2
"$samplegen" --over checker "$work/matte-clean.png" docs/matte-clean.png 2
