#!/usr/bin/env bash
# The installed project as its users meet it.
#   install-test.sh prefix BUILD_DIR   installs into a temporary prefix; a host built from the
#                                      installed headers and pkg-config alone encodes through
#                                      the installed plug-in; the installed zrenc runs from PATH
#   install-test.sh manpage ZRENC PAGE every option `zrenc --help` lists is in the manual page,
#                                      which names zrenc's version
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

manpage() {
    local zrenc=$1 page=$2 text option missing=()
    text=$(sed 's/\\-/-/g' "$page")
    for option in $("$zrenc" --help | grep -oE '(^|[ ,|])--?[A-Za-z][A-Za-z-]*' |
        tr -d ' ,|' | sort -u); do
        grep -qE -- "(^|[^-A-Za-z])$option([^-A-Za-z]|$)" <<<"$text" || missing+=("$option")
    done
    [ ${#missing[@]} -eq 0 ] || fail "the manual page lacks ${missing[*]}"
    grep -qF "\"$("$zrenc" --version)\"" "$page" || fail "the manual page is not of $("$zrenc" --version)"
    if command -v man >/dev/null; then
        local warnings
        warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
        [ -z "$warnings" ] || fail "the manual page does not render cleanly: $warnings"
    fi
    echo "manual page lists every option"
}

prefix() {
    local build=$1 work
    work=$(mktemp -d)
    # shellcheck disable=SC2064
    trap "rm -rf '$work'" EXIT
    local root=$work/prefix
    cmake --install "$build" --prefix "$root" >/dev/null

    local pc
    pc=$(find "$root" -name tessary-encoders.pc)
    [ -n "$pc" ] || fail "no tessary-encoders.pc installed"
    export PKG_CONFIG_PATH=${pc%/*}
    local plugin flags
    plugin=$(pkg-config --variable=plugin tessary-encoders)
    flags=$(pkg-config --cflags --libs tessary-encoders)
    [ -f "$plugin" ] || fail "pkg-config names $plugin, which is not installed"
    grep -q "SONAME.*\[${plugin##*/}\]" <<<"$(readelf -d "$plugin")" || fail "$plugin has another SONAME"
    [ "$(readlink -f "${plugin%/*}/../${plugin##*/}")" = "$(readlink -f "$plugin")" ] ||
        fail "no SONAME link beside the plug-in's folder"

    # The host's source is copied out, so that nothing of the source tree is in reach.
    cp "$here/InstalledHost.cpp" "$work/host.cpp"
    # shellcheck disable=SC2086
    c++ -std=c++20 -O1 -Wall -Wextra -Werror -o "$work/host" "$work/host.cpp" $flags

    export TESSARY_HOME=$work/home
    unset TESSARY_PROGRAM_DIR
    # Uncompressed Wave, FLAC and Windows Media (whose profiles are installed data).
    "$work/host" "$plugin" "$work/tone" 2 6 5 || fail "the host could not encode"
    flac -t -s "$work/tone.flac" || fail "tone.flac does not decode"
    local expect ext codec
    for expect in "wav pcm_s16le" "wma wmav2"; do
        read -r ext codec <<<"$expect"
        [ "$(ffprobe -v error -show_entries stream=codec_name,channels,sample_rate -of csv=p=0 \
            "$work/tone.$ext")" = "$codec,44100,2" ] || fail "tone.$ext is not $codec, 44.1 kHz, stereo"
    done

    local list
    list=$(PATH=$root/bin:$PATH zrenc --list) || fail "the installed zrenc fails: $list"
    for ext in wav wma flac; do
        grep -qE "^ *[0-9]+  $ext .* yes *$" <<<"$list" || fail "zrenc --list: $ext is not available"
    done
    echo "installed host and zrenc work"
}

"$@"
