#!/usr/bin/env bash
# zrenc's speed and memory, measured against ffmpeg in the same run:
#   bench/zrenc/run.sh BUILD_DIR
# 1. Speed: a 10-minute input (16-bit stereo, 44.1 kHz, WAV and FLAC) decoded and written as
#    16-bit WAV by `zrenc -e wav` and by `ffmpeg -c:a pcm_s16le`; best of three runs each,
#    printed as a ratio (above 1: zrenc is faster).
# 2. Memory: zrenc's peak resident memory on a 10-minute and a 60-minute input; streaming
#    means the two are about the same (the goal: under 64 MiB).
# BUILD_DIR needs bin/zrenc, lib/ and bin/zrenc_peakrss (a build with -DZR_BENCH=ON).
set -euo pipefail
usage="bench/zrenc/run.sh BUILD_DIR"
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=bench/zrenc/setup.sh
source "$here/../zrenc/setup.sh"

# Prints the smallest wall-clock time and the smallest processor time of three runs.
best_of_three() {
    local runs=""
    for _ in 1 2 3; do
        runs+="$(measure "$@")"$'\n'
    done
    echo "$runs" | awk 'NF { if (!w || $1 < w) w = $1; if (!c || $2 < c) c = $2 }
                        END { print w, c }'
}

echo "Generating inputs..."
"$here/make-signal.sh" "$work/ten.wav" 600
ffmpeg -nostdin -v error -y -i "$work/ten.wav" -c:a flac "$work/ten.flac"
"$here/make-signal.sh" "$work/sixty.wav" 3600

echo
echo "Speed: 10 minutes to 16-bit WAV, best of three (a ratio above 1: zrenc is faster)"
printf '  %-6s %10s %10s %8s   %12s %12s %8s\n' input "zrenc" "ffmpeg" "ratio" \
    "zrenc cpu" "ffmpeg cpu" "ratio"
for input in ten.wav ten.flac; do
    read -r zw zc < <(best_of_three "$zrenc" -q -f -e wav -o "$work/out-zrenc.wav" "$work/$input")
    read -r fw fc < <(best_of_three ffmpeg -nostdin -v error -y -i "$work/$input" \
        -c:a pcm_s16le "$work/out-ffmpeg.wav")
    for out in out-zrenc out-ffmpeg; do
        ffmpeg -nostdin -v error -y -i "$work/$out.wav" -f s16le "$work/$out.raw"
    done
    cmp -s "$work/out-zrenc.raw" "$work/out-ffmpeg.raw" ||
        echo "  note: the two outputs' samples differ for $input" >&2
    printf '  %-6s %9.3fs %9.3fs %7.2fx   %11.3fs %11.3fs %7.2fx\n' "${input#ten.}" \
        "$zw" "$fw" "$(awk -v z="$zw" -v f="$fw" 'BEGIN { print f / z }')" \
        "$zc" "$fc" "$(awk -v z="$zc" -v f="$fc" 'BEGIN { print f / z }')"
done

echo
echo "Memory: zrenc's peak resident memory"
printf '  %-24s %10s %10s\n' run "10 min" "60 min"
for encoder in wav flac; do
    ten=$(measure "$zrenc" -q -f -e "$encoder" -o "$work/out.$encoder" "$work/ten.wav" |
        cut -d' ' -f3)
    sixty=$(measure "$zrenc" -q -f -e "$encoder" -o "$work/out.$encoder" "$work/sixty.wav" |
        cut -d' ' -f3)
    printf '  %-24s %6d KiB %6d KiB\n' "zrenc -e $encoder" "$ten" "$sixty"
done
