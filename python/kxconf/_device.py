"""Devices, sessions and the module-level calls, over the C interface."""

from __future__ import annotations

import contextlib
import ctypes
import errno
import math
import socket
import time
import warnings
from dataclasses import dataclass, fields
from ipaddress import IPv4Address
from types import TracebackType
from typing import Any, Dict, List, Optional, Tuple, Type, Union

from . import _library
from ._records import (
    DEVICE_RECORD_SIZE,
    SETTINGS_RECORD_SIZE,
    Settings,
    address_bytes,
    checked_baud,
    checked_number,
    device_record,
    device_values,
    login_record,
    number_range,
    parity_code,
    quick_parity,
    settings_from_record,
    settings_record,
)
from .errors import CapacityError, IncompleteWarning, KxError, SocketError, Timeout, error_for
from .values import BaudRate, DataBits, DeviceId, Family, Option, Parity

_OK = 1
_INCOMPLETE = 2
_SEARCH_ALL_INTERFACES = 1
_CAPACITY_MOST = 65536  # a 17 MB array; far beyond any network
_TIMEOUT = -3
_CAPACITY = -7
_ROUNDS_MOST = 16
_ASK_SPACING = 0.1  # find asks at most this often, whatever the library's wait
_LIBRARY_PORT = 65281  # every operation binds it


def _call(operation: str, name: str, *arguments: Any) -> int:
    function = _library.function(name)
    with _library.call_lock:
        result = int(function(*arguments))
    if result != _OK:
        raise error_for(result, _library.result_text(result), operation)
    return result


def _buffer(data: bytes) -> ctypes.Array:
    return ctypes.create_string_buffer(data, len(data))


@dataclass(frozen=True)
class Device:
    """One device as a search reports it (the device record), and where its
    requests go: ``address``, the address find() was given and the device
    answered at; from discover(), or when not given, its configured
    ``ip_address``. The two differ after the device was given a new address,
    which it takes only when it restarts."""

    family: Family
    device_id: DeviceId
    ip_address: IPv4Address
    device_name: str
    firmware_version: str
    local_port: int
    dest_ip: IPv4Address
    subnet_mask: IPv4Address
    gateway: IPv4Address
    li_address: IPv4Address
    li_address_2: IPv4Address
    address: Optional[IPv4Address] = None  # set to ip_address when not given

    def __post_init__(self) -> None:
        if self.address is None:
            object.__setattr__(self, "address", self.ip_address)

    @classmethod
    def _from_record(cls, record: bytes, address: Optional[IPv4Address] = None) -> Device:
        return cls(**device_values(record), address=address)

    def _arguments(self) -> tuple:
        """The address, identifier and device record that the calls take."""
        return (
            address_bytes("address", self.address),
            _buffer(bytes(self.device_id)),
            _buffer(device_record({f.name: getattr(self, f.name) for f in fields(self)})),
        )

    def __str__(self) -> str:
        return f"family {self.family.name} device {self.device_id} at {self.address}"

    def session(self, password: str) -> Session:
        """Logs in when entered, logs out when left: ``with device.session("pw") as s:``."""
        return Session(self, password)

    # The quick settings carry no identifier: they change whichever device
    # answers at ``address``, and the library takes the first answer from any
    # sender as the device's. Read the settings in a session to be sure.

    def set_baud_rate(self, rate: Union[BaudRate, int]) -> None:
        """Changes the serial-line speed at once, without a login; the answer
        is not checked to come from this device."""
        rate = checked_baud("baud rate", rate, self.family, quick=True)
        self._quick("baud rate", "kx_setting_baud", rate)

    def set_parity(self, parity: Union[Parity, str, int]) -> None:
        """Changes the parity at once, without a login; the answer is not
        checked to come from this device. Takes a Parity, a word ("even"),
        or the device's own code (an int, as in kxtool's files)."""
        code = quick_parity(parity_code("parity", parity, self.family), self.family)
        self._quick("parity", "kx_setting_parity", code)

    def set_data_bits(self, bits: Union[DataBits, int]) -> None:
        """Changes the number of data bits at once, without a login; the
        answer is not checked to come from this device."""
        low, high = number_range("data_bits", self.family)
        bits = checked_number("data bits", int(DataBits(bits)), low, high,
                              f"a family {self.family.name} device")
        self._quick("data bits", "kx_setting_databit", bits)

    def _quick(self, what: str, name: str, value: int) -> None:
        address, _, record = self._arguments()
        _call(f"{what} of {self}", name, address, value, record)


