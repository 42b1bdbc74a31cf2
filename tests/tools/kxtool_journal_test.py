#!/usr/bin/env python3
"""kxtool's site journal against kxsim: what a search, a save and a set
record; a kxtool killed in the middle of a write; two kxtools recording at
once; inventory's offline mark; check against a baseline; audit's findings;
a journal that cannot be used.

Runs inside a private network namespace (ctest wraps it in scripts/netns-run).
Expected values are literals of kxsim's defaults (devices SIM-An at 127.0.1.n
with identifiers 0.16.10.0.1.n, firmware A-1.07, 9600 baud, destination port
5000; family B at 127.0.2.n). The journal is read with Python's sqlite3.
Usage: kxtool_journal_test.py KXTOOL KXSIM
"""
import json
import os
import signal
import sqlite3
import subprocess
import sys
import time

import kxtool_support
from kxtool_support import (KXTOOL, case, environment, finish, kxtool, path, start_sim, stop_sim,
                            write_json)

kxtool_support.PASSWORD["value"] = None  # kxsim's default devices have none
JOURNAL = path("kxconf/journal.sqlite")  # where XDG_DATA_HOME puts it


def query(sql, *args, db=JOURNAL):
    with sqlite3.connect(f"file:{db}?mode=ro", uri=True) as c:
        return c.execute(sql, args).fetchall()


def fresh_journal():
    for end in ("", "-wal", "-shm"):
        if os.path.exists(JOURNAL + end):
            os.remove(JOURNAL + end)


def wait_for_trace(text, seconds=20):
    """Until kxsim's trace holds a datagram starting with text."""
    end = time.time() + seconds
    while time.time() < end:
        with open(path("trace")) as f:
            if any(" " + text in line for line in f):
                return True
        time.sleep(0.01)
    return False


# What a search, a save and a set leave in the journal (made where
# XDG_DATA_HOME says, with its folder); no password in the file.
sim = start_sim("--family-a", "2", "--family-b", "1")
search = kxtool("search")
save = kxtool("save", "127.0.1.1")
changed = kxtool("set", "127.0.1.1", "baud_rate=57600", "dest_port=6001", "password=s3cret")
later = kxtool("show", "127.0.1.1", "--password", "s3cret")
with open(JOURNAL, "rb") as f:
    stored = f.read()
wal = path("kxconf/journal.sqlite-wal")
if os.path.exists(wal):
    stored += open(wal, "rb").read()
case("records of a search, a save and a set", [
    (search.returncode == 0 and save.returncode == 0 and changed.returncode == 0,
     search.stderr + save.stderr + changed.stderr),
    (query("SELECT found, counts, complete, command FROM searches") == [(3, "A 2, B 1", 1, "search")],
     str(query("SELECT * FROM searches"))),
    (query("SELECT family, device_id, name, configured, firmware FROM devices ORDER BY device_id") ==
     [(1, "0.16.10.0.1.1", "SIM-A1", "127.0.1.1", "A-1.07"),
      (1, "0.16.10.0.1.2", "SIM-A2", "127.0.1.2", "A-1.07"),
      (16, "0.16.11.0.2.1", "SIM-B1", "127.0.2.1", "B-2.03")], str(query("SELECT * FROM devices"))),
    # The search reads family A's settings (for the firmware); an unchanged
    # read (save's, set's first) extends a snapshot, a changed one (set's
    # read-back) makes a new one.
    ([(c, json.loads(s)["device_name"], json.loads(s)["baud_rate"], "password" in json.loads(s))
      for c, s in query("SELECT command, settings FROM snapshots ORDER BY id")] ==
     [("search", "SIM-A1", 9600, False), ("search", "SIM-A2", 9600, False),
      ("set", "SIM-A1", 57600, False)], str(query("SELECT command, settings FROM snapshots"))),
    (query("SELECT command, ok, answered_from FROM changes") == [("set", 1, "127.0.1.1")],
     str(query("SELECT * FROM changes"))),
    (query("SELECT field, before, after, secret FROM change_fields ORDER BY position") ==
     [("password", None, None, 1), ("dest_port", "5000", "6001", 0),
      ("baud_rate", "9600", "57600", 0)], str(query("SELECT * FROM change_fields"))),
    (later.returncode == 0 and b"s3cret" not in stored, "the password is in the journal"),
    (query("PRAGMA journal_mode") == [("wal",)], str(query("PRAGMA journal_mode"))),
])

