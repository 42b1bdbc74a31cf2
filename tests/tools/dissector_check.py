#!/usr/bin/env python3
"""Checks the Wireshark dissector against a capture of the demo.

  dissector_check.py probe ADDRESS
      sends a probe datagram to ADDRESS:65281 (127.0.0.9 before the demo,
      127.0.0.10 after the crafted datagrams), marking the capture's ends;
  dissector_check.py send
      sends the crafted datagrams below on loopback (inside the test's private
      network namespace only), after the demo has ended;
  dissector_check.py check CAPTURE.pcap DECODED.json DEMO_OUTPUT
      compares what tshark decoded with the captured bytes, decoded here on
      their own, with the demo's device table and with known records.

Prints one PASS or FAIL line per check and "N passed, N failed".
"""
import json
import re
import socket
import struct
import sys

HOST_PORT, PORT_A, PORT_B = 65281, 65535, 65280

# Crafted datagrams: (source, source port, destination, destination port, payload).
# A family B login to 0.16.11.0.0.2 (identifier XOR 0xC5 at 12..17, sequence
# byte 0x57, opcode 17) and two answers: one with another sequence byte and a
# good CRC, one with the right sequence byte and its CRC's high byte changed.
LOGIN_REQUEST = bytes.fromhex("00000000000000" "57" "11" "000000" "c5d5cec5c5c7" + "00" * 16 + "adae")
LOGIN_REPLY_FOREIGN_SEQUENCE = bytes.fromhex(
    "00000000000000" "a8" "11" "000000" "c5d5cec5c5c7" + "00" * 16 + "03be")
LOGIN_REPLY_BAD_CRC = bytes.fromhex("00000000000000" "57" "11" "000000" "c5d5cec5c5c7" + "00" * 16 + "adaf")
GET_IP = b"GIP|22"
REPLY_WRONG_TAG = b"A127.0.0.2|23"
REPLY_TAG_AFTER_NUL = b"A127.0.0.2\0|22"
REPLY_RIGHT_TAG = b"A127.0.0.2|22"
OVERSIZE = b"A" + b"x" * 299
CRAFTED = [
    ("127.0.0.1", HOST_PORT, "127.0.0.3", PORT_B, LOGIN_REQUEST),
    ("127.0.0.3", PORT_B, "127.0.0.1", HOST_PORT, LOGIN_REPLY_FOREIGN_SEQUENCE),
    ("127.0.0.3", PORT_B, "127.0.0.1", HOST_PORT, LOGIN_REPLY_BAD_CRC),
    ("127.0.0.1", HOST_PORT, "127.0.0.2", PORT_A, GET_IP),
    ("127.0.0.2", PORT_A, "127.0.0.1", HOST_PORT, REPLY_WRONG_TAG),
    ("127.0.0.2", PORT_A, "127.0.0.1", HOST_PORT, REPLY_TAG_AFTER_NUL),
    ("127.0.0.2", PORT_A, "127.0.0.1", HOST_PORT, REPLY_RIGHT_TAG),
    ("127.0.0.2", PORT_A, "127.0.0.1", HOST_PORT, OVERSIZE),
]


PROBES = ("127.0.0.9", "127.0.0.10")


def require_private_namespace():
    """Loopback must be the only interface: the test's own network namespace."""
    if [name for _, name in socket.if_nameindex()] != ["lo"]:
        sys.exit("refusing to send outside a private network namespace (scripts/netns-run)")


def probe(address):
    require_private_namespace()
    assert address in PROBES
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.sendto(b"probe", (address, HOST_PORT))


def send():
    require_private_namespace()
    for source, sport, dest, dport, payload in CRAFTED:
        assert dest.startswith("127.")
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            s.bind((source, sport))
            s.sendto(payload, (dest, dport))


# ---- the captured bytes, decoded here ------------------------------------

def read_pcap(path):
    """UDP datagrams of a pcap file: (source, sport, dest, dport, payload)."""
    data = open(path, "rb").read()
    magic = data[:4]
    endian = "<" if magic in (b"\xd4\xc3\xb2\xa1", b"\x4d\x3c\xb2\xa1") else ">"
    linktype = struct.unpack(endian + "I", data[20:24])[0]
    link_header = {1: 14, 113: 16}[linktype]
    out, at = [], 24
    while at + 16 <= len(data):
        caplen = struct.unpack(endian + "I", data[at + 8:at + 12])[0]
        frame = data[at + 16:at + 16 + caplen]
        at += 16 + caplen
        ip = frame[link_header:]
        header = (ip[0] & 0x0F) * 4
        udp = ip[header:]
        sport, dport, length = struct.unpack(">HHH", udp[:6])
        out.append((socket.inet_ntoa(ip[12:16]), sport, socket.inet_ntoa(ip[16:20]), dport,
                    udp[8:length]))
    return out


