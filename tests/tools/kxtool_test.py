#!/usr/bin/env python3
"""kxtool against kxsim: one case per behaviour, table and JSON form.

Runs inside a private network namespace (ctest wraps it in scripts/netns-run).
The simulated devices come from a JSON file written here, so every expected
value below is a literal from that file or from the simulator's defaults.
kxsim's trace shows what reached the devices: the cases check what was sent,
and that nothing was where nothing may be.
Usage: kxtool_test.py KXTOOL KXSIM
"""
import json
import os
import subprocess

from kxtool_support import (KXSIM, case, finish, kxtool, path, searches_only, sent, start_sim,
                            stop_sim, table, trace_mark, trace_since, write_json, work)

A, A_ID = "127.0.0.2", "0.16.10.0.0.1"
A2, A2_ID = "127.0.0.5", "0.16.10.0.0.5"
B, B_ID = "127.0.0.3", "0.16.11.0.0.2"
MUTE, MUTE_ID = "127.0.0.4", "0.16.11.0.0.3"  # family B, never answers a login
# One password for the plant, which kxtool takes from KXCONF_PASSWORD below.
DEVICES = [
    {"address": A, "family": 1, "device_id": A_ID, "device_name": "LAB-A",
     "baud_rate": 19200, "dest_port": 6001, "password": "pw", "dw_text": "D" * 30},
    {"address": A2, "family": 1, "device_id": A2_ID, "device_name": "LAB-A2", "password": "pw"},
    {"address": B, "family": 16, "device_id": B_ID, "device_name": "LAB-B",
     "password": "pw", "baud_rate": 115200, "stop_bits": 2},
    {"address": MUTE, "family": 16, "device_id": MUTE_ID, "password": "pw"},
]

# Nothing answers before kxsim starts: the search says so and exits 3.
r = kxtool("search")
j = kxtool("search", "--json")
case("search with nobody there", [(r.returncode == 3, f"exit {r.returncode}"),
                                  ("no device answered the search" in r.stderr, r.stderr),
                                  (j.returncode == 3 and j.stdout == "[]\n", j.stdout)])

sim = start_sim("--devices", write_json("devices.json", DEVICES), "--trace",
                "--fault", MUTE + ",silent,on=op=17")


r = kxtool("crc", "123456789")
v = kxtool("--version")
case("crc and version", [(r.stdout == "0x31C3\n", r.stdout),
                         (v.returncode == 0 and v.stdout.startswith("kxtool "), v.stdout)])

# search: table and JSON; family A's firmware comes from a read; -v on stderr.
r = kxtool("search")
rows = sorted(line.split() for line in r.stdout.splitlines()[1:])
case("search table", [
    (r.returncode == 0, f"exit {r.returncode}"),
    # No device has a note, so there is no note column.
    (r.stdout.splitlines()[0].split() == ["family", "address", "identifier", "name", "port",
                                          "firmware"], r.stdout.splitlines()[0]),
    (rows == [["A", A, A_ID, "LAB-A", "4001", "A-1.07"],
              ["A", A2, A2_ID, "LAB-A2", "4001", "A-1.07"],
              ["B", B, B_ID, "LAB-B", "4001", "B-2.03"],
              ["B", MUTE, MUTE_ID, "SIM-B4", "4001", "B-2.03"]], str(rows)),
])
r = kxtool("-v", "search", "--json")
found = {d["device_id"]: d for d in json.loads(r.stdout or "[]")}
case("search json", [
    (r.returncode == 0, f"exit {r.returncode}"),
    (sorted(found) == sorted([A_ID, A2_ID, B_ID, MUTE_ID]), str(sorted(found))),
    ({k: found[B_ID][k] for k in ("family", "ip_address", "device_name", "firmware_version",
                                  "answers")} ==
     {"family": 16, "ip_address": B, "device_name": "LAB-B", "firmware_version": "B-2.03",
      "answers": True}, str(found.get(B_ID))),
    (found[A_ID]["firmware_version"] == "A-1.07", str(found.get(A_ID))),
    (any(line.startswith("kx_discover: 1 (success) in ") for line in r.stderr.splitlines()),
     r.stderr),
])

