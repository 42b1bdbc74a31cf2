#!/bin/sh
# kxtool against a simulated LAN: a family A device at 127.0.0.2, a family B
# device at 127.0.0.3, nothing at 127.0.0.9. Runs inside a private network
# namespace (ctest wraps it in scripts/netns-run).
# Usage: kxtool_test.sh KXTOOL KXSIM
set -u
kxtool=$1 kxsim=$2
work=$(mktemp -d)
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

: >"$work/sim.out"
"$kxsim" --family-a 127.0.0.2 --family-b 127.0.0.3 >"$work/sim.out" 2>&1 &
sim_pid=$!
tries=0
until grep -q '^ready' "$work/sim.out"; do
    tries=$((tries + 1))
    if [ $tries -gt 100 ] || ! kill -0 "$sim_pid" 2>/dev/null; then
        echo "kxsim did not become ready:"; cat "$work/sim.out"; exit 1
    fi
    sleep 0.05
done

passed=0 failed=0
out=$work/out
# run NAME WANTED_EXIT ARGS...: runs kxtool, checks its exit code.
run() {
    name=$1 wanted=$2; shift 2
    current=$name case_failed=0
    "$kxtool" "$@" >"$out" 2>&1
    code=$?
    if [ "$code" -ne "$wanted" ]; then
        fail "exit $code, wanted $wanted"
    fi
}
fail() {
    echo "FAIL $current: $1"; sed 's/^/    /' "$out"; case_failed=1
}
# has LINE...: each line must appear in the last output exactly.
has() {
    for line in "$@"; do
        grep -qxF -- "$line" "$out" || fail "missing line: $line"
    done
}
# lacks PATTERN: the last output must not match.
lacks() { ! grep -q -- "$1" "$out" || fail "unexpected: $1"; }
done_case() {
    if [ "$case_failed" -eq 0 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
}

run crc 0 crc 123456789; has 0x31C3; done_case
run help 0 help; has "  search                              list every device that answers on the LAN"; done_case

run search 0 search
has "kx_search_all: 1 (ok)" "2 device(s)"
grep -q '^A  *127\.0\.0\.2 *0\.16\.10\.0\.0\.1 *SIM-A1 *4001 *$' "$out" || fail "family A line"
grep -q '^B  *127\.0\.0\.3 *0\.16\.11\.0\.0\.2 *SIM-B2 .*B-2\.03$' "$out" || fail "family B line"
done_case

run find-b 0 find 127.0.0.3
has "kx_search_one: 1 (ok)" "family = 16" "device_id = 0.16.11.0.0.2" "device_name = SIM-B2"
done_case
run find-nothing 1 find 127.0.0.9; has "kx_search_one: -3 (no matching reply in time)"; done_case

run show-a 0 show 127.0.0.2
has "kx_login: 1 (ok)" "kx_read_setting: 1 (ok)" "kx_logout: 1 (ok)" "family = 1" \
    "device_name = SIM-A1" "device_id = 0.16.10.0.0.1" "ip_address = 127.0.0.2" \
    "local_port = 4001" "baud_rate = 9600" "stop_bits = 1" "firmware_version = A-1.07"
[ "$(grep -c ' = ' "$out")" -eq 29 ] || fail "not 29 fields"
done_case
run show-b-wrong-password 1 show 127.0.0.3 --password nope
has "kx_login: -6 (login refused)"; lacks kx_read_setting; done_case

run set-a 0 set 127.0.0.2 device_name=LAB-1 baud_rate=115200 dest_port=6001 parity=2
has "kx_write_setting: 1 (ok)" "device_name = LAB-1" "baud_rate = 115200" "dest_port = 6001" \
    "parity = 2" "kx_logout: 1 (ok)"
done_case
run set-b 0 set 127.0.0.3 dest_ip=127.0.0.7 baud_rate=19200 stop_bits=2 device_name=ABCDEFGHIJ
has "dest_ip = 127.0.0.7" "baud_rate = 19200" "stop_bits = 2" "device_name = ABCDEFGHIJ"
done_case
run set-b-shown 0 show 127.0.0.3; has "baud_rate = 19200" "device_name = ABCDEFGHIJ"; done_case

# Refused before anything is sent: nothing answers at 127.0.0.9, so a sent
# request would show as a kx_search_one line.
for bad in bogus=1 device_name=ABCDEFGHIJK local_port=65536 dhcp_enabled=2 ip_address=10.0.0 \
           dest_ip=10.0.0.010 'dw_text=a|b' baud_rate=14401 firmware_version=x data_bits=9; do
    run "refuse $bad" 2 set 127.0.0.9 "$bad"; lacks kx_search_one; done_case
done
# Refused once the family is known, before the login.
run refuse-family-a 2 set 127.0.0.2 stop_bits=2; has "kx_search_one: 1 (ok)"; lacks kx_login; done_case
run refuse-family-b 2 set 127.0.0.3 nb_flag=1; lacks kx_login; done_case
run refuse-baud-a 2 baud 127.0.0.2 14400; lacks kx_setting_baud; done_case

run baud-b 0 baud 127.0.0.3 38400; has "kx_setting_baud: 1 (ok)"; done_case
run parity-a 0 parity 127.0.0.2 1; has "kx_setting_parity: 1 (ok)"; done_case
run databits-a 0 databits 127.0.0.2 7; has "kx_setting_databit: 1 (ok)"; done_case
# The parity given is the code show prints.
run quick-a-shown 0 show 127.0.0.2; has "parity = 1" "data_bits = 7"; done_case
run quick-b-shown 0 show 127.0.0.3; has "baud_rate = 38400"; done_case
run quick-nothing 1 databits 127.0.0.9 8; has "kx_search_one: -3 (no matching reply in time)"; done_case

# A search while another program holds the local port must not pass for an
# empty LAN. The holder is a second search; it may let go between its two
# family searches, so a few tries are allowed.
current=search-port-busy case_failed=1
for try in 1 2 3; do
    "$kxtool" search >"$work/holder" 2>&1 &
    holder=$!
    sleep 0.1
    "$kxtool" search >"$out" 2>&1
    code=$?
    wait "$holder"
    if [ "$code" -eq 1 ] && grep -qxF "kx_search_all (no search took place): -1 (socket or receive failed)" "$out"; then
        case_failed=0; break
    fi
    lacks "^0 device"
done
[ "$case_failed" -eq 0 ] || fail "no try saw the port held"
done_case

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
