#!/usr/bin/env bash
# Speed of the DSD encoder on one core: generated stereo 44.1 kHz input (30 s), fed from memory,
# encoded at DSD64, 128, 256 and 512, printed as a multiple of real time, with the plain scalar
# modulator timed in the same run as the baseline (the "mod/ref" column is the speed-up).
#   bench/dsd/run.sh BUILD_DIR [SECONDS=30] [RUNS=3]
# Times are CPU time of the one encoding thread: on a shared machine wall time mostly measures
# the neighbours. The load average is printed with the figures.
set -euo pipefail
build=$(realpath "${1:?usage: $0 BUILD_DIR [SECONDS] [RUNS]}")
seconds=${2:-30} runs=${3:-3}
if ! log=$(cmake --build "$build" --target bench_dsd 2>&1); then
    echo "$log" >&2
    exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
"$build/bin/bench_dsd" "$seconds" "$runs" "$work/bench.dsf"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
