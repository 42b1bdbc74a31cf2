#!/usr/bin/env python3
"""kxtool against kxsim: one case per command, table and JSON form.

Runs inside a private network namespace (ctest wraps it in scripts/netns-run).
The simulated devices come from a JSON file written here, so every expected
value below is a literal from that file or from the simulator's defaults.
Usage: kxtool_test.py KXTOOL KXSIM
"""
import json
import os
import subprocess
import sys
import tempfile
import time

KXTOOL, KXSIM = sys.argv[1], sys.argv[2]
A, A_ID = "127.0.0.2", "0.16.10.0.0.1"
B, B_ID = "127.0.0.3", "0.16.11.0.0.2"
MUTE = "127.0.0.4"  # family B, never answers a login
DEVICES = [
    {"address": A, "family": 1, "device_id": A_ID, "device_name": "LAB-A",
     "baud_rate": 19200, "dest_port": 6001},
    {"address": B, "family": 16, "device_id": B_ID, "device_name": "LAB-B",
     "password": "pw", "baud_rate": 115200, "stop_bits": 2},
    {"address": MUTE, "family": 16, "device_id": "0.16.11.0.0.3"},
]

work = tempfile.mkdtemp()
passed = failed = 0


def path(name):
    return os.path.join(work, name)


with open(path("devices.json"), "w") as f:
    json.dump(DEVICES, f)
trace_file = open(path("trace"), "w+")
sim = subprocess.Popen([KXSIM, "--devices", path("devices.json"), "--trace",
                        "--fault", MUTE + ",silent,on=op=17"],
                       stdout=trace_file, stderr=subprocess.STDOUT)
for _ in range(100):
    trace_file.seek(0)
    if trace_file.read().startswith("ready"):
        break
    time.sleep(0.05)
else:
    sys.exit("kxsim did not become ready")


def trace_mark():
    time.sleep(0.2)  # kxsim prints what it received every 20 ms
    trace_file.seek(0)
    return len(trace_file.read().splitlines())


def trace_since(mark):
    time.sleep(0.2)
    trace_file.seek(0)
    return trace_file.read().splitlines()[mark:]


def kxtool(*args):
    return subprocess.run([KXTOOL, *args], capture_output=True, text=True, timeout=60)


def case(name, checks):
    """checks: list of (condition, description); the case fails on any false one."""
    global passed, failed
    bad = [what for ok, what in checks if not ok]
    if bad:
        failed += 1
        print(f"FAIL {name}: " + "; ".join(bad))
    else:
        passed += 1
        print(f"PASS {name}")


def table(stdout):
    """'name = value' lines as a dict."""
    return dict(line.split(" = ", 1) for line in stdout.splitlines())


# crc
r = kxtool("crc", "123456789")
case("crc", [(r.returncode == 0, f"exit {r.returncode}"), (r.stdout == "0x31C3\n", r.stdout)])

# search: table and JSON; -v puts the trace on stderr only.
r = kxtool("search")
rows = [line.split() for line in r.stdout.splitlines()]
case("search table", [
    (r.returncode == 0, f"exit {r.returncode}"),
    (rows[0] == ["family", "address", "identifier", "name", "port", "firmware"], str(rows[:1])),
    (sorted(rows[1:]) == [["A", A, A_ID, "LAB-A", "4001"],
                          ["B", B, B_ID, "LAB-B", "4001", "B-2.03"],
                          ["B", MUTE, "0.16.11.0.0.3", "SIM-B3", "4001", "B-2.03"]], str(rows[1:])),
])
r = kxtool("-v", "search", "--json")
found = {d["device_id"]: d for d in json.loads(r.stdout)}
case("search json", [
    (r.returncode == 0, f"exit {r.returncode}"),
    (sorted(found) == [A_ID, B_ID, "0.16.11.0.0.3"], str(sorted(found))),
    ({k: found[B_ID][k] for k in ("family", "ip_address", "device_name", "local_port",
                                  "firmware_version", "subnet_mask")} ==
     {"family": 16, "ip_address": B, "device_name": "LAB-B", "local_port": 4001,
      "firmware_version": "B-2.03", "subnet_mask": "255.0.0.0"}, str(found.get(B_ID))),
    (found[A_ID]["family"] == 1 and found[A_ID]["ip_address"] == A, str(found.get(A_ID))),
    ("kx_discover: 1 (ok)" in r.stderr.splitlines(), r.stderr),
])