class Session:
    """A login to one device; use it in a ``with`` statement, which logs out
    on leaving. Once the login has been sent, a logout follows whatever is
    raised, KeyboardInterrupt included; only a login that the library reports
    failed (it closes that exchange itself) leaves nothing to log out of."""

    def __init__(self, device: Device, password: str) -> None:
        self.device = device
        self._login = _buffer(login_record(device.family, password))
        self._calls = device._arguments()  # ready beforehand: nothing to fail before a logout
        self._open = False

    def __enter__(self) -> Session:
        address, identifier, _ = self._calls
        self._open = True
        try:
            _call(f"login to {self.device}", "kx_login", address, identifier, self._login)
        except KxError:
            self._open = False
            raise
        except BaseException:
            # Raised while the login was under way or just after it (Ctrl-C
            # during its wait comes when the call returns): it may have been
            # accepted, and __exit__ will not run.
            self._logout(quietly=True)
            raise
        return self

    def __exit__(
        self,
        kind: Optional[Type[BaseException]],
        error: Optional[BaseException],
        traceback: Optional[TracebackType],
    ) -> None:
        if self._open:
            self._logout(quietly=error is not None)

    def _logout(self, quietly: bool) -> None:
        """Logs out; a failed logout raises unless quietly. Interrupted, it
        may not have been sent, so it is sent once more (a second is
        harmless) before the interruption goes on."""
        self._open = False
        address, identifier, record = self._calls
        operation = f"logout from {self.device}"
        try:
            _call(operation, "kx_logout", address, identifier, record)
        except KxError:
            if not quietly:
                raise
        except BaseException:
            with contextlib.suppress(KxError):
                _call(operation, "kx_logout", address, identifier, record)
            raise

    def _check_open(self) -> None:
        if not self._open:
            raise RuntimeError("use the session inside its with statement")

    def read(self) -> Settings:
        """The device's complete settings."""
        self._check_open()
        address, identifier, record = self._calls
        settings = ctypes.create_string_buffer(SETTINGS_RECORD_SIZE)
        _call(f"read of {self.device}", "kx_read_setting", address, identifier, settings, record)
        return settings_from_record(settings.raw)

    def write(self, settings: Settings) -> None:
        """Writes settings to the device; ValueError, with nothing sent, when a
        value does not fit what the device's family carries."""
        self._check_open()
        packed = settings_record(settings, self.device.family, self.device.device_id)
        address, identifier, record = self._calls
        _call(f"write to {self.device}", "kx_write_setting", address, identifier, _buffer(packed), record)


def discover(all_interfaces: bool = True, capacity: int = 1024, rounds: int = 1) -> List[Device]:
    """Finds the devices of every family, each once, in order of first answer.

    all_interfaces: also search behind every network adapter (directed
    broadcasts), not only by 255.255.255.255. rounds: how many searches to
    make one after the other (1 to 16), their devices merged, each listed
    once by family and identifier; a device that missed or dropped the first
    requests answers a later round. When more than capacity devices answer,
    raises CapacityError whose ``devices`` lists the first capacity. When the
    system dropped answers in every round, warns with IncompleteWarning.
    """
    capacity = checked_number("capacity", capacity, 1, _CAPACITY_MOST, "discover")
    rounds = checked_number("rounds", rounds, 1, _ROUNDS_MOST, "discover")
    options = _SEARCH_ALL_INTERFACES if all_interfaces else 0
    found: Dict[Tuple[Family, DeviceId], Device] = {}
    dropped = []
    for _ in range(rounds):
        result, devices = _discover_once(capacity, options)
        for device in devices:
            found.setdefault((device.family, device.device_id), device)
        if len(found) > capacity:
            result = _CAPACITY
        if result == _INCOMPLETE:
            dropped.append(result)
        elif result != _OK:
            error = error_for(result, _library.result_text(result), "discover")
            if isinstance(error, CapacityError):
                error.devices = list(found.values())[:capacity]
            raise error
    # A round without dropped answers heard every device that answered it.
    if len(dropped) == rounds:
        text = _library.result_text(_INCOMPLETE)
        warnings.warn(IncompleteWarning(f"discover: {text}"), stacklevel=2)
    return list(found.values())


