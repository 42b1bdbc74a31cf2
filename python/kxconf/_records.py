"""The byte records of the C interface and their checked conversions.

Offsets and widths are those of kxconf.h; numbers are little-endian. Texts
end at a NUL inside their field or fill it; they are read as Latin-1, so each
byte is one character and nothing is lost. Every value is checked against
what the device's family carries before it is packed: a value that does not
fit raises ValueError instead of being cut, rounded or replaced on the way.
"""

from __future__ import annotations

import struct
from dataclasses import dataclass, fields
from ipaddress import IPv4Address
from typing import Any, Callable, Dict, Optional, Tuple, Union

from .values import BaudRate, DataBits, DeviceId, Family, Parity

DEVICE_RECORD_SIZE = 258
SETTINGS_RECORD_SIZE = 304

# Family A keeps eight speeds; family B hundreds of bits per second in 16 bits.
SPEEDS_A = (1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200)
HUNDREDS_B_MOST = 0xFFFF


def read_text(record: bytes, offset: int, width: int) -> str:
    return record[offset : offset + width].split(b"\0", 1)[0].decode("latin-1")


def text_bytes(name: str, value: object, longest: int, family: Optional[Family]) -> bytes:
    """A text as the bytes of its field, at most longest of them. Texts for
    a family A device are printable, without the '|' and '/' that its
    protocol uses as separators; family B devices take any byte but NUL."""
    if not isinstance(value, str):
        raise ValueError(f"{name}: a text (str) is needed, not {value!r}")
    try:
        encoded = value.encode("latin-1")
    except UnicodeEncodeError:
        raise ValueError(f"{name} {value!r}: only Latin-1 characters (U+0000 to U+00FF) fit") from None
    if b"\0" in encoded:
        raise ValueError(f"{name} {value!r}: a text cannot hold a NUL character")
    who = f"a family {family.name} device" if family is not None else "the field"
    if family == Family.A and any(c in "|/" or ord(c) < 0x20 or ord(c) == 0x7F for c in value):
        raise ValueError(f"{name} {value!r}: {who} takes no control characters, '|' or '/'")
    if len(encoded) > longest:
        raise ValueError(f"{name} {value!r}: {who} takes at most {longest} characters")
    return encoded


def read_address(record: bytes, offset: int, name: str) -> IPv4Address:
    text = read_text(record, offset, 16)
    if text == "":
        return IPv4Address(0)  # the device reported none
    try:
        return IPv4Address(text)
    except ValueError:
        raise ValueError(f"{name}: the device reported {text!r}, which is not an IPv4 address") from None


def address_bytes(name: str, value: Any) -> bytes:
    try:
        address = IPv4Address(value)
    except ValueError:
        raise ValueError(f"{name} {value!r}: not an IPv4 address") from None
    return str(address).encode("ascii")


def checked_number(name: str, value: object, low: int, high: int, who: str) -> int:
    if not isinstance(value, int):
        raise ValueError(f"{name}: a number (int) is needed, not {value!r}")
    if not low <= value <= high:
        allowed = f"{low} only" if low == high else f"{low} to {high}"
        raise ValueError(f"{name} {value}: {who} takes {allowed}")
    return int(value)


def checked_baud(name: str, value: object, family: Family, quick: bool = False) -> int:
    rate = int(BaudRate(value))
    if family == Family.A:
        if rate not in SPEEDS_A:
            speeds = ", ".join(str(s) for s in SPEEDS_A)
            raise ValueError(f"{name} {rate}: a family A device takes {speeds}")
        return rate
    # A quick setting's 0xFFFF hundreds means "leave the speed as it is".
    most = (HUNDREDS_B_MOST - 1 if quick else HUNDREDS_B_MOST) * 100
    if rate < 100 or rate % 100 != 0 or rate > most:
        raise ValueError(f"{name} {rate}: a family B device takes multiples of 100 from 100 to {most}")
    return rate


@dataclass(frozen=True)
class _Number:
    """A numeric field: its place and the values each family carries."""

    offset: int
    width: int
    a: Tuple[int, int]
    b: Tuple[int, int]
    kind: Callable[[int], Any] = int


_TEXTS = {  # name: (offset, width, the most a family A device keeps)
    # Family A keeps its texts with room for a NUL, except dw_text, which may
    # fill its 30 bytes; family B's may fill their fields.
    "on_text": (1, 10, 9),
    "password": (11, 10, 9),
    "device_name": (21, 10, 9),
    "firmware_version": (31, 16, 15),
    "dw_text": (170, 30, 30),
}