def crc16(data):
    crc = 0
    for byte in data:
        crc ^= byte << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021) & 0xFFFF if crc & 0x8000 else (crc << 1) & 0xFFFF
    return crc


def crc_good(p):
    return len(p) >= 2 and crc16(p[:-2]) == p[-2] | (p[-1] << 8)


def id_text(raw):
    return ".".join(str(b) for b in raw)


def text(raw):
    return raw.split(b"\0")[0].decode("latin-1")


def ip(raw):
    return socket.inet_ntoa(bytes(raw))


def settings_b(p):
    """The settings record fields of a settings packet, unscrambled."""
    c = bytes(b ^ 0xC5 for b in p[12:156])
    u16be = lambda at: str(c[at] << 8 | c[at + 1])
    u16le = lambda at: str(c[at] | c[at + 1] << 8)
    return {
        "device_id": id_text(c[0:6]), "device_name": text(c[8:18]),
        "firmware_version": text(c[24:40]), "ip_address": ip(c[40:44]),
        "subnet_mask": ip(c[44:48]), "gateway": ip(c[48:52]), "local_port": u16be(52),
        "rm_value": str(c[54]), "dhcp_enabled": str(c[55]), "dest_ip": ip(c[56:60]),
        "dest_port": u16be(60), "tp_value": str(c[62]), "ww_flag": str(c[63]),
        "dd_flag": str(c[64]), "li_address": ip(c[68:72]), "li_address_2": ip(c[72:76]),
        "dw_text": text(c[76:106]), "ml_value": u16le(112), "md_value": str(c[114]),
        "keep_alive": str(c[115]), "baud_hundreds": u16le(116),
        "baud_rate": str(int(u16le(116)) * 100), "data_bits": str(c[120]),
        "parity": str(c[121]), "stop_bits": str(c[122]), "flow_control": str(c[123]),
        "on_text": text(c[124:134]), "password": text(c[134:144]),
    }


def command_a(payload):
    """Letters, value and tag of a tagged family A command."""
    m = re.fullmatch(rb"(.*)\|([0-9A-F]{2})", payload, re.S)
    body, tag = m.group(1).decode(), m.group(2).decode()
    if body[0] in "WL" or body in ("V", "T"):
        return body[:1] if body[0] in "WL" else body, body[1:], tag
    return body[:3], body[3:], tag


def search_reply_a(payload):
    """Part one fields 1, 2 and 6 and the six part two fields."""
    one = payload[1:].split(b"/")
    fields = {"device_id": one[0].decode(), "local_port": one[1].decode(),
              "device_name": text(one[5])}
    two = payload[payload.index(b"\0") + 2:].split(b"/")
    for name, value in zip(["ip_address", "subnet_mask", "gateway", "li_address",
                            "li_address_2", "dest_ip"], two):
        fields[name] = value.decode()
    return fields


# ---- what tshark decoded --------------------------------------------------

class Pairs(list):
    """A JSON object with its keys in order, repeated keys kept."""


def flatten(node, into):
    """Every field and expert of a layer, repeated ones in order."""
    if isinstance(node, Pairs):
        for key, value in node:
            if isinstance(value, (str, int)):
                into.setdefault(key, []).append(str(value))
            else:
                if key.startswith(("kxa.", "kxb.")) and not key.endswith("_tree"):
                    into.setdefault(key, []).append("")
                flatten(value, into)
    elif isinstance(node, list):
        for item in node:
            flatten(item, into)


def load_decoded(path):
    # Keep repeated keys: json.load would keep only the last of them.
    packets = json.load(open(path), object_pairs_hook=Pairs)
    decoded = []
    for packet in packets:
        layers = dict(dict(packet)["_source"])["layers"]
        fields = {}
        flatten(layers, fields)
        fields["layers"] = [key for key, _ in layers]
        decoded.append(fields)
    return decoded