# show by address asks that address alone; codes print as words, never a password.
r, datagrams = sent(["show", A])
shown = table(r.stdout)
case("show by address, words", [
    (r.returncode == 0, f"exit {r.returncode} {r.stderr}"),
    (len(shown) == 29, f"{len(shown)} fields"),
    ({k: shown[k] for k in ("family", "device_name", "baud_rate", "parity", "data_bits",
                            "stop_bits", "dhcp_enabled", "flow_control", "password")} ==
     {"family": "A (1)", "device_name": "LAB-A", "baud_rate": "19200", "parity": "none",
      "data_bits": "8 bits", "stop_bits": "1 bit", "dhcp_enabled": "off", "flow_control": "off",
      "password": "(set)"}, str(shown)),
    (not any(to == "255.255.255.255" for to, _ in datagrams), str(datagrams)),
])
r = kxtool("show", B_ID, "--json")
settings_b = json.loads(r.stdout or "{}")
pw = kxtool("show", B_ID, "--json", "--with-password")
case("show by identifier, json, password left out", [
    (r.returncode == 0, f"exit {r.returncode} {r.stderr}"),
    ({k: settings_b.get(k) for k in ("family", "device_name", "baud_rate", "stop_bits",
                                     "device_id")} ==
     {"family": 16, "device_name": "LAB-B", "baud_rate": 115200, "stop_bits": 2,
      "device_id": B_ID}, str(settings_b)),
    ("password" not in settings_b, str(settings_b)),
    (json.loads(pw.stdout or "{}").get("password") == "pw", pw.stdout),
])

# Failures name the device and what did not happen.
wrong = kxtool("show", B, "--password", "nope")
mute = kxtool("show", MUTE)
absent = kxtool("show", "127.0.0.9")
case("failures", [
    (wrong.returncode == 1 and f"{B} ({B_ID}) refused the login" in wrong.stderr, wrong.stderr),
    (mute.returncode == 1 and
     f"no answer from {MUTE} ({MUTE_ID}) to the login within 1 s" in mute.stderr, mute.stderr),
    (absent.returncode == 3 and "127.0.0.9" in absent.stderr, absent.stderr),
])

# set: words accepted, every write read back; a dry run shows and writes nothing.
r = kxtool("set", B, "Device_Name=ABCDEFGHIJ", "parity=even",
           "baud_rate=38400", "data_bits=7 bits")
after = json.loads(kxtool("show", B, "--json").stdout)
dry, datagrams = sent(["set", A, "dest_port=7000", "parity=odd", "--dry-run"])
case("set reads back, words, dry run", [
    (r.returncode == 0, f"exit {r.returncode} {r.stderr}"),
    (table(r.stdout) == {"device_name": "ABCDEFGHIJ", "parity": "even", "baud_rate": "38400",
                         "data_bits": "7 bits"}, r.stdout),
    ((after["device_name"], after["parity"], after["baud_rate"], after["data_bits"]) ==
     ("ABCDEFGHIJ", "even", 38400, 7), str(after)),
    (dry.returncode == 0 and dry.stdout == "dest_port: 6001 -> 7000\nparity: none -> odd\n",
     dry.stdout + dry.stderr),
    (not any(p.startswith("A S") for _, p in datagrams), str(datagrams)),
])

