"""What the kxtool tests share: running kxtool and kxsim, reading kxsim's
trace, and grouped cases that print PASS or FAIL.

The tests run inside a private network namespace (ctest wraps them in
scripts/netns-run). Usage of a test: TEST.py KXTOOL KXSIM
"""
import json
import os
import subprocess
import sys
import tempfile
import time

KXTOOL, KXSIM = sys.argv[1], sys.argv[2]
work = tempfile.mkdtemp()
# The password kxtool takes from KXCONF_PASSWORD; None: none given.
PASSWORD = {"value": "pw"}
_counts = {"passed": 0, "failed": 0}
_trace = {"file": None}


def path(name):
    return os.path.join(work, name)


def write_json(name, value):
    with open(path(name), "w") as f:
        json.dump(value, f)
    return path(name)


def environment(env=None):
    # The journal goes to the scratch folder, never the user's own.
    given = {"XDG_DATA_HOME": work}
    if PASSWORD["value"] is not None:
        given["KXCONF_PASSWORD"] = PASSWORD["value"]
    return {**{k: v for k, v in os.environ.items() if k != "KXCONF_PASSWORD"}, **given,
            **(env or {})}


def kxtool(*args, env=None):
    return subprocess.run([KXTOOL, *args], capture_output=True, text=True, timeout=60,
                          env=environment(env))


def catching_interrupts(run, limit=60):
    """Waits until the kxtool started as run catches SIGINT (its handler is
    in place), however slow its start under a sanitizer; True once it is."""
    end = time.monotonic() + limit
    while time.monotonic() < end and run.poll() is None:
        try:
            with open(f"/proc/{run.pid}/status") as f:
                caught = next(line for line in f if line.startswith("SigCgt:")).split()[1]
            if int(caught, 16) & 1 << 1:  # SIGINT is signal 2
                return True
        except (OSError, StopIteration):
            pass
        time.sleep(0.005)
    return False


def case(name, checks):
    """checks: list of (condition, description); the case fails on any false one."""
    bad = [what for ok, what in checks if not ok]
    if bad:
        _counts["failed"] += 1
        print(f"FAIL {name}: " + "; ".join(bad))
    else:
        _counts["passed"] += 1
        print(f"PASS {name}")


def finish():
    print(f"{_counts['passed']} passed, {_counts['failed']} failed")
    sys.exit(1 if _counts["failed"] else 0)


def table(stdout):
    """'name = value' lines as a dict."""
    return dict(line.split(" = ", 1) for line in stdout.splitlines() if " = " in line)


def start_sim(*args):
    """kxsim with args, once it is ready; its output (the trace) goes to a file."""
    log = open(path("trace"), "w+")
    sim = subprocess.Popen([KXSIM, *args], stdout=log, stderr=subprocess.STDOUT)
    for _ in range(100):
        log.seek(0)
        if log.read().startswith("ready"):
            _trace["file"] = log
            return sim
        time.sleep(0.05)
    sys.exit("kxsim did not become ready: " + open(path("trace")).read())


def stop_sim(sim):
    sim.terminate()
    sim.wait()


def trace_mark():
    time.sleep(0.2)  # kxsim prints what it received every 20 ms
    _trace["file"].seek(0)
    return len(_trace["file"].read().splitlines())


def trace_since(mark):
    """(destination, payload) of each datagram received since mark."""
    time.sleep(0.2)
    _trace["file"].seek(0)
    lines = _trace["file"].read().splitlines()[mark:]
    return [(line.split()[4].rsplit(":", 1)[0], " ".join(line.split()[5:])) for line in lines]


def sent(args, **kw):
    """kxtool's result, and what reached the devices meanwhile."""
    mark = trace_mark()
    r = kxtool(*args, **kw)
    return r, trace_since(mark)


_searches = set()


def searches_only(datagrams):
    """Whether every datagram is a search request of some family: one of those
    that kxtool search broadcasts (learned at the first call, so that every
    family the library speaks counts, however many there are)."""
    if not _searches:
        _, broadcast = sent(["search"])
        _searches.update(p for to, p in broadcast if to == "255.255.255.255")
    return all(p in _searches for _, p in datagrams)
