"""kxtool's site journal, read for reports: every device seen, the changes
made, the settings read. Read-only, through Python's sqlite3; kxtool and a
console may write to the journal meanwhile (it is in WAL mode, so readers
never wait for them)::

    with kxconf.Journal() as journal:
        for device in journal.inventory():
            print(device.device_id, device.status, device.settings.get("baud_rate"))
"""

from __future__ import annotations

import dataclasses
import json
import os
import sqlite3
import sys
from pathlib import Path
from typing import Any, Dict, List, Optional, Tuple, Union

from .values import Family

# The newest journal layout this package reads (kxtool's schema version).
SCHEMA = 1


def default_path() -> Path:
    """Where kxtool keeps its journal unless told otherwise."""
    if sys.platform == "win32":
        return Path(os.environ["LOCALAPPDATA"]) / "kxconf" / "journal.sqlite"
    data = os.environ.get("XDG_DATA_HOME", "")
    base = Path(data) if data.startswith("/") else Path.home() / ".local" / "share"
    return base / "kxconf" / "journal.sqlite"


def _family(code: int) -> Union[Family, int]:
    try:
        return Family(code)
    except ValueError:
        return code


def _settings(text: Optional[str]) -> Optional[Dict[str, Any]]:
    return json.loads(text) if text else None


@dataclasses.dataclass(frozen=True)
class JournalDevice:
    """A device as the journal knows it, with its latest settings read."""

    family: Union[Family, int]
    device_id: str
    name: str
    configured: str  # the address it is configured with
    answered_from: str  # where it last answered; "" when not known
    firmware: str
    first_seen: str  # UTC, 2024-05-01T12:00:03.123Z
    last_seen: str
    # "online", "offline" (missing from the latest complete search), or "-"
    # before any complete search.
    status: str
    settings: Optional[Dict[str, Any]]  # as kxtool save writes them, without the password
    settings_read: str  # when they were last read; "" when never


@dataclasses.dataclass(frozen=True)
class FieldChange:
    field: str
    before: Optional[str]  # None: not read first, or secret
    after: Optional[str]  # None: not read back, or secret
    secret: bool


@dataclasses.dataclass(frozen=True)
class Change:
    """A write and its outcome, its fields as read before and after."""

    time: str
    host: str
    user: str
    command: str
    family: Union[Family, int]
    device_id: str
    device_name: str
    address: str
    ok: bool
    detail: str
    fields: Tuple[FieldChange, ...]


@dataclasses.dataclass(frozen=True)
class Snapshot:
    """Settings as read, unchanged from time to last_time."""

    time: str
    last_time: str
    command: str
    host: str
    user: str
    answered_from: str
    settings: Dict[str, Any]


class Journal:
    """kxtool's journal, opened read-only. Raises FileNotFoundError when there
    is none, and ValueError for one written by a newer kxtool."""

    def __init__(self, path: Union[str, os.PathLike, None] = None) -> None:
        self.path = Path(path) if path is not None else default_path()
        if not self.path.is_file():
            raise FileNotFoundError(f"no journal at {self.path}")
        self._db = sqlite3.connect(f"{self.path.resolve().as_uri()}?mode=ro", uri=True,
                                   timeout=5.0)
        version = self._db.execute("PRAGMA user_version").fetchone()[0]
        if version > SCHEMA:
            self._db.close()
            raise ValueError(f"{self.path} was written by a newer kxtool (journal version "
                             f"{version}; this package reads up to {SCHEMA})")

    def close(self) -> None:
        self._db.close()

    def __enter__(self) -> Journal:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def inventory(self) -> List[JournalDevice]:
        """Every device ever seen, in the order of their configured addresses."""
        latest = self._db.execute(
            "SELECT id, time FROM searches WHERE complete = 1 AND scope = '' "
            "ORDER BY id DESC LIMIT 1").fetchone()
        rows = self._db.execute(
            "SELECT d.family, d.device_id, d.name, d.configured, d.answered_from, d.firmware, "
            "d.first_seen, d.last_seen, d.last_search, s.settings, s.last_time FROM devices d "
            "LEFT JOIN snapshots s ON s.id = d.last_snapshot").fetchall()
        devices = []
        for (family, device_id, name, configured, answered_from, firmware, first_seen, last_seen,
             last_search, settings, settings_read) in rows:
            status = "-"
            if latest is not None:
                online = (last_search is not None and last_search >= latest[0]) or \
                    last_seen >= latest[1]
                status = "online" if online else "offline"
            devices.append(JournalDevice(_family(family), device_id, name, configured,
                                         answered_from, firmware, first_seen, last_seen, status,
                                         _settings(settings), settings_read or ""))
        return sorted(devices, key=lambda d: (_address_key(d.configured), int(d.family),
                                              d.device_id))

    def history(self, device: str = "", limit: Optional[int] = None) -> List[Change]:
        """The changes, newest first; of the device that device names (an
        identifier, or an address it was configured with or answered from)."""
        rows = self._db.execute(
            "SELECT c.id, c.time, c.host, c.user, c.command, d.family, d.device_id, d.name, "
            "c.answered_from, c.ok, c.detail FROM changes c JOIN devices d ON d.id = c.device "
            "WHERE (?1 = '' OR d.device_id = ?1 OR d.id IN (SELECT device FROM places WHERE "
            "configured = ?1 OR answered_from = ?1)) ORDER BY c.id DESC LIMIT ?2",
            (device, -1 if limit is None else limit)).fetchall()
        changes = []
        for (change, time, host, user, command, family, device_id, name, address, ok,
             detail) in rows:
            fields = tuple(FieldChange(f, before, after, bool(secret)) for f, before, after, secret
                           in self._db.execute(
                               "SELECT field, before, after, secret FROM change_fields WHERE "
                               "change = ? ORDER BY position", (change,)))
            changes.append(Change(time, host, user, command, _family(family), device_id, name,
                                  address, bool(ok), detail, fields))
        return changes

    def snapshots(self, device_id: str, family: Union[Family, int, str, None] = None,
                  limit: Optional[int] = None) -> List[Snapshot]:
        """The settings read from a device (by identifier), newest first."""
        code = 0 if family is None else int(Family(family))
        rows = self._db.execute(
            "SELECT s.time, s.last_time, s.command, s.host, s.user, s.answered_from, s.settings "
            "FROM snapshots s JOIN devices d ON d.id = s.device WHERE d.device_id = ?1 AND "
            "(?2 = 0 OR d.family = ?2) ORDER BY s.id DESC LIMIT ?3",
            (str(device_id), code, -1 if limit is None else limit)).fetchall()
        return [Snapshot(*row[:6], json.loads(row[6])) for row in rows]


def _address_key(text: str) -> Tuple[int, int, str]:
    parts = text.split(".")
    if len(parts) == 4 and all(p.isdigit() and int(p) < 256 for p in parts):
        value = 0
        for p in parts:
            value = value * 256 + int(p)
        return (0, value, "")
    return (1, 0, text)