# A write that fails is recorded as failed, with no field claimed; history
# shows it newest first, with who and before -> after.
stop_sim(sim)
sim = start_sim("--family-a", "2", "--fault", "127.0.1.2,silent,on=SDP")
failed = kxtool("set", "127.0.1.2", "dest_port=7001")
kxtool("set", "127.0.1.1", "dest_port=6002")
history = kxtool("history")
of_one = kxtool("history", "127.0.1.2", "--json")
rows = [line.split() for line in history.stdout.splitlines()]
case("a failed write, and history", [
    (failed.returncode == 1, failed.stderr),
    (query("SELECT ok, (SELECT count(*) FROM change_fields WHERE change = c.id) FROM changes c "
           "ORDER BY id") == [(1, 3), (0, 0), (1, 1)], str(query("SELECT * FROM changes"))),
    (history.returncode == 0 and rows[0] == ["time", "who", "device", "command", "result", "change"],
     history.stdout),
    ([r[2:] for r in rows[1:]] ==
     [["127.0.1.1", "(0.16.10.0.1.1)", "set", "ok", "dest_port:", "5000", "->", "6002"],
      ["127.0.1.2", "(0.16.10.0.1.2)", "set", "FAILED", "no", "answer", "from", "127.0.1.2",
       "(0.16.10.0.1.2)", "to", "the", "settings", "write", "within", "1", "s"],
      ["127.0.1.1", "(0.16.10.0.1.1)", "set", "ok", "password:", "changed", "(not", "shown)"],
      ["127.0.1.1", "(0.16.10.0.1.1)", "set", "ok", "dest_port:", "5000", "->", "6001"],
      ["127.0.1.1", "(0.16.10.0.1.1)", "set", "ok", "baud_rate:", "9600", "->", "57600"]],
     history.stdout),
    ([(c["ok"], c["fields"]) for c in json.loads(of_one.stdout)] == [(False, [])], of_one.stdout),
])
stop_sim(sim)

