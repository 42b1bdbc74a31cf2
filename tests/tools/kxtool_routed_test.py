#!/usr/bin/env python3
"""kxtool and devices one router hop away (kxsim --routed): broadcasts find
none of them, --range and --target do, and every command then works on them,
by address or by identifier, single or batch.

Runs inside a private network namespace (ctest wraps it in scripts/netns-run).
Expected values are literals of the device file written here; kxsim's trace
shows what reached the devices behind the router.
Usage: kxtool_routed_test.py KXTOOL KXSIM
"""
import json
import os
import pty
import signal
import subprocess
import time

import kxtool_support
from kxtool_support import (KXTOOL, case, catching_interrupts, environment, finish, kxtool, sent,
                            start_sim, stop_sim, write_json)

kxtool_support.PASSWORD["value"] = None
A, A_ID = "10.2.0.5", "0.16.10.0.2.5"
B, B_ID = "10.2.0.6", "0.16.11.0.2.6"
DEVICES = [{"address": A, "family": 1, "device_id": A_ID, "device_name": "FAR-A"},
           {"address": B, "family": 16, "device_id": B_ID, "device_name": "FAR-B"}]
sim = start_sim("--routed", "10.2.0", "--forward-directed", "--trace",
                "--devices", write_json("devices.json", DEVICES))


def listed(r):
    return sorted(line.split()[1:3] for line in r.stdout.splitlines()[1:])


both = [[A, A_ID], [B, B_ID]]
plain = kxtool("search")
swept, datagrams = sent(["search", "--range", "10.2.0.0/24"])
directed = kxtool("search", "--target", "10.2.0.255")
# The sweep's probes: those before search checks each device at its address.
checked = next(i for i, (d, p) in enumerate(datagrams) if p.startswith("A W"))
probes = [d for d, p in datagrams[:checked] if p == "A X"]
case("broadcasts stop at the router; --range and --target find both", [
    (plain.returncode == 3, f"exit {plain.returncode}: {plain.stdout}"),
    (swept.returncode == 0 and listed(swept) == both, swept.stdout + swept.stderr),
    (directed.returncode == 0 and listed(directed) == both, directed.stdout + directed.stderr),
    # The CIDR's hosts, each asked once; the router keeps its own 10.2.0.1.
    (len(probes) == 253 and len(set(probes)) == 253, f"{len(probes)} probes"),
    ("10.2.0.255" not in probes and "10.2.0.0" not in probes, "network or broadcast asked"),
])

r, datagrams = sent(["baud", "--range", "10.2.0.5-6,10.2.0.200", "57600", "--json"])
rows = {row["device"]: row["ok"] for row in json.loads(r.stdout or "[]")}
case("a quick setting takes ranges (several, with commas) where it takes --all", [
    (r.returncode == 0, f"exit {r.returncode} {r.stderr}"),
    (rows == {f"{A} ({A_ID})": True, f"{B} ({B_ID})": True}, str(rows)),
    ((A, "A PBR6") in datagrams, str(datagrams)),
    (any(d == B and p.startswith("B serial(9) ") for d, p in datagrams), str(datagrams)),
])

# By identifier, found by the sweep; the family A write selects the device by
# identifier and reaches it at its address across the router.
r, datagrams = sent(["set", A_ID, "device_name=FARTHER", "--range", "10.2.0.0/24"])
shown = kxtool("show", A)
case("set by identifier, found by a sweep, written across the router", [
    (r.returncode == 0 and r.stdout == "device_name = FARTHER\n", r.stdout + r.stderr),
    ((A, f"A W{A_ID}|1E") in datagrams and (A, "A SDNFARTHER|1F") in datagrams, str(datagrams)),
    ((A, "A E") in datagrams, str(datagrams)),
    ("device_name = FARTHER" in shown.stdout, shown.stdout + shown.stderr),
])

refusals = [["search", "--range", "10.2.0.9-3"], ["search", "--range", "10.2.0.0/33"],
            ["search", "--rate", "100"], ["search", "--range", A, "--rate", "0"],
            ["search", "--target", "0.0.0.0"],
            ["--interface", "192.0.2.1", "search", "--range", "10.2.0.0/24"]]
results = [sent(args) for args in refusals]
case("ranges, rates and targets that are none are refused, nothing sent", [
    (r.returncode == 2 and not d, f"{args}: exit {r.returncode}, {len(d)} sent {r.stderr}")
    for args, (r, d) in zip(refusals, results)])

# A long sweep on a terminal: a bar on stderr, the table alone on stdout.
controller, terminal = pty.openpty()
run = subprocess.Popen([KXTOOL, "search", "--range", "10.2.0.0/24", "--rate", "150"],
                       stdout=subprocess.PIPE, stderr=terminal, text=True, env=environment())
os.close(terminal)
out, _ = run.communicate(timeout=60)
bar = b""
while True:
    try:
        chunk = os.read(controller, 4096)
    except OSError:
        break
    if not chunk:
        break
    bar += chunk
os.close(controller)
case("a long sweep shows its progress on a terminal", [
    (run.returncode == 0 and sorted(line.split()[1:3] for line in out.splitlines()[1:]) == both,
     out),
    (b"sweep [" in bar and b"254/254 addresses, 2 device(s)" in bar, repr(bar[-200:])),
])

# Ctrl-C in a sweep of half a minute stops it at once.
run = subprocess.Popen([KXTOOL, "search", "--range", "10.2.0.0/24", "--rate", "10"],
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                       env=environment())
catching_interrupts(run)
time.sleep(1)
began = time.monotonic()
run.send_signal(signal.SIGINT)
out, err = run.communicate(timeout=60)
case("Ctrl-C stops a sweep", [
    (run.returncode == 130, f"exit {run.returncode}: {err}"),
    (time.monotonic() - began < 2, f"{time.monotonic() - began:.1f} s"),
])

stop_sim(sim)
finish()
