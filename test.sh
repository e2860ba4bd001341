#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice (a normal build and an
# AddressSanitizer + UndefinedBehaviorSanitizer build), then runs each fuzz target for its time.
# Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh test

jobs=$(nproc)
summary=()
status=0

run_suite() { # name build-dir cmake-options...
    local name=$1 dir=$2
    shift 2
    echo "== $name build"
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
    echo "== $name tests"
    local log="$dir/ctest.log"
    if ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 900 | tee "$log"; then
        :
    else
        status=1
    fi
    summary+=("$name: $(grep -E 'tests passed|tests failed' "$log" | tail -n 1)")
}

# Optimised as shipped, without debug information (it only slows the build); the sanitizer build
# keeps line tables so that its reports name files and lines.
run_suite "normal" build/release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG"
# The Debian package from the normal build: built, installed with apt-get, checked, removed.
echo "== Debian package"
if scripts/check-package.sh build/release | tee build/release/package.log; then
    summary+=("package: $(tail -n 1 build/release/package.log)")
else
    summary+=("package: FAILED (see build/release/package.log)")
    status=1
fi
run_suite "sanitizer" build/asan -DZR_SANITIZE=ON -DZR_BENCH=OFF \
    -DCMAKE_CXX_FLAGS_RELEASE="-O2 -g1 -DNDEBUG"

echo "== fuzz build"
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=Release -DZR_FUZZ=ON \
    -DCMAKE_CXX_FLAGS_RELEASE="-O1 -gline-tables-only -DNDEBUG" \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
targets=$(cut -d' ' -f1 build/fuzz/fuzz-targets.txt | tr '\n' ' ')
if [ -n "$targets" ]; then
    # shellcheck disable=SC2086
    cmake --build build/fuzz -j "$jobs" --target $targets
fi
while read -r target seconds; do
    [ -n "$target" ] || continue
    corpus=$(mktemp -d)
    echo "== fuzz $target for ${seconds}s"
    if build/fuzz/fuzz/"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 "$corpus" >"build/fuzz/$target.log" 2>&1; then
        summary+=("fuzz $target: $(grep -E '^stat::number_of_executed_units' "build/fuzz/$target.log" | awk '{print $2}') runs, no finding")
    else
        tail -n 60 "build/fuzz/$target.log"
        summary+=("fuzz $target: FAILED (see build/fuzz/$target.log)")
        status=1
    fi
    rm -rf "$corpus"
done <build/fuzz/fuzz-targets.txt

echo
echo "== Summary"
printf '  %s\n' "${summary[@]}"
exit $status
