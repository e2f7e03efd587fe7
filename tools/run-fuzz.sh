#!/usr/bin/env bash
# Builds the fuzz targets (the fuzz preset: clang, libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer) and runs each, one after
# the other, for SECONDS (default 30) from a copy of its seed corpus in
# fuzz/corpus/, so that the checked-in seeds stay as they are. A crash, a
# failed check, a leak or any sanitizer report stops that target and makes
# the script exit 1; the input that did it is kept in build/fuzz/findings/.
#
#   tools/run-fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
werror=${TAVRISK_WERROR:-ON}
jobs=${TAVRISK_JOBS:-2}
targets=(settings_file registry_store clipboard_picture entry_run image_reader raw_stream preview_arguments)

echo "== build fuzz"
cmake --preset fuzz -DTAVRISK_WERROR="$werror" >/dev/null
cmake --build --preset fuzz -j "$jobs"

# The corpus copies, and the files the targets write: the settings stores
# and settings files are synced on every write, so they go to memory when
# it can be had.
work=$(mktemp -d "${TMPDIR:-/tmp}/tavrisk-fuzz.XXXXXX")
scratch=$work
if [ -d /dev/shm ] && [ -w /dev/shm ]; then scratch=$(mktemp -d /dev/shm/tavrisk-fuzz.XXXXXX); fi
trap 'rm -rf "$work" "$scratch"' EXIT

export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
passed=0
failed=0
for target in "${targets[@]}"; do
  program=build/fuzz/fuzz/$target
  findings=build/fuzz/findings/$target
  mkdir -p "$work/$target" "$findings"
  cp fuzz/corpus/"$target"/* "$work/$target/"
  echo "== fuzz $target for ${seconds} s"
  if [ -x "$program" ] &&
     TMPDIR=$scratch "$program" -max_total_time="$seconds" -timeout=60 -print_final_stats=1 \
       -artifact_prefix="$findings/" "$work/$target" >"$work/$target.log" 2>&1; then
    grep -E '^#[0-9]+[[:space:]]+DONE' "$work/$target.log" | tail -1 || true
    grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$work/$target.log" || true
    passed=$((passed + 1))
  else
    [ -x "$program" ] || echo "$program was not built"
    tail -n 60 "$work/$target.log" 2>/dev/null || true
    echo "!! $target failed; its input is in $findings/"
    failed=$((failed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" = 0 ]
