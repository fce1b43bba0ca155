#!/usr/bin/env bash
# Runs the fuzz targets one after the other.
#
# Usage: tests/fuzz/run_fuzzers.sh [seconds per target] [target...]
#   seconds 0 (the default) only replays the seed corpora, as a quick check.
#   A target <name> is one of the files of this folder:
#     fuzz_<name>.cpp  a libFuzzer target on the native core, built with clang
#                      (AddressSanitizer, UndefinedBehaviorSanitizer) and all of cpp/core;
#     fuzz_<name>.py   an atheris target on the Python API, run by $PYTHON (python3 by
#                      default) against the developer build under src/ (tools/dev_build.sh).
#   Its seeds are in tests/fuzz/corpus/<name>/. Without targets, all run.
# The corpora grown by a run and any crash inputs stay under build/fuzz/.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-0}
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in tests/fuzz/fuzz_*.cpp tests/fuzz/fuzz_*.py; do
    name=$(basename "$source")
    name=${name#fuzz_}
    targets+=("${name%.*}")
  done
fi

out=build/fuzz
mkdir -p "$out"
for target in "${targets[@]}"; do
  if [ -f "tests/fuzz/fuzz_$target.py" ]; then
    run=(env PYTHONPATH=src "${PYTHON:-python3}" "tests/fuzz/fuzz_$target.py")
  else
    run=("$out/fuzz_$target")
    clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all \
      -Icpp/core -Itests/fuzz "tests/fuzz/fuzz_$target.cpp" cpp/core/*.cpp -o "${run[0]}"
  fi
  seeds=tests/fuzz/corpus/$target
  corpus=$out/corpus/$target
  crashes=$out/crashes/$target
  mkdir -p "$seeds" "$corpus" "$crashes"
  if [ "$seconds" -eq 0 ]; then
    "${run[@]}" -runs=0 -artifact_prefix="$crashes/" "$seeds"
  else
    echo "fuzzing $target for $seconds s"
    "${run[@]}" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$crashes/" \
      "$corpus" "$seeds"
  fi
done
