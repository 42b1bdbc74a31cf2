"""The exceptions of kxconf: one per result code the library returns."""

from __future__ import annotations

from typing import Dict, Type


class LibraryError(OSError):
    """libkxconf could not be found or loaded; the message names the file."""


class KxError(Exception):
    """A library call returned a failure code.

    ``code`` is the library's result code, ``text`` its own words for it
    (``kx_result_text``), ``operation`` what was being done.
    """

    def __init__(self, code: int, text: str, operation: str) -> None:
        super().__init__(f"{operation}: {text} ({code})")
        self.code = code
        self.text = text
        self.operation = operation


class SocketError(KxError):
    """-1: the socket could not be prepared (another operation holds local
    port 65281?) or a receive failed."""


class ReplyError(KxError):
    """-2: a reply arrived but is not acceptable."""


class Timeout(KxError):
    """-3: no matching reply in time."""


class ArgumentError(KxError):
    """-5: the library refused an argument."""


class Refused(KxError):
    """-6: the device refused the login (wrong password)."""


class CapacityError(KxError):
    """-7: more devices answered than the capacity; ``devices`` holds those listed."""

    devices: list  # list[Device], set by discover()


class IncompleteWarning(UserWarning):
    """Discovery listed what it received, but the system dropped answers:
    more devices may have answered."""


_BY_CODE: Dict[int, Type[KxError]] = {
    -1: SocketError,
    -2: ReplyError,
    -3: Timeout,
    -5: ArgumentError,
    -6: Refused,
    -7: CapacityError,
}


def error_for(code: int, text: str, operation: str) -> KxError:
    return _BY_CODE.get(code, KxError)(code, text, operation)
