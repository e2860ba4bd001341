#!/usr/bin/env bash
# `zrenc -e mpc` against `mpcenc --standard`, each reading the same WAV file itself, in one run;
# see bench/ogg/run.sh.
#   bench/mpc/run.sh BUILD_DIR [SECONDS=300]
exec "$(dirname "$0")/../ogg/run.sh" "${1:?usage: $0 BUILD_DIR [SECONDS]}" "${2:-300}" mpc
