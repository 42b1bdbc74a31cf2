#!/usr/bin/env python3
"""kxtool on a plant with faults, as a technician meets them: Ctrl-C in the
middle of a batch, a write another program left half-sent, two devices with
one address, addresses that would lose a device, links and loose
permissions around files, a wrong password before a quick setting, a device
re-addressed but not restarted.

Runs inside a private network namespace (ctest wraps it in scripts/netns-run).
Expected values are literals of kxsim's defaults (devices SIM-An at 127.0.1.n
with identifiers 0.16.10.0.1.n, family B at 127.0.2.n) and of the device
files written here; kxsim's trace shows what reached the devices.
Usage: kxtool_field_test.py KXTOOL KXSIM
"""
import json
import os
import random
import re
import signal
import socket
import stat
import subprocess
import time

import kxtool_support
from kxtool_support import (KXTOOL, case, catching_interrupts, environment, finish, kxtool, path,
                            sent, start_sim, stop_sim, table, trace_mark, trace_since, write_json)

kxtool_support.PASSWORD["value"] = None  # kxsim's default devices have none
seed = random.randrange(1 << 30)
print(f"random seed {seed}")
rng = random.Random(seed)


def interrupted(args, delay):
    """kxtool with SIGINT delay seconds after it catches it (past its start, even under a
    sanitizer): exit code, stdout and stderr."""
    run = subprocess.Popen([KXTOOL, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                           text=True, env=environment())
    catching_interrupts(run)
    time.sleep(delay)
    run.send_signal(signal.SIGINT)
    out, err = run.communicate(timeout=60)
    return run.returncode, out + err


def rows(stdout):
    """A batch table's rows: device's first word -> result word."""
    return {line.split()[0]: line.split()[-1] if len(line.split()) < 3 else
            next(w for w in line.split()[1:] if w in ("ok", "FAILED", "interrupted"))
            for line in stdout.splitlines()[1:-1] if line.strip()}


def writes_closed(datagrams):
    """Every family A write ("W<id>|1E") ends with "E" or "O" before anything else begins."""
    open_write = False
    for _, p in datagrams:
        if p.startswith("A W") and p.endswith("|1E"):
            if open_write:
                return False
            open_write = True
        elif p in ("A E", "A O"):
            open_write = False
        elif p.startswith("A W") or p.startswith("A L"):
            if open_write:
                return False
    return not open_write


def comes_before(datagrams, first, then):
    return first in datagrams and then in datagrams and datagrams.index(first) < datagrams.index(then)


A_IDS = {f"127.0.1.{n}": f"0.16.10.0.1.{n}" for n in range(1, 31)}
B_IDS = {f"127.0.2.{n}": f"0.16.11.0.2.{n}" for n in range(1, 11)}

# Ctrl-C at random moments of save --dir: every file stays whole (the old
# one or the new one), none is lost, and the table so far is printed.
sim = start_sim("--family-a", "30", "--family-b", "10", "--trace")
saved = path("saved")
first = kxtool("save", "--all", "--dir", saved)
before = sorted(os.listdir(saved))
checks = [(first.returncode == 0 and before == sorted(i + ".json" for i in
                                                      [*A_IDS.values(), *B_IDS.values()]),
           first.stdout + first.stderr)]
for delay in (rng.uniform(0.25, 1.0) for _ in range(4)):
    code, output = interrupted(["save", "--all", "--dir", saved], delay)
    checks.append((code in (0, 130), f"after {delay:.2f} s: exit {code} {output}"))
    checks.append((code != 130 or re.search(r"^\d+ ok, 0 failed, [1-9]\d* interrupted$", output,
                                            re.M), output))
    checks.append((sorted(os.listdir(saved)) == before, str(sorted(os.listdir(saved)))))
    for name in before:
        with open(os.path.join(saved, name)) as f:
            text = f.read()
        checks.append((text.endswith("}\n") and json.loads(text)["device_id"] == name[:-5],
                       f"{name}: {text[:60]!r}"))
case("Ctrl-C during save --dir", checks)

# Ctrl-C at random moments of apply: the write under way ends with "E" (or
# "O"), devices not begun keep their settings, the table says which is which.
checks = []
for run, delay in enumerate(rng.uniform(0.25, 0.7) for _ in range(2)):
    port = 7000 + 100 * run
    entries = [{"device": address, "settings": {"dest_port": port + n}}
               for n, address in enumerate(A_IDS, 1)]
    mark = trace_mark()
    code, output = interrupted(["apply", write_json(f"apply{run}.json", entries)], delay)
    datagrams = trace_since(mark)
    outcome = rows(output)
    checks.append((code == 130 and "interrupted" in outcome.values(),
                   f"after {delay:.2f} s: exit {code} {output}"))
    checks.append((writes_closed(datagrams), str(datagrams)))
    now = kxtool("save", "--all", "--family", "a", "--dir", path(f"check{run}"))
    for n, (address, device_id) in enumerate(A_IDS.items(), 1):
        with open(path(f"check{run}/{device_id}.json")) as f:
            kept = json.load(f)["dest_port"]
        wanted = port + n if outcome.get(address) == "ok" else None
        checks.append((kept == wanted if wanted else kept != port + n,
                       f"{address} {outcome.get(address)} kept dest_port {kept}"))
case("Ctrl-C during apply", checks)

# A write left half-sent (a program killed after "W<id>|1E" and a set
# command): a later write to another device must not complete it, though
# its "E" goes to every family A device.
killed = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
for text in ("W0.16.10.0.1.1|1E", "SDNHALF|1F"):
    killed.sendto(text.encode(), ("127.0.1.1", 65535))
    time.sleep(0.05)
later, datagrams = sent(["set", "127.0.1.2", "dest_port=1234"])
shown = table(kxtool("show", "127.0.1.1").stdout)
case("a write left half-sent is not completed by another", [
    (later.returncode == 0, later.stderr),
    (shown.get("device_name") == "SIM-A1", str(shown)),
    (comes_before(datagrams, ("255.255.255.255", "A O"),
                  ("255.255.255.255", "A W0.16.10.0.1.2|1E")), str(datagrams)),
])
stop_sim(sim)

# Two family A devices at one address (and one of family B, alone).
sim = start_sim("--family-a", "127.0.1.1", "--family-a", "127.0.1.5=0.16.10.0.1.205",
                "--family-a", "127.0.1.5=0.16.10.0.1.206", "--family-b", "1", "--trace")
SHARED = "two devices have the address 127.0.1.5: A 0.16.10.0.1.205 and A 0.16.10.0.1.206"
listed = kxtool("search")
doctor = kxtool("doctor")
save = kxtool("save", "--all", "--dir", path("twins"))
names = {}
for device_id in ("0.16.10.0.1.205", "0.16.10.0.1.206"):
    with open(path(f"twins/{device_id}.json")) as f:
        names[device_id] = json.load(f)["device_name"]
quick, datagrams = sent(["baud", "127.0.1.5", "4800"])
case("two devices at one address", [
    (listed.returncode == 0 and any(" 0.16.10.0.1.205 " in line and line.endswith(SHARED)
                                    for line in listed.stdout.splitlines()), listed.stdout),
    (doctor.returncode == 1 and SHARED in doctor.stdout, doctor.stdout),
    (save.returncode == 0, save.stdout + save.stderr),
    # kxsim names a device SIM-AN by its place N on the command line.
    (names == {"0.16.10.0.1.205": "SIM-A2", "0.16.10.0.1.206": "SIM-A3"}, str(names)),
    (quick.returncode == 1 and "0.16.10.0.1.206" in quick.stderr, quick.stderr),
    (not any(p.startswith("A PBR") for _, p in datagrams), str(datagrams)),
])
stop_sim(sim)

# One device of each family with a password, for what follows.
plant = [{"address": "127.0.1.1", "family": 1, "device_id": "0.16.10.0.1.1", "password": "pw"},
         {"address": "127.0.1.2", "family": 1, "device_id": "0.16.10.0.1.2", "password": "pw"},
         {"address": "127.0.2.1", "family": 16, "device_id": "0.16.11.0.2.1", "password": "pw"}]
sim = start_sim("--devices", write_json("plant.json", plant), "--trace")
kxtool_support.PASSWORD["value"] = "pw"

# Addresses that would lose the device: refused, nothing written; the
# address outside the host's subnets is named; --force writes.
checks = []
for assignment, says in (("ip_address=0.0.0.0", "no device's address"),
                         ("ip_address=255.255.255.255", "the broadcast address"),
                         ("ip_address=224.0.0.1", "a multicast address"),
                         ("ip_address=240.0.0.1", "a reserved address"),
                         ("subnet_mask=255.0.255.0", "no subnet mask"),
                         ("ip_address=127.0.0.0", "its subnet's network address"),
                         ("ip_address=127.255.255.255", "its subnet's broadcast address"),
                         ("ip_address=127.0.0.1", "this host's own address"),
                         ("ip_address=10.9.9.9", "10.9.9.9 is on none of this host's subnets"),
                         ("gateway=224.0.0.1", "a multicast address")):
    r, datagrams = sent(["set", "127.0.1.1", assignment])
    checks.append((r.returncode == 2 and says in r.stderr, f"{assignment}: {r.stderr}"))
    checks.append((not any(p.startswith("A S") for _, p in datagrams), str(datagrams)))
forced = kxtool("set", "127.0.1.1", "subnet_mask=255.0.255.0", "--force")
checks.append((forced.returncode == 0, forced.stderr))
case("addresses that lose the device", checks)

# Password first: a wrong password sends no quick setting.
wrong_a, sent_a = sent(["baud", "127.0.1.1", "4800", "--password", "wrong"])
wrong_b, sent_b = sent(["parity", "127.0.2.1", "even", "--password", "wrong"])
right, sent_right = sent(["baud", "127.0.1.1", "4800"])
case("password first", [
    (wrong_a.returncode == 1 and "refused the login" in wrong_a.stderr, wrong_a.stderr),
    (wrong_b.returncode == 1 and "refused the login" in wrong_b.stderr, wrong_b.stderr),
    (not any(p.startswith("A PBR") or p.startswith("B serial") for _, p in sent_a + sent_b),
     str(sent_a + sent_b)),
    (right.returncode == 0, right.stderr),
    (comes_before(sent_right, ("127.0.1.1", "A Lpw|19"), ("127.0.1.1", "A PBR2")),
     str(sent_right)),
])

# Files: a link at a save target is refused before the device is asked and
# left as it is; files with a password are the owner's alone; a password
# file others may write, or one without an end, is refused.
links = path("links")
os.makedirs(links)
with open(path("keep"), "w") as f:
    f.write('{"good": 1}\n')
os.symlink(path("keep"), os.path.join(links, "0.16.10.0.1.1.json"))
os.symlink(path("nowhere"), os.path.join(links, "0.16.10.0.1.2.json"))
linked, datagrams = sent(["save", "--all", "--dir", links])
private = kxtool("save", "--all", "--dir", path("private"), "--with-password")
modes = {name: stat.S_IMODE(os.stat(path("private/" + name)).st_mode)
         for name in os.listdir(path("private"))}
with open(path("shared-pw"), "w") as f:
    f.write("pw\n")
os.chmod(path("shared-pw"), 0o666)
with open(path("endless"), "w") as f:
    f.write("x" * 2_000_000)
os.chmod(path("endless"), 0o600)
shared_pw = kxtool("show", "127.0.1.1", "--password-file", path("shared-pw"))
endless = kxtool("show", "127.0.1.1", "--password-file", path("endless"))
case("files: links, owner-only passwords, password files", [
    (linked.returncode == 1 and rows(linked.stdout) == {"127.0.1.1": "FAILED",
                                                       "127.0.1.2": "FAILED", "127.0.2.1": "ok"},
     linked.stdout),
    ("is a symbolic link" in linked.stdout, linked.stdout),
    (open(path("keep")).read() == '{"good": 1}\n' and not os.path.lexists(path("nowhere")), ""),
    (not any(to in ("127.0.1.1", "127.0.1.2") for to, _ in datagrams), str(datagrams)),
    (private.returncode == 0 and set(modes.values()) == {0o600}, str(modes)),
    (shared_pw.returncode == 2 and "may be written by others" in shared_pw.stderr,
     shared_pw.stderr),
    (endless.returncode == 2 and "longer than 1024 bytes" in endless.stderr, endless.stderr),
])

# Parity in files: a word; a number keeps each family's own code (family A
# numbers even 1).
saved_a = json.loads(kxtool("save", "127.0.1.1").stdout)
old_file = write_json("old-a.json", {**saved_a, "parity": 1})
restored = kxtool("restore", "127.0.1.1", old_file)
case("parity words in files, numbers as before", [
    (saved_a["parity"] == "none", str(saved_a)),
    (restored.returncode == 0, restored.stderr),
    (json.loads(kxtool("save", "127.0.1.1").stdout)["parity"] == "even", "after restore"),
])

# A device given a new address, not yet restarted: found by its identifier
# and its new address, and named where it answers.
moved = kxtool("set", "127.0.1.2", "ip_address=127.0.1.99")
listed = kxtool("search").stdout
by_id = kxtool("show", "0.16.10.0.1.2")
by_new = kxtool("show", "127.0.1.99")
by_old = kxtool("show", "127.0.1.2")
quick, datagrams = sent(["baud", "0.16.10.0.1.2", "4800"])
case("a re-addressed device", [
    (moved.returncode == 0, moved.stderr),
    (any(line.split()[1:3] == ["127.0.1.99", "0.16.10.0.1.2"] and
         "answers from 127.0.1.2; " in line and "reaches it by its identifier" in line
         for line in listed.splitlines()), listed),
    (by_id.returncode == 0 and table(by_id.stdout).get("ip_address") == "127.0.1.99",
     by_id.stderr),
    ("does not answer at 127.0.1.99" in by_id.stderr, by_id.stderr),
    (by_new.returncode == 0, by_new.stderr),
    (by_old.returncode == 0 and "configured with 127.0.1.99" in by_old.stderr and
     "answers at 127.0.1.2" in by_old.stderr, by_old.stderr),
    (quick.returncode == 1 and "does not answer as itself at 127.0.1.99" in quick.stderr,
     quick.stderr),
    (not any(p.startswith("A PBR") for _, p in datagrams), str(datagrams)),
])
stop_sim(sim)
finish()
