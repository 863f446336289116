#!/bin/bash
# Builds a fuzzer: build.sh mapfile|net OUTPUT_DIR. Needs clang (Debian
# packages clang and libclang-rt-14-dev). The map-file fuzzer compiles the
# reader alone; the network fuzzer compiles the whole editor library and
# needs the SDL development packages.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
src="$here/../src"
target="$1"
out="${2:-$here/../build-fuzz}"
mkdir -p "$out"
CXX="${CXX_FUZZ:-clang++}"
case "$target" in
  mapfile) sources="$src/model/mapformat.cpp" libs="" ;;
  net)
    sources=$(ls "$src"/core/*.cpp "$src"/platform/*.cpp "$src"/shell/*.cpp "$src"/toolkit/*.cpp "$src"/model/*.cpp \
      "$src"/editor/*.cpp "$src"/net/*.cpp | grep -v 'shell/main\.cpp$')
    libs="$(pkg-config --cflags --libs sdl SDL_image SDL_ttf libsodium) -lpthread -lz" ;;
  *) echo "usage: build.sh mapfile|net OUTPUT_DIR" >&2; exit 2 ;;
esac
flags="-std=c++17 -g -O1 -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -I$src"
# One object per source, compiled side by side, then linked with the
# fuzzer's main.
objects=$out/obj-$target
rm -rf "$objects" && mkdir -p "$objects"
# shellcheck disable=SC2086
printf '%s\n' "$here/${target}_fuzz.cpp" $sources | CXX=$CXX FLAGS="$flags" CFLAGS_SDL="$(pkg-config --cflags sdl 2>/dev/null)" \
  OBJ=$objects xargs -P "$(nproc)" -I{} sh -c '
    $CXX $FLAGS $CFLAGS_SDL -c "{}" -o "$OBJ/$(echo "{}" | tr / _).o"' || exit 1
# shellcheck disable=SC2086
"$CXX" -fsanitize=fuzzer,address,undefined "$objects"/*.o $libs -o "$out/${target}_fuzz"
echo "$out/${target}_fuzz"
