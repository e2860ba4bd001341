#!/usr/bin/env bash
# Our FLAC encoder against the flac program on a generated 10-minute stereo 16-bit input.
#   bench/flac/run.sh BUILD_DIR [SECONDS=600] [RUNS=3] [LEVEL=6]
set -euo pipefail
build=${1:?usage: $0 BUILD_DIR [SECONDS] [RUNS] [LEVEL]}
cmake --build "$build" --target zr_flac_bench >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bin/zr_flac_bench" "$work" "${2:-600}" "${3:-3}" "${4:-6}"