# Refused values send nothing: not even the search when the value fits no
# family, nothing after the single search when it does not fit the device's.
save_a = kxtool("save", A)
backup_a = json.loads(save_a.stdout)
bad_family = write_json("family300.json", {**backup_a, "family": 300})
no_entry = write_json("none.json", [{"devices": A}, {"device": "10.1.0.07"}])
for args in (["set", A, "local_port=65536"], ["set", A, "dest_ip=10.0.0.010"],
             ["set", A, "device_name=ABCDEFGHIJK"], ["set", A, "baudrate=9600"],
             ["set", A, "parity=evn"],
             ["show", "10.1.0.07"], ["restore", A, work], ["apply", work],
             ["restore", A, bad_family], ["apply", no_entry], ["save", "--all"]):
    r, datagrams = sent(args)
    case("refused " + " ".join(a.replace(work, "DIR") for a in args),
         [(r.returncode == 2, f"exit {r.returncode} {r.stderr}"), (datagrams == [], str(datagrams)),
          ("Traceback" not in r.stderr and "terminate" not in r.stderr, r.stderr)])
r = kxtool("set", A, "baudrate=9600")
case("field names: any case, and a suggestion", [("did you mean baud_rate?" in r.stderr, r.stderr)])
mark, checks = trace_mark(), []
for args, says in ((["show", "255.255.255.255"], "is no device's address"),
                   (["show", "0.0.0.0"], "is no device's address"),
                   (["baud", A], "baud: the value is missing after " + A),
                   (["frobnicate"], "unknown command: frobnicate"),
                   (["show", A, "--password-file", work], "--password-file: cannot read")):
    r = kxtool(*args)
    checks.append((r.returncode == 2 and says in r.stderr, f"{args[0]}: {r.returncode} {r.stderr}"))
case("refused at once, saying why", checks + [(trace_since(mark) == [], "sent")])
# Parity 1 is even on family A and odd on family B devices: a batch of both
# takes words only. A family A password has at most 9 characters.
for args in (["set", A, "stop_bits=2"], ["set", B, "nb_flag=1"],
             ["baud", A, "14400"], ["baud", A, "14401"], ["databits", A, "9"], ["parity", A, "7"],
             ["parity", "--all", "1"],
             ["show", A, "--password", "0123456789"]):
    r, datagrams = sent(args)
    case("refused for the family " + " ".join(args),
         [(r.returncode == 2, f"exit {r.returncode}"), (searches_only(datagrams), str(datagrams))])

# Quick settings: printed, read back, words; family A's quick parity numbering
# is the tool's business.
p = kxtool("parity", A, "even")
d = kxtool("databits", A, "7")
b = kxtool("baud", B, "57600")
shown_a = table(kxtool("show", A).stdout)
case("quick settings read back", [
    ([p.returncode, d.returncode, b.returncode] == [0, 0, 0], p.stderr + d.stderr + b.stderr),
    (p.stdout == f"{A} ({A_ID}): parity = even\n", p.stdout),
    (b.stdout == f"{B} ({B_ID}): baud_rate = 57600\n", b.stdout),
    ((shown_a["parity"], shown_a["data_bits"]) == ("even", "7 bits"), str(shown_a)),
])

# Identity: another device's backup is refused unless cloned; a clone keeps
# the identity fields unless named with --set.
a_file = write_json("a.json", backup_a)
refused, datagrams = sent(["restore", A2, a_file])
clone = kxtool("restore", A2, a_file, "--clone")
cloned = json.loads(kxtool("save", A2).stdout)
named = kxtool("restore", A2, a_file, "--clone", "--set", "device_name=COPY-A")
case("restore keeps identities apart", [
    (refused.returncode == 2 and "--clone" in refused.stderr, refused.stderr),
    (searches_only(datagrams), str(datagrams)),
    ("password" not in backup_a, str(backup_a)),
    (clone.returncode == 0, clone.stderr),
    ((cloned["device_name"], cloned["ip_address"], cloned["baud_rate"], cloned["dest_port"]) ==
     ("LAB-A2", A2, 19200, 6001), str(cloned)),
    (named.returncode == 0 and
     json.loads(kxtool("save", A2).stdout)["device_name"] == "COPY-A", named.stderr),
])

