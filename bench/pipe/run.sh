#!/usr/bin/env bash
# The encoder pipe: generated 16-bit stereo PCM (10 minutes by default) written through
# CEncoderPipe into /bin/cat, against `cat FILE >/dev/null` on the same bytes and against what
# `lame -V 4` spends on the same audio. Usage: run.sh BUILD_DIR [SECONDS] [BLOCK_BYTES]
set -euo pipefail
build=${1:?usage: run.sh BUILD_DIR [SECONDS] [BLOCK_BYTES]}
bench="$build/bin/bench_pipe"
[ -x "$bench" ] || { echo "build bench_pipe first (ninja -C $build bench_pipe)" >&2; exit 1; }
command -v lame >/dev/null || { echo "lame is not installed" >&2; exit 1; }
"$bench" "${2:-600}" "${3:-131072}"
