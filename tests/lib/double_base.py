"""The common life of a test double: what it saw, for the test to wait on,
its threads and sockets, and its log file.

  class MyDouble(DoubleBase):
      def __init__(self, log_path=None): DoubleBase.__init__(self, log_path)
      def start(self): ... self.sockets.append(s); self._thread(self._loop, s) ...
      ... self.record({"kind": "login", ...}); self.write_line("text")
  double.wait_for("login", 30)           the event, or None after 30 s
  double.wait_for("login", 30, count=2)  the first two
  double.of_kind("login"), double.count("login")
  double.stop()                          closes the sockets, joins the threads, closes the log
  self._thread(self._accept_loop, listener, self._serve)   each connection on a thread of its own
"""
import socket
import threading
import time


class DoubleBase:
    def __init__(self, log_path=None, echo=False):
        self.events = []
        self.cond = threading.Condition()
        self.stopping = threading.Event()
        self.threads = []
        self.sockets = []
        self.echo = echo
        self.log_file = open(log_path, "a", encoding="utf-8") if log_path else None

    # --- events

    def record(self, event):
        with self.cond:
            self.events.append(event)
            self.cond.notify_all()

    def write_line(self, line):
        if self.echo:
            print(line, flush=True)
        if self.log_file:
            self.log_file.write(line + "\n")
            self.log_file.flush()

    def of_kind(self, kind, where=None):
        with self.cond:
            return [e for e in self.events if e["kind"] == kind and (where is None or where(e))]

    def count(self, kind):
        return len(self.of_kind(kind))

    def wait_for(self, kind, timeout, count=1, where=None):
        """The first `count` events of a kind (matching `where`), or None after the time-out."""
        deadline = time.time() + timeout
        with self.cond:
            while True:
                found = [e for e in self.events if e["kind"] == kind and (where is None or where(e))]
                if len(found) >= count:
                    return found[:count] if count > 1 else found[0]
                left = deadline - time.time()
                if left <= 0:
                    return None
                self.cond.wait(left)

    # --- threads and sockets

    def _thread(self, fn, *args):
        t = threading.Thread(target=fn, args=args, daemon=True)
        t.start()
        self.threads.append(t)

    def _accept_loop(self, listener, serve, *args):
        """Accepts on a listener with a time-out until the stop; each connection
        is kept for the stop to close and served by serve(conn, *args) on a thread."""
        while not self.stopping.is_set():
            try:
                conn, _ = listener.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            self.sockets.append(conn)
            self._thread(serve, conn, *args)

    def stop(self):
        self.stopping.set()
        for s in list(self.sockets):
            try:
                s.close()
            except OSError:
                pass
        for t in self.threads:
            t.join(3)
        if self.log_file:
            self.log_file.close()
            self.log_file = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()
