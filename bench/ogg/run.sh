#!/usr/bin/env bash
# zrenc with a program-fed encoder against the program alone, each reading the same WAV file
# itself, in one run: `zrenc -e ogg` against `oggenc -q 5`, or `zrenc -e mpc` against
# `mpcenc --standard` (bench/mpc/run.sh), both at the encoder's default quality. Prints both
# wall times and their ratio (program / zrenc: 1.0 is as fast; the target is at least 0.97).
#   bench/ogg/run.sh BUILD_DIR [SECONDS=300] [ENCODER=ogg]
set -euo pipefail
build=$(cd "${1:?usage: $0 BUILD_DIR [SECONDS] [ENCODER]}" && pwd)
seconds=${2:-300}
encoder=${3:-ogg}
cmake --build "$build" --target zrenc zrencoders ZrTools >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TESSARY_HOME="$work/home" # zrenc's settings store stays here

case "$encoder" in
ogg) program=(oggenc -Q -q 5 "$work/in.wav" -o "$work/program.ogg") ;;
mpc) program=(mpcenc --silent --overwrite --standard "$work/in.wav" "$work/program.mpc") ;;
*) echo "ENCODER is ogg or mpc" >&2; exit 2 ;;
esac

# Two tone sweeps with pink noise under them: music-like work for a perceptual coder.
sox -n -r 44100 -b 16 -c 2 "$work/tones.wav" synth "$seconds" sine 110:1760 sine 165:2640 vol 0.35
sox -n -r 44100 -b 16 -c 2 "$work/noise.wav" synth "$seconds" pinknoise vol 0.12 tremolo 0.7 50
sox -m "$work/tones.wav" "$work/noise.wav" "$work/in.wav"
rm "$work/tones.wav" "$work/noise.wav"
cat "$work/in.wav" >/dev/null
"$build/bin/zrenc" --register >/dev/null

wall() {
    local TIMEFORMAT='%R' t
    t=$({ time "$@" >/dev/null 2>&1; } 2>&1)
    echo "$t"
}
program_time=$(wall "${program[@]}")
zrenc_time=$(wall "$build/bin/zrenc" -e "$encoder" -q -f -o "$work/zrenc.$encoder" "$work/in.wav")

# Both files must decode to the whole input.
for file in "$work/program.$encoder" "$work/zrenc.$encoder"; do
    ffmpeg -nostdin -v error -i "$file" -f null - </dev/null
done
echo "input: ${seconds} s, stereo, 16-bit, 44100 Hz; one run each"
printf '%-28s wall %8s s   %10s bytes\n' "${program[0]} (alone)" "$program_time" \
    "$(stat -c %s "$work/program.$encoder")"
printf '%-28s wall %8s s   %10s bytes\n' "zrenc -e $encoder" "$zrenc_time" \
    "$(stat -c %s "$work/zrenc.$encoder")"
awk -v p="$program_time" -v z="$zrenc_time" -v name="${program[0]}" 'BEGIN {
    printf "speed ratio, wall (%s / zrenc): %.3f  (target >= 0.97)\n", name, p / z }'