# SIGKILL in the middle of a write (between its first and its last
# datagram, the device's answer held back), and at random moments of a
# batch of reads: the journal stays whole, claims no change, and the next
# kxtool uses it.
sim = start_sim("--family-a", "30", "--trace", "--fault", "127.0.1.3,late=3000,on=E")
fresh_journal()
before_kill = kxtool("search")
run = subprocess.Popen([KXTOOL, "set", "127.0.1.3", "dest_port=6100"], env=environment(),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
in_write = wait_for_trace("A E")
run.send_signal(signal.SIGKILL)
run.wait()
checks = [(in_write, "the write never began")]
for delay in (0.3, 0.6, 0.9):
    run = subprocess.Popen([KXTOOL, "save", "--all", "--dir", path("kill")], env=environment(),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(delay)
    run.send_signal(signal.SIGKILL)
    run.wait()
    checks.append((query("PRAGMA integrity_check") == [("ok",)], f"killed after {delay} s"))
checks.append((query("SELECT count(*) FROM changes") == [(0,)], str(query("SELECT * FROM changes"))))
after_kill = kxtool("inventory", "--json")
checks.append((after_kill.returncode == 0 and len(json.loads(after_kill.stdout)) == 30,
               after_kill.stderr))
case("SIGKILL in the middle", checks)
stop_sim(sim)

# Two kxtools, each in a network of its own with its own kxsim, recording
# into one journal at once: every record kept, none refused.
fresh_journal()
script = ("{kxsim} --family-a 20 >/dev/null & sleep 0.5; for i in 1 2 3; do "
          "{kxtool} --journal {journal} save --all --dir {dir} >/dev/null || exit 1; done; "
          "{kxtool} --journal {journal} set 127.0.1.1 dest_port={port} >/dev/null; code=$?; "
          "kill $!; exit $code")
runs = [subprocess.Popen([os.path.join(os.path.dirname(__file__), "../../scripts/netns-run"), "sh",
                          "-c", script.format(kxsim=kxtool_support.KXSIM, kxtool=KXTOOL,
                                              journal=JOURNAL, dir=path(f"two{n}"), port=6200 + n)],
                         env=environment(), stderr=subprocess.PIPE, text=True) for n in (1, 2)]
errors = [r.communicate(timeout=120)[1] for r in runs]
case("two kxtools at once", [
    (all(r.returncode == 0 for r in runs), str(errors)),
    (not any("did not record" in e for e in errors), str(errors)),
    (query("SELECT count(*), sum(found) FROM searches") == [(6, 120)],
     str(query("SELECT count(*), sum(found) FROM searches"))),
    (sorted(query("SELECT after FROM change_fields")) == [("6201",), ("6202",)],
     str(query("SELECT * FROM change_fields"))),
])

# Inventory: a device missing from the latest complete search is offline;
# a search of one adapter's subnet marks nothing offline.
fresh_journal()
sim = start_sim("--family-a", "3")
kxtool("save", "--all", "--dir", path("inv"))
stop_sim(sim)
sim = start_sim("--family-a", "2")
kxtool("search")
listed = kxtool("inventory", "--json")
csv = kxtool("inventory", "--csv")
status = {d["device_id"]: d["status"] for d in json.loads(listed.stdout or "[]")}
case("inventory's offline mark", [
    (listed.returncode == 0, listed.stderr),
    (status == {"0.16.10.0.1.1": "online", "0.16.10.0.1.2": "online", "0.16.10.0.1.3": "offline"},
     str(status)),
    (csv.stdout.splitlines()[3].split(",")[:12] ==
     ["offline", "A", "0.16.10.0.1.3", "SIM-A3", "127.0.1.3", "127.0.1.3", "A-1.07", "9600", "none",
      "8", "1", "0"], csv.stdout),
])

# check: exit 0 while nothing drifted; a drifted field, a missing device
# and a new one exit 1 with a row each; an unknown baseline exits 2.
stop_sim(sim)
sim = start_sim("--family-a", "3")
saved = kxtool("baseline", "save", "site")
same = kxtool("check", "site")
kxtool("set", "127.0.1.2", "dest_port=6001", "baud_rate=19200")
drifted = kxtool("check", "site")
stop_sim(sim)
sim = start_sim("--family-a", "2", "--family-a", "127.0.1.4=0.16.10.0.1.4")
changed_site = kxtool("check", "site")
unknown = kxtool("check", "nosuch")
rows = {line.split()[0]: line.split()[3:] for line in changed_site.stdout.splitlines()[1:-1]}
case("check against a baseline", [
    (saved.returncode == 0 and "baseline site: 3 device(s) saved" in saved.stdout, saved.stdout),
    (same.returncode == 0 and same.stdout.splitlines()[-1].endswith(": 3 same"), same.stdout),
    (drifted.returncode == 1 and "127.0.1.2 (0.16.10.0.1.2)  A       drifted  "
     "dest_port: 5000 -> 6001; baud_rate: 9600 -> 19200" in drifted.stdout, drifted.stdout),
    (changed_site.returncode == 1, changed_site.stdout + changed_site.stderr),
    (rows.get("127.0.1.3") == ["missing", "not", "found:", "the", "baseline", "has", "it", "at",
                               "127.0.1.3", "(SIM-A3)"], str(rows)),
    (rows.get("127.0.1.4", [""])[0] == "new" and rows.get("127.0.1.2", [""])[0] == "same",
     str(rows)),
    (unknown.returncode == 2 and "no baseline nosuch" in unknown.stderr, unknown.stderr),
])

# Python's kxconf.Journal reads what kxtool shows, without writing.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../python"))
import kxconf  # noqa: E402

before = os.stat(JOURNAL).st_mtime_ns
with kxconf.Journal(JOURNAL) as journal:
    inventory = journal.inventory()
    changes = journal.history("127.0.1.2")
    snapshots = journal.snapshots("0.16.10.0.1.2", "A")
shown = json.loads(kxtool("inventory", "--json").stdout)
case("Python reads the journal", [
    ([(d.device_id, d.status, d.configured, d.firmware) for d in inventory] ==
     [(d["device_id"], d["status"], d["ip_address"], d["firmware_version"]) for d in shown],
     str(inventory)),
    ([d.status for d in inventory] == ["online", "online", "offline", "online"], str(inventory)),
    ([(c.command, c.ok, [(f.field, f.before, f.after) for f in c.fields]) for c in changes] ==
     [("set", True, [("dest_port", "5000", "6001"), ("baud_rate", "9600", "19200")])],
     str(changes)),
    ([s.settings["baud_rate"] for s in snapshots][:2] == [9600, 19200], str(snapshots)),
    (all("password" not in s.settings for s in snapshots), str(snapshots)),
    (os.stat(JOURNAL).st_mtime_ns == before, "the journal was written"),
])
stop_sim(sim)

# audit: an empty password (never the password itself), two devices at
# one address, an identifier the journal saw elsewhere that answers there
# too, a device not at its address.
plant = [{"address": "127.0.1.1", "family": 1, "device_id": "0.16.10.0.1.1", "password": "pw"}]
sim = start_sim("--family-a", "127.0.1.7=0.16.10.0.1.77")
kxtool("search")
stop_sim(sim)
sim = start_sim("--devices", write_json("plant.json", plant), "--family-a",
                "127.0.1.5=0.16.10.0.1.205", "--family-a", "127.0.1.5=0.16.10.0.1.206",
                "--family-a", "127.0.1.8=0.16.10.0.1.77", "--family-b", "127.0.2.2=0.16.11.0.2.2")
kxtool("search")  # the journal now knows 0.16.10.0.1.77 at .7 and .8
stop_sim(sim)
sim = start_sim("--devices", write_json("plant.json", plant), "--family-a",
                "127.0.1.5=0.16.10.0.1.205", "--family-a", "127.0.1.5=0.16.10.0.1.206",
                "--family-a", "127.0.1.7=0.16.10.0.1.77", "--family-a", "127.0.1.8=0.16.10.0.1.77",
                "--family-b", "127.0.2.2=0.16.11.0.2.2", "--trace")
kxtool("set", "127.0.2.2", "ip_address=127.0.9.2", "--password", "")
audit = kxtool("audit", "--json")
found = sorted((f["finding"], f["device"]) for f in json.loads(audit.stdout or "[]"))
with open(path("trace")) as f:
    logins = [line for line in f if " A L" in line or "login" in line]
case("audit's findings", [
    (audit.returncode == 1, audit.stderr),
    (("shared address", "127.0.1.5") in found, str(found)),
    (("shared identifier", "A 0.16.10.0.1.77") in found, str(found)),
    (("not at its address", "127.0.2.2 (0.16.11.0.2.2)") in found, str(found)),
    ([d for f, d in found if f == "empty password"] ==
     ["0.16.10.0.1.205 (broadcast)", "0.16.10.0.1.206 (broadcast)", "127.0.1.7 (0.16.10.0.1.77)",
      "127.0.2.2 (0.16.11.0.2.2)"], str(found)),
    (not any(d.startswith("127.0.1.1") for _, d in found), str(found)),
    ("pw" not in audit.stdout.replace("password", ""), audit.stdout),
])
stop_sim(sim)

# A journal that cannot be used: the command goes on, warned; --no-journal
# records nothing; reading a journal that is not there exits 2.
sim = start_sim("--family-a", "1")
open(path("a-file"), "w").close()
blocked = kxtool("--journal", path("a-file/journal.sqlite"), "set", "127.0.1.1", "dest_port=6301")
newer = path("newer.sqlite")
with sqlite3.connect(newer) as c:
    c.execute("PRAGMA user_version = 99")
too_new = kxtool("--journal", newer, "set", "127.0.1.1", "dest_port=6302")
none = kxtool("--no-journal", "--journal", path("none.sqlite"), "set", "127.0.1.1",
              "dest_port=6303")
missing = kxtool("--journal", path("missing.sqlite"), "inventory")
shown = kxtool("--no-journal", "show", "127.0.1.1")
case("a journal that cannot be used", [
    (blocked.returncode == 0 and "warning: the journal cannot be used" in blocked.stderr and
     "this command goes on and is not recorded" in blocked.stderr, blocked.stderr),
    (too_new.returncode == 0 and "written by a newer kxtool" in too_new.stderr, too_new.stderr),
    (none.returncode == 0 and none.stderr == "" and not os.path.exists(path("none.sqlite")),
     none.stderr),
    ("dest_port = 6303" in shown.stdout, shown.stdout),
    (missing.returncode == 2 and "no journal at" in missing.stderr, missing.stderr),
])
stop_sim(sim)
finish()