def text_limit(name: str, family: Family) -> int:
    """The most characters a device of the family keeps in a text field."""
    _, width, most_a = _TEXTS[name]
    return most_a if family == Family.A else width
_ADDRESSES = {  # name: offset; each 16 bytes of dotted text
    "ip_address": 70,
    "dest_ip": 88,
    "subnet_mask": 106,
    "gateway": 122,
    "li_address": 138,
    "li_address_2": 154,
}
_BYTE, _WORD, _FLAG, _DIGIT = (0, 255), (0, 65535), (0, 1), (0, 9)
_NUMBERS = {
    "local_port": _Number(86, 2, _WORD, _WORD),
    "dest_port": _Number(104, 2, _WORD, _WORD),
    "tp_value": _Number(258, 1, _DIGIT, _BYTE),  # family A keeps one digit
    "rm_value": _Number(259, 1, _DIGIT, _BYTE),
    "dhcp_enabled": _Number(260, 1, _FLAG, _FLAG),
    "ww_flag": _Number(261, 1, _FLAG, _FLAG),
    "dd_flag": _Number(262, 1, _FLAG, _FLAG),
    "nb_flag": _Number(263, 1, _FLAG, (0, 0)),  # family B has none; reads give 0
    "keep_alive": _Number(264, 1, _BYTE, _BYTE),
    "md_value": _Number(290, 1, _BYTE, _BYTE),
    "ml_value": _Number(292, 2, _WORD, _WORD),
    "parity": _Number(300, 1, _DIGIT, _BYTE),  # the device's own code; read_parity names it
    "data_bits": _Number(301, 1, (7, 8), (5, 8), DataBits),
    "stop_bits": _Number(302, 1, (1, 1), (1, 2)),  # family A: one stop bit
    "flow_control": _Number(303, 1, _FLAG, _BYTE),
}
_BAUD_OFFSET = 296
_ID_OFFSET = 64


def read_parity(code: int, family: Family) -> Union[Parity, int]:
    """The parity a device reports: its word, or its own code where it has none."""
    try:
        return Parity.of_code(code, family)
    except ValueError:
        return code


def parity_code(name: str, value: object, family: Family) -> int:
    """The device's own code for a parity given as a Parity, a word, or that
    code itself (a plain int, as kxtool's files hold it)."""
    if isinstance(value, str):
        return Parity(value).code(family)  # a word that is no parity raises
    if isinstance(value, bool) or not isinstance(value, int):
        raise ValueError(f"{name}: a Parity, a word or the device's own code is needed, not {value!r}")
    return value


def _slotted(cls: type) -> type:
    """The dataclass again with __slots__ (dataclass(slots=True) is Python
    3.10's): assigning a misspelt field raises AttributeError instead of
    adding an attribute that nothing reads."""
    names = tuple(f.name for f in fields(cls))
    namespace = {k: v for k, v in cls.__dict__.items() if k not in names + ("__dict__", "__weakref__")}
    namespace["__slots__"] = names
    return type(cls.__name__, cls.__bases__, namespace)


@_slotted
@dataclass
class Settings:
    """A device's complete settings (the generic settings record).

    ``family``, ``device_id`` and ``firmware_version`` are the device's own
    and are not changed by a write; every other field is written as it
    stands. ``Session.write`` checks each value against what the device's
    family carries and raises ValueError for one that does not fit.

    ``parity`` reads as a Parity, or as the device's own code (an int) where
    that code has no word; a write takes a Parity, a word ("even") or the
    device's own code.
    """

    family: Family
    on_text: str
    password: str
    device_name: str
    firmware_version: str
    device_id: DeviceId
    ip_address: IPv4Address
    local_port: int
    dest_ip: IPv4Address
    dest_port: int
    subnet_mask: IPv4Address
    gateway: IPv4Address
    li_address: IPv4Address
    li_address_2: IPv4Address
    dw_text: str
    tp_value: int
    rm_value: int
    dhcp_enabled: int
    ww_flag: int
    dd_flag: int
    nb_flag: int
    keep_alive: int
    md_value: int
    ml_value: int
    baud_rate: BaudRate
    parity: Union[Parity, int]
    data_bits: DataBits
    stop_bits: int
    flow_control: int