# ---- the checks -----------------------------------------------------------

class Checks:
    def __init__(self):
        self.passed = self.failed = 0

    def run(self, name, problems):
        if problems:
            self.failed += 1
            print(f"FAIL {name}")
            for p in problems[:20]:
                print(f"    {p}")
        else:
            self.passed += 1
            print(f"PASS {name}")


def one(fields, key):
    values = fields.get(key, [])
    return values[0] if len(values) == 1 else values


def demo_devices(output):
    """The rows of the demo's device table: (family, address, identifier, name)."""
    return set(re.findall(r"\b([AB])\s+(127(?:\.\d+){3})\s+(\d+(?:\.\d+){5})\s+(\S+)", output))


def check(capture_path, decoded_path, demo_path):
    captured = read_pcap(capture_path)
    decoded = load_decoded(decoded_path)
    # The probes marking the capture's ends are not the demo's.
    kept = [i for i, c in enumerate(captured) if c[2] not in PROBES]
    if len(captured) == len(decoded):
        captured = [captured[i] for i in kept]
        decoded = [decoded[i] for i in kept]
    demo = open(demo_path).read()
    checks = Checks()

    problems = []
    if len(captured) != len(decoded):
        problems.append(f"{len(captured)} datagrams captured, {len(decoded)} decoded")
    # The crafted datagrams were sent after the demo ended: they come last.
    first_crafted = len(captured) - len(CRAFTED)
    crafted_at = range(first_crafted, len(captured))
    if captured[first_crafted:] != CRAFTED:
        problems.append("the crafted datagrams are not the last ones captured")
    for n, fields in enumerate(decoded, 1):
        layer = "kxa" if PORT_A in captured[n - 1][1::2] else "kxb"
        if layer not in fields["layers"]:
            problems.append(f"datagram {n}: no {layer} layer")
        if any(k.startswith("_ws.malformed") or k.startswith("_ws.lua") and "error" in k
               for k in fields) or any("Lua Error" in v for vs in fields.values() for v in vs):
            problems.append(f"datagram {n}: malformed or a Lua error")
    first = captured[0][4] if captured else b""
    if first != b"X" and not (len(first) == 36 and first[8] == 1):
        problems.append(f"the capture does not start with the demo's search request: {first!r}")
    checks.run("every datagram on the three ports is decoded, without errors", problems)

    # Nothing lost: the demo runs one exchange at a time, so every request
    # that awaits an answer (all but searches, closing bytes and logouts) is
    # followed at once by a reply from a device port.
    problems = []
    for n in range(first_crafted):
        src, sport, dst, dport, p = captured[n]
        awaits = (dport == PORT_A and p not in (b"X", b"O", b"E")) or (
            dport == PORT_B and len(p) > 8 and p[8] in (5, 7, 9, 11, 13, 15, 17))
        following = captured[n + 1] if n + 1 < first_crafted else None
        if awaits and not (following and following[1] in (PORT_A, PORT_B) and following[3] == HOST_PORT):
            problems.append(f"datagram {n + 1} {p[:12]!r}: no reply captured after it")
    checks.run("the whole conversation was captured", problems)

    demo_frames = list(zip(captured[:first_crafted], decoded[:first_crafted]))
    requests_a = [(c, d) for c, d in demo_frames if c[3] == PORT_A]
    replies_a = [(c, d) for c, d in demo_frames if c[1] == PORT_A]
    packets_b = [(c, d) for c, d in demo_frames if PORT_B in (c[1], c[3])]

    # Family A requests, field by field.
    problems = []
    for (src, sport, dst, dport, p), d in requests_a:
        if p == b"X":
            want = {"kxa.type": "Search request"}
        elif p in (b"O", b"E"):
            want = {"kxa.type": "Closing byte", "kxa.closing": p.decode()}
        elif re.fullmatch(rb"P(BR|PR|BB)\d", p):
            want = {"kxa.type": "Quick setting", "kxa.quick.letters": p[:3].decode(),
                    "kxa.quick.code": p[3:].decode()}
        else:
            letters, value, tag = command_a(p)
            want = {"kxa.type": "Command", "kxa.cmd.letters": letters, "kxa.cmd.tag": tag}
            if value or letters in "WL" or letters.startswith("S"):
                want["kxa.cmd.value"] = value
        for key, value in want.items():
            if one(d, key) != value:
                problems.append(f"{p!r}: {key} is {one(d, key)!r}, wanted {value!r}")
    checks.run(f"family A requests decode field by field ({len(requests_a)})", problems)

    # Family A replies, field by field.
    problems = []
    kinds = set()
    for (src, sport, dst, dport, p), d in replies_a:
        if p.startswith(b"Q7"):
            want = {"kxa.family_b_name": p[2:].decode()}
        elif b"/" in p:
            want = {"kxa.type": "Search reply"}
            want.update({f"kxa.search.{k}": v for k, v in search_reply_a(p).items()})
        elif re.search(rb"\|[0-9A-F]{2}$", p):
            want = {"kxa.type": "Command reply", "kxa.reply.verdict": p[:1].decode(),
                    "kxa.reply.tag": p[-2:].decode()}
            if p[1:2] != b"|":
                want["kxa.reply.value"] = p[1:p.index(b"|")].decode()
        else:
            want = {"kxa.type": "Quick setting reply", "kxa.reply.verdict": p[:1].decode()}
        kinds.add(one(d, "kxa.type"))
        for key, value in want.items():
            if one(d, key) != value:
                problems.append(f"{p!r}: {key} is {one(d, key)!r}, wanted {value!r}")
        if "kxa.expert.tag_mismatch" in d:
            problems.append(f"{p!r}: reported as not matching its request")
    checks.run(f"family A replies decode field by field ({len(replies_a)})", problems)

    # Family B packets, field by field.
    problems = []
    for (src, sport, dst, dport, p), d in packets_b:
        want = {"kxb.opcode": str(p[8]), "kxb.sequence": f"0x{p[7]:02x}",
                "kxb.crc": f"0x{p[-2] | p[-1] << 8:04x}", "kxb.crc.status": "1"}
        if not crc_good(p):
            problems.append(f"{p.hex()}: the demo sent a bad CRC")
        if len(p) == 158:
            want.update({f"kxb.settings.{k}": v for k, v in settings_b(p).items()})
            want["kxb.settings.family"] = str(p[9])
        elif dport == PORT_B and p[8] in (7, 11, 13, 15, 17, 19, 21):
            want["kxb.device_id"] = id_text(b ^ 0xC5 for b in p[12:18])
        for key, value in want.items():
            if one(d, key) != value:
                problems.append(f"{len(p)} bytes, opcode {p[8]}: {key} is {one(d, key)!r}, wanted {value!r}")
        if "kxb.expert.sequence_mismatch" in d:
            problems.append(f"opcode {p[8]}: reported as not echoing its request")
    checks.run(f"family B packets decode field by field ({len(packets_b)})", problems)

    # The devices the demo listed, in the decoded search replies.
    problems = []
    devices = demo_devices(demo)
    found = set()
    for c, d in demo_frames:
        if one(d, "kxa.type") == "Search reply":
            found.add(("A", c[0], one(d, "kxa.search.device_id"), one(d, "kxa.search.device_name")))
        if one(d, "kxb.type") == "Search reply":
            found.add(("B", one(d, "kxb.settings.ip_address"), one(d, "kxb.settings.device_id"),
                       one(d, "kxb.settings.device_name")))
    if len(devices) != 4:
        problems.append(f"the demo listed {len(devices)} devices")
    for device in devices:
        if device not in found:
            problems.append(f"listed by the demo, not in a decoded search reply: {device}")
    checks.run("the demo's device table matches the decoded search replies", problems)

    # Known records: the simulated devices' defaults and the demo's changes
    # (destination port + 101, then 115200 baud).
    problems = []
    def values(frames, key):
        return [v for _, d in frames for v in d.get(key, [])]
    def expect(what, got, wanted):
        if got != wanted:
            problems.append(f"{what}: {got!r}, wanted {wanted!r}")
    sets = [(one(d, "kxa.cmd.letters"), one(d, "kxa.cmd.value"), one(d, "kxa.cmd.tag"))
            for _, d in requests_a]
    expect("family A destination port writes", [s for s in sets if s[0] == "SDP"],
           [("SDP", "5101", "25")] * 2)
    expect("family A baud quick settings", values(requests_a, "kxa.quick.code"), ["7", "7"])
    expect("family A closing bytes", values(requests_a, "kxa.closing"), ["O", "E", "O", "O", "O"] * 2)
    expect("family A logins", [s for s in sets if s[0] == "L"], [("L", "", "19")] * 2)
    b_requests = [(c, d) for c, d in packets_b if c[3] == PORT_B]
    b_replies = [(c, d) for c, d in packets_b if c[1] == PORT_B]
    logins = [(one(d, "kxb.opcode"), one(d, "kxb.sequence"), one(d, "kxb.device_id"))
              for _, d in b_requests if one(d, "kxb.type") == "Login request (unicast)"]
    expect("family B logins", logins, [("17", "0x57", "0.16.11.0.0.2"), ("17", "0x57", "0.16.11.0.0.4")])
    expect("family B login verdicts", values(b_replies, "kxb.verdict"), ["accepted"] * 2)
    expect("family B write requests, destination port",
           values(b_requests, "kxb.settings.dest_port"), ["5101"] * 2)
    expect("family B serial blocks, baud / 100",
           values(b_requests, "kxb.serial.baud_hundreds"), ["1152"] * 2)
    reads = [(one(d, "kxb.settings.dest_port"), one(d, "kxb.settings.baud_rate"))
             for _, d in b_replies if one(d, "kxb.type") == "Read settings reply"]
    expect("family B reads (dest_port, baud_rate)", reads,
           [("5000", "9600"), ("5101", "9600"), ("5101", "115200")] * 2)
    b2 = [d for c, d in b_replies if one(d, "kxb.type") == "Search reply" and c[0] == "127.0.0.3"]
    if not b2:
        problems.append("no family B search reply from 127.0.0.3")
    for d in b2:
        for key, value in {"device_id": "0.16.11.0.0.2", "device_name": "SIM-B2",
                           "firmware_version": "B-2.03", "ip_address": "127.0.0.3",
                           "subnet_mask": "255.0.0.0", "local_port": "4001",
                           "dest_port": "5000", "baud_hundreds": "96", "stop_bits": "1"}.items():
            expect(f"SIM-B2 search reply {key}", one(d, f"kxb.settings.{key}"), value)
    checks.run("known records of the demo's conversation", problems)

    # The crafted datagrams: what a peer gets wrong shows up.
    problems = []
    by_payload = {captured[i][4]: decoded[i] for i in crafted_at}
    def crafted(payload):
        return by_payload.get(payload, {})
    d = crafted(LOGIN_REPLY_BAD_CRC)
    expect("bad CRC status", one(d, "kxb.crc.status"), "0")
    expect("bad CRC expert", "kxb.expert.bad_crc" in d, True)
    d = crafted(LOGIN_REPLY_FOREIGN_SEQUENCE)
    expect("foreign sequence CRC status", one(d, "kxb.crc.status"), "1")
    expect("foreign sequence expert", "kxb.expert.sequence_mismatch" in d, True)
    expect("good login request CRC status", one(crafted(LOGIN_REQUEST), "kxb.crc.status"), "1")
    d = crafted(REPLY_WRONG_TAG)
    expect("wrong tag", (one(d, "kxa.reply.tag"), "kxa.expert.tag_mismatch" in d), ("23", True))
    d = crafted(REPLY_TAG_AFTER_NUL)
    expect("tag after a NUL", "kxa.expert.tag_mismatch" in d, True)
    d = crafted(REPLY_RIGHT_TAG)
    expect("right tag", (one(d, "kxa.reply.tag"), "kxa.expert.tag_mismatch" in d), ("22", False))
    expect("300-byte datagram", "kxa.expert.oversize" in crafted(OVERSIZE), True)
    expect("256-byte limit not flagged in the demo",
           any("kxa.expert.oversize" in d or "kxb.expert.oversize" in d for _, d in demo_frames), False)
    checks.run("bad CRC, foreign sequence, wrong tag and oversize are flagged", problems)

    print(f"{checks.passed} passed, {checks.failed} failed")
    return 1 if checks.failed else 0


if __name__ == "__main__":
    if sys.argv[1:2] == ["probe"] and len(sys.argv) == 3:
        probe(sys.argv[2])
        sys.exit(0)
    if sys.argv[1:2] == ["send"]:
        send()
        sys.exit(0)
    if sys.argv[1:2] == ["check"] and len(sys.argv) == 5:
        sys.exit(check(*sys.argv[2:]))
    print(__doc__, file=sys.stderr)
    sys.exit(2)
