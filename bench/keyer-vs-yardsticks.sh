#!/usr/bin/env bash
# The keyer against general tools on the same files, whole processes timed
# with /usr/bin/time, the two commands of a pair run in turn so that the
# ratio is taken run by run (a busy machine slows both alike):
#   stream  100 raw RGBA frames of 1920 x 1080: `tavrisk key --raw` against
#           ffmpeg's colorkey filter, both from the same file into /dev/null
#   batch   100 PNG files of 1920 x 1080: `tavrisk key --outdir` against
#           ffmpeg's colorkey over %03d.png
#   png     one 6000 x 4000 PNG into a PNG: `tavrisk key` against `vips copy`
#
#   bench/keyer-vs-yardsticks.sh [BUILD_DIR [RUNS [CASE...]]]
#
# Prints, for each case, the median wall time and peak memory of each command
# and the median of the pairs' wall-time ratios (keyer / yardstick). Needs
# ffmpeg and libvips' tools (.ci/install bench); the files go to a temporary
# folder, removed at the end.
set -euo pipefail
build=$(realpath "${1:-build/native}")
runs=${2:-5}
cases=("${@:3}")
[ ${#cases[@]} -gt 0 ] || cases=(stream batch png)
keyer=$build/keyer/tavrisk
samplegen=$build/tools/samplegen
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ffmpeg="ffmpeg -hide_banner -loglevel error -nostdin -y"

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }

# pair NAME 'COMMAND A' 'COMMAND B': each run RUNS times, in turn.
pair() {
  local name=$1 a=$2 b=$3 i
  : >"$work/a" && : >"$work/b" && : >"$work/ratio"
  bash -c "$a" && bash -c "$b"  # a run each first, not counted
  for ((i = 0; i < runs; i++)); do
    /usr/bin/time -f '%e %M' -o "$work/one" bash -c "$a" && cat "$work/one" >>"$work/a"
    read -r wa _ <"$work/one"
    /usr/bin/time -f '%e %M' -o "$work/one" bash -c "$b" && cat "$work/one" >>"$work/b"
    read -r wb _ <"$work/one"
    awk -v a="$wa" -v b="$wb" 'BEGIN { print a / b }' >>"$work/ratio"
  done
  printf '%-7s tavrisk %6.2f s %5d MiB | yardstick %6.2f s %5d MiB | wall ratio %.2f (median of %d pairs)\n' \
    "$name" "$(cut -d' ' -f1 "$work/a" | median)" "$(($(cut -d' ' -f2 "$work/a" | median | cut -d. -f1) / 1024))" \
    "$(cut -d' ' -f1 "$work/b" | median)" "$(($(cut -d' ' -f2 "$work/b" | median | cut -d. -f1) / 1024))" \
    "$(median <"$work/ratio")" "$runs"
}

for case in "${cases[@]}"; do
  case $case in
    stream)
      "$samplegen" --raw "$work/frame.rgba" 1920 1080
      for ((i = 0; i < 100; i++)); do cat "$work/frame.rgba"; done >"$work/frames.rgba"
      pair stream "$keyer key --raw 1920x1080 - -o - <$work/frames.rgba >/dev/null" \
        "$ffmpeg -f rawvideo -pix_fmt rgba -s 1920x1080 -i $work/frames.rgba -vf colorkey=0x00FF00:0.3:0.1 -f rawvideo -pix_fmt rgba - >/dev/null"
      rm -f "$work"/*.rgba ;;
    batch)
      mkdir -p "$work/in" "$work/out" "$work/ff"
      "$samplegen" "$work/in/001.png" 1920 1080
      for ((i = 2; i <= 100; i++)); do cp "$work/in/001.png" "$work/in/$(printf %03d $i).png"; done
      pair batch "$keyer key $work/in/*.png --outdir $work/out --quiet" \
        "$ffmpeg -i $work/in/%03d.png -vf colorkey=0x00FF00:0.3:0.1 $work/ff/%03d-out.png"
      rm -rf "$work/in" "$work/out" "$work/ff" ;;
    png)
      "$samplegen" "$work/big.png" 6000 4000
      pair png "$keyer key $work/big.png -o $work/keyed.png --quiet" "vips copy $work/big.png $work/copy.png"
      rm -f "$work"/*.png ;;
    *) echo "unknown case '$case' (stream, batch, png)" >&2; exit 2 ;;
  esac
done
