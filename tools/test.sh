#!/usr/bin/env bash
# Checks the code style, then builds and runs every test: the suite in a
# normal build and again under AddressSanitizer and UndefinedBehaviorSanitizer,
# then builds the release and runs each fuzz target for a bounded time.
# FUZZ_SECONDS (default 60) sets that time; 0 skips fuzzing.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh test

# Warnings are errors in CI.
if [ -n "${CI:-}" ]; then export NORVANE_WERROR=ON; fi
jobs=$(nproc)
fuzz_seconds=${FUZZ_SECONDS:-60}

# The style in .clang-format is checked first: it takes a second, and a
# stray line fails here rather than after the builds.
echo "== style: clang-format"
find app arp bench fuzz oui tests text tools \( -name '*.cpp' -o -name '*.h' \) -print0 |
  xargs -0 clang-format --dry-run -Werror

for preset in debug asan; do
  echo "== $preset: build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "== $preset: test"
  ctest --preset "$preset" -j "$jobs"
done

# The release build compiles warning-free as well (the optimiser sees more);
# its tests are the debug build's, so they are not run twice.
echo "== release: build"
cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs"

# == package: the .deb as users get it, from the optimised build of the two
# programs (tools/run.sh's preset), so its fortified calls are checked too.
echo "== package: build and check the .deb"
cmake --preset run >/dev/null
cmake --build --preset run -j "$jobs"
status=0
bash tests/app/installed_test.sh build/run package || status=$?
[ $status -eq 0 ] || [ $status -eq 77 ] || { echo "== package: failed"; exit 1; }

if [ "$fuzz_seconds" -gt 0 ]; then
  echo "== fuzz: build"
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz -j "$jobs"
  corpus_root=build/fuzz/corpus
  for target in build/fuzz/fuzz/fuzz_*; do
    name=$(basename "$target")
    mkdir -p "$corpus_root/$name"
    seeds=()
    [ -d "fuzz/corpus/$name" ] && seeds=("fuzz/corpus/$name")
    echo "== fuzz: $name for ${fuzz_seconds}s"
    log=build/fuzz/$name.log
    if ! "$target" -max_total_time="$fuzz_seconds" -max_len=65536 \
      -artifact_prefix="build/fuzz/$name-" "$corpus_root/$name" "${seeds[@]}" >"$log" 2>&1; then
      tail -n 60 "$log"
      echo "== fuzz: $name failed"
      exit 1
    fi
    grep -E '^Done [0-9]+ runs' "$log" || tail -n 2 "$log"
  done
fi

# == windows: Norvane.exe cross-built with MinGW-w64 and tested under Wine
# (tests/win/stage.sh; it says so and skips where those are not installed).
JOBS=$jobs bash tests/win/stage.sh

echo "== all tests passed"
