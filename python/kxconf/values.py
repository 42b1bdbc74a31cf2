"""Value types of device records: identifiers, families and serial-line codes."""

from __future__ import annotations

import enum
from typing import Union


class DeviceId:
    """A device's 6-byte identifier; prints as the library's text form a.b.c.d.e.f."""

    __slots__ = ("_octets",)

    def __init__(self, octets: Union[bytes, bytearray, "DeviceId"]) -> None:
        octets = bytes(octets)
        if len(octets) != 6:
            raise ValueError(f"a device identifier has 6 bytes, not {len(octets)}")
        self._octets = octets

    @classmethod
    def parse(cls, text: str) -> DeviceId:
        """From the text form: six numbers 0 to 255 joined by '.'."""
        parts = text.split(".")
        if len(parts) != 6 or not all(p.isdigit() and p.isascii() and int(p) <= 255 for p in parts):
            raise ValueError(f"{text!r} is not a device identifier (six numbers 0 to 255 joined by '.')")
        return cls(bytes(int(p) for p in parts))

    def __bytes__(self) -> bytes:
        return self._octets

    def __str__(self) -> str:
        return ".".join(str(b) for b in self._octets)

    def __repr__(self) -> str:
        return f"DeviceId('{self}')"

    def __eq__(self, other: object) -> bool:
        return isinstance(other, DeviceId) and other._octets == self._octets

    def __hash__(self) -> int:
        return hash(self._octets)


class Family(enum.IntEnum):
    """The device family, the first byte of every record."""

    A = 1  # text command protocol
    B = 16  # binary packet protocol


class Option(enum.IntEnum):
    """Process-wide library options (kxconf.set_option)."""

    EVERY_ADAPTER = 1  # broadcasts leave by the adapter of the device's subnet, else every adapter


class _OpenCode(enum.IntEnum):
    """An enum of a device's codes that also holds the codes without a name,
    so that whatever a device reports can be read and written back.

    Members' ``value`` (or ``int()``) is the code in the record.
    """

    @classmethod
    def _largest(cls) -> int:
        """The largest code the record's field holds."""
        return 0xFF

    @classmethod
    def _missing_(cls, value: object) -> object:
        if isinstance(value, bool) or not isinstance(value, int) or not 0 <= value <= cls._largest():
            return None  # Enum raises ValueError
        member = int.__new__(cls, value)
        member._name_ = f"CODE_{value}"
        member._value_ = value
        return cls._value2member_map_.setdefault(value, member)


class BaudRate(_OpenCode):
    """Serial-line speed in bits per second. Family A devices know the eight
    speeds 1200 to 115200; family B devices any multiple of 100 up to 6553500
    (``BaudRate(250000)`` gives a member without a name)."""

    @classmethod
    def _largest(cls) -> int:
        return 0xFFFFFFFF

    B1200 = 1200
    B2400 = 2400
    B4800 = 4800
    B9600 = 9600
    B19200 = 19200
    B38400 = 38400
    B57600 = 57600
    B115200 = 115200
    B230400 = 230400
    B460800 = 460800
    B921600 = 921600


class Parity(_OpenCode):
    """Parity of the serial line in the host's numbering, for either family (a
    family A device stores odd as 2 and even as 1; reads and writes translate)."""

    NONE = 0
    ODD = 1
    EVEN = 2
    MARK = 3
    SPACE = 4


class DataBits(_OpenCode):
    """Data bits of the serial line: family A devices 7 or 8, family B 5 to 8."""

    FIVE = 5
    SIX = 6
    SEVEN = 7
    EIGHT = 8