# show: table and JSON, by address and by identifier.
r = kxtool("show", A)
shown = table(r.stdout)
case("show table", [
    (r.returncode == 0, f"exit {r.returncode}"),
    (len(shown) == 29, f"{len(shown)} fields"),
    ({k: shown[k] for k in ("family", "device_name", "device_id", "baud_rate", "dest_port",
                            "data_bits", "stop_bits", "firmware_version")} ==
     {"family": "1", "device_name": "LAB-A", "device_id": A_ID, "baud_rate": "19200",
      "dest_port": "6001", "data_bits": "8", "stop_bits": "1", "firmware_version": "A-1.07"},
     str(shown)),
])
r = kxtool("show", B_ID, "--password", "pw", "--json")
settings_b = json.loads(r.stdout) if r.returncode == 0 else {}
case("show json", [
    (r.returncode == 0, f"exit {r.returncode} {r.stderr}"),
    ({k: settings_b.get(k) for k in ("family", "device_name", "ip_address", "baud_rate",
                                     "stop_bits", "password", "nb_flag", "device_id")} ==
     {"family": 16, "device_name": "LAB-B", "ip_address": B, "baud_rate": 115200,
      "stop_bits": 2, "password": "pw", "nb_flag": 0, "device_id": B_ID}, str(settings_b)),
])

# Failures name the device and what did not happen.
r = kxtool("show", B, "--password", "nope")
case("show wrong password", [(r.returncode == 1, f"exit {r.returncode}"),
                             (f"{B} ({B_ID}) refused the login" in r.stderr, r.stderr)])
r = kxtool("show", MUTE)
case("show silent device", [
    (r.returncode == 1, f"exit {r.returncode}"),
    (f"no answer from {MUTE} (0.16.11.0.0.3) to the login within 1 s" in r.stderr, r.stderr)])
r = kxtool("show", "127.0.0.9")
case("show absent device", [(r.returncode == 3, f"exit {r.returncode}"),
                            ("127.0.0.9" in r.stderr, r.stderr)])

# set: the values kept, then show agrees.
r = kxtool("set", B, "--password", "pw", "device_name=ABCDEFGHIJ", "dest_ip=127.0.0.7",
           "baud_rate=38400")
after = json.loads(kxtool("show", B, "--password", "pw", "--json").stdout)
case("set", [
    (r.returncode == 0, f"exit {r.returncode} {r.stderr}"),
    (table(r.stdout) == {"device_name": "ABCDEFGHIJ", "dest_ip": "127.0.0.7",
                         "baud_rate": "38400"}, r.stdout),
    ((after["device_name"], after["dest_ip"], after["baud_rate"]) ==
     ("ABCDEFGHIJ", "127.0.0.7", 38400), str(after)),
])

# Refused values send nothing: not even the search when the value fits no
# family, nothing after the search when it does not fit the device's.
for args in (["set", A, "local_port=65536"], ["set", A, "dest_ip=10.0.0.010"],
             ["set", A, "device_name=ABCDEFGHIJK"], ["set", A, "bogus=1"],
             ["baud", A, "14401"], ["databits", A, "9"], ["show", "10.1.0.07"]):
    mark = trace_mark()
    r = kxtool(*args)
    sent = trace_since(mark)
    case("refused " + " ".join(args), [(r.returncode == 2, f"exit {r.returncode}"),
                                       (sent == [], "sent: " + " | ".join(sent))])
for args in (["set", A, "stop_bits=2"], ["set", B, "--password", "pw", "nb_flag=1"],
             ["baud", A, "14400"], ["parity", A, "7"]):
    mark = trace_mark()
    r = kxtool(*args)
    sent = trace_since(mark)
    searches_only = all(line.split()[-1] == "X" or " B search(1) " in line for line in sent)
    case("refused for the family " + " ".join(args),
         [(r.returncode == 2, f"exit {r.returncode}"), (searches_only, " | ".join(sent))])

# Quick settings, seen by show.
codes = [kxtool("baud", B, "57600").returncode, kxtool("parity", A, "2").returncode,
         kxtool("databits", A, "7").returncode]
shown_a = table(kxtool("show", A).stdout)
shown_b = json.loads(kxtool("show", B, "--password", "pw", "--json").stdout)
case("quick settings", [(codes == [0, 0, 0], str(codes)),
                        ((shown_a["parity"], shown_a["data_bits"]) == ("2", "7"), str(shown_a)),
                        (shown_b["baud_rate"] == 57600, str(shown_b))])

