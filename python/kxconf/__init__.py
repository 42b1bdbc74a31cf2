"""kxconf: find and configure networked serial device servers over UDP.

A typed layer over libkxconf's C interface (ctypes)::

    import kxconf
    for device in kxconf.discover():
        with device.session("") as s:
            settings = s.read()
            settings.baud_rate = kxconf.BaudRate.B57600
            s.write(settings)

Failures raise KxError subclasses carrying the library's result code and
text; values that a device's family cannot carry raise ValueError before
anything is sent.
"""

from ._device import Device, Session, crc16, discover, find, set_option
from ._journal import Change, FieldChange, Journal, JournalDevice, Snapshot
from ._library import library_path
from ._records import Settings
from .errors import (
    ArgumentError,
    CapacityError,
    IncompleteWarning,
    KxError,
    LibraryError,
    Refused,
    ReplyError,
    SocketError,
    Timeout,
)
from .values import BaudRate, DataBits, DeviceId, Family, FamilyInfo, Option, Parity, families

try:
    from ._version import __version__
except ImportError:  # running from the source tree
    __version__ = "0+source"

__all__ = [
    "ArgumentError",
    "BaudRate",
    "Change",
    "CapacityError",
    "DataBits",
    "Device",
    "DeviceId",
    "Family",
    "FamilyInfo",
    "FieldChange",
    "IncompleteWarning",
    "Journal",
    "JournalDevice",
    "KxError",
    "LibraryError",
    "Option",
    "Parity",
    "Refused",
    "ReplyError",
    "Session",
    "Settings",
    "Snapshot",
    "SocketError",
    "Timeout",
    "crc16",
    "discover",
    "families",
    "find",
    "library_path",
    "set_option",
]
