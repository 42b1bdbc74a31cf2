#!/usr/bin/env python3
"""Runs the README's marked code blocks as written, in a scratch home folder.

The line before a marked block says what to do with it:
  <!-- tested: file PATH -->       the block is written to ~/PATH
  <!-- tested: run -->             bash -e runs it from the source folder
  <!-- tested: run beside kxsim --> bash -e runs it in a scratch folder, with
                                   ~/kxconf/bin first on PATH, while the installed
                                   kxsim serves two devices of each family
  <!-- tested: output (lines in any order) -->
                                   the block must be the standard output of the run
                                   before it, line for line in some order

Runs inside a private network namespace (ctest wraps it in scripts/netns-run).
Usage: readme_test.py README.md SOURCE_DIR BUILD_DIR
"""
import os
import re
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


def start_kxsim(home):
    log = open(os.path.join(home, "kxsim-beside.log"), "w+")
    sim = subprocess.Popen([os.path.join(home, "kxconf/bin/kxsim"), "--family-a", "2",
                            "--family-b", "2"], stdout=log, stderr=subprocess.STDOUT)
    for _ in range(100):
        log.seek(0)
        if "ready" in log.read() or sim.poll() is not None:
            break
        time.sleep(0.1)
    log.seek(0)
    if "ready" not in log.read():
        sim.kill()
        sys.exit("FAIL: the installed kxsim did not become ready")
    return sim


def main(readme, source, build):
    if [name for _, name in socket.if_nameindex()] != ["lo"]:
        sys.exit("FAIL: refusing to run outside a private network namespace (scripts/netns-run)")
    home = tempfile.mkdtemp(prefix="kxconf-readme.")
    env = dict(os.environ, HOME=home)
    env.pop("PKG_CONFIG_PATH", None)
    blocks = marked_blocks(readme)
    if not any(what == "output (lines in any order)" for what, _ in blocks):
        sys.exit("FAIL: the README has no block marked for output")
    last = None
    try:
        for what, code in blocks:
            if what.startswith("file "):
                path = os.path.join(home, what[5:])
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "w") as f:
                    f.write(code)
            elif what in ("run", "run beside kxsim"):
                # The README's commands name the linux preset's folder.
                script = code.replace("build/linux", build)
                cwd, run_env, sim = source, env, None
                if what == "run beside kxsim":
                    cwd = tempfile.mkdtemp(dir=home)
                    run_env = dict(env, PATH=os.path.join(home, "kxconf/bin") + ":" + env["PATH"])
                    sim = start_kxsim(home)
                try:
                    last = subprocess.run(["bash", "-e", "-c", script], cwd=cwd, env=run_env,
                                          capture_output=True, text=True, timeout=240)
                finally:
                    if sim:
                        sim.terminate()
                        sim.wait()
                if last.returncode != 0:
                    fail(what, code, last)
            elif what == "output (lines in any order)":
                got = sorted(line.rstrip() for line in last.stdout.splitlines())
                if got != sorted(code.splitlines()):
                    fail(what, code, last)
            else:
                sys.exit(f"FAIL: unknown README mark \"{what}\"")
    finally:
        subprocess.run(["rm", "-rf", home])
    print(f"the README's {len(blocks)} marked blocks run as written")
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
