# Sourced by the benchmarks that run zrenc under zrenc_peakrss. Expects `usage` to be set; takes
# the build folder from $1 and sets build, here, zrenc, peak and work (removed on exit), with a
# settings store of its own under work, and defines measure.
build=$(cd "${1:?usage: $usage}" && pwd)
zrenc=$build/bin/zrenc
peak=$build/bin/zrenc_peakrss
for program in "$zrenc" "$peak"; do
    [ -x "$program" ] || { echo "missing $program: build with -DZR_BENCH=ON" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TESSARY_HOME=$work/home
"$zrenc" --register

# Prints "seconds cpu_seconds peak_kib" of one run; the run's output goes to /dev/null.
measure() {
    local report
    report=$("$peak" "$@" 2>&1 >/dev/null | tail -n 1)
    case $report in
    seconds=*) ;;
    *) echo "failed: $* ($report)" >&2; exit 1 ;;
    esac
    echo "$report" | sed -E 's/seconds=([^ ]*) cpu_seconds=([^ ]*) peak_kib=([^ ]*).*/\1 \2 \3/'
}