# diff: only what would change, current -> new; nothing written. Then the
# restore brings the backup back whole.
r, datagrams = sent(["diff", A, a_file])
restored = kxtool("restore", A, a_file)
case("diff and restore", [
    (r.returncode == 0 and r.stdout.splitlines()[:2] == ["parity: even -> none",
                                                         "data_bits: 7 bits -> 8 bits"], r.stdout),
    (not any(p.startswith("A S") for _, p in datagrams), str(datagrams)),
    (restored.returncode == 0, restored.stderr),
    (json.loads(kxtool("save", A).stdout) == backup_a, "restored"),
])

# A backup without the password leaves the device's password as it is.
b_file = write_json("b.json", json.loads(kxtool("save", B).stdout))
r = kxtool("restore", B, b_file)
case("restore without a password keeps the device's",
     [(r.returncode == 0, r.stderr), (kxtool("show", B).returncode == 0, "")])

# Batches: one search, a table, every device tried, exit 1 when any failed;
# the password from KXCONF_PASSWORD or --password-file.
with open(path("pw"), "w") as f:
    f.write("pw\n")
r, datagrams = sent(["save", "--all", "--dir", path("saved")])
rows = {line.split()[0]: line.split()[3] for line in r.stdout.splitlines()[1:-1]}
j = kxtool("show", B, MUTE, "--json", "--password-file", path("pw"), env={"KXCONF_PASSWORD": "x"})
results = json.loads(j.stdout or "[]")
q = kxtool("baud", "--family", "a", "38400")
case("batch save, show, quick setting", [
    (r.returncode == 1, f"exit {r.returncode}"),
    (rows == {A: "ok", A2: "ok", B: "ok", MUTE: "FAILED"}, r.stdout),
    (r.stdout.splitlines()[-1] == "3 ok, 1 failed", r.stdout),
    (datagrams.count(("255.255.255.255", "A X")) == 1, "searches: " + str(datagrams[:3])),
    (sorted(os.listdir(path("saved"))) == sorted(i + ".json" for i in (A_ID, A2_ID, B_ID)),
     str(os.listdir(path("saved")))),
    (j.returncode == 1 and [x["ok"] for x in results] == [True, False], j.stdout),
    (q.returncode == 0 and q.stdout.count("baud_rate = 38400") == 2, q.stdout + q.stderr),
])

# apply: checked first, one search, a shared password, the identity rule per
# entry, a result table.
entries = [
    {"device": A, "settings": {"dest_port": 7001, "parity": "odd"}},
    {"device": B_ID, "settings": {"device_name": "BULK-B"}},
    {"device": A2, "settings": {"device_id": A_ID, "device_name": "LAB-A"}},
    {"device": "127.0.0.9", "settings": {"dest_port": 1}},
    {"device": A2, "setings": {}},
]
apply_file = write_json("apply.json", entries)
dry, datagrams = sent(["apply", apply_file, "--password", "pw", "--dry-run"])
r = kxtool("apply", apply_file, "--password", "pw", "--json", env={"KXCONF_PASSWORD": "x"})
outcome = [(x["device"].split()[0], x["ok"]) for x in json.loads(r.stdout or "[]")]
a_now = json.loads(kxtool("save", A).stdout)
case("apply", [
    (not any(p.startswith("A S") or "write" in p for _, p in datagrams), str(datagrams)),
    (datagrams.count(("255.255.255.255", "A X")) == 1, "one search: " + str(datagrams[:3])),
    ("would change dest_port: 6001 -> 7001; parity: none -> odd" in dry.stdout, dry.stdout),
    (r.returncode == 1, f"exit {r.returncode}"),
    (outcome == [(A, True), (B, True), (A2, False), ("127.0.0.9", False), (A2, False)],
     str(outcome)),
    ('give the entry "clone": true' in json.loads(r.stdout)[2]["detail"], r.stdout),
    ((a_now["dest_port"], a_now["parity"]) == (7001, "odd"), str(a_now)),
    (json.loads(kxtool("save", A2).stdout)["device_name"] == "COPY-A", "A2 untouched"),
    (json.loads(kxtool("save", B).stdout)["device_name"] == "BULK-B", ""),
])

