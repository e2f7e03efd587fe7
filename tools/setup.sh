#!/usr/bin/env bash
# The first set-up step on a fresh Debian machine: installs what the keyer
# needs, builds the keyer alone (no tests, no benchmarks, no Windows
# toolchain) and keys the bundled sample into greenscreen-keyed.png in the
# current folder. tools/run-tests.sh is the second step.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
bash "$source_dir/.ci/install" native
(
  cd "$source_dir"
  cmake --preset keyer -DTAVRISK_WERROR="${TAVRISK_WERROR:-OFF}" >/dev/null
  cmake --build --preset keyer -j "${TAVRISK_JOBS:-$(nproc)}"
)
"$source_dir/build/keyer/keyer/tavrisk" key "$source_dir/samples/greenscreen.png" -o greenscreen-keyed.png
echo "keyed: greenscreen-keyed.png"
