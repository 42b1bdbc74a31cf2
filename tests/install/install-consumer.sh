#!/bin/bash
# Installs the build into a scratch prefix, then builds and runs a consumer
# through find_package(kxconf) and another through pkg-config.
# Usage: install-consumer.sh BUILD_DIR SOURCE_DIR
set -eEu
# A step that fails says which, even where its own output went elsewhere.
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND exited $?"' ERR
build=$1 src=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
cmake -S "$src/tests/install/consumer" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$work/prefix" \
      -DCMAKE_C_FLAGS="-std=c99 -Wall -Wextra -Wpedantic -Werror" >/dev/null
cmake --build "$work/cmake" >/dev/null
LD_LIBRARY_PATH="$work/prefix/lib" "$work/cmake/consumer"
libdir=$(ls -d "$work"/prefix/lib*/pkgconfig | head -n 1)
flags=$(PKG_CONFIG_PATH="$libdir" pkg-config --cflags --libs kxconf)
cc -std=c99 -Wall -Wextra -Wpedantic -Werror "$src/tests/install/consumer/main.c" $flags -o "$work/pc"
LD_LIBRARY_PATH="$(dirname "$libdir")" "$work/pc"
