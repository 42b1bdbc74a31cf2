#!/usr/bin/python3
"""kxtool's site journal, printed as figures over kxsim (never a test's verdict).

  the journal's cost to a single-device command (show ADDRESS with the
  journal against --no-journal): within 5 ms;
  inventory of a journal of 10,000 devices (each with a snapshot): within 1 s;
  check of a 60-device baseline (40 family A, 20 family B): within 2 s.

Runs inside a private network namespace only:
  scripts/netns-run bench/journal_bench.py [KXTOOL [KXSIM]]
"""
import json
import os
import resource
import sqlite3
import statistics
import subprocess
import sys
import time

import bench_support

KXTOOL, KXSIM = bench_support.programs()
RUNS = 20

work = bench_support.private_work_folder("journal_bench")
JOURNAL = os.path.join(work, "journal.sqlite")


def start_sim(*args):
    return bench_support.start_sim("journal_bench", KXSIM, work, *args)


def cpu_seconds():
    used = resource.getrusage(resource.RUSAGE_CHILDREN)
    return used.ru_utime + used.ru_stime


def timed(*args, codes=(0,)):
    """kxtool's wall time in ms, and its result."""
    start = time.monotonic()
    r = subprocess.run([KXTOOL, *args], capture_output=True, text=True)
    if r.returncode not in codes:
        sys.exit(f"journal_bench: kxtool {' '.join(args)} exited {r.returncode}: {r.stderr}")
    return (time.monotonic() - start) * 1000, r


def timed_cpu(*args):
    """kxtool's wall time and its processor time (user and system), in ms."""
    before = cpu_seconds()
    wall, _ = timed(*args)
    return wall, (cpu_seconds() - before) * 1000


def verdict(met):
    return "(goal met)" if met else "(over the goal)"


sim = start_sim("--family-a", "40", "--family-b", "20")
try:
    timed("--journal", JOURNAL, "search")
    print(f"kxtool show ADDRESS with the journal and with --no-journal, alternating; median of "
          f"{RUNS} runs each, goal: the journal adds at most 5 ms")
    for family, address in (("A", "127.0.1.1"), ("B", "127.0.2.1")):
        with_journal, without = [], []
        for _ in range(RUNS):
            with_journal.append(timed_cpu("--journal", JOURNAL, "show", address))
            without.append(timed_cpu("--no-journal", "show", address))
        wall = [statistics.median(w for w, _ in runs) for runs in (with_journal, without)]
        cpu = [statistics.median(c for _, c in runs) for runs in (with_journal, without)]
        cost = wall[0] - wall[1]
        print(f"  family {family} {address}: {wall[0]:6.1f} ms against {wall[1]:6.1f} ms: the "
              f"journal adds {cost:5.1f} ms wall, {cpu[0] - cpu[1]:4.1f} ms processor  "
              f"{verdict(cost <= 5)}")

    timed("--journal", JOURNAL, "baseline", "save", "site")
    print("kxtool check of a 60-device baseline (40 family A, 20 family B), goal: within 2 s")
    walls = [timed("--journal", JOURNAL, "check", "site")[0] for _ in range(3)]
    print(f"  {min(walls):6.0f} .. {max(walls):6.0f} ms over 3 runs  {verdict(max(walls) <= 2000)}")
finally:
    sim.terminate()
    sim.wait()

# 10,000 devices: the journal above, its devices copied with new identifiers
# and addresses, each with a snapshot, and a search that listed half of them.
with sqlite3.connect(JOURNAL) as db:
    settings = json.loads(db.execute("SELECT settings FROM snapshots LIMIT 1").fetchone()[0])
    now = db.execute("SELECT max(time) FROM searches").fetchone()[0]
    db.execute("INSERT INTO searches (time, host, user, command, adapters, scope, found, counts, "
               "complete) VALUES (?, 'bench', 'bench', 'search', 'lo', '', 5000, 'A 5000', 1)",
               (now,))
    search = db.execute("SELECT max(id) FROM searches").fetchone()[0]
    for n in range(10000):
        device_id = f"0.16.{20 + n // 65536}.{n // 256 % 256}.{n % 256}.1"
        address = f"10.{n // 65536}.{n // 256 % 256}.{n % 256}"
        settings.update(device_id=device_id, ip_address=address, device_name=f"D{n}")
        db.execute("INSERT INTO devices (family, device_id, name, configured, answered_from, "
                   "firmware, first_seen, last_seen, last_search) VALUES (1, ?, ?, ?, ?, "
                   "'A-1.07', ?, ?, ?)", (device_id, f"D{n}", address, address, now, now,
                                          search if n % 2 else None))
        device = db.execute("SELECT last_insert_rowid()").fetchone()[0]
        db.execute("INSERT INTO snapshots (device, time, last_time, command, host, user, "
                   "answered_from, settings) VALUES (?, ?, ?, 'save', 'bench', 'bench', ?, ?)",
                   (device, now, now, address, json.dumps(settings)))
        db.execute("UPDATE devices SET last_snapshot = last_insert_rowid() WHERE id = ?",
                   (device,))
count = sqlite3.connect(JOURNAL).execute("SELECT count(*) FROM devices").fetchone()[0]
print(f"kxtool inventory of {count} devices, each with a snapshot; best of 3 runs, wall and "
      f"processor time (load average {os.getloadavg()[0]:.1f}), goal: within 1 s")
for form in ([], ["--csv"], ["--json"]):
    runs = [timed_cpu("--journal", JOURNAL, "inventory", *form) for _ in range(3)]
    wall, cpu = min(w for w, _ in runs), min(c for _, c in runs)
    print(f"  inventory {' '.join(form) or '(table)':8} {wall:6.0f} ms wall, {cpu:6.0f} ms processor  "
          f"{verdict(wall <= 1000)}")
