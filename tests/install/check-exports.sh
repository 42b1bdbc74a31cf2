#!/bin/sh
# The shared library exports exactly the functions of the interface; any
# other symbol it exports (a template of the C++ library, say) is named.
# Usage: check-exports.sh LIBRARY EXPORTS_LIST
set -eu
actual=$(nm -D --defined-only "$1" | awk '{print $3}' | sort)
expected=$(sort "$2")
leaked=$(printf '%s\n' "$actual" | grep -vxF "$expected" || true)
missing=$(printf '%s\n' "$expected" | grep -vxF "$actual" || true)
if [ -n "$leaked$missing" ]; then
    echo "exported symbols differ from the interface ($2):"
    for symbol in $leaked; do
        echo "  leaked: $symbol ($(echo "$symbol" | c++filt))"
    done
    for symbol in $missing; do
        echo "  missing: $symbol"
    done
    exit 1
fi
echo "exports: the $(printf '%s\n' "$actual" | wc -l) interface functions and nothing else"
