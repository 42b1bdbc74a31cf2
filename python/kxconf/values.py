"""Value types of device records: identifiers, families and serial-line codes."""

from __future__ import annotations

import enum
from dataclasses import dataclass
from typing import List, Union


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
        """Equal to the same identifier, or to its text form
        (``device.device_id == "0.16.11.0.2.1"``); a text that is no
        identifier raises ValueError rather than comparing unequal."""
        if isinstance(other, str):
            other = DeviceId.parse(other)
        if not isinstance(other, DeviceId):
            return NotImplemented
        return other._octets == self._octets

    def __hash__(self) -> int:
        return hash(str(self))  # as its text form's, so either finds it in a dict


class Family(enum.IntEnum):
    """The device family, the first byte of every record. ``str()`` gives its
    letter, and a family equals its letter: ``device.family == "B"``.

    A and B are named here; every other family the library speaks (see
    kxconf.families()) is a member too, named by the letter the library
    gives it, and a code no family has is one named CODE_n, so whatever a
    record holds can be read."""

    A = 1  # text command protocol
    B = 16  # binary packet protocol

    @classmethod
    def _missing_(cls, value: object) -> object:
        if isinstance(value, str):
            return cls._of_letter(value)
        if isinstance(value, bool) or not isinstance(value, int) or not 0 <= value <= 0xFF:
            return None  # Enum raises ValueError
        letter = next((f[1] for f in _library_families() if f[0] == value), None)
        member = int.__new__(cls, value)
        member._name_ = letter or f"CODE_{value}"
        member._value_ = value
        return cls._value2member_map_.setdefault(value, member)

    @classmethod
    def _of_letter(cls, text: str) -> Family:
        listed = {f[1]: f[0] for f in _library_families()}
        member = cls.__members__.get(text.upper()) if len(text) == 1 else None
        if member is None and len(text) == 1 and text.upper() in listed:
            member = cls(listed[text.upper()])
        if member is None:
            letters = " or ".join(repr(name) for name in sorted(set(cls.__members__) | set(listed)))
            raise ValueError(f"{text!r} is not a device family (the letters are {letters})")
        return member

    def __str__(self) -> str:
        return self.name

    def __format__(self, format_spec: str) -> str:
        return format(self.name, format_spec)

    def __eq__(self, other: object) -> bool:
        if isinstance(other, str):
            return self is Family._of_letter(other)  # an unknown letter raises
        return int(self) == other

    def __ne__(self, other: object) -> bool:
        return not self == other

    __hash__ = int.__hash__


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


class Parity(str, enum.Enum):
    """Parity of the serial line, by its word: the words of kxtool's files
    and tables, and one parity on either family (``Parity("even")``).

    A number is never a Parity: as in kxtool's files, a parity given as an
    int is the device's own code, which differs by family (family A devices
    store even as 1 and odd as 2, family B devices odd as 1 and even as 2).
    ``Parity.of_code(code, family)`` and ``parity.code(family)`` convert;
    ``Parity(1)`` and ``Parity.EVEN == 2`` raise instead of guessing.
    """

    NONE = "none"
    ODD = "odd"
    EVEN = "even"
    MARK = "mark"
    SPACE = "space"

    @classmethod
    def _missing_(cls, value: object) -> object:
        if isinstance(value, str):
            member = cls.__members__.get(value.upper())
            if member is not None:
                return member
            words = ", ".join(p.value for p in cls)
            raise ValueError(f"parity {value!r}: the parity words are {words}")
        if isinstance(value, int):
            raise ValueError(
                f"parity {value}: a number is a device's own parity code, which differs by family; "
                f"use Parity.of_code({value}, family), or a word")
        return None

    @classmethod
    def of_code(cls, code: int, family: Family) -> Parity:
        """The parity of a device's own code; ValueError for a code without a word."""
        for parity, known in _PARITY_CODES.get(Family(family), {}).items():
            if known == code:
                return parity
        raise ValueError(f"parity code {code}: a family {Family(family)} device's code without a word")

    def code(self, family: Family) -> int:
        """The code a device of the family stores for this parity."""
        codes = _PARITY_CODES.get(Family(family))
        if codes is None:
            raise ValueError(f"parity {self.value}: a family {Family(family)} device's parity codes have "
                             f"no words; give the device's own code")
        return codes[self]

    def __str__(self) -> str:
        return self.value

    def __format__(self, format_spec: str) -> str:
        return format(self.value, format_spec)

    def __eq__(self, other: object) -> bool:
        if isinstance(other, str):
            return self is Parity(other)  # a word that is no parity raises
        if isinstance(other, int):
            raise TypeError(f"comparing {self!r} with {other}: parity codes differ by family; "
                            f"compare with a word, or with parity.code(family)")
        return NotImplemented

    def __ne__(self, other: object) -> bool:
        return not self == other

    def __hash__(self) -> int:
        return hash(self.value)


@dataclass(frozen=True)
class FamilyInfo:
    """A family as the library tells it (kx_family_info)."""

    family: Family
    letter: str
    name: str  # what its devices speak
    device_port: int  # the UDP port its devices listen on
    record_size: int  # bytes of its own settings record


def families() -> List[FamilyInfo]:
    """Every family the library speaks, in the order its searches ask them."""
    from . import _library

    return [FamilyInfo(Family(code), letter, name, port, size)
            for code, letter, name, port, size in _library.families()]


def _library_families() -> list:
    """The families the library speaks, or none where it cannot be loaded."""
    from . import _library
    from .errors import LibraryError

    try:
        return _library.families()
    except LibraryError:
        return []


# Each family's own parity codes, where it has words for them. Family B's are
# also the quick setting's argument on family A: the library turns it into a
# family A device's own.
_PARITY_CODES = {
    Family.A: {Parity.NONE: 0, Parity.EVEN: 1, Parity.ODD: 2, Parity.MARK: 3, Parity.SPACE: 4},
    Family.B: {Parity.NONE: 0, Parity.ODD: 1, Parity.EVEN: 2, Parity.MARK: 3, Parity.SPACE: 4},
}


class DataBits(_OpenCode):
    """Data bits of the serial line: family A devices 7 or 8, family B 5 to 8."""

    FIVE = 5
    SIX = 6
    SEVEN = 7
    EIGHT = 8