# fields: every field, its meaning, each family's range and words.
r = kxtool("fields")
only_b = kxtool("fields", "--family", "b")
case("fields", [
    (r.returncode == 0, f"exit {r.returncode}"),
    (sum(1 for line in r.stdout.splitlines() if not line.startswith(" ")) == 29, r.stdout),
    ("    family A: 0 to 9: none (0), even (1), odd (2), mark (3), space (4)" in
     r.stdout.splitlines(), r.stdout),
    (not any(line.startswith("    family A:") for line in only_b.stdout.splitlines()) and
     "    family B: 5 to 8: 5 bits (5), 6 bits (6), 7 bits (7), 8 bits (8)" in only_b.stdout,
     only_b.stdout),
])

# Re-addressing: the device keeps answering at its old address until it
# restarts. Family A is read back there (never a broadcast "O"), family B
# is reached by its identifier; search marks the address that is silent.
r, datagrams = sent(["set", A2, "ip_address=127.0.0.21"])
old = table(kxtool("show", A2).stdout)
rb = kxtool("set", B, "ip_address=127.0.0.22")
by_id = kxtool("show", B_ID)
by_new = kxtool("show", "127.0.0.22")
listed = kxtool("search").stdout
case("re-addressing", [
    (r.returncode == 0 and rb.returncode == 0, r.stderr + rb.stderr),
    (("255.255.255.255", "A O") not in datagrams[datagrams.index(("255.255.255.255", "A E")):],
     str(datagrams)),
    (old.get("ip_address") == "127.0.0.21", str(old)),
    (by_id.returncode == 0 and table(by_id.stdout)["ip_address"] == "127.0.0.22", by_id.stderr),
    (by_new.returncode == 0, by_new.stderr),
    (any(line.split()[1:3] == ["127.0.0.21", A2_ID] and "does not answer" in line
         for line in listed.splitlines()), listed),
])

# An address another device answers at is refused unless --force. A quick
# setting carries no identifier, so it goes to neither of two devices
# configured with one address: not to A2 (at A's address once it restarts),
# nor to A, where A2 may answer too.
taken, datagrams = sent(["set", A2, f"ip_address={A}"])
forced = kxtool("set", A2, f"ip_address={A}", "--force")
q, quick = sent(["baud", "--family", "a", "38400", "--json"])
rows = {x["device_id"]: x for x in json.loads(q.stdout or "[]")}
case("one address, two devices", [
    (taken.returncode == 2 and "another device answers there" in taken.stderr, taken.stderr),
    (not any(p.startswith("A S") for _, p in datagrams), str(datagrams)),
    (forced.returncode == 0, forced.stderr),
    (q.returncode == 1 and not rows[A_ID]["ok"] and not rows[A2_ID]["ok"], q.stdout),
    (f"two devices have the address {A}: A {A2_ID} and A {A_ID}" in rows[A2_ID]["detail"] and
     "Nothing was sent to it" in rows[A2_ID]["detail"], rows[A2_ID]["detail"]),
    (not any(p.startswith("A PBR") for to, p in quick), str(quick)),
])

stop_sim(sim)

# kxsim's fault options, as a host sees them through kxtool: each family B
# device at 127.0.2.n misbehaves in one way on the settings read (opcode 11),
# the family A device falls silent after the login.
faults = {"127.0.2.1": "late=1500", "127.0.2.2": "bad-crc", "127.0.2.3": "truncate=100",
          "127.0.2.4": "oversize=300", "127.0.2.5": "twice", "127.0.2.6": "strays=3"}
