"""Runs the system's Windows programs under Wine for end-to-end tests.

  work = make_work_dir(bin_dir, ["OrchardSvc.exe", "vxaucommon.dll"])
  proc = WineProcess(wine, work, "OrchardSvc.exe")
  wait_for_port(9090, 30, proc)  # False when the program ended first
  proc.wait(30)                  # exit code, or None while it still runs
  proc.kill()                    # by pid, for a program that did not end

Every program is started in its own folder, which is also its current
directory, with its output sent away so it never holds a test's pipes.
"""

import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time


def make_work_dir(bin_dir, names, prefix="orchard_"):
    """A new temporary folder holding copies of the named files of bin_dir."""
    work = tempfile.mkdtemp(prefix=prefix)
    for name in names:
        shutil.copy2(os.path.join(bin_dir, name), os.path.join(work, name))
    return work


def remove_work_dir(work):
    shutil.rmtree(work, ignore_errors=True)


class WineProcess:
    """One Windows program started under Wine in `work`; env replaces the
    environment when given."""

    def __init__(self, wine, work, program, args=(), env=None):
        self.program = program
        self.popen = subprocess.Popen(
            [wine, program, *args], cwd=work, env=env,
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.pid = self.popen.pid

    def running(self):
        return self.popen.poll() is None

    def wait(self, timeout):
        """The exit code, or None when the program still runs after timeout seconds."""
        try:
            return self.popen.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def kill(self):
        """Ends the program by its pid when it still runs."""
        if self.popen.poll() is None:
            try:
                os.kill(self.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.popen.wait(timeout=30)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.kill()


def port_open(port, host="127.0.0.1"):
    try:
        with socket.create_connection((host, port), timeout=0.5):
            return True
    except OSError:
        return False


def wait_for_port(port, timeout, proc=None, host="127.0.0.1"):
    """True once something accepts on host:port; False after timeout seconds
    or as soon as proc has ended."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if port_open(port, host):
            return True
        if proc is not None and not proc.running():
            return False
        time.sleep(0.1)
    return False


def wait_until(predicate, timeout, step=0.1):
    """True once predicate() is true; False after timeout seconds."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(step)
    return bool(predicate())


def log_messages(path):
    """The messages of a log's entries ("\r\n[time] text", GBK), in order, without
    their time prefix; None when the log does not exist."""
    if not os.path.exists(path):
        return None
    with open(path, "rb") as f:
        text = f.read().decode("gbk", errors="replace")
    messages = []
    for entry in text.split("\r\n[")[1:]:
        close = entry.find("] ")
        messages.append(entry[close + 2:] if close >= 0 else entry)
    return messages


def run_unittests():
    """The entry of a unittest end-to-end script: takes --bin and --wine (as
    CTest passes them) into the script's ARGS and hands the rest to unittest."""
    import argparse
    import sys
    import unittest

    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--wine", required=True)
    args, rest = parser.parse_known_args()
    sys.modules["__main__"].ARGS = args
    unittest.main(module="__main__", argv=[sys.argv[0]] + rest, verbosity=2)
