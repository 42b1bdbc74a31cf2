"""The kxconf package against kxsim: one test per behaviour.

Expected values are literals from the devices below or kxsim's defaults.
"""

import dataclasses
import json
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import zipfile
from ipaddress import IPv4Address
from pathlib import Path

import pytest

import kxconf
from conftest import kxsim
from kxconf import BaudRate, DataBits, Device, DeviceId, Family, Parity

SOURCE = Path(__file__).resolve().parents[2]
A, B = "127.0.0.2", "127.0.0.3"
DEVICES = [
    {"address": A, "family": 1, "device_id": "0.16.10.0.0.1", "device_name": "LAB-A",
     "baud_rate": 19200},
    {"address": B, "family": 16, "device_id": "0.16.11.0.0.2", "device_name": "LAB-B",
     "password": "pw", "baud_rate": 115200, "stop_bits": 2},
]
PASSWORDS = {A: "", B: "pw"}


def found(family, address, identifier, name, firmware):
    loopback = IPv4Address("127.0.0.1")
    return Device(family, DeviceId.parse(identifier), IPv4Address(address), name, firmware, 4001,
                  loopback, IPv4Address("255.0.0.0"), loopback, IPv4Address(0), IPv4Address(0))


def test_discover_lists_both_families_and_find_one():
    with kxsim(devices=DEVICES):
        devices = sorted(kxconf.discover(), key=lambda d: d.family)
        assert devices == [found(Family.A, A, "0.16.10.0.0.1", "LAB-A", ""),
                           found(Family.B, B, "0.16.11.0.0.2", "LAB-B", "B-2.03")]
        assert str(devices[1].device_id) == "0.16.11.0.0.2"
        assert kxconf.find(B) == devices[1]


@pytest.mark.parametrize("address", [A, B])
def test_session_read_modify_write_round_trip(address):
    with kxsim(devices=DEVICES) as trace:
        device = kxconf.find(address)
        with device.session(PASSWORDS[address]) as s:
            before = s.read()
            assert (before.device_name, before.baud_rate, before.parity, before.data_bits) == (
                ("LAB-A", BaudRate.B19200, Parity.NONE, DataBits.EIGHT) if address == A
                else ("LAB-B", BaudRate.B115200, Parity.NONE, DataBits.EIGHT))
            assert (before.dest_ip, before.stop_bits) == (IPv4Address("127.0.0.1"),
                                                          1 if address == A else 2)
            changed = dataclasses.replace(before, baud_rate=BaudRate.B57600, device_name="LINE-7",
                                          dest_ip=IPv4Address("10.1.2.3"), dest_port=6001,
                                          dw_text="D" * 30)  # both families keep 30
            s.write(changed)
        mark = trace.mark()
        device.set_parity(Parity.EVEN)  # one name for either family
        if address == A:  # family A devices store even as 1
            assert [line.split("  ")[-1] for line in trace.since(mark)] == ["A PPR1"]
        device.set_data_bits(DataBits.SEVEN)
        mark = trace.mark()
        with pytest.raises(RuntimeError), device.session(PASSWORDS[address]) as s:
            after = s.read()
            raise RuntimeError("the block fails")
        sent = [line.split("  ")[-1] for line in trace.since(mark)]
        if address == A:  # the read's closing byte, then the logout
            assert sent[-2:] == ["A O", "A O"]
        else:
            assert sent[-1].startswith("B logout(21) ")
        assert after == dataclasses.replace(changed, parity=Parity.EVEN, data_bits=DataBits.SEVEN)


def test_failures_raise_their_exceptions():
    silent, damaged = "127.0.0.4", "127.0.0.5"
    devices = DEVICES + [
        {"address": silent, "family": 16, "device_id": "0.16.11.0.0.4"},
        {"address": damaged, "family": 16, "device_id": "0.16.11.0.0.5"},
    ]
    with kxsim("--fault", silent + ",silent,on=op=17", "--fault", damaged + ",bad-crc,on=op=11",
               devices=devices):
        with pytest.raises(kxconf.Timeout) as timeout, kxconf.find(silent).session(""):
            pass
        with pytest.raises(kxconf.Refused) as refused, kxconf.find(B).session("wrong"):
            pass
        with pytest.raises(kxconf.ReplyError) as damaged_reply, kxconf.find(damaged).session("") as s:
            s.read()
    assert (timeout.value.code, timeout.value.text) == (-3, "no matching reply in time")
    assert (refused.value.code, refused.value.text) == (-6, "login refused")
    assert (damaged_reply.value.code, damaged_reply.value.text) == (
        -2, "a reply arrived but is not acceptable")
    assert all(isinstance(e.value, kxconf.KxError) for e in (timeout, refused, damaged_reply))
    assert str(refused.value) == (
        "login to family B device 0.16.11.0.0.2 at 127.0.0.3: login refused (-6)")