args = ["--family-a", "1", "--family-b", str(len(faults)), "--fault", "127.0.1.1,silent-after,on=L",
        "--family-b", "127.0.3.1=0.16.10.0.1.1"]  # family A's identifier on a family B device
for address, what in faults.items():
    args += ["--fault", f"{address},{what},on=op=11"]
sim = start_sim(*args)
twins = kxtool("show", "0.16.10.0.1.1", "--password", "")
twin_b = kxtool("show", "0.16.10.0.1.1", "--family", "b", "--password", "")
results = {address: kxtool("show", address, "--password", "") for address in faults}
results["127.0.1.1"] = kxtool("show", "127.0.1.1", "--password", "")  # last: it falls silent
case("kxsim faults, named; one identifier in two families", [
    (results["127.0.2.1"].returncode == 1 and "no answer from 127.0.2.1 (0.16.11.0.2.1) to the "
     "settings read within 1 s" in results["127.0.2.1"].stderr, results["127.0.2.1"].stderr),
    (all(results[a].returncode == 1 and "malformed" in results[a].stderr
         for a in ("127.0.2.2", "127.0.2.3")), results["127.0.2.2"].stderr),
    (results["127.0.2.4"].returncode == 1 and "larger than 256 bytes" in
     results["127.0.2.4"].stderr, results["127.0.2.4"].stderr),
    (all(results[a].returncode == 0 and table(results[a].stdout)["baud_rate"] == "9600"
         for a in ("127.0.2.5", "127.0.2.6")), results["127.0.2.6"].stderr),
    (results["127.0.1.1"].returncode == 1 and
     "to the settings read within 1 s" in results["127.0.1.1"].stderr, results["127.0.1.1"].stderr),
    (twins.returncode == 2 and "--family a" in twins.stderr and "--family b" in twins.stderr,
     twins.stderr),
    (twin_b.returncode == 0 and table(twin_b.stdout)["ip_address"] == "127.0.3.1", twin_b.stderr),
])
stop_sim(sim)

# Answers later than kx_search_one's 100 ms for family A, a search answer too
# large, a device of the other family, two family A devices with one
# identifier, a device configured with 0.0.0.0.
zero = write_json("zero.json", [{"address": "127.0.1.7", "family": 1, "device_id": "0.16.10.0.1.7",
                                 "ip_address": "0.0.0.0"}])
sim = start_sim("--family-a", "1", "--family-b", "2", "--devices", zero,
                            "--family-a", "127.0.1.5=0.16.10.0.1.4",
                            "--family-a", "127.0.1.6=0.16.10.0.1.4", "--trace",
                            "--fault", "127.0.1.1,late=150,on=X",
                            "--fault", "127.0.2.1,late=150,on=op=1",
                            "--fault", "127.0.2.2,oversize=400,on=op=1")
by_address, late = sent(["show", "127.0.1.1", "--password", ""])
by_id = kxtool("show", "0.16.10.0.1.1", "--password", "")
listed = {line.split()[1]: line.split()[5:] for line in kxtool("search").stdout.splitlines()[1:]}
case("late answers", [
    (by_address.returncode == 0 and by_id.returncode == 0, by_address.stderr + by_id.stderr),
    # Asked twice at the address (the second takes the first's late answer), read once.
    ([p for to, p in late if p in ("A X", "A GFE|21")] == ["A X", "A X", "A GFE|21"], str(late)),
    (listed.get("127.0.1.1") == ["A-1.07"] and listed.get("127.0.2.1") == ["B-2.03"], str(listed)),
])
oversize = kxtool("show", "127.0.2.2", "--password", "")
other = kxtool("show", "127.0.2.1", "--family", "a", "--password", "")
shared = kxtool("show", "127.0.1.5", "127.0.1.6", "0.16.10.0.1.4", "--password", "")
nowhere, datagrams = sent(["show", "0.16.10.0.1.7", "--password", ""])
case("what answered, named", [
    (oversize.returncode == 1 and "127.0.2.2 to the single-device search could not be received: "
     "it is larger than 256 bytes" in oversize.stderr, oversize.stderr),
    (other.returncode == 3 and "127.0.2.1 answered as a family B device (0.16.11.0.2.1), not "
     "family A" in other.stderr, other.stderr),
    (shared.returncode == 0 and "two family A devices may share the identifier" in shared.stderr,
     shared.stderr),
    # Configured with no address: reached by broadcast, selected by its identifier.
    (nowhere.returncode == 0 and all(to == "255.255.255.255" for to, _ in datagrams) and
     ("255.255.255.255", "A W0.16.10.0.1.7|20") in datagrams, nowhere.stderr),
])
stop_sim(sim)

