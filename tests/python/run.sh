#!/bin/sh
# The Python package's tests (pytest, Debian's python3-pytest) against kxsim,
# inside the private network namespace that ctest wraps this in
# (scripts/netns-run). Exits 77 (skipped) where python3-pytest is missing.
# Usage: run.sh KXSIM LIBRARY VERSION
set -u
python=/usr/bin/python3
if ! "$python" -c 'import pytest' 2>/dev/null; then
    echo "SKIP: python3-pytest is not installed (scripts/lib/packages.sh installs it)"
    exit 77
fi
if [ "$(ip -o link show | awk -F': ' '{ print $2 }')" != lo ]; then
    echo "FAIL: refusing to run outside a private network namespace (scripts/netns-run)"
    exit 1
fi
here=$(cd "$(dirname "$0")" && pwd)
export KXSIM="$1" KXCONF_LIBRARY="$2" KXCONF_VERSION="$3"
export PYTHONPATH="$here/../../python" PYTHONDONTWRITEBYTECODE=1 PIP_NO_INDEX=1
exec "$python" -m pytest -q -p no:cacheprovider "$here"
