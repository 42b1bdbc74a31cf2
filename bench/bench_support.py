"""What the Python benchmarks share: the programs measured, the private
namespace they insist on, a work folder and a kxsim started in it."""
import os
import subprocess
import sys
import tempfile
import time


def programs():
    """kxtool and kxsim: the command line's first two arguments, or the linux build's."""
    return (sys.argv[1] if len(sys.argv) > 1 else "build/linux/tools/kxtool",
            sys.argv[2] if len(sys.argv) > 2 else "build/linux/sim/kxsim")


def private_work_folder(name):
    """A fresh folder, once this is known to run in a namespace with loopback alone."""
    links = subprocess.run(["ip", "-o", "link"], capture_output=True,
                           text=True).stdout.splitlines()
    if len(links) != 1 or ": lo:" not in links[0]:
        sys.exit(f"{name}: run it inside scripts/netns-run (a namespace with loopback alone)")
    return tempfile.mkdtemp()


def start_sim(name, kxsim, work, *args):
    """kxsim with these arguments, once it says it is ready; its output in work/kxsim.log."""
    log = open(os.path.join(work, "kxsim.log"), "w+")
    started = subprocess.Popen([kxsim, *args], stdout=log, stderr=subprocess.STDOUT)
    for _ in range(200):
        log.seek(0)
        if log.read().startswith("ready"):
            return started
        time.sleep(0.05)
    started.kill()
    sys.exit(f"{name}: kxsim did not become ready")
