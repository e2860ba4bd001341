#!/usr/bin/env bash
# Our FLAC encoder against the flac program on a generated 10-minute stereo 16-bit input.
#   bench/flac/run.sh BUILD_DIR [SECONDS=600] [RUNS=3] [LEVEL=6]
# The speed ratio compares CPU time (user + system): on a shared machine wall time mostly
# measures the neighbours. When the build has zrenc, the whole host is timed as well.
set -euo pipefail
build=$(realpath "${1:?usage: $0 BUILD_DIR [SECONDS] [RUNS] [LEVEL]}")
seconds=${2:-600} runs=${3:-3} level=${4:-6}
cmake --build "$build" --target zr_flac_bench >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bin/zr_flac_bench" "$work" "$seconds" "$runs" "$level"

if [ -x "$build/bin/zrenc" ]; then
    # zrenc decodes its input with FFmpeg, so both sides read the same WAV file here.
    ffmpeg -nostdin -v error -f s16le -ar 44100 -ac 2 -i "$work/input.raw" "$work/input.wav"
    cpu() { # command... -> user+system seconds of its children
        local TIMEFORMAT='%U %S'
        { time "$@" >/dev/null 2>&1; } 2>&1 | awk '{ print $1 + $2 }'
    }
    best_zrenc=999999 best_flac=999999
    for _ in $(seq "$runs"); do
        z=$(XDG_CONFIG_HOME="$work/config" cpu "$build/bin/zrenc" -e flac -s "Quality=$level" \
            -q -f -j 1 -o "$work/zrenc.flac" "$work/input.wav")
        f=$(cpu flac "-$level" -s -f -o "$work/wav.flac" "$work/input.wav")
        best_zrenc=$(awk -v a="$best_zrenc" -v b="$z" 'BEGIN { print (b < a ? b : a) }')
        best_flac=$(awk -v a="$best_flac" -v b="$f" 'BEGIN { print (b < a ? b : a) }')
    done
    awk -v z="$best_zrenc" -v f="$best_flac" \
        -v zs="$(stat -c %s "$work/zrenc.flac")" -v fs="$(stat -c %s "$work/wav.flac")" \
        'BEGIN { printf "zrenc -e flac: %.3f s cpu, flac: %.3f s cpu; speed ratio %.3f, size ratio %.4f\n", z, f, f / z, zs / fs }'
fi
