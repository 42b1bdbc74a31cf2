"""The byte records of the C interface and their checked conversions.

Offsets and widths are those of kxconf.h; numbers are little-endian. Texts
end at a NUL inside their field or fill it; they are read as Latin-1, so each
byte is one character and nothing is lost. Every value is checked against
what the device's family carries (one table per family, _FAMILIES) before it is packed: a value that does not
fit raises ValueError instead of being cut, rounded or replaced on the way.
"""

from __future__ import annotations

import struct
from dataclasses import dataclass, field, fields
from ipaddress import IPv4Address
from typing import Any, Callable, Dict, Optional, Tuple, Union

from .values import BaudRate, DataBits, DeviceId, Family, Parity

DEVICE_RECORD_SIZE = 258
SETTINGS_RECORD_SIZE = 304


@dataclass(frozen=True)
class _Family:
    """What one family's devices take, where that is less than the record's
    fields hold: the longest text and the range of each number it names,
    and its speeds. A family without a table here (one the library speaks,
    kxconf.families()) takes whatever each field holds."""

    texts: Dict[str, int] = field(default_factory=dict)
    numbers: Dict[str, Tuple[int, int]] = field(default_factory=dict)
    speeds: Tuple[int, ...] = ()  # the speeds it knows; empty: multiples of speed_step
    speed_step: int = 1
    speed_most: int = 0xFFFFFFFF
    quick_speed_most: int = 0xFFFFFFFF  # what a quick setting may ask
    # Texts printable, without the '|' and '/' that its protocol uses as
    # separators (family A); otherwise any byte but NUL.
    printable_texts: bool = False
    # The argument a quick parity setting carries for each of the device's
    # own codes, where it numbers them its own way (and carries no others);
    # empty: the code itself, up to quick_parity_most.
    quick_parity: Tuple[int, ...] = ()
    quick_parity_most: int = 255


_BYTE, _WORD, _FLAG, _DIGIT = (0, 255), (0, 65535), (0, 1), (0, 9)
# Family B keeps hundreds of bits per second in 16 bits; a quick setting's
# 0xFFFF hundreds means "leave the speed as it is".
_HUNDREDS_B_MOST = 0xFFFF
_FAMILIES = {
    # Family A keeps its texts with room for a NUL, except dw_text, which may
    # fill its 30 bytes; some settings are one digit; one stop bit.
    Family.A: _Family(
        texts={"on_text": 9, "password": 9, "device_name": 9, "firmware_version": 15},
        numbers={"tp_value": _DIGIT, "rm_value": _DIGIT, "dhcp_enabled": _FLAG, "ww_flag": _FLAG,
                 "dd_flag": _FLAG, "nb_flag": _FLAG, "parity": _DIGIT, "data_bits": (7, 8),
                 "stop_bits": (1, 1), "flow_control": _FLAG},
        speeds=(1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200),
        printable_texts=True,
        # The quick setting carries the five codes that have words in family
        # B's numbering (odd and even swapped); the library turns it back.
        quick_parity=(0, 2, 1, 3, 4)),
    # Family B's texts may fill their fields; it has no nb_flag (reads give 0).
    Family.B: _Family(
        numbers={"dhcp_enabled": _FLAG, "ww_flag": _FLAG, "dd_flag": _FLAG, "nb_flag": (0, 0),
                 "data_bits": (5, 8), "stop_bits": (1, 2)},
        speed_step=100, speed_most=_HUNDREDS_B_MOST * 100,
        quick_speed_most=(_HUNDREDS_B_MOST - 1) * 100,
        quick_parity_most=254),  # 255 tells the device to keep its parity
}
_ANY_FAMILY = _Family()


def family_table(family: Family) -> _Family:
    return _FAMILIES.get(family, _ANY_FAMILY)


def read_text(record: bytes, offset: int, width: int) -> str:
    return record[offset : offset + width].split(b"\0", 1)[0].decode("latin-1")


