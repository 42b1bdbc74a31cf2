#!/usr/bin/env python3
"""Runs the README's marked code blocks as written, in a scratch home folder.

The line before a marked block says what to do with it:
  <!-- tested: file PATH -->       the block is written to ~/PATH
  <!-- tested: run -->             bash -e runs it from the source folder
  <!-- tested: run, then a shell beside kxsim -->
                                   the same, for a block that starts kxsim and then a
                                   shell beside it that reads its commands from standard
                                   input: the blocks marked "run beside kxsim" are run
                                   in that shell, one after another; after the last one
                                   its input closes, and the block must then exit 0
  <!-- tested: run beside kxsim --> the shell beside kxsim runs it under set -e
  <!-- tested: output (lines in any order) -->
                                   the block must be the standard output of the run
                                   before it (for the shell block: up to its shell),
                                   line for line in some order

Runs inside a private network namespace (ctest wraps it in scripts/netns-run).
Usage: readme_test.py README.md SOURCE_DIR BUILD_DIR
"""
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import time


def marked_blocks(readme):
    """(what, code) for every block whose fence follows a "tested:" line."""
    blocks, what, code = [], None, None
    for line in open(readme, encoding="utf-8"):
        line = line.rstrip("\n")
        if code is not None:
            if line.startswith("```"):
                blocks.append((what, "\n".join(code) + "\n"))
                what, code = None, None
            else:
                code.append(line)
            continue
        marker = re.fullmatch(r"<!-- tested: (.*) -->", line)
        if marker:
            what = marker.group(1)
        elif what and line.startswith("```"):
            code = []
    return blocks


def fail(what, code, result=None):
    print(f"FAIL: the README block marked \"{what}\":\n{code}")
    if result is not None:
        print(f"exited {result.returncode}; its output:\n{result.stdout}{result.stderr}")
    sys.exit(1)


class ShellBesideKxsim:
    """The running block marked "run, then a shell beside kxsim"."""

    def __init__(self, script, cwd, env, home):
        self.home, self.count = home, 0
        self.out_path = os.path.join(home, "shell-block.out")
        self.err_path = os.path.join(home, "shell-block.err")
        with open(self.out_path, "w") as out, open(self.err_path, "w") as err:
            self.process = subprocess.Popen(["bash", "-e", "-c", script], cwd=cwd, env=env,
                                            stdin=subprocess.PIPE, stdout=out, stderr=err,
                                            text=True, start_new_session=True)
        # The shell echoes this once it reads its first command; what came
        # before is the block's own output.
        self.marker = "readme-test: the shell beside kxsim runs"
        self.send(f"echo '{self.marker}'")
        self.started = self.wait_for(lambda: self.marker in read(self.out_path))
        self.stdout = read(self.out_path).split(self.marker)[0]

    def send(self, line):
        try:
            self.process.stdin.write(line + "\n")
            self.process.stdin.flush()
        except BrokenPipeError:
            pass

    def wait_for(self, condition, seconds=240):
        """Waits for condition() while the block runs; its last value."""
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            done = condition()
            if done or self.process.poll() is not None:
                return done
            time.sleep(0.1)
        return None

    def result(self, stdout, returncode):
        return subprocess.CompletedProcess(self.process.args, returncode, stdout,
                                           read(self.err_path))

    def run(self, code):
        """Runs code in the shell under set -e; its result."""
        self.count += 1
        block = os.path.join(self.home, f"beside-{self.count}")
        with open(block + ".sh", "w") as f:
            f.write(code)
        self.send(f"(set -e; . {block}.sh) </dev/null >{block}.out 2>{block}.err;"
                  f" echo $? >{block}.part && mv {block}.part {block}.status")
        status = self.wait_for(lambda: read(block + ".status"))
        if not status:
            return self.result(read(self.out_path), self.process.poll() or -1)
        return subprocess.CompletedProcess(code, int(status), read(block + ".out"),
                                           read(block + ".err"))

    def close(self):
        """Ends the shell (and so the block); the block's result."""
        self.process.stdin.close()
        try:
            returncode = self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            returncode = -1
        try:  # whatever the block left running
            os.killpg(self.process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        self.process.wait()
        return self.result(read(self.out_path), returncode)


def read(path):
    try:
        with open(path) as f:
            return f.read()
    except FileNotFoundError:
        return ""


def main(readme, source, build):
    if [name for _, name in socket.if_nameindex()] != ["lo"]:
        sys.exit("FAIL: refusing to run outside a private network namespace (scripts/netns-run)")
    home = tempfile.mkdtemp(prefix="kxconf-readme.")
    env = dict(os.environ, HOME=home)
    env.pop("PKG_CONFIG_PATH", None)
    env.pop("XDG_DATA_HOME", None)  # kxtool's journal in the scratch home too
    blocks = marked_blocks(readme)
    if not any(what == "output (lines in any order)" for what, _ in blocks):
        sys.exit("FAIL: the README has no block marked for output")
    last, shell, shell_what = None, None, None
    try:
        for what, code in blocks:
            if what.startswith("file "):
                path = os.path.join(home, what[5:])
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "w") as f:
                    f.write(code)
            elif what == "run":
                # The README's commands name the linux preset's folder.
                last = subprocess.run(["bash", "-e", "-c", code.replace("build/linux", build)],
                                      cwd=source, env=env, capture_output=True, text=True,
                                      timeout=240)
                if last.returncode != 0:
                    fail(what, code, last)
            elif what == "run, then a shell beside kxsim":
                if shell:
                    fail(what, code, shell.close())
                shell = ShellBesideKxsim(code.replace("build/linux", build), source, env, home)
                shell_what, last = (what, code), shell.result(shell.stdout, 0)
                if not shell.started:
                    fail(what, code, shell.close())
            elif what == "run beside kxsim":
                if not shell:
                    sys.exit(f"FAIL: no block marked \"run, then a shell beside kxsim\""
                             f" before the block\n{code}")
                last = shell.run(code)
                if last.returncode != 0:
                    fail(what, code, last)
            elif what == "output (lines in any order)":
                got = sorted(line.rstrip() for line in last.stdout.splitlines())
                if got != sorted(code.splitlines()):
                    fail(what, code, last)
            else:
                sys.exit(f"FAIL: unknown README mark \"{what}\"")
        if shell:
            result = shell.close()
            if result.returncode != 0:
                print("after its input closed:")
                fail(*shell_what, result)
            shell = None
    finally:
        if shell:
            shell.close()
        subprocess.run(["rm", "-rf", home])
    print(f"the README's {len(blocks)} marked blocks run as written")
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
