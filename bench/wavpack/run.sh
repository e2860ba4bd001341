#!/usr/bin/env bash
# Our WavPack encoder (normal lossless mode) against the wavpack program with the matching
# options, on a generated stereo 16-bit input, measured in the same run. Each side is timed as a
# whole process (read the input, encode, write the file); the best of RUNS alternating rounds
# counts. The speed ratio is taken on processor time (user + system), which the other jobs on a
# shared machine disturb far less than wall time; wall times are shown beside it. Also times `zrenc -e wavpack` when the build has it.
#   bench/wavpack/run.sh BUILD_DIR [SECONDS=600] [RUNS=3]
set -euo pipefail
build=$(cd "${1:?usage: $0 BUILD_DIR [SECONDS] [RUNS]}" && pwd)
seconds=${2:-600}
runs=${3:-3}
cmake --build "$build" --target zr_wavpack_bench >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Input: two tone sweeps over the whole length with pink noise under them, so the coder has
# both predictable and unpredictable signal to work on.
sox -n -r 44100 -b 16 -c 2 "$work/tones.wav" synth "$seconds" sine 110:1760 sine 165:2640 vol 0.35
sox -n -r 44100 -b 16 -c 2 "$work/noise.wav" synth "$seconds" pinknoise vol 0.12 tremolo 0.7 50
sox -m "$work/tones.wav" "$work/noise.wav" "$work/in.wav"
sox "$work/in.wav" -t raw "$work/in.raw"
rm "$work/tones.wav" "$work/noise.wav"

# "WALL CPU" seconds of one command (CPU = user + system).
timed() {
    local TIMEFORMAT='%R %U %S' t
    t=$({ time "$@" >/dev/null 2>&1; } 2>&1)
    awk '{ printf "%.3f %.3f", $1, $2 + $3 }' <<<"$t"
}
# The smaller of two "WALL CPU" pairs, field by field ("" counts as infinite).
best() {
    awk -v a="$1" -v b="$2" 'BEGIN {
        if (a == "") { print b; exit }
        split(a, x, " "); split(b, y, " ")
        printf "%s %s", (y[1] < x[1] ? y[1] : x[1]), (y[2] < x[2] ? y[2] : x[2]) }'
}

zrenc="$build/bin/zrenc"
[ -x "$zrenc" ] || zrenc=""
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" # zrenc's store stays here

ours="" program="" host=""
for ((round = 1; round <= runs; round++)); do
    ours=$(best "$ours" "$(timed "$build/bin/zr_wavpack_bench" "$work/in.raw" 2 44100 16 "$work/ours.wv")")
    # Normal mode is the program's default: no -f, -h, -hh or -x.
    program=$(best "$program" "$(timed wavpack -q -y "$work/in.wav" -o "$work/program.wv")")
    if [ -n "$zrenc" ]; then
        host=$(best "$host" "$(timed "$zrenc" -e wavpack -q -f -o "$work/zrenc.wv" "$work/in.wav")")
    fi
done

# Our file must be a valid, bit-exact copy of the input.
wvunpack -q -v "$work/ours.wv"
wvunpack -q -y -r "$work/ours.wv" -o "$work/ours.raw"
cmp "$work/ours.raw" "$work/in.raw"

input_bytes=$(stat -c %s "$work/in.raw")
ours_bytes=$(stat -c %s "$work/ours.wv")
program_bytes=$(stat -c %s "$work/program.wv")
echo "input: ${seconds} s, stereo, 16-bit, 44100 Hz ($input_bytes bytes); best of $runs rounds"
row() { read -r wall cpu <<<"$2"; printf '%-18s wall %8s s   cpu %8s s   %12s bytes\n' "$1" "$wall" "$cpu" "$3"; }
row "zr_wavpack_bench" "$ours" "$ours_bytes"
row "wavpack (normal)" "$program" "$program_bytes"
if [ -n "$zrenc" ]; then
    row "zrenc -e wavpack" "$host" "$(stat -c %s "$work/zrenc.wv")"
fi
awk -v o="$ours" -v p="$program" -v ob="$ours_bytes" -v pb="$program_bytes" 'BEGIN {
    split(o, x, " "); split(p, y, " ")
    printf "speed ratio, cpu  (wavpack / ours): %.3f  (target >= 0.95)\n", y[2] / x[2]
    printf "speed ratio, wall (wavpack / ours): %.3f\n", y[1] / x[1]
    printf "size ratio (ours / wavpack):        %.5f (target within 0.5 %%)\n", ob / pb
}'
if [ -n "$zrenc" ]; then
    awk -v h="$host" -v p="$program" 'BEGIN { split(h, x, " "); split(p, y, " ")
        printf "zrenc speed ratio, cpu (wavpack / zrenc): %.3f\n", y[2] / x[2] }'
fi
