#!/usr/bin/env bash
# Verified FLAC encoding: `zrenc -e flac --verify` against `flac -6 --verify` on the same
# generated 10-minute input (16-bit stereo, 44.1 kHz WAV), best of RUNS each, wall and CPU time
# (user + system, children included) as ratios: above 1, zrenc is faster. The target is at
# least 0.95. zrenc without --verify is timed too, to show what verifying costs.
#   bench/verify/run.sh BUILD_DIR [SECONDS=600] [RUNS=3]
set -euo pipefail
build=$(realpath "${1:?usage: $0 BUILD_DIR [SECONDS] [RUNS]}")
seconds=${2:-600} runs=${3:-3}
here=$(cd "$(dirname "$0")" && pwd)
zrenc=$build/bin/zrenc
[ -x "$zrenc" ] || { echo "missing $zrenc" >&2; exit 1; }
command -v flac >/dev/null || { echo "missing the flac program" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TESSARY_HOME=$work/home
"$here/../zrenc/make-signal.sh" "$work/input.wav" "$seconds"

# Prints "wall cpu" seconds of one run of the command; fails when the command does.
timed() {
    local TIMEFORMAT='%R %U %S' report
    report=$({ time "$@" >/dev/null 2>"$work/errors"; } 2>&1) ||
        { echo "failed: $* ($(cat "$work/errors"))" >&2; exit 1; }
    echo "$report" | awk '{ print $1, $2 + $3 }'
}

# Prints the smallest wall time and the smallest CPU time of RUNS runs.
best() {
    local all=""
    for _ in $(seq "$runs"); do
        all+="$(timed "$@")"$'\n'
    done
    echo "$all" | awk 'NF { if (!w || $1 < w) w = $1; if (!c || $2 < c) c = $2 } END { print w, c }'
}

read -r fw fc < <(best flac -6 --verify -s -f -o "$work/flac.flac" "$work/input.wav")
read -r vw vc < <(best "$zrenc" -q -f -j 1 -e flac --verify -o "$work/zrenc.flac" \
    "$work/input.wav")
read -r zw zc < <(best "$zrenc" -q -f -j 1 -e flac -o "$work/plain.flac" "$work/input.wav")

echo "FLAC level 6 with verification, $seconds s of 16-bit stereo, best of $runs"
printf '  %-26s %9s %9s\n' run wall cpu
printf '  %-26s %8.2fs %8.2fs\n' "flac -6 --verify" "$fw" "$fc" \
    "zrenc -e flac --verify" "$vw" "$vc" "zrenc -e flac" "$zw" "$zc"
awk -v fw="$fw" -v fc="$fc" -v vw="$vw" -v vc="$vc" -v zw="$zw" -v zc="$zc" 'BEGIN {
    printf "  speed of zrenc --verify relative to flac --verify: wall %.2f, cpu %.2f (target 0.95)\n",
        fw / vw, fc / vc
    printf "  cost of --verify in zrenc: wall %+.0f%%, cpu %+.0f%%\n",
        100 * (vw / zw - 1), 100 * (vc / zc - 1)
}'