# kxsim refuses what it cannot serve.
long_name = write_json("long.json", [{"address": "127.0.0.2", "family": 1, "device_name": "N" * 400}])
refusals = {
    "fault opcode": (["--family-a", "1", "--fault", "127.0.1.1,on=op=999,silent"], "0 to 255"),
    "identifier": (["--family-a", "127.0.0.2=1.2.3"], "device_id"),
    "long text": (["--devices", long_name], "longer than 9"),
    "address": (["--family-b", "10.0.0.5"], "--subnet"),
}
outcomes = {name: subprocess.run([KXSIM, *a], capture_output=True, text=True, timeout=10)
            for name, (a, _) in refusals.items()}
helped = subprocess.run([KXSIM, "--help"], capture_output=True, text=True, timeout=10)
case("kxsim refuses bad input", [
    *[(outcomes[n].returncode == 2 and want in outcomes[n].stderr, n + ": " + outcomes[n].stderr)
      for n, (_, want) in refusals.items()],
    ("before any other interface exists" in helped.stdout, helped.stdout),
])

# More than the tool's 1024 records answer: listed, warned, exit 4.
many = [{"address": f"127.1.{i // 250}.{i % 250 + 1}", "family": 16,
         "device_id": f"0.16.11.1.{i // 250}.{i % 250}"} for i in range(1030)]
sim = start_sim("--devices", write_json("many.json", many))
r = kxtool("search")
case("search that may have missed devices", [
    (r.returncode == 4, f"exit {r.returncode}"),
    (len(r.stdout.splitlines()) == 1025 and "may have missed devices" in r.stderr, r.stderr),
])
stop_sim(sim)

# Several adapters: doctor counts the search per adapter; --interface keeps
# the work on one.
sim = start_sim("--subnet", "10.1.0", "--subnet", "10.2.0", "--family-a",
                            "10.1.0.2", "--family-b", "10.2.0.3", "--family-b", "10.2.0.4")
doctor = kxtool("doctor")
lines = [line.strip() for line in doctor.stdout.splitlines()]
one = kxtool("--interface", "10.2.0.1", "search", "--json")
elsewhere = kxtool("--interface", "10.2.0.1", "show", "10.1.0.2")
absent = kxtool("-v", "--interface", "10.2.0.1", "show", "10.2.0.9")
case("doctor and --interface", [
    (doctor.returncode == 0, doctor.stdout + doctor.stderr),
    ("on kxhost0 10.1.0.0/24: 1" in lines and "on kxhost1 10.2.0.0/24: 2" in lines, doctor.stdout),
    ("local UDP port 65281: free" in lines, doctor.stdout),
    (any(line.startswith("255.255.255.255 leaves by: kxhost0") for line in lines), doctor.stdout),
    (sorted(d["ip_address"] for d in json.loads(one.stdout or "[]")) == ["10.2.0.3", "10.2.0.4"],
     one.stdout + one.stderr),
    (elsewhere.returncode == 2, elsewhere.stderr),
    # Named by address: asked there, no search (which would ask on every adapter).
    (absent.returncode == 3 and "kx_discover" not in absent.stderr, absent.stderr),
])
stop_sim(sim)

finish()
