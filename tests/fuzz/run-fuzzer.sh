#!/usr/bin/env bash
# run-fuzzer.sh HARNESS SECONDS FINDINGS_DIR [WORK_CORPUS]
# Runs one libFuzzer harness from its seed corpus (tests/fuzz/corpus/NAME) for SECONDS, with the options
# of tests/fuzz/NAME.options if there is one (libFuzzer flags, one a line). New inputs go to
# WORK_CORPUS (a temporary directory unless given), never into the seeds kept in the tree; an input that
# breaks a check or trips a sanitizer is kept in FINDINGS_DIR/NAME/ and fails the run.
set -euo pipefail
harness=$1 seconds=$2 findings=$3 work=${4:-}
name=$(basename "$harness")
here=$(cd "$(dirname "$0")" && pwd)
seeds=$here/corpus/$name
mkdir -p "$findings/$name"
if [ -z "$work" ]; then
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work"
options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
         -artifact_prefix="$findings/$name/")
[ -f "$here/$name.dict" ] && options+=(-dict="$here/$name.dict")
if [ -f "$here/$name.options" ]; then
    while read -r option || [ -n "$option" ]; do
        case $option in
        '' | '#'*) ;;
        *) options+=("$option") ;;
        esac
    done <"$here/$name.options"
fi
export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
exec "$harness" "${options[@]}" "$work" "$seeds"
