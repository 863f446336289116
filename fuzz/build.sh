#!/bin/bash
# Builds the map-file fuzzer: build.sh OUTPUT_DIR. Needs clang (Debian
# packages clang and libclang-rt-14-dev, or the versioned equivalents).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
src="$here/../src"
out="${1:-$here/../build-fuzz}"
mkdir -p "$out"
CXX="${CXX_FUZZ:-clang++}"
"$CXX" -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$src" "$here/mapfile_fuzz.cpp" "$src/model/mapformat.cpp" -o "$out/mapfile_fuzz"
echo "$out/mapfile_fuzz"
