#!/usr/bin/env bash
# Installs what is missing and builds; then runs zrenc with the given arguments.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh build
cmake -S . -B build/run -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZR_TESTS=OFF \
    -DZR_BENCH=OFF >/dev/null
cmake --build build/run -j "$(nproc)"
if [ -x build/run/bin/zrenc ]; then
    exec build/run/bin/zrenc "$@"
fi
echo "Built the plug-in library: build/run/lib/libzrencoders.so"