# save, change, restore: the same settings again.
r = kxtool("save", A)
with open(path("a.json"), "w") as f:
    f.write(r.stdout)
saved = json.loads(r.stdout)
kxtool("set", A, "device_name=CHANGED", "baud_rate=1200", "dest_port=1")
r = kxtool("restore", A, path("a.json"))
again = json.loads(kxtool("save", A).stdout)
case("save and restore", [(r.returncode == 0, f"exit {r.returncode} {r.stderr}"),
                          (saved["device_name"] == "LAB-A", str(saved)),
                          (again == saved, f"{again} != {saved}")])
mark = trace_mark()
r = kxtool("restore", B, "--password", "pw", path("a.json"))
sent = trace_since(mark)
case("restore refuses another family", [
    (r.returncode == 2, f"exit {r.returncode}"),
    (not any("login" in line for line in sent), " | ".join(sent))])

# apply: one entry fails its family check, one names no device, one is
# malformed; nothing is sent to the failing device after the search, the
# others are configured, and the exit is non-zero.
entries = [
    {"device": A, "settings": {"dest_port": 7001, "device_name": "BULK-A"}},
    {"device": B, "password": "pw", "settings": {"nb_flag": 1, "device_name": "NEVER"}},
    {"device": "127.0.0.9", "settings": {"dest_port": 1}},
    {"device": B_ID, "settings": {"baud_rate": "fast"}},
]
with open(path("apply.json"), "w") as f:
    json.dump(entries, f)
mark = trace_mark()
r = kxtool("apply", path("apply.json"))
sent = trace_since(mark)
shown_a = json.loads(kxtool("save", A).stdout)
shown_b = json.loads(kxtool("save", B, "--password", "pw").stdout)
case("apply", [
    (r.returncode == 1, f"exit {r.returncode}"),
    (r.stdout.splitlines() == [f"ok     {A}", f"FAILED {B}", "FAILED 127.0.0.9", f"FAILED {B_ID}",
                               "1 configured, 3 failed"], r.stdout),
    ((shown_a["dest_port"], shown_a["device_name"]) == (7001, "BULK-A"), str(shown_a)),
    (shown_b["device_name"] == "ABCDEFGHIJ", str(shown_b)),
    (not any(f"-> {B}:" in line for line in sent), " | ".join(l for l in sent if B in l)),
])

sim.terminate()
sim.wait()

# kxsim's fault options, as a host sees them through kxtool: each family B
# device at 127.0.2.n misbehaves in one way on the settings read (opcode 11),
# the family A device falls silent after the login.
faults = {"127.0.2.1": "late=1500", "127.0.2.2": "bad-crc", "127.0.2.3": "truncate=100",
          "127.0.2.4": "oversize=300", "127.0.2.5": "twice", "127.0.2.6": "strays=3"}
args = [KXSIM, "--family-a", "1", "--family-b", str(len(faults)),
        "--fault", "127.0.1.1,silent-after,on=L"]
for address, what in faults.items():
    args += ["--fault", f"{address},{what},on=op=11"]
trace_file.seek(0)
trace_file.truncate()
sim = subprocess.Popen(args, stdout=trace_file, stderr=subprocess.STDOUT)
time.sleep(0.5)
results = {address: kxtool("show", address) for address in faults}
results["127.0.1.1"] = kxtool("show", "127.0.1.1")
late = results["127.0.2.1"]
case("kxsim faults", [
    (late.returncode == 1 and "no answer from 127.0.2.1 (0.16.11.0.2.1) to the settings read "
     "within 1 s" in late.stderr, late.stderr),
    (all(results[a].returncode == 1 and "not acceptable" in results[a].stderr
         for a in ("127.0.2.2", "127.0.2.3")), results["127.0.2.2"].stderr),
    (results["127.0.2.4"].returncode == 1, results["127.0.2.4"].stderr),
    (all(results[a].returncode == 0 and table(results[a].stdout)["baud_rate"] == "9600"
         for a in ("127.0.2.5", "127.0.2.6")), results["127.0.2.6"].stderr),
    (results["127.0.1.1"].returncode == 1 and
     "to the settings read within 1 s" in results["127.0.1.1"].stderr, results["127.0.1.1"].stderr),
])
sim.terminate()
sim.wait()
print(f"{passed} passed, {failed} failed")
sys.exit(1 if failed else 0)
