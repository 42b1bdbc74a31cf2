#!/bin/sh
# kxtool against kxsim inside a private network namespace (ctest wraps it in
# scripts/netns-run). Debian's python3 where it is, whatever python3 PATH holds,
# unbuffered: a run that ctest stops at its time limit still shows how far it got.
# Usage: kxtool_test.sh KXTOOL KXSIM [TEST.py, default kxtool_test.py] [ARGUMENTS...]
# (TEST.py relative to this folder; the arguments follow KXTOOL KXSIM)
python=/usr/bin/python3
[ -x "$python" ] || python=python3
kxtool=$1 kxsim=$2 test=${3:-kxtool_test.py}
shift $(($# < 3 ? $# : 3))
exec "$python" -u "$(dirname "$0")/$test" "$kxtool" "$kxsim" "$@"
