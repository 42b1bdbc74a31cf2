#!/bin/sh
# A network test started where other interfaces exist must refuse to run.
# Checked safely: inside a private namespace that also holds a veth pair, so
# the test sees a non-loopback interface, yet nothing can leave the namespace.
# Usage (under scripts/netns-run): refuses-outside-namespace.sh TEST_PROGRAM
set -u
ip link add kxcheck0 type veth peer name kxcheck1 || { echo "cannot make a veth pair"; exit 1; }
out=$("$1" 2>&1)
rc=$?
echo "$out"
if [ "$rc" -eq 0 ] || ! printf '%s' "$out" | grep -q "refusing to run"; then
    echo "the network test did not refuse (exit $rc)"
    exit 1
fi
echo "refused as it should (exit $rc)"
