"""A driver program that loads Seedlift.dll under Wine (the session driver or
the download client): one command per line in, answers and events out, every
line kept so that a caller can wait for a line or read them all later."""
import os
import subprocess
import threading
import time


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class SeedliftDriver:
    """Runs bin_dir/exe under wine with its application folder set to app_dir.
    A missing answer or an ended driver raises `error`."""

    def __init__(self, wine, bin_dir, exe, app_dir, error=AssertionError):
        self.error = error
        self.proc = subprocess.Popen([wine, os.path.join(bin_dir, exe)], cwd=bin_dir, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, bufsize=1)
        self.lines = []  # (time, text); text None once the driver's output ended
        self.cond = threading.Condition()
        threading.Thread(target=self._read, daemon=True).start()
        self.ask("app " + windows_path(app_dir) + "\\", "ok app", 60)

    def _read(self):
        for line in self.proc.stdout:
            with self.cond:
                self.lines.append((time.time(), line.strip()))
                self.cond.notify_all()
        with self.cond:
            self.lines.append((time.time(), None))
            self.cond.notify_all()

    def wait_line(self, prefix, timeout, start=0):
        """The first line from index `start` on that begins with prefix: (index, text)."""
        deadline = time.time() + timeout
        with self.cond:
            while True:
                for i in range(start, len(self.lines)):
                    text = self.lines[i][1]
                    if text is None:
                        raise self.error("the driver ended while waiting for %r" % prefix)
                    if text.startswith(prefix):
                        return i, text
                left = deadline - time.time()
                if left <= 0:
                    raise self.error("no %r within %d s" % (prefix, timeout))
                self.cond.wait(left)

    def _send(self, command):
        with self.cond:
            start = len(self.lines)
        self.proc.stdin.write(command + "\n")
        self.proc.stdin.flush()
        return start

    def ask(self, command, prefix, timeout=30):
        """The first answer to command that begins with prefix."""
        return self.wait_line(prefix, timeout, self._send(command))[1]

    def ask_lines(self, command, row_prefix, end_prefix, timeout=30):
        """Rows answered before an end line."""
        start = self._send(command)
        end, _ = self.wait_line(end_prefix, timeout, start)
        with self.cond:
            return [t for _, t in self.lines[start:end] if t and t.startswith(row_prefix)]

    def texts(self, prefix):
        with self.cond:
            return [(at, t) for at, t in self.lines if t and t.startswith(prefix)]

    def close(self):
        try:
            self.ask("quit", "ok quit", 30)
        except self.error:
            pass
        try:
            self.proc.wait(20)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
