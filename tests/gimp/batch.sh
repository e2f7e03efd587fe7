#!/usr/bin/env bash
# The filter in GIMP without a display: one Script-Fu batch under
# gimp-console-2.10 keys synthetic scenes through both procedures, and every
# exported PNG must equal what `tavrisk key` makes of the same input with the
# same settings, byte for byte: the six methods (the background method over
# a picture GIMP copied), a selection, a layer without alpha (with an output
# that adds alpha and one that does not), the screen detected for a settings
# file that does not name it, a 16-bit image, and the repeated filter. Grey
# and indexed images, settings out of range and a clipboard picture of
# another size change nothing.
# Usage: batch.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
source "$(dirname "$0")/gimp-env.sh"

"$samplegen" "$work/scene.png" 200 150 >/dev/null
# The settings in the file's order: ScreenColor OutputMethod DynamicRange
# ForceBlack ForceWhite Gamma Protection RestoreR RestoreG RestoreB
# CorrectionR CorrectionG CorrectionB BlueRemoval MatteBlur MatteChoke.
keys=(ScreenColor OutputMethod DynamicRange ForceBlack ForceWhite Gamma Protection RestoreR RestoreG RestoreB
  CorrectionR CorrectionG CorrectionB BlueRemoval MatteBlur MatteChoke)