def _discover_once(capacity: int, options: int) -> Tuple[int, List[Device]]:
    records = ctypes.create_string_buffer(DEVICE_RECORD_SIZE * capacity)
    count = ctypes.c_int32(0)
    function = _library.function("kx_discover")
    with _library.call_lock:
        result = int(function(records, capacity, ctypes.byref(count), options))
    raw = records.raw
    return result, [
        Device._from_record(raw[i * DEVICE_RECORD_SIZE : (i + 1) * DEVICE_RECORD_SIZE])
        for i in range(max(0, min(count.value, capacity)))
    ]


def _port_in_use() -> bool:
    """Whether another program holds the local UDP port every operation binds.
    The probe holds the port too, so this process's calls wait for it."""
    with _library.call_lock, socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
        try:
            probe.bind(("0.0.0.0", _LIBRARY_PORT))
        except OSError as e:
            return e.errno in (errno.EADDRINUSE, errno.EACCES)  # EACCES: Windows' exclusive use
    return False


def _search_one(operation: str, address: IPv4Address) -> Device:
    record = ctypes.create_string_buffer(DEVICE_RECORD_SIZE)
    try:
        _call(operation, "kx_search_one", str(address).encode("ascii"), record)
    except SocketError as failure:
        # kx_search_one reports a socket it could not prepare as -1: say why.
        if _port_in_use():
            raise SocketError(
                -1, f"local UDP port {_LIBRARY_PORT} is in use (is another program configuring devices?)",
                operation) from failure
        raise
    return Device._from_record(record.raw, address)


def find(address: Union[str, IPv4Address], timeout: float = 1.0) -> Device:
    """The device that answers at one address, of any family.

    Asks again each time the library's wait ends (100 ms for a family A
    device) until an answer comes or timeout seconds have passed, so a slow
    device or one that dropped a request is still found. Raises Timeout when
    none answers, SocketError when another program holds local port 65281,
    and ValueError for an address that is no single device's (0.0.0.0,
    255.255.255.255 and the other reserved addresses, multicast).

    The Device's ``address`` is the one given, ``ip_address`` the one the
    device is configured with."""
    asked = IPv4Address(address_bytes("address", address).decode("ascii"))
    if asked.is_unspecified or asked.is_reserved or asked.is_multicast:
        raise ValueError(f"address {asked}: find asks one device, and {asked} is no device's address")
    if isinstance(timeout, bool) or not isinstance(timeout, (int, float)) or not 0 < timeout < math.inf:
        raise ValueError(f"timeout {timeout!r}: a number of seconds above 0 is needed")
    operation = f"search of {asked}"
    deadline = time.monotonic() + timeout
    # The library takes only answers from the address asked, but an answer
    # may name another configured address (a device given a new address
    # answers at its old one until it restarts): it counts only when the next
    # answer names the same device; it is always asked once more.
    previous: Optional[Device] = None
    while True:
        began = time.monotonic()
        try:
            answer: Optional[Device] = _search_one(operation, asked)
        except Timeout:
            answer = None
        if answer is not None and (answer.ip_address == asked or _same_device(answer, previous)):
            return answer
        now = time.monotonic()
        if now >= deadline and (answer is None or previous is not None):
            raise Timeout(_TIMEOUT, _library.result_text(_TIMEOUT), operation)
        previous = answer
        time.sleep(max(0.0, min(began + _ASK_SPACING, deadline) - now))  # never a flood


def _same_device(one: Device, other: Optional[Device]) -> bool:
    return other is not None and (one.family, one.device_id) == (other.family, other.device_id)


def crc16(data: Union[bytes, bytearray, memoryview]) -> int:
    """The CRC-16 of the family B protocol (polynomial 0x1021, initial 0)."""
    data = bytes(data)
    # The library takes the length modulo 65536, so longer data would get
    # the CRC of a part of it.
    checked_number("crc16 data length", len(data), 0, 0xFFFF, "crc16")
    function = _library.function("cal_crc")
    return int(function(data, len(data))) & 0xFFFF


def set_option(option: Union[Option, int], value: Union[bool, int]) -> None:
    """Sets a process-wide library option, e.g. ``set_option(Option.EVERY_ADAPTER, True)``."""
    option = Option(option)
    value = checked_number(option.name, value, 0, 1, "the option")
    _call(f"set_option {option.name}", "kx_set_option", int(option), value)