def test_values_that_do_not_fit_are_refused_with_nothing_sent():
    with kxsim(devices=DEVICES) as trace:
        a, b = kxconf.find(A), kxconf.find(B)
        with a.session("") as s:
            settings = s.read()
            mark = trace.mark()
            for change in ({"baud_rate": 14400}, {"device_name": "TEN-CHARS!"},
                           {"dw_text": "a|b"}, {"stop_bits": 2}, {"dest_ip": "10.0.0.256"}):
                with pytest.raises(ValueError):
                    s.write(dataclasses.replace(settings, **change))
            assert trace.since(mark) == []
        mark = trace.mark()
        for refused in (lambda: a.set_baud_rate(14400), lambda: a.set_parity(5),
                        lambda: a.session("TEN-CHARS!"),  # family A passwords: 9 at most
                        lambda: b.set_baud_rate(150), lambda: b.set_data_bits(9),
                        lambda: kxconf.find("127.0.0.256"), lambda: kxconf.discover(capacity=0)):
            with pytest.raises(ValueError):
                refused()
        assert trace.since(mark) == []


def test_find_returns_the_device_at_the_address_asked():
    late, moved, old, dropping = "127.0.1.1", "127.0.1.20", "127.0.1.2", "127.0.1.3"
    with kxsim("--family-a", "3", "--fault", late + ",late=150,on=X",
               "--fault", dropping + ",silent,on=X,times=2") as trace:
        with pytest.raises(kxconf.Timeout):
            kxconf.find(late, timeout=0.05)  # one request: kx_search_one waits 100 ms for family A
        with pytest.raises(kxconf.Timeout):
            kxconf.find("127.0.1.9")  # nobody there; the late answer must not count
        assert kxconf.find(late).device_id == "0.16.10.0.1.1"  # asked until its answer came
        mark = trace.mark()
        for nobody in ("0.0.0.0", "255.255.255.255", "224.0.0.1"):
            with pytest.raises(ValueError):
                kxconf.find(nobody)
        assert trace.since(mark) == []
        # A search asks each device once: one that drops its first two requests is found by
        # the second of two rounds, and listed once.
        assert dropping not in [str(d.address) for d in kxconf.discover()]
        listed = [str(d.address) for d in kxconf.discover(rounds=2)]
        assert sorted(listed) == ["127.0.1.1", "127.0.1.2", "127.0.1.3"]
        device = kxconf.find(old)
        with device.session("") as s:
            s.write(dataclasses.replace(s.read(), ip_address=IPv4Address(moved)))
        # Configured with the new address, it answers at the old one until it restarts.
        again = kxconf.find(old)
        assert (str(again.ip_address), str(again.address), str(again.device_id)) == (
            moved, old, "0.16.10.0.1.2")
        with again.session("") as s:
            assert s.read().ip_address == IPv4Address(moved)


def test_parity_words_and_each_familys_own_codes():
    # Saved files number parity as the device does: family A 1 even, 2 odd; family B 1 odd.
    devices = [dict(DEVICES[0], parity=1), dict(DEVICES[1], parity=1)]
    with kxsim(devices=devices) as trace:
        a, b = kxconf.find(A), kxconf.find(B)
        with a.session("") as s:
            settings = s.read()
            assert settings.parity == Parity.EVEN == "even" and json.dumps(settings.parity) == '"even"'
            mark = trace.mark()
            s.write(dataclasses.replace(settings, parity="odd"))
            assert "A SPR2|29" in [line.split("  ")[-1] for line in trace.since(mark)]
            s.write(dataclasses.replace(settings, parity=1))  # a file's number: even again
            assert s.read().parity is Parity.EVEN
        with b.session("pw") as s:
            assert s.read().parity is Parity.ODD
        mark = trace.mark()
        a.set_parity(2)  # odd, as a family A file says it; PPR takes family B's numbering
        a.set_parity("even")
        b.set_parity(Parity.EVEN)
        sent = [line.split("  ")[-1] for line in trace.since(mark)]
        assert sent[:2] == ["A PPR2", "A PPR1"] and "parity=2" in sent[2]
    with pytest.raises(ValueError):
        Parity(1)  # odd on one family, even on the other
    with pytest.raises(TypeError):
        assert Parity.EVEN == 2
    assert (Parity.of_code(2, Family.A), Parity.ODD.code(Family.B)) == (Parity.ODD, 1)


def test_records_compare_with_their_texts_and_refuse_unknown_fields():
    with kxsim("--family-b", "1"):
        device = kxconf.find("127.0.2.1")
        with device.session("") as s:
            settings = s.read()
    assert (device.family == "B", device.family != "A", device.device_id == "0.16.11.0.2.1",
            device.device_id != "0.16.11.0.2.2") == (True, True, True, True)
    assert ({device.device_id: 1}["0.16.11.0.2.1"], str(device.family), Family("b")) == (1, "B", Family.B)
    for garbled in (lambda: device.family == "family B", lambda: device.device_id == "0.16.11.0.2"):
        with pytest.raises(ValueError):
            garbled()
    with pytest.raises(AttributeError):
        settings.baudrate = 9600
    with pytest.raises(dataclasses.FrozenInstanceError):
        device.adress = "127.0.2.2"


