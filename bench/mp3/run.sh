#!/usr/bin/env bash
# `zrenc -e mp3` (VBR Normal) against the lame program with the same switches, reading the same
# generated 10-minute stereo 16-bit WAV file, one run each:
#   bench/mp3/run.sh BUILD_DIR [SECONDS=600]
# Prints the ratios of wall time, of total processor time (user + system, children included:
# zrenc's own and its lame child's) and of the output sizes. A speed ratio above 1: zrenc is
# faster.
set -euo pipefail
build=$(realpath "${1:?usage: $0 BUILD_DIR [SECONDS]}")
seconds=${2:-600}
here=$(cd "$(dirname "$0")" && pwd)
zrenc=$build/bin/zrenc
[ -x "$zrenc" ] || { echo "missing $zrenc" >&2; exit 1; }
command -v lame >/dev/null || { echo "needs the lame program" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TESSARY_HOME=$work/home
"$zrenc" --register >/dev/null
"$here/../zrenc/make-signal.sh" "$work/input.wav" "$seconds"

# command... -> "wall cpu" in seconds; cpu counts every child the command waited for.
measure() {
    local TIMEFORMAT='%R %U %S'
    { time "$@" >/dev/null 2>&1; } 2>&1 | awk '{ print $1, $2 + $3 }'
}

read -r zw zc < <(measure "$zrenc" -e mp3 -s 'Mode=1|CommandLine=-V%204%20--vbr-new' -q -f -j 1 \
    -o "$work/zrenc.mp3" "$work/input.wav")
read -r lw lc < <(measure lame -S -V 4 --vbr-new "$work/input.wav" "$work/lame.mp3")
zs=$(stat -c %s "$work/zrenc.mp3")
ls=$(stat -c %s "$work/lame.mp3")
printf '%-26s %9s %9s %12s\n' "" "wall" "cpu" "bytes"
printf '%-26s %8.3fs %8.3fs %12d\n' "zrenc -e mp3 (VBR Normal)" "$zw" "$zc" "$zs"
printf '%-26s %8.3fs %8.3fs %12d\n' "lame -V 4 --vbr-new" "$lw" "$lc" "$ls"
awk -v zw="$zw" -v lw="$lw" -v zc="$zc" -v lc="$lc" -v zs="$zs" -v ls="$ls" 'BEGIN {
    printf "speed ratio (lame / zrenc): wall %.3f, cpu %.3f; size ratio (zrenc / lame) %.5f\n",
        lw / zw, lc / zc, zs / ls }'
