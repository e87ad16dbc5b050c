#!/usr/bin/env bash
# Runs part K of N of a Qt Test program: every Nth of its test functions,
# starting at the Kth. A program that spends its time waiting on real-time
# playback runs in parts side by side; every function is in exactly one part.
set -euo pipefail
program=$1 part=$2 parts=$3
mapfile -t functions < <("$program" -functions | sed 's/()$//')
selected=()
for i in "${!functions[@]}"; do
    if (( i % parts == part )); then selected+=("${functions[$i]}"); fi
done
[ ${#selected[@]} -gt 0 ] || { echo "part $part of $parts of $program has no test functions"; exit 1; }
exec "$program" "${selected[@]}"
