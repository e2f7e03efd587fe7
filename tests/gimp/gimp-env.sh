# Sourced by the GIMP checks: a private working folder, GIMP configuration
# and settings stores, so that nothing touches ~/.config; and the helpers
# the checks share. GIMP's plug-in-path holds the build's plug-in folder and,
# of GIMP's own plug-ins, the two the checks use (PNG files and Script-Fu):
# a fresh configuration queries every plug-in on the path once.
# Expects $build, the build folder.
work=$(mktemp -d "${TMPDIR:-/tmp}/tavrisk-gimp-XXXXXX")
trap 'rm -rf "$work"' EXIT
export GIMP2_DIRECTORY=$work/gimp TAVRISK_USER_STORE=$work/store TAVRISK_MACHINE_STORE=$work/machine-store
mkdir -p "$GIMP2_DIRECTORY/gradients"
printf '(plug-in-path "%s:${gimp_plug_in_dir}/plug-ins/file-png:${gimp_plug_in_dir}/plug-ins/script-fu")\n' \
  "$build/plug-ins" >"$GIMP2_DIRECTORY/gimprc"
keyer=$build/keyer/tavrisk
samplegen=$build/tools/samplegen
failures=0

# Script-Fu helpers: PNG in and out (the colours of transparent pixels
# kept), and the message of a call that fails (#f when it succeeds).
cat >"$work/helpers.scm" <<'SCM'
(define (load-png path) (car (file-png-load RUN-NONINTERACTIVE path path)))
(define (layer-of image) (car (gimp-image-get-active-drawable image)))
(define (save-png image path) (file-png-save2 RUN-NONINTERACTIVE image (layer-of image) path path 0 1 0 0 0 0 0 0 1))
(define (failure-of thunk)
  (call/cc (lambda (k)
    (let ((old *error-hook*))
      (set! *error-hook* (lambda args (set! *error-hook* old) (k (if (string? (car args)) (car args) "an error"))))
      (thunk)
      (set! *error-hook* old)
      #f))))
(define (report . words) (gimp-message (apply string-append "RESULT " words)))
SCM

# same WHAT A.png B.png: both pictures' pixels, as 8-bit RGBA, byte for byte.
same() {
  "$samplegen" --to-raw "$2" "$work/a.rgba" && "$samplegen" --to-raw "$3" "$work/b.rgba" || { failures=$((failures + 1)); return; }
  if cmp -s "$work/a.rgba" "$work/b.rgba"; then
    echo "ok     $1"
  else
    echo "FAILED $1: $2 and $3 differ"
    failures=$((failures + 1))
  fi
}

# expect WHAT PATTERN LOG: a line of the log matches.
expect() {
  if grep -q -- "$2" "$3"; then echo "ok     $1"; else echo "FAILED $1: no '$2' in $3"; failures=$((failures + 1)); fi
}
