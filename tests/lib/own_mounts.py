"""Tests that mount things (a small disk, a stalling drive, another
resolv.conf): the test re-runs itself in a mount namespace of its own, and
may run Wine there with a wineserver of its own, which sees those mounts.

  own_mounts.reexec_unless_own("full-disk test", "mount a tmpfs")   at the top of the script:
                         exits 77 (skipped) without root, else re-runs it under `unshare -m`
  m = OwnMounts()        a scratch folder for what it mounts
  m.mount("-t", "tmpfs", ..., target)   unmounted again by m.close()
  m.own_prefix()         the Wine prefix seen through an overlay (writes stay in the
                         scratch folder), with its own wineserver; sets WINEPREFIX
  m.close()              ends that wineserver (and with it the prefix's programs), puts
                         WINEPREFIX back, unmounts
"""
import os
import shutil
import subprocess
import sys
import tempfile

SKIP = 77
FLAG = "ORCHARD_OWN_MOUNTS"


def reexec_unless_own(what, why):
    if os.environ.get(FLAG) == "1":
        return
    if os.geteuid() != 0 or subprocess.run(["unshare", "-m", "true"], capture_output=True).returncode != 0:
        print("%s skipped: it needs root to %s in a mount namespace of its own" % (what, why))
        sys.exit(SKIP)
    os.execvpe("unshare", ["unshare", "-m", "--propagation", "private", sys.executable] + sys.argv,
               dict(os.environ, **{FLAG: "1"}))


def run(*cmd):
    subprocess.run(cmd, check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)


class OwnMounts:
    def __init__(self, prefix="orchard_mounts_"):
        self.scratch = tempfile.mkdtemp(prefix=prefix)
        self.mounts = []
        self.wineserver = None
        self.outer_prefix = None

    def mount(self, *args):
        run("mount", *args)
        self.mounts.append(args[-1])

    def own_prefix(self):
        """The shared prefix seen through an overlay: another directory, so its
        own wineserver, which sees this namespace's mounts and writes nothing back."""
        lower = self.outer_prefix = os.environ["WINEPREFIX"]
        upper, work, prefix = (os.path.join(self.scratch, n) for n in ("upper", "work", "prefix"))
        for d in (upper, work, prefix):
            os.makedirs(d)
        self.mount("-t", "overlay", "overlay", "-o", "lowerdir=%s,upperdir=%s,workdir=%s" % (lower, upper, work),
                   prefix)
        os.environ["WINEPREFIX"] = prefix
        self.wineserver = subprocess.Popen(["wineserver", "-f", "-p"], stdin=subprocess.DEVNULL,
                                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return prefix

    def close(self):
        if self.wineserver:
            subprocess.run(["wineserver", "-k"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            try:
                self.wineserver.wait(timeout=30)
            except subprocess.TimeoutExpired:
                self.wineserver.kill()
                self.wineserver.wait(timeout=30)
            self.wineserver = None
            os.environ["WINEPREFIX"] = self.outer_prefix
        for m in reversed(self.mounts):
            subprocess.run(["umount", "-l", m], stdin=subprocess.DEVNULL)
        self.mounts = []
        shutil.rmtree(self.scratch, ignore_errors=True)
