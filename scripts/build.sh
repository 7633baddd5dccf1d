#!/usr/bin/env bash
# Configures and builds one build tree. Usage: build.sh DIR [cmake -D options...]
set -eu
dir=$1; shift
src=$(cd "$(dirname "$0")/.." && pwd)
gen=()
[ -f "$dir/CMakeCache.txt" ] || gen=(-G Ninja)
cmake -S "$src" -B "$dir" "${gen[@]}" "$@" >/dev/null
cmake --build "$dir" -j2