settings() { echo "1 $1 1 10 20 30 40 50 60 70 -20 30 -40 200 3 -2"; }
keyer_sets() {
  local values=($1) i
  for i in "${!keys[@]}"; do printf -- '--set %s=%s ' "${keys[$i]}" "${values[$i]}"; done
}
settings_file() {  # settings_file FILE VALUES [FIRST_KEY]: the keys from FIRST_KEY (0: all)
  local values=($2) i
  { echo "[TavRisk Settings]"; echo "Version=1"
    for ((i = ${3:-0}; i < ${#keys[@]}; i++)); do echo "${keys[$i]}=${values[$i]}"; done; } >"$1"
}
settings_file "$work/m2.tvk" "$(settings 2)"
settings_file "$work/m4.tvk" "$(settings 4)"
settings_file "$work/detect.tvk" "$(settings 3)" 1  # no ScreenColor: detected

call() { echo "(plug-in-tavrisk RUN-NONINTERACTIVE image (layer-of image) $1)"; }
file_call() { echo "(plug-in-tavrisk-file RUN-NONINTERACTIVE image (layer-of image) \"$work/$1\")"; }
# case NAME INPUT SCHEME...: a copy of the input (alpha or flat), the Scheme
# run on it, the result saved as NAME.png.
case_() {
  local name=$1 input=$2; shift 2
  echo "(let ((image (car (gimp-image-duplicate $input)))) $* (save-png image \"$work/$name.png\") (gimp-image-delete image))"
}
# refused NAME INPUT PREPARE CALL: the call fails (its message reported) and
# the image is saved before and after it.
refused() {
  echo "(let ((image (car (gimp-image-duplicate $2)))) $3 (save-png image \"$work/$1-before.png\")
    (report \"$1: \" (or (failure-of (lambda () $4)) \"no failure\"))
    (save-png image \"$work/$1-after.png\") (gimp-image-delete image))"
}

{
  echo "(load \"$work/helpers.scm\")"
  # The inputs: the scene with a soft hole of transparency, the scene flat,
  # and two pictures to copy (the scene's size and another).
  echo "(let* ((image (load-png \"$work/scene.png\")))
    (gimp-context-set-feather TRUE) (gimp-context-set-feather-radius 12 12)
    (gimp-image-select-ellipse image CHANNEL-OP-REPLACE 120 20 60 50)
    (gimp-drawable-edit-clear (layer-of image)) (gimp-selection-none image)
    (gimp-context-set-feather FALSE)
    (save-png image \"$work/alpha.png\")
    (gimp-layer-flatten (layer-of image)) (save-png image \"$work/flat.png\") (gimp-image-delete image))
    (define alpha (load-png \"$work/alpha.png\")) (define flat (load-png \"$work/flat.png\"))"
  for picture in "bg 200 150" "small 100 75"; do
    set -- $picture
    echo "(let* ((image (car (gimp-image-new $2 $3 RGB)))
                 (layer (car (gimp-layer-new image $2 $3 RGB-IMAGE \"bg\" 100 LAYER-MODE-NORMAL))))
      (gimp-image-insert-layer image layer 0 0) (plug-in-plasma RUN-NONINTERACTIVE image layer 7 2.5)
      (save-png image \"$work/$1.png\") (gimp-image-delete image))"
  done
  for method in 0 1 3; do case_ "m$method-args" alpha "$(call "$(settings $method)")"; done
  for method in 2 4; do case_ "m$method-file" alpha "$(file_call m$method.tvk)"; done
  echo "(let ((bg (load-png \"$work/bg.png\"))) (gimp-edit-copy (layer-of bg)) (gimp-image-delete bg))"
  case_ m5-clipboard alpha "$(call "$(settings 5)")"
  case_ selection alpha "(gimp-image-select-rectangle image CHANNEL-OP-REPLACE 30 20 120 90)" \
    "$(call "$(settings 0)")"
  # 16 bits a channel: GIMP hands over 8 and takes them back, exactly.
  case_ precision alpha "(gimp-image-convert-precision image PRECISION-U16-GAMMA)" "$(call "$(settings 0)")" \
    "(gimp-image-convert-precision image PRECISION-U8-GAMMA)"
  case_ flat-m0 flat "$(call "$(settings 0)")"
  case_ flat-m1 flat "$(call "$(settings 1)")"
  case_ detect alpha "$(file_call detect.tvk)"
  case_ last-values alpha "(plug-in-tavrisk RUN-WITH-LAST-VALS image (layer-of image) $(settings 0))"
  echo "(let ((small (load-png \"$work/small.png\"))) (gimp-edit-copy (layer-of small)) (gimp-image-delete small))"
  case_ m5-other-size alpha "$(call "$(settings 5)")"
  refused grey alpha "(gimp-image-convert-grayscale image)" "$(call "$(settings 0)")"
  refused indexed flat "(gimp-image-convert-indexed image CONVERT-DITHER-NONE CONVERT-PALETTE-GENERATE 16 FALSE FALSE \"\")" \
    "$(call "$(settings 0)")"
  refused range alpha "" "$(call "1 9 1 10 20 30 40 50 60 70 -20 30 -40 200 3 -2")"
} >"$work/session.scm"

gimp-console-2.10 -i -d -f --batch-interpreter=plug-in-script-fu-eval \
  -b "(load \"$work/session.scm\")" -b '(gimp-quit 0)' >"$work/gimp.log" 2>&1 ||
  { cat "$work/gimp.log"; echo "FAILED: the batch did not run"; exit 1; }

key() {  # key NAME INPUT ARGUMENTS...: tavrisk's output for the case
  local name=$1 input=$2; shift 2
  "$keyer" key "$work/$input" -o "$work/$name-keyer.png" --quiet "$@"
  same "$name" "$work/$name.png" "$work/$name-keyer.png"
}
for method in 0 1 3; do key "m$method-args" alpha.png $(keyer_sets "$(settings $method)"); done
for method in 2 4; do key "m$method-file" alpha.png --settings "$work/m$method.tvk"; done
key m5-clipboard alpha.png $(keyer_sets "$(settings 5)") --background "$work/bg.png"
key selection alpha.png $(keyer_sets "$(settings 0)") --region 30,20,120,90
key precision alpha.png $(keyer_sets "$(settings 0)")
key flat-m0 flat.png $(keyer_sets "$(settings 0)")
key flat-m1 flat.png $(keyer_sets "$(settings 1)")
key detect alpha.png --settings "$work/detect.tvk"
# The repeated filter takes the settings of the run before it.
key last-values alpha.png --settings "$work/detect.tvk"
# The PNG's colour type says whether GIMP's layer had alpha: 6 RGBA, 2 RGB.
for case in "flat-m0 6 got alpha" "flat-m1 2 stays without alpha"; do
  set -- $case
  type=$(od -An -tu1 -j25 -N1 "$work/$1.png" | tr -d ' ')
  if [ "$type" = "$2" ]; then echo "ok     $1: the layer ${*:3}"; else echo "FAILED $1: colour type $type"; failures=$((failures + 1)); fi
done
same "m5-other-size leaves the image" "$work/m5-other-size.png" "$work/alpha.png"
for refused in grey indexed range; do
  same "$refused: the image unchanged" "$work/$refused-after.png" "$work/$refused-before.png"
done
expect "grey: refused with a reason" "RESULT grey: .*keys RGB images, and this one is grayscale" "$work/gimp.log"
expect "indexed: refused with a reason" "RESULT indexed: .*keys RGB images, and this one is indexed" "$work/gimp.log"
expect "range: a calling error" "RESULT range: .*invalid input arguments: output-method is 9; it must lie in 0..5" \
  "$work/gimp.log"
if [ $failures -ne 0 ]; then
  echo "--- GIMP's output"; cat "$work/gimp.log"
  exit 1
fi
echo "GIMP keys as the keyer does"
