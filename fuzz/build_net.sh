#!/bin/bash
# Builds the network fuzzer: build_net.sh OUTPUT_DIR. Needs clang and the
# SDL development packages; the whole editor library is compiled with it.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
src="$here/../src"
out="${1:-$here/../build-fuzz}"
mkdir -p "$out"
CXX="${CXX_FUZZ:-clang++}"
sources=$(ls "$src"/platform/*.cpp "$src"/shell/*.cpp "$src"/toolkit/*.cpp "$src"/model/*.cpp \
  "$src"/editor/*.cpp "$src"/net/*.cpp | grep -v 'shell/main\.cpp$')
# shellcheck disable=SC2086
"$CXX" -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$src" "$here/net_fuzz.cpp" $sources $(pkg-config --cflags --libs sdl SDL_image SDL_ttf SDL_net) \
  -lpthread -o "$out/net_fuzz"
echo "$out/net_fuzz"
