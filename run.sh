#!/usr/bin/env bash
# Installs what is missing and builds; then, with arguments, runs zrenc with them:
#   ./run.sh -e flac song.wav        (./run.sh --help shows every option)
# Without arguments: a demo. A 30-second music-like signal is encoded by every available
# encoder, and a table shows each output's size, compression and speed, with a check:
# lossless outputs are decoded by ffmpeg and compared sample by sample.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh build
cmake -S . -B build/run -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZR_TESTS=OFF \
    -DZR_BENCH=OFF >/dev/null
cmake --build build/run -j "$(nproc)"
zrenc=$PWD/build/run/bin/zrenc
if [ $# -gt 0 ]; then
    exec "$zrenc" "$@"
fi

# ---- the demo ------------------------------------------------------------------------------
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A settings home of its own: the demo shows every encoder with its default settings.
export TESSARY_HOME=$work/home
seconds=30
echo "Making a ${seconds}-second demo signal (stereo, 44.1 kHz, 16-bit)..."
bench/zrenc/make-signal.sh "$work/demo.wav" "$seconds"
ffmpeg -nostdin -v error -i "$work/demo.wav" -f s16le -c:a pcm_s16le "$work/demo.raw"
input_bytes=$(stat -c %s "$work/demo.wav")

now() { date +%s.%N; }

# The rows of `zrenc --list` (columns are two or more spaces apart): index, short name,
# display name, extension, configurable, streaming, lossless, available.
# An encoder without an extension (the external one, unconfigured) has one column fewer.
rows=$("$zrenc" --list | awk -F '  +' '/^ *[0-9]+  / && NF >= 7 {
    sub(/^ +/, "", $1); print $1 "\t" $2 "\t" $3 "\t" $(NF - 1) "\t" $NF }')

echo
printf '%-36s %12s %8s %9s  %s\n' Encoder Output Ratio Speed Check
printf '%-36s %12s %8s %9s  %s\n' "-------" "------" "-----" "-----" "-----"
printf '%-36s %12s %8s %9s  %s\n' "(input: demo.wav)" "$input_bytes" "100.0%" "" ""
while IFS=$'\t' read -r index short name lossless available; do
    if [ "$available" != yes ]; then
        printf '%-36s %12s %8s %9s  %s\n' "$name" - - - "not available"
        continue
    fi
    out=$work/out/$short
    start=$(now)
    if ! log=$("$zrenc" -q -e "$short" -d "$out" "$work/demo.wav" 2>&1); then
        printf '%-36s %12s %8s %9s  %s\n' "$name" - - - "FAILED: ${log#zrenc: }"
        continue
    fi
    elapsed=$(awk -v a="$start" -v b="$(now)" 'BEGIN { print b - a }')
    bytes=$(du -cb "$out"/* | tail -n 1 | cut -f1)
    main=$(ls "$out"/demo.* | head -n 1)
    ratio=$(awk -v o="$bytes" -v i="$input_bytes" 'BEGIN { printf "%.1f%%", 100 * o / i }')
    speed=$(awk -v s="$seconds" -v e="$elapsed" 'BEGIN { printf "%.0fx", s / e }')
    if [ "$lossless" = yes ]; then
        if ffmpeg -nostdin -v error -i "$main" -map 0:a:0 -f s16le -c:a pcm_s16le \
            "$work/decoded.raw" -y && cmp -s "$work/demo.raw" "$work/decoded.raw"; then
            check=bit-exact
        else
            check=MISMATCH
        fi
    elif ffmpeg -nostdin -v error -i "$main" -map 0:a:0 -f null - 2>/dev/null; then
        check=decodes
    else
        check="DOES NOT DECODE"
    fi
    printf '%-36s %12s %8s %9s  %s\n' "$name" "$bytes" "$ratio" "$speed" "$check"
done <<<"$rows"
echo
echo "Speed includes starting zrenc and decoding the input. ./run.sh --help shows how to"
echo "encode your own files."
