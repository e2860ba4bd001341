#!/usr/bin/env bash
# WAV writing: CWavEncoder (from memory, host-sized blocks) against
#   ffmpeg -f s16le -i raw -c:a pcm_s16le out.wav
# on the same 16-bit stereo data, best of three runs each. Usage: run.sh BUILD_DIR [MIB]
set -euo pipefail
build=${1:?usage: run.sh BUILD_DIR [MIB]}
mib=${2:-256}
bench="$build/bin/bench_wav"
[ -x "$bench" ] || { echo "build bench_wav first (ninja -C $build bench_wav)" >&2; exit 1; }
command -v ffmpeg >/dev/null || { echo "ffmpeg is not installed" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/bench-wav-XXXXXX")
trap 'rm -rf "$work"' EXIT
head -c $((mib * 1024 * 1024)) /dev/urandom >"$work/in.raw"

best() { sort -g | head -n 1; }
ours=$(for _ in 1 2 3; do
    "$bench" "$work/in.raw" "$work/ours.wav" 16384 | sed -n 's/^seconds=\([0-9.]*\).*/\1/p'
    rm -f "$work/ours.wav"
done | best)
theirs=$(for _ in 1 2 3; do
    start=$(date +%s.%N)
    ffmpeg -nostdin -v error -y -f s16le -ar 44100 -ac 2 -i "$work/in.raw" -c:a pcm_s16le \
        "$work/ffmpeg.wav"
    end=$(date +%s.%N)
    awk -v s="$start" -v e="$end" 'BEGIN { print e - s }'
    rm -f "$work/ffmpeg.wav"
done | best)

awk -v mib="$mib" -v ours="$ours" -v theirs="$theirs" 'BEGIN {
    printf "data: %d MiB of 16-bit stereo PCM\n", mib
    printf "CWavEncoder: %.3f s (%.0f MiB/s)\n", ours, mib / ours
    printf "ffmpeg:      %.3f s (%.0f MiB/s, process start and reading the file included)\n", theirs, mib / theirs
    printf "ratio ffmpeg/ours: %.2f (above 1: we are faster)\n", theirs / ours
}'
