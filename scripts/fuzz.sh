#!/usr/bin/env bash
# scripts/fuzz.sh [SECONDS] [HARNESS...]
# Runs every fuzz harness (or those named) for SECONDS each (default 300), one after the other, in the
# fuzz build (build-fuzz/, clang). What they find is kept outside the tree: the grown corpus in
# build-fuzz/fuzz-corpus/NAME/, inputs that break a check in build-fuzz/fuzz-findings/NAME/. A finding
# becomes a regression case in the unit tests; the seeds in tests/fuzz/corpus stay small
# (scripts/fuzz-seeds.sh). Stops at the first harness that finds something.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}
shift || true
if ! command -v clang++ >/dev/null; then
    echo "fuzz.sh: clang++ is not installed (scripts/deps.sh installs it)" >&2
    exit 2
fi
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCORMAP_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j2 --target fuzzers
harnesses=("$@")
if ((${#harnesses[@]} == 0)); then
    for f in tests/fuzz/fuzz_*.cpp; do harnesses+=("$(basename "$f" .cpp)"); done
fi
for name in "${harnesses[@]}"; do
    echo "== $name: ${seconds} s =="
    tests/fuzz/run-fuzzer.sh "build-fuzz/tests/fuzz/$name" "$seconds" build-fuzz/fuzz-findings \
        "build-fuzz/fuzz-corpus/$name" 2>&1 | grep -E '^(#[0-9]+[[:space:]]+DONE|stat::|==[0-9]+==ERROR|SUMMARY|.*invariant broken)' || true
    if compgen -G "build-fuzz/fuzz-findings/$name/*" >/dev/null; then
        echo "$name found:" build-fuzz/fuzz-findings/"$name"/*
        exit 1
    fi
done
