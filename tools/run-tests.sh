#!/usr/bin/env bash
# Builds the Windows plug-ins (32- and 64-bit) and the Linux build, then runs
# every test: the import checks of the Windows builds and the 64-bit plug-in
# under Wine (when Wine is installed), then the native suite, which also
# checks the Windows plug-ins' property lists and that the plug-in under
# Wine keys exactly as the Linux keyer. TAVRISK_SANITIZERS=1 also runs the
# native suite under AddressSanitizer and ThreadSanitizer (CI does).
set -euo pipefail
cd "$(dirname "$0")/.."
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
  ctest --preset "$preset" || status=1
done

if [ "${TAVRISK_SANITIZERS:-0}" = 1 ]; then
  for preset in native-asan native-tsan; do
    echo "== build and test $preset"
    cmake --preset "$preset" -DTAVRISK_WERROR="$werror" -DTAVRISK_BUILD_BENCH=OFF >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    # One process for the whole suite: a sanitized process is slow to start.
    # The Windows builds' property lists are checked by the native suite.
    "build/$preset/tests/tavrisk_tests" --gtest_brief=1 --gtest_filter='-*WindowsPluginTest*' || status=1
    ctest --preset "$preset" -R 'hostcheck|keyer_sample|wine_matches_native' || status=1
  done
fi

echo "== test native"
TAVRISK_REQUIRE_WINDOWS_BUILDS=1 ctest --preset native -j "$jobs" || status=1
exit $status
