#!/usr/bin/env bash
# Regenerates the seed corpus of the fuzz harnesses (tests/fuzz/corpus/) from frames and files the
# project's own code writes. Needs clang (the fuzz build, build-fuzz/).
set -euo pipefail
cd "$(dirname "$0")/.."
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCORMAP_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j2 --target fuzz_seeds
rm -rf tests/fuzz/corpus
ASAN_OPTIONS=detect_leaks=0 build-fuzz/tests/fuzz/fuzz_seeds tests/fuzz/corpus
du -sh tests/fuzz/corpus