def settings_from_record(record: bytes) -> Settings:
    values: Dict[str, Any] = {
        "family": Family(record[0]),
        "device_id": DeviceId(record[_ID_OFFSET : _ID_OFFSET + 6]),
        "baud_rate": BaudRate(struct.unpack_from("<I", record, _BAUD_OFFSET)[0]),
    }
    for name, (offset, width, _) in _TEXTS.items():
        values[name] = read_text(record, offset, width)
    for name, offset in _ADDRESSES.items():
        values[name] = read_address(record, offset, name)
    for name, n in _NUMBERS.items():
        values[name] = n.kind(int.from_bytes(record[n.offset : n.offset + n.width], "little"))
    values["parity"] = read_parity(values["parity"], values["family"])
    return Settings(**values)


def settings_record(settings: Settings, family: Family, device_id: DeviceId) -> bytes:
    """The 304-byte record of settings for a device of family, checked."""
    if not isinstance(settings, Settings):
        raise ValueError(f"a Settings is needed, not {settings!r}")
    if settings.family != family:
        raise ValueError(f"family {settings.family!r}: these settings are for a family {family.name} device")
    if settings.device_id != device_id:
        raise ValueError(f"device_id {settings.device_id}: the device is {device_id}; an identifier is not written")
    record = bytearray(SETTINGS_RECORD_SIZE)
    record[0] = family
    record[_ID_OFFSET : _ID_OFFSET + 6] = bytes(device_id)
    for name, (offset, _, _) in _TEXTS.items():
        encoded = text_bytes(name, getattr(settings, name), text_limit(name, family), family)
        record[offset : offset + len(encoded)] = encoded
    for name, offset in _ADDRESSES.items():
        encoded = address_bytes(name, getattr(settings, name))
        record[offset : offset + len(encoded)] = encoded
    who = f"a family {family.name} device"
    for name, n in _NUMBERS.items():
        low, high = n.a if family == Family.A else n.b
        value = getattr(settings, name)
        if name == "parity":
            value = parity_code(name, value, family)
        value = checked_number(name, value, low, high, who)
        record[n.offset : n.offset + n.width] = value.to_bytes(n.width, "little")
    baud = checked_baud("baud_rate", settings.baud_rate, family)
    struct.pack_into("<I", record, _BAUD_OFFSET, baud)
    return bytes(record)


def login_record(family: Family, password: str) -> bytes:
    """A settings record carrying only what a login reads: family and password."""
    record = bytearray(SETTINGS_RECORD_SIZE)
    record[0] = family
    encoded = text_bytes("password", password, text_limit("password", family), family)
    record[11 : 11 + len(encoded)] = encoded
    return bytes(record)


_DEVICE_ADDRESSES = {"ip_address": 33, "dest_ip": 52, "subnet_mask": 68, "gateway": 84,
                     "li_address": 100, "li_address_2": 116}


def device_values(record: bytes) -> Dict[str, Any]:
    values: Dict[str, Any] = {
        "family": Family(record[0]),
        "firmware_version": read_text(record, 1, 16),
        "device_name": read_text(record, 17, 10),
        "device_id": DeviceId(record[27:33]),
        "local_port": struct.unpack_from("<H", record, 50)[0],
    }
    for name, offset in _DEVICE_ADDRESSES.items():
        values[name] = read_address(record, offset, name)
    # Where the answer came from, as the broader searches note it; empty: not known.
    answered_from = read_text(record, 132, 16)
    values["answered_from"] = IPv4Address(answered_from) if answered_from else None
    return values


def device_record(values: Dict[str, Any]) -> bytes:
    """A 258-byte device record from a device's fields, checked."""
    record = bytearray(DEVICE_RECORD_SIZE)
    record[0] = Family(values["family"])
    for name, offset, width in (("firmware_version", 1, 16), ("device_name", 17, 10)):
        encoded = text_bytes(name, values[name], width, None)
        record[offset : offset + len(encoded)] = encoded
    record[27:33] = bytes(DeviceId(values["device_id"]))
    struct.pack_into("<H", record, 50, checked_number("local_port", values["local_port"], 0, 65535, "the field"))
    for name, offset in _DEVICE_ADDRESSES.items():
        encoded = address_bytes(name, values[name])
        record[offset : offset + len(encoded)] = encoded
    return bytes(record)
