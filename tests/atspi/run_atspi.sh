#!/bin/bash
# Runs atspi_check.py on a private X server (Xvfb) and a private session bus with the AT-SPI bus.
# Usage: run_atspi.sh <atspi_windows program> <check script> <language>. Exit 77 (skipped) when Xvfb,
# dbus-run-session or pyatspi is missing.
set -u
program=$1 script=$2 language=$3
for tool in Xvfb dbus-run-session python3; do
    command -v "$tool" >/dev/null || { echo "$tool is not installed: skipped"; exit 77; }
done
# The distribution's Python carries pyatspi; a Python of one's own ahead of it on PATH may not.
python=
for candidate in python3 /usr/bin/python3; do
    if "$candidate" -c 'import pyatspi' 2>/dev/null; then
        python=$candidate
        break
    fi
done
[ -n "$python" ] || { echo "pyatspi is not installed: skipped"; exit 77; }
work=$(mktemp -d)
trap 'kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; rm -rf "$work"' EXIT
Xvfb -displayfd 5 -nolisten tcp -screen 0 1600x1200x24 5>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
[ -s "$work/display" ] || { echo "Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=":$(tr -d '\n' <"$work/display")"
export XDG_RUNTIME_DIR="$work"
dbus-run-session -- "$python" "$script" "$program" "$language"
