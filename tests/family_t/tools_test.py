#!/usr/bin/env python3
"""The shipped kxtool and the Python package with family T: kxsim built with
family T in its table, and the library built with it in its list, which
kxtool (by LD_LIBRARY_PATH) and Python (by KXCONF_LIBRARY) load in place of
the shipped one. Neither has family T in any list of its own: both learn it
from kx_family_info.

Runs inside a private network namespace (ctest wraps it in scripts/netns-run).
Usage: tools_test.py KXTOOL KXSIM LIBRARY [PYTHON_PACKAGE_FOLDER]
(without the folder, the Python part is left out)
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from kxtool_support import (case, finish, kxtool, sent, start_sim, stop_sim,  # noqa: E402
                            table, write_json)

LIBRARY = os.path.abspath(sys.argv[3])
PACKAGE = sys.argv[4] if len(sys.argv) > 4 else ""
os.environ["LD_LIBRARY_PATH"] = os.path.dirname(LIBRARY)

A, B, T, T_ID = "127.0.0.2", "127.0.0.3", "127.0.0.4", "0.16.13.0.0.1"
DEVICES = [
    {"address": A, "family": 1, "device_id": "0.16.10.0.0.1", "password": "pw"},
    {"address": B, "family": 16, "device_id": "0.16.11.0.0.2", "password": "pw"},
    {"address": T, "family": 48, "device_id": T_ID, "device_name": "LAB-T", "password": "pw",
     "baud_rate": 19200},
]
sim = start_sim("--devices", write_json("devices.json", DEVICES), "--trace")

r = kxtool("search")
rows = sorted(line.split() for line in r.stdout.splitlines()[1:])
case("search lists family T by its letter", [
    (r.returncode == 0, f"exit {r.returncode} {r.stderr}"),
    (["T", T, T_ID, "LAB-T", "4001", "T-0.9"] in rows, str(rows)),
])

r, datagrams = sent(["show", T])
shown = table(r.stdout)
case("show logs in, reads in the session, logs out", [
    (r.returncode == 0, f"exit {r.returncode} {r.stderr}"),
    ({k: shown.get(k) for k in ("family", "device_name", "baud_rate", "parity", "data_bits",
                                "password")} ==
     {"family": "T (48)", "device_name": "LAB-T", "baud_rate": "19200", "parity": "0",
      "data_bits": "8 bits", "password": "(set)"}, str(shown)),
    ([p for _, p in datagrams if p.startswith("T ") and "OP=WHO" not in p] ==
     [f"T seq=2 OP=LOGIN ID={T_ID} PASS=pw", f"T seq=3 OP=GET ID={T_ID} SESSION=7",
      f"T seq=5 OP=BYE ID={T_ID} SESSION=7"], str(datagrams)),
])

r, datagrams = sent(["set", T, "device_name=RENAMED", "baud_rate=57600"])
after = table(kxtool("show", T).stdout)
writes = [p for _, p in datagrams if "OP=SET" in p]
case("set writes in the session and reads back", [
    (r.returncode == 0, f"exit {r.returncode} {r.stderr}"),
    (table(r.stdout) == {"device_name": "RENAMED", "baud_rate": "57600"}, r.stdout),
    (len(writes) == 1 and "SESSION=8" in writes[0] and "NAME=RENAMED" in writes[0] and
     "BAUD=57600" in writes[0], str(writes)),
    ((after.get("device_name"), after.get("baud_rate")) == ("RENAMED", "57600"), str(after)),
])

if PACKAGE:
    os.environ["KXCONF_LIBRARY"] = LIBRARY
    sys.path.insert(0, PACKAGE)
    import kxconf  # noqa: E402

    infos = [(str(f.family), f.letter, f.device_port, f.record_size) for f in kxconf.families()]
    found = {str(d.family): d for d in kxconf.discover()}
    device = found.get("T")
    read = written = None
    if device is not None:
        with device.session("pw") as s:
            read = s.read()
            read.baud_rate = kxconf.BaudRate.B115200
            s.write(read)
            written = s.read()
    case("Python learns family T from the library", [
        (infos == [("A", "A", 65535, 244), ("B", "B", 65280, 148), ("T", "T", 65290, 64)],
         str(infos)),
        (sorted(found) == ["A", "B", "T"], str(sorted(found))),
        (device is not None and int(device.family) == 48 and device.family == "T" and
         str(device.device_id) == T_ID, str(device)),
        (read is not None and (read.device_name, read.parity) == ("RENAMED", 0), str(read)),
        (written is not None and int(written.baud_rate) == 115200, str(written)),
        (str(kxconf.Family(99)) == "CODE_99", "a code no family has"),
    ])

stop_sim(sim)
finish()
