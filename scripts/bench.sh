#!/usr/bin/env bash
# Runs every benchmark program of a build directory.
set -euo pipefail
dir=${1:-build}
for b in "$dir"/bench/bench_*; do
    [ -x "$b" ] || continue
    echo "== $(basename "$b")"
    "$b"
done
