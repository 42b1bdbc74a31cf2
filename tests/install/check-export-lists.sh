#!/bin/sh
# The header is where the interface is declared; the .def file and the list
# the shared library is checked against must name the same functions.
# Usage: check-export-lists.sh HEADER DEF_FILE EXPORTS_LIST
set -eu
from_header=$(sed -n 's/^KXCONF_API [^(]*[ *]KXCONF_CALL \([a-z_0-9]*\)(.*/\1/p' "$1" | sort)
from_def=$(sed -n '/^EXPORTS/,$p' "$2" | sed '1d; s/;.*//; s/[[:space:]]//g; /^$/d' | sort)
from_list=$(sort "$3")
status=0
for other in def list; do
    if [ "$other" = def ]; then names=$from_def; file=$2; else names=$from_list; file=$3; fi
    if [ "$names" != "$from_header" ]; then
        echo "$file differs from the functions of $1:"
        printf '%s\n' "$from_header" > /tmp/kx-header.$$
        printf '%s\n' "$names" | diff /tmp/kx-header.$$ - || true
        rm -f /tmp/kx-header.$$
        status=1
    fi
done
[ "$status" -eq 0 ] && echo "export lists: $(printf '%s\n' "$from_header" | wc -l) functions in the header, the .def and the list"
exit "$status"
