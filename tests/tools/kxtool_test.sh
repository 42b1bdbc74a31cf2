#!/bin/sh
# kxtool against kxsim inside a private network namespace (ctest wraps it in
# scripts/netns-run). Usage: kxtool_test.sh KXTOOL KXSIM
exec python3 "$(dirname "$0")/kxtool_test.py" "$@"
