#!/usr/bin/env bash
# Installs the Debian packages the project needs, only those that are missing. Quiet when
# nothing is missing. Usage: scripts/install-deps.sh [build|test]
#   build: what building and running needs; test: that plus the independent decoders and tools
#   the tests use.
set -euo pipefail

build_packages=(
    cmake ninja-build g++ pkg-config
    libflac++-dev libogg-dev libwavpack-dev
    libavcodec-dev libavformat-dev libavutil-dev libswresample-dev
    libsoxr-dev libarchive-dev libcurl4-openssl-dev nettle-dev zlib1g-dev
    ffmpeg flac wavpack lame vorbis-tools musepack-tools sox
)
test_packages=(
    libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-14-dev
    libjmac-java default-jre-headless
    libtag1-dev
    tmux procps
    atomicparsley libtag1-dev
    dpkg-dev file man-db
)

packages=("${build_packages[@]}")
if [ "${1:-build}" = test ]; then
    packages+=("${test_packages[@]}")
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo=()
if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null; then
        sudo=(sudo)
    else
        echo "error: packages are missing (${missing[*]}) and this is not root; run as root" >&2
        exit 1
    fi
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "Installed: ${missing[*]}"