def text_bytes(name: str, value: object, longest: int, family: Optional[Family]) -> bytes:
    """A text as the bytes of its field, at most longest of them, checked
    against what a device of the family takes."""
    if not isinstance(value, str):
        raise ValueError(f"{name}: a text (str) is needed, not {value!r}")
    try:
        encoded = value.encode("latin-1")
    except UnicodeEncodeError:
        raise ValueError(f"{name} {value!r}: only Latin-1 characters (U+0000 to U+00FF) fit") from None
    if b"\0" in encoded:
        raise ValueError(f"{name} {value!r}: a text cannot hold a NUL character")
    who = f"a family {family.name} device" if family is not None else "the field"
    printable = family is not None and family_table(family).printable_texts
    if printable and any(c in "|/" or ord(c) < 0x20 or ord(c) == 0x7F for c in value):
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
    table = family_table(family)
    who = f"a family {family.name} device"
    if table.speeds:
        if rate not in table.speeds:
            raise ValueError(f"{name} {rate}: {who} takes {', '.join(str(s) for s in table.speeds)}")
        return rate
    most = table.quick_speed_most if quick else table.speed_most
    step = table.speed_step
    if rate < step or rate % step != 0 or rate > most:
        takes = f"multiples of {step} from {step}" if step > 1 else f"{step}"
        raise ValueError(f"{name} {rate}: {who} takes {takes} to {most}")
    return rate


def quick_parity(code: int, family: Family) -> int:
    """The argument kx_setting_parity takes for a device's own parity code."""
    table = family_table(family)
    who = f"a family {family.name} device"
    if table.quick_parity:
        most = len(table.quick_parity) - 1
        return table.quick_parity[checked_number("parity", code, 0, most, who + "'s quick setting")]
    return checked_number("parity", code, 0, table.quick_parity_most, who)


def number_range(name: str, family: Family) -> Tuple[int, int]:
    """The values a device of the family takes in a numeric field."""
    _, width, _ = _NUMBERS[name]
    return family_table(family).numbers.get(name, (0, (1 << (8 * width)) - 1))


_TEXTS = {  # name: (offset, width)
    "on_text": (1, 10),
    "password": (11, 10),
    "device_name": (21, 10),
    "firmware_version": (31, 16),
    "dw_text": (170, 30),
}


def text_limit(name: str, family: Family) -> int:
    """The most characters a device of the family keeps in a text field."""
    return family_table(family).texts.get(name, _TEXTS[name][1])


_ADDRESSES = {  # name: offset; each 16 bytes of dotted text
    "ip_address": 70,
    "dest_ip": 88,
    "subnet_mask": 106,
    "gateway": 122,
    "li_address": 138,
    "li_address_2": 154,
}
_NUMBERS = {  # name: (offset, width, type)
    "local_port": (86, 2, int),
    "dest_port": (104, 2, int),
    "tp_value": (258, 1, int),
    "rm_value": (259, 1, int),
    "dhcp_enabled": (260, 1, int),
    "ww_flag": (261, 1, int),
    "dd_flag": (262, 1, int),
    "nb_flag": (263, 1, int),
    "keep_alive": (264, 1, int),
    "md_value": (290, 1, int),
    "ml_value": (292, 2, int),
    "parity": (300, 1, int),  # the device's own code; read_parity names it
    "data_bits": (301, 1, DataBits),
    "stop_bits": (302, 1, int),
    "flow_control": (303, 1, int),
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
    for name, (offset, width) in _TEXTS.items():
        values[name] = read_text(record, offset, width)
    for name, offset in _ADDRESSES.items():
        values[name] = read_address(record, offset, name)
    for name, (offset, width, kind) in _NUMBERS.items():
        values[name] = kind(int.from_bytes(record[offset : offset + width], "little"))
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
    for name, (offset, _) in _TEXTS.items():
        encoded = text_bytes(name, getattr(settings, name), text_limit(name, family), family)
        record[offset : offset + len(encoded)] = encoded
    for name, offset in _ADDRESSES.items():
        encoded = address_bytes(name, getattr(settings, name))
        record[offset : offset + len(encoded)] = encoded
    who = f"a family {family.name} device"
    for name, (offset, width, _) in _NUMBERS.items():
        low, high = number_range(name, family)
        value = getattr(settings, name)
        if name == "parity":
            value = parity_code(name, value, family)
        value = checked_number(name, value, low, high, who)
        record[offset : offset + width] = value.to_bytes(width, "little")
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
