#!/usr/bin/env python3
"""The Windows zip's kxtool.exe, x64 and x86, under Wine against kxsim.

Runs inside the private network namespace of scripts/windows-test, whose
wineserver was started there; kxtool.exe serve is asked over HTTP from Linux. kxsim's fault options make one device drop its
login and put strays ahead of another's read. Prints PASS/FAIL lines.
Usage: wine_kxtool_test.py UNPACKED_ZIP_DIR KXSIM
"""
import json
import os
import subprocess
import sys
import tempfile
import time

from console_client import Console

ZIP, KXSIM = sys.argv[1], sys.argv[2]
A, A_ID = "127.0.1.1", "0.16.10.0.1.1"
B, B_ID = "127.0.2.1", "0.16.11.0.2.1"
MUTE, MUTE_ID = "127.0.2.2", "0.16.11.0.2.2"

log = tempfile.TemporaryFile("w+")
sim = subprocess.Popen([KXSIM, "--family-a", "1", "--family-b", "2",
                        "--fault", MUTE + ",silent,on=op=17",
                        "--fault", B + ",strays=3,on=op=11"], stdout=log, stderr=subprocess.STDOUT)
for _ in range(100):
    log.seek(0)
    if log.read().startswith("ready"):
        break
    time.sleep(0.05)
else:
    print("FAIL kxsim did not become ready")
    sys.exit(1)

failed = 0


def case(name, checks):
    global failed
    bad = [what for ok, what in checks if not ok]
    print(("FAIL " if bad else "PASS ") + name + (": " + "; ".join(bad) if bad else ""))
    failed += bool(bad)


def parsed(text):
    try:
        return json.loads(text)
    except ValueError:
        return None


# The Wine loader per architecture (scripts/windows-test chooses them); an
# empty one means there is none here, for the reason KXCONF_NO_X86_WINE gives.
loaders = {"x64": os.environ.get("KXCONF_WINE_X64", "wine"),
           "x86": os.environ.get("KXCONF_WINE_X86", "wine")}
for arch in ("x64", "x86"):
    exe = os.path.join(ZIP, arch, "kxtool.exe")
    loader = loaders[arch]
    if not loader:
        reason = os.environ.get("KXCONF_NO_X86_WINE") or "Wine cannot run it here"
        print(f"SKIP kxtool.exe ({arch}): no {arch} Wine: {reason}")
        continue

    def kxtool(*args):
        return subprocess.run([loader, exe, *args], capture_output=True, text=True, timeout=120)

    r = kxtool("crc", "123456789")
    case(f"kxtool.exe crc ({arch})", [(r.stdout.strip() == "0x31C3", repr(r.stdout))])

    r = kxtool("search", "--json")
    found = parsed(r.stdout) or []
    case(f"kxtool.exe search --json ({arch})", [
        (r.returncode == 0, f"exit {r.returncode} {r.stderr}"),
        (sorted((d["device_id"], d["family"], d["ip_address"]) for d in found) ==
         [(A_ID, 1, A), (B_ID, 16, B), (MUTE_ID, 16, MUTE)], str(found)),
    ])

    r = kxtool("show", B_ID, "--json")
    shown = parsed(r.stdout) or {}
    case(f"kxtool.exe show past strays ({arch})", [
        (r.returncode == 0, f"exit {r.returncode} {r.stderr}"),
        ((shown.get("ip_address"), shown.get("baud_rate"), shown.get("firmware_version")) ==
         (B, 9600, "B-2.03"), str(shown)),
    ])

    name = "WINE-" + arch
    r = kxtool("set", A, "device_name=" + name, "baud_rate=57600")
    shown = parsed(kxtool("show", A, "--json").stdout) or {}
    case(f"kxtool.exe set ({arch})", [
        (r.returncode == 0, f"exit {r.returncode} {r.stderr}"),
        ((shown.get("device_name"), shown.get("baud_rate")) == (name, 57600), str(shown)),
    ])

    # The journal, in the prefix's %LOCALAPPDATA%\kxconf: that set, newest first, and
    # every device seen.
    r = kxtool("history", A, "--json")
    latest = (parsed(r.stdout) or [{}])[0]
    listed = parsed(kxtool("inventory", "--json").stdout) or []
    case(f"kxtool.exe journal ({arch})", [
        (r.returncode == 0, f"exit {r.returncode} {r.stderr}"),
        (("device_name", name) in [(f["field"], f["after"]) for f in latest.get("fields", [])],
         str(latest)),
        (sorted(d["device_id"] for d in listed) == [A_ID, B_ID, MUTE_ID], str(listed)),
    ])

    r = kxtool("show", MUTE)
    case(f"kxtool.exe names a silent device ({arch})", [
        (r.returncode == 1, f"exit {r.returncode}"),
        (f"no answer from {MUTE} ({MUTE_ID}) to the login within 1 s" in r.stderr, r.stderr),
    ])

    # Windows' own adapter list, port check and route, and the search.
    r = kxtool("doctor")
    case(f"kxtool.exe doctor ({arch})", [
        ("local UDP port 65281: free" in r.stdout.splitlines(), r.stdout + r.stderr),
        ("search: 3 device(s) answered" in r.stdout.splitlines(), r.stdout),
    ])

    # kxtool serve, asked over HTTP from Linux: the link, the devices, a read,
    # and the refusals that keep other pages out.
    con = Console([loader, exe, "serve", "--port", "0", "--no-open"])
    try:
        opened = con.open()
        status, headers, body = con.api("GET", "/api/devices")
        listed = parsed(body) or []
        read = con.api("POST", "/api/read", {"device": B})
        row = ((parsed(read[2]) or {}).get("rows") or [{}])[0]
        case(f"kxtool.exe serve ({arch})", [
            (con.port > 0 and opened[0] == 303 and con.cookie, f"{con.url} {opened}"),
            (status == 200 and sorted(d["device_id"] for d in listed) == [A_ID, B_ID, MUTE_ID],
             f"{status} {body[:300]}"),
            (headers.get("content-security-policy") ==
             "default-src 'self'; frame-ancestors 'none'", str(headers)),
            (read[0] == 200 and (row.get("settings") or {}).get("baud_rate") == 9600,
             read[2][:300]),
            (con.api("GET", "/", Host="evil.example")[0] == 403, "a foreign Host"),
            (con.api("POST", "/api/read", {"device": B}, Origin=None)[0] == 403, "no Origin"),
            (con.send("GET", f"/?token={con.token}", {"Host": con.host})[0] == 403, "token reused"),
        ])
    finally:
        try:
            code, _, err = con.stop()  # Ctrl-C, which Wine hands to the program
            case(f"kxtool.exe serve stops on Ctrl-C ({arch})", [(code == 130, f"{code} {err}")])
        except subprocess.TimeoutExpired:
            con.run.kill()
            con.run.communicate()
            case(f"kxtool.exe serve stops on Ctrl-C ({arch})", [(False, "still running")])

sim.terminate()
sim.wait()
sys.exit(1 if failed else 0)