def test_a_login_interrupted_after_it_went_out_is_logged_out():
    # The login's answer comes 300 ms late; Ctrl-C at 100 ms is raised when the call returns.
    with kxsim("--family-a", "1", "--family-b", "1", "--fault", "127.0.1.1,late=300,on=L",
               "--fault", "127.0.2.1,late=300,on=op=17") as trace:
        for address, logout in (("127.0.1.1", "A O"), ("127.0.2.1", "B logout(21) ")):
            device = kxconf.find(address)
            mark = trace.mark()
            interrupt = threading.Timer(0.1, os.kill, (os.getpid(), signal.SIGINT))
            interrupt.start()
            with pytest.raises(KeyboardInterrupt), device.session(""):
                pytest.fail("the block ran")
            interrupt.join()
            sent = [line.split("  ")[-1] for line in trace.since(mark)]
            assert sent[-1].startswith(logout), sent


def test_find_while_another_program_holds_the_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as holder:
        holder.bind(("0.0.0.0", 65281))
        with pytest.raises(kxconf.SocketError) as held:
            kxconf.find("127.0.0.2")
    assert held.value.code == -1 and "port 65281 is in use" in str(held.value)


def run(*command, **options):
    return subprocess.run(command, capture_output=True, text=True, timeout=120, **options)


def test_wheel_in_a_fresh_venv_runs_the_documented_sessions():
    docs = (SOURCE / "docs" / "python.md").read_text()
    session = re.search(r"```python\n(.*?)```", docs, re.S).group(1)
    printed = re.search(r"```text\n(.*?)```", docs, re.S).group(1)
    with tempfile.TemporaryDirectory() as work:
        built = run(sys.executable, str(SOURCE / "python" / "build-wheel"),
                    os.environ["KXCONF_LIBRARY"], os.environ["KXCONF_VERSION"], work)
        assert built.returncode == 0, built.stdout + built.stderr
        wheel = Path(work, f"kxconf-{os.environ['KXCONF_VERSION']}-py3-none-linux_x86_64.whl")
        assert {"kxconf/libkxconf.so", "kxconf/py.typed"} <= set(zipfile.ZipFile(wheel).namelist())
        venv = Path(work, "venv")
        assert run(sys.executable, "-m", "venv", str(venv)).returncode == 0
        python = str(venv / "bin" / "python")
        installed = run(python, "-m", "pip", "install", "--no-index", "--disable-pip-version-check",
                        str(wheel))
        assert installed.returncode == 0, installed.stdout + installed.stderr
        # Nothing from the source tree: the venv's own package and library.
        env = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "KXCONF_LIBRARY")}
        where = run(python, "-c", "import kxconf; print(kxconf.library_path())", env=env, cwd=work)
        assert where.stdout.startswith(str(venv)), where.stdout + where.stderr
        with kxsim("--family-a", "1", "--family-b", "1"):
            result = run(python, "-c", session, env=env, cwd=work)
        assert (result.returncode, result.stdout) == (0, printed), result.stderr
        # The README's shorter session, from the same venv, beside two devices of each family.
        readme = (SOURCE / "README.md").read_text()
        session, printed = re.search(r"<!-- tested: file session.py -->\n```python\n(.*?)```"
                                     r".*?```text\n(.*?)```", readme, re.S).groups()
        with kxsim("--family-a", "2", "--family-b", "2"):
            result = run(python, "-c", session, env=env, cwd=work)
        assert (result.returncode, result.stdout) == (0, printed), result.stderr


def test_loader_errors_name_the_file_and_what_to_install(tmp_path):
    elf32 = tmp_path / "libkxconf.so"
    elf32.write_bytes(b"\x7fELF\x01\x01\x01" + bytes(57))
    # A library every Linux machine has (libpython's .so comes only with its -dev package).
    other = next(Path(line.split()[-1]) for line in open("/proc/self/maps") if "/libc.so" in line)
    cases = {
        str(tmp_path / "absent.so"): f"KXCONF_LIBRARY names {tmp_path / 'absent.so'}, which is not a file",
        str(elf32): f"{elf32} is a 32-bit library but this Python is 64-bit",
        str(other): f"{other} is not the kxconf library (it exports none of the library's functions)",
        __file__: f"{__file__} is not the kxconf library (no ELF or PE library, or a damaged one)",
        "": f"the library is not installed (tried {SOURCE / 'python' / 'kxconf' / 'libkxconf.so'}); "
            "install the kxconf wheel",
    }
    for library, message in cases.items():
        env = dict(os.environ, KXCONF_LIBRARY=library)
        result = run(sys.executable, "-c", "import kxconf; kxconf.crc16(b'')", env=env)
        assert "kxconf.errors.LibraryError: kxconf: " + message in result.stderr, result.stderr
    # A relative path is the working directory's at import, not at the first call.
    library = Path(os.environ["KXCONF_LIBRARY"])
    env = dict(os.environ, KXCONF_LIBRARY=library.name)
    result = run(sys.executable, "-c", "import kxconf, os; os.chdir('/'); print(kxconf.crc16(b'1'))",
                 env=env, cwd=library.parent)
    assert (result.returncode, result.stdout) == (0, "9842\n"), result.stderr
