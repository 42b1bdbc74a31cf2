#!/bin/sh
# The Wireshark dissector on the demo's whole conversation: tshark captures
# the three ports while kxdemo runs, then a few crafted datagrams (a bad CRC,
# a foreign sequence byte, a reply with the wrong tag, a 300-byte datagram);
# tshark decodes the capture with the dissector into JSON, and
# dissector_check.py compares it with the captured bytes and known records.
# Runs inside a private network namespace (ctest wraps it in scripts/netns-run).
# Exits 77 (skipped) when tshark or python3 is missing.
# Usage: dissector_test.sh KXDEMO DISSECTOR.lua dissector_check.py
set -u
kxdemo=$1 dissector=$2 checker=$3
for tool in tshark python3; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIP: $tool is not installed (scripts/lib/packages.sh installs it)"
        exit 77
    fi
done

if [ "$(ip -o link show | awk -F': ' '{ print $2 }')" != lo ]; then
    echo "FAIL: refusing to run outside a private network namespace (scripts/netns-run)"
    exit 1
fi

work=$(mktemp -d)
capture_pid=
cleanup() {
    [ -n "$capture_pid" ] && kill "$capture_pid" 2>/dev/null && wait "$capture_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# tshark's personal folders stay in the test's own.
mkdir -p "$work/home"
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config"
export PYTHONDONTWRITEBYTECODE=1

# An installed dissector loads first, and the copy given with -X then steps
# aside: only an identical one lets this test see the copy under test.
installed=$(tshark -G plugins 2>/dev/null | awk '$1 == "kxconf.lua" { print $NF }')
for copy in $installed; do
    if ! cmp -s "$copy" "$dissector"; then
        echo "SKIP: the installed $copy differs from $dissector and would be tested instead"
        exit 77
    fi
done

# -P -l: tshark prints each datagram's destination as it is captured, so the test knows when
# the capture has really begun (its start message comes a little early) and
# when the last datagram is in: probes to 127.0.0.9 and 127.0.0.10 mark both
# ends, and the checker leaves them out.
tshark -i lo -f 'udp port 65535 or udp port 65280 or udp port 65281' -F pcap -P -l \
    -T fields -e ip.dst -w "$work/capture.pcap" >"$work/live.out" 2>"$work/capture.err" &
capture_pid=$!
# wait_for_probe ADDRESS: probes ADDRESS until the capture shows it.
wait_for_probe() {
    tries=0
    until grep -qxF "$1" "$work/live.out"; do
        tries=$((tries + 1))
        if [ $tries -gt 200 ] || ! kill -0 "$capture_pid" 2>/dev/null; then
            echo "FAIL: the capture did not show the probe to $1:"; cat "$work/capture.err"; exit 1
        fi
        python3 "$checker" probe "$1"
        sleep 0.1
    done
}
wait_for_probe 127.0.0.9

"$kxdemo" >"$work/demo.out" 2>&1
demo=$?
python3 "$checker" send || { echo "FAIL: could not send the crafted datagrams"; exit 1; }
wait_for_probe 127.0.0.10
kill -INT "$capture_pid"
wait "$capture_pid"
capture_pid=
if [ "$demo" -ne 0 ]; then
    echo "FAIL: kxdemo exited $demo:"; cat "$work/demo.out"; exit 1
fi

if ! tshark -r "$work/capture.pcap" -X lua_script:"$dissector" -T json \
        >"$work/decoded.json" 2>"$work/decode.err"; then
    echo "FAIL: tshark could not decode the capture:"; cat "$work/decode.err"; exit 1
fi
if grep -q -i 'lua' "$work/decode.err"; then
    echo "FAIL: the dissector did not load:"; cat "$work/decode.err"; exit 1
fi
python3 "$checker" check "$work/capture.pcap" "$work/decoded.json" "$work/demo.out"
