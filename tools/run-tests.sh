#!/usr/bin/env bash
# The second set-up step (tools/setup.sh is the first). Installs what the
# tests need when anything is missing (.ci/install: nothing is downloaded
# when all is there), builds the Windows plug-ins (32- and 64-bit) and the
# Linux build, then runs every test: the import checks of the Windows builds
# and each plug-in under Wine of its bitness, then the native suite, which
# also checks the Windows plug-ins' property lists and that both plug-ins
# under Wine key exactly as the Linux keyer. TAVRISK_SANITIZE="address
# thread" (or either) also runs the native suite under those sanitizers (CI
# runs both).
set -euo pipefail
cd "$(dirname "$0")/.."
bash .ci/install
werror=${TAVRISK_WERROR:-ON}
jobs=${TAVRISK_JOBS:-2}

for preset in win32 win64 native; do
  echo "== build $preset"
  cmake --preset "$preset" -DTAVRISK_WERROR="$werror" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

status=0
for preset in win32 win64; do
  echo "== test $preset"
  ctest --preset "$preset" --timeout 600 || status=1
done

for sanitizer in ${TAVRISK_SANITIZE:-}; do
  case $sanitizer in
    address) preset=native-asan ;;
    thread) preset=native-tsan ;;
    *) echo "TAVRISK_SANITIZE: unknown sanitizer '$sanitizer' (address, thread)" >&2; exit 2 ;;
  esac
  echo "== build and test $preset"
  cmake --preset "$preset" -DTAVRISK_WERROR="$werror" -DTAVRISK_BUILD_BENCH=OFF >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  # One process for the whole suite: a sanitized process is slow to start.
  # The Windows builds' property lists are checked by the native suite.
  # A test that hangs fails the run rather than holding it.
  timeout --kill-after=30 1800 "build/$preset/tests/tavrisk_tests" --gtest_brief=1 --gtest_filter='-*WindowsPluginTest*' || status=1
  # The programs' own checks; the Windows plug-ins under Wine are checked
  # once, against the plain build's keyer.
  ctest --preset "$preset" --timeout 600 -R 'hostcheck|keyer_sample|exports' || status=1
done

echo "== test native"
TAVRISK_REQUIRE_WINDOWS_BUILDS=1 ctest --preset native -j "$jobs" --timeout 600 || status=1
exit $status
