#!/bin/sh
# The shared library exports exactly the functions of the interface.
# Usage: check-exports.sh LIBRARY EXPORTS_LIST
set -eu
actual=$(nm -D --defined-only "$1" | awk '{print $3}' | sort)
expected=$(sort "$2")
if [ "$actual" != "$expected" ]; then
    echo "exported symbols differ from the interface:"
    printf '%s\n' "$expected" > /tmp/kx-expected.$$
    printf '%s\n' "$actual" | diff /tmp/kx-expected.$$ - || true
    rm -f /tmp/kx-expected.$$
    exit 1
fi
echo "exports: the $(printf '%s\n' "$actual" | wc -l) interface functions and nothing else"
