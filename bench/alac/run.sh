#!/usr/bin/env bash
# Our Apple Lossless encoder against ffmpeg's, on the same generated stereo 16-bit input, in the
# same run; then the peak memory of our encoder on a 60-minute input.
#   bench/alac/run.sh BUILD_DIR [SECONDS=600] [RUNS=3] [LONG_SECONDS=3600]
# Speed compares CPU time (user + system, best of RUNS): on a shared machine wall time mostly
# measures the neighbours; the wall times are printed as well. Ratios above 1 mean we are faster.
set -euo pipefail
build=$(realpath "${1:?usage: $0 BUILD_DIR [SECONDS] [RUNS] [LONG_SECONDS]}")
seconds=${2:-600} runs=${3:-3} long=${4:-3600}
cmake --build "$build" --target zr_alac_bench >/dev/null
bench="$build/bin/zr_alac_bench"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

measure() { # command... -> "cpu wall peak_kib" of the command
    /usr/bin/time -f '%U %S %e %M' -o "$work/time" "$@" >/dev/null 2>"$work/err" ||
        { cat "$work/err" >&2; exit 1; }
    awk '{ printf "%.3f %.3f %d\n", $1 + $2, $3, $4 }' "$work/time"
}
best() { # the line with the smallest first field
    sort -n -k1,1 | head -n 1
}

"$bench" generate "$work/in.raw" "$seconds"
echo "input: $seconds s stereo 16-bit 44100 Hz ($(stat -c %s "$work/in.raw") bytes)"
for _ in $(seq "$runs"); do
    measure "$bench" encode "$work/in.raw" "$work/ours.m4a" >>"$work/ours"
    measure ffmpeg -nostdin -v error -y -f s16le -ar 44100 -ac 2 -i "$work/in.raw" \
        -c:a alac "$work/ffmpeg.m4a" >>"$work/ffmpeg"
done
read -r our_cpu our_wall our_peak < <(best <"$work/ours")
read -r ff_cpu ff_wall ff_peak < <(best <"$work/ffmpeg")
our_size=$(stat -c %s "$work/ours.m4a") ff_size=$(stat -c %s "$work/ffmpeg.m4a")

# Both files must hold the same samples as the input.
for f in ours ffmpeg; do
    ffmpeg -nostdin -v error -i "$work/$f.m4a" -f s16le -c:a pcm_s16le "$work/$f.raw"
    cmp -s "$work/in.raw" "$work/$f.raw" || { echo "$f.m4a does not decode to the input" >&2; exit 1; }
done

echo "zr_alac_bench encode: cpu ${our_cpu} s, wall ${our_wall} s, peak ${our_peak} KiB, ${our_size} bytes"
echo "ffmpeg -c:a alac:     cpu ${ff_cpu} s, wall ${ff_wall} s, peak ${ff_peak} KiB, ${ff_size} bytes"
awk -v oc="$our_cpu" -v fc="$ff_cpu" -v ow="$our_wall" -v fw="$ff_wall" -v os="$our_size" \
    -v fs="$ff_size" 'BEGIN {
        printf "speed ratio (ffmpeg cpu / ours): %.3f  (wall: %.3f)\n", fc / oc, fw / ow
        printf "size ratio (ours / ffmpeg): %.4f\n", os / fs }'

if [ -x "$build/bin/zrenc" ]; then
    ffmpeg -nostdin -v error -f s16le -ar 44100 -ac 2 -i "$work/in.raw" "$work/in.wav"
    for _ in $(seq "$runs"); do
        XDG_CONFIG_HOME="$work/config" measure "$build/bin/zrenc" -e alac -q -f -j 1 -o \
            "$work/zrenc.m4a" "$work/in.wav" >>"$work/zrenc" || break
        measure ffmpeg -nostdin -v error -y -i "$work/in.wav" -c:a alac "$work/wav.m4a" \
            >>"$work/ffwav"
    done
    if [ -s "$work/zrenc" ]; then
        read -r z_cpu _ _ < <(best <"$work/zrenc")
        read -r w_cpu _ _ < <(best <"$work/ffwav")
        awk -v z="$z_cpu" -v f="$w_cpu" -v zs="$(stat -c %s "$work/zrenc.m4a")" \
            -v fs="$(stat -c %s "$work/wav.m4a")" 'BEGIN {
            printf "zrenc -e alac: cpu %.3f s, ffmpeg on the WAV: cpu %.3f s; speed ratio %.3f, size ratio %.4f\n",
                z, f, f / z, zs / fs }'
    fi
fi

rm -f "$work"/*.raw "$work"/*.m4a "$work"/*.wav
"$bench" generate "$work/long.raw" "$long"
read -r long_cpu long_wall long_peak < <(measure "$bench" encode "$work/long.raw" "$work/long.m4a")
echo "$long s input: peak ${long_peak} KiB ($(awk -v k="$long_peak" 'BEGIN { printf "%.1f", k / 1024 }') MiB), cpu ${long_cpu} s, $(stat -c %s "$work/long.m4a") bytes"
