#!/usr/bin/env bash
# Builds the Debian package from a finished build, installs it with apt-get as a user would,
# checks zrenc from PATH, its manual page and the pkg-config file, then purges the package and
# checks that none of its files is left. Installing needs root on Debian; elsewhere it says so
# and does nothing. The last line printed is the result.
# Usage: scripts/check-package.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)

if [ "$(id -u)" -ne 0 ] || [ ! -f /etc/debian_version ]; then
    echo "skipped: installing the package needs root on Debian"
    exit 0
fi
installed() { [ "$(dpkg-query -W -f='${Status}' zrenc 2>/dev/null)" = "install ok installed" ]; }
if installed; then
    echo "skipped: a zrenc package is installed already, and this check would remove it"
    exit 0
fi

work=$(mktemp -d)
cleanup() {
    if installed; then
        apt-get purge -y -qq zrenc >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*"
    exit 1
}

rm -f "$build"/zrenc_*.deb
if ! (cd "$build" && cpack -G DEB) >"$work/cpack.log" 2>&1; then
    tail -n 30 "$work/cpack.log"
    fail "cpack could not build the package"
fi
deb=$(echo "$build"/zrenc_*.deb)
echo "built $deb"

export DEBIAN_FRONTEND=noninteractive
if ! apt-get install -y -qq "$deb" >"$work/apt.log" 2>&1; then
    cat "$work/apt.log"
    fail "apt-get install $deb failed"
fi
dpkg-query -L zrenc >"$work/files"

# Everything from PATH and the system's own search paths, nothing from the build tree.
[ "$(command -v zrenc)" = /usr/bin/zrenc ] || fail "zrenc is not /usr/bin/zrenc on PATH"
list=$(cd "$work" && env -u TESSARY_PROGRAM_DIR TESSARY_HOME="$work/home" zrenc --list) ||
    fail "zrenc --list failed: $list"
for short in wav flac wma; do
    grep -qE "^ *[0-9]+  $short .* yes *$" <<<"$list" || fail "zrenc --list: $short is not available"
done
if grep -rqs '^path-exclude.*/usr/share/man' /etc/dpkg/dpkg.cfg.d; then
    # Slim images tell dpkg to leave manual pages out; the page must still be in the package.
    grep -q ' ./usr/share/man/man1/zrenc.1.gz$' <<<"$(dpkg-deb -c "$deb")" || fail "no manual page in $deb"
    echo "dpkg here leaves out manual pages: man zrenc not tried"
else
    [ "$(man -w zrenc)" = /usr/share/man/man1/zrenc.1.gz ] || fail "man -w zrenc: $(man -w zrenc 2>&1)"
    grep -q -- "--use-settings" <<<"$(MANPAGER=cat MANWIDTH=80 man zrenc 2>/dev/null)" ||
        fail "man zrenc does not show the page"
fi
plugin=$(pkg-config --variable=plugin tessary-encoders)
[ -f "$plugin" ] || fail "pkg-config names the plug-in $plugin, which is not there"
echo "installed: zrenc --list, man zrenc and pkg-config work"

apt-get purge -y -qq zrenc >"$work/apt.log" 2>&1 || { cat "$work/apt.log"; fail "apt-get purge failed"; }
# Folders that other packages own stay; anything else of the package must be gone.
left=() folders=()
while IFS= read -r path; do
    if [ -d "$path" ] && [ ! -L "$path" ]; then
        folders+=("$path")
    elif [ -e "$path" ] || [ -L "$path" ]; then
        left+=("$path")
    fi
done <"$work/files"
if [ ${#folders[@]} -gt 0 ]; then
    owned=$(dpkg-query -S "${folders[@]}" 2>/dev/null | sed 's/.*: //' || true)
    for folder in "${folders[@]}"; do
        grep -qxF -- "$folder" <<<"$owned" || left+=("$folder")
    done
fi
[ ${#left[@]} -eq 0 ] || fail "left behind after removal: ${left[*]}"
echo "package built, installed, checked and removed without a trace"
