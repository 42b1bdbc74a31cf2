#!/bin/sh
# kxtool against kxsim inside a private network namespace (ctest wraps it in
# scripts/netns-run). Debian's python3 where it is, whatever python3 PATH holds,
# unbuffered: a run that ctest stops at its time limit still shows how far it got.
# Usage: kxtool_test.sh KXTOOL KXSIM [TEST.py, default kxtool_test.py]
python=/usr/bin/python3
[ -x "$python" ] || python=python3
exec "$python" -u "$(dirname "$0")/${3:-kxtool_test.py}" "$1" "$2"
