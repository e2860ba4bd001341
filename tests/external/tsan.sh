#!/usr/bin/env bash
# The pipe tests under ThreadSanitizer (the writer threads, the child watch, the stop and
# interrupt events). Not part of test.sh: the sanitizer build there is ASan/UBSan.
#   tests/external/tsan.sh [BUILD_DIR]        default: build/tsan
# (CMake takes a compiler launcher such as ccache from CMAKE_CXX_COMPILER_LAUNCHER in the
# environment.)
set -euo pipefail
source=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$source/build/tsan}
flags="-fsanitize=thread -fno-omit-frame-pointer -g -O1"
cmake -S "$source" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZR_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" \
    -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread \
    >/dev/null
ninja -C "$build" -j2 test_external
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    "$build/tests/test_external" --gtest_brief=1 --gtest_filter='EncoderPipe.*:CommandLine.*'
