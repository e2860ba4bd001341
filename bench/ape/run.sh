#!/usr/bin/env bash
# Monkey's Audio: our encoder, driven through the plug-in interface in 64 KiB buffers, against
# the Java encoder of Debian's JMAC (jmac c1..c4), on the same generated 10-minute stereo 16-bit
# input, in the same run. Prints encoding speed (x real time, whole process, best of the
# repeats) and compressed size per level, and our ratios to JMAC.
#
#   bench/ape/run.sh BUILD_DIR [REPEATS]     (REPEATS defaults to 3)
set -euo pipefail

build=${1:?usage: run.sh BUILD_DIR [REPEATS]}
repeats=${2:-3}
bench=$build/bin/ape_bench
for tool in "$bench" ffmpeg jmac; do
    command -v "$tool" >/dev/null || { echo "run.sh: $tool is missing" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
seconds=600

# Music-like input: two voices of drifting tones per channel over a little pink noise.
ffmpeg -nostdin -v error -f lavfi \
    -i "aevalsrc=exprs=0.22*sin(2*PI*(220+30*sin(0.21*t))*t)+0.14*sin(2*PI*(330+9*sin(0.13*t))*t)*sin(0.5*t)|0.2*sin(2*PI*(223+28*sin(0.19*t))*t)+0.15*sin(2*PI*(441+7*sin(0.17*t))*t)*cos(0.4*t):s=44100:d=$seconds" \
    -f lavfi -i "anoisesrc=color=pink:amplitude=0.04:seed=7:sample_rate=44100:duration=$seconds" \
    -filter_complex "[1]pan=stereo|c0=c0|c1=c0[n];[0][n]amix=inputs=2:normalize=0" \
    -c:a pcm_s16le "$work/input.wav"
ffmpeg -nostdin -v error -i "$work/input.wav" -f s16le "$work/input.raw"
reference=$(md5sum <"$work/input.raw" | cut -d' ' -f1)

now() { date +%s.%N; }
# Best wall time of REPEATS runs of a command that writes OUTPUT (deleted before each run: jmac
# writes into an existing file without truncating it).
best_time() {
    local output=$1 best="" start end t
    shift
    for ((i = 0; i < repeats; i++)); do
        rm -f "$output"
        start=$(now)
        "$@" >/dev/null 2>&1
        end=$(now)
        t=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')
        if [ -z "$best" ] || awk -v t="$t" -v b="$best" 'BEGIN { exit !(t < b) }'; then best=$t; fi
    done
    echo "$best"
}

echo "Monkey's Audio: 10 min stereo 16-bit 44.1 kHz ($(stat -c %s "$work/input.raw") PCM bytes), best of $repeats"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores"
printf '%-6s %12s %12s %8s %12s %12s %8s\n' level "ours x rt" "jmac x rt" speed "ours bytes" "jmac bytes" size
for n in 1 2 3 4; do
    level=$((n * 1000))
    ours=$(best_time "$work/ours.ape" "$bench" "$work/input.raw" "$work/ours.ape" $level 2 44100 16)
    theirs=$(best_time "$work/jmac.ape" jmac "c$n" "$work/input.wav" "$work/jmac.ape")
    decoded=$(ffmpeg -nostdin -v error -err_detect crccheck -i "$work/ours.ape" -f s16le - | md5sum | cut -d' ' -f1)
    [ "$decoded" = "$reference" ] || { echo "level $level: our file does not decode to the input" >&2; exit 1; }
    ours_bytes=$(stat -c %s "$work/ours.ape")
    jmac_bytes=$(stat -c %s "$work/jmac.ape")
    awk -v l=$level -v s=$seconds -v o="$ours" -v t="$theirs" -v ob="$ours_bytes" -v tb="$jmac_bytes" \
        'BEGIN { printf "%-6s %12.1f %12.1f %7.2fx %12d %12d %8.4f\n", l, s / o, s / t, t / o, ob, tb, ob / tb }'
done
echo "load after:  $(cut -d' ' -f1-3 /proc/loadavg)"
echo "speed = JMAC time / our time (higher is faster); size = our bytes / JMAC bytes"
