#!/usr/bin/env bash
# Windows Media at 192 kbps CBR, zrenc against ffmpeg in the same run:
#   bench/wma/run.sh BUILD_DIR
# One 10-minute music-like input (16-bit stereo, 44.1 kHz WAV), encoded once by
# `zrenc -e wma` (profile 192cbr.xml) and once by `ffmpeg -c:a wmav2 -b:a 192k`; prints the
# times, the speed ratio (above 1: zrenc is faster) and the size difference.
# BUILD_DIR needs bin/zrenc, bin/zrenc_peakrss and lib/ with Plugins/WMAProfiles.
set -euo pipefail
usage="bench/wma/run.sh BUILD_DIR"
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=bench/zrenc/setup.sh
source "$here/../zrenc/setup.sh"

echo "Generating a 10-minute input..."
"$here/../zrenc/make-signal.sh" "$work/ten.wav" 600

read -r zw zc _ < <(measure "$zrenc" -q -f -e wma -s "Mode=0|CBR Bitrate=5" \
    -o "$work/zrenc.wma" "$work/ten.wav")
read -r fw fc _ < <(measure ffmpeg -nostdin -v error -y -i "$work/ten.wav" -c:a wmav2 -b:a 192k \
    "$work/ffmpeg.wma")
zs=$(stat -c %s "$work/zrenc.wma")
fs=$(stat -c %s "$work/ffmpeg.wma")

echo
echo "Windows Media 192 kbps CBR, 10 minutes, one run each"
printf '  %-8s %10s %10s %12s\n' "" "wall" "cpu" "bytes"
printf '  %-8s %9.3fs %9.3fs %12d\n' zrenc "$zw" "$zc" "$zs"
printf '  %-8s %9.3fs %9.3fs %12d\n' ffmpeg "$fw" "$fc" "$fs"
awk -v zw="$zw" -v fw="$fw" -v zc="$zc" -v fc="$fc" -v zs="$zs" -v fs="$fs" 'BEGIN {
    printf "  speed (ffmpeg / zrenc): %.2fx wall, %.2fx cpu; size: %+.2f%%\n",
        fw / zw, fc / zc, (zs - fs) * 100 / fs }'
