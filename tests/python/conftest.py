"""kxsim for the kxconf package's tests, with its trace of what it received.

Runs inside a private network namespace (run.sh, from ctest through
scripts/netns-run); kxsim refuses to start anywhere else.
"""

import contextlib
import json
import os
import subprocess
import tempfile
import time
from pathlib import Path
from typing import Iterator, List

import pytest


class Trace:
    """kxsim's --trace output: one line per datagram it received."""

    def __init__(self, path: Path) -> None:
        self.path = path

    def lines(self) -> List[str]:
        time.sleep(0.2)  # kxsim prints what it received every 20 ms
        return self.path.read_text().splitlines()[1:]  # after "ready"

    def mark(self) -> int:
        return len(self.lines())

    def since(self, mark: int) -> List[str]:
        return self.lines()[mark:]


@contextlib.contextmanager
def kxsim(*arguments: str, devices: list = ()) -> Iterator[Trace]:
    with tempfile.TemporaryDirectory() as work:
        command = [os.environ["KXSIM"], "--trace", *arguments]
        if devices:
            listed = Path(work, "devices.json")
            listed.write_text(json.dumps(devices))
            command += ["--devices", str(listed)]
        trace = Path(work, "trace")
        with open(trace, "w") as out:
            sim = subprocess.Popen(command, stdout=out, stderr=subprocess.STDOUT)
        try:
            for _ in range(100):
                if trace.read_text().startswith("ready"):
                    break
                time.sleep(0.05)
            else:
                pytest.fail("kxsim did not become ready: " + trace.read_text())
            yield Trace(trace)
        finally:
            sim.terminate()
            sim.wait(10)
