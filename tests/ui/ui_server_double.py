"""A double of OrchardSvc's control server for OrchardUI's end-to-end tests.

It listens on 127.0.0.1:9090 like the real server, serves every connection on
a thread of its own (the UI keeps one open while a second "OrchardUI /close"
process opens another), records each request with its arrival time and the
connection it came on, and answers with the canned replies of the server's
commands. Frames come from the shared channel library.
"""

import socket
import struct
import threading
import time

from orchard_channel import ChannelError, encode_frame, read_frame


def name_field(text):
    """A 128-byte NAME field: UTF-16LE, zero-filled."""
    raw = text.encode("utf-16-le")[:128]
    return raw + b"\0" * (128 - len(raw))


def path_field(text, units=260):
    raw = text.encode("utf-16-le")[: units * 2]
    return raw + b"\0" * (units * 2 - len(raw))


def server_info(status="running", node=4242, address=b"\x0a\x00\x00\x07", dirs=2, files=5):
    return struct.pack("<H", 200) + name_field(status) + struct.pack("<Q", node) + address + struct.pack("<II", dirs, files)


def default_replies():
    """Replies by command code, as a running server with a logged-in P2P core gives them."""
    return {
        81: server_info(),
        65: struct.pack("<H", 200) + name_field("ftpuser") + name_field("5EBE2294ECD0E0F08EAB7690D2A6EE69")
        + struct.pack("<I", 1) + path_field("D:\\ftp") + path_field("") + struct.pack("<I", 1),
        67: struct.pack("<H", 200) + name_field("ftp.example") + struct.pack("<H", 2121),
        113: struct.pack("<HIHH", 200, 512, 9, 8001),
        129: struct.pack("<H", 200),
    }


class Request:
    def __init__(self, when, connection, body):
        self.when = when
        self.connection = connection
        self.body = body
        self.code = struct.unpack_from("<H", body)[0] if len(body) >= 2 else None

    def __repr__(self):
        return "Request(%.2f, conn %d, code %r)" % (self.when, self.connection, self.code)


class UiServerDouble:
    def __init__(self, port=9090, replies=None):
        self.replies = default_replies() if replies is None else replies
        self.requests = []
        self.lock = threading.Lock()
        self.listener = socket.create_server(("127.0.0.1", port))
        self.listener.settimeout(0.2)
        self._stop = False
        self._connections = 0
        self._threads = []
        self._accept = threading.Thread(target=self._serve, daemon=True)
        self._accept.start()

    def _serve(self):
        while not self._stop:
            try:
                conn, _ = self.listener.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            self._connections += 1
            t = threading.Thread(target=self._session, args=(conn, self._connections), daemon=True)
            t.start()
            self._threads.append(t)

    def _session(self, conn, number):
        with conn:
            conn.settimeout(0.5)
            while not self._stop:
                try:
                    _, _, body, ok = read_frame(conn)
                except socket.timeout:
                    continue
                except (ChannelError, OSError):
                    return
                if not ok:
                    continue  # a request whose checksum fails gets no reply
                request = Request(time.monotonic(), number, body)
                with self.lock:
                    self.requests.append(request)
                    reply = self.replies.get(request.code, b"")
                try:
                    conn.sendall(encode_frame(reply))
                except OSError:
                    return

    def codes(self, since=0.0):
        with self.lock:
            return [r.code for r in self.requests if r.when >= since]

    def times(self, code, since=0.0):
        with self.lock:
            return [r.when for r in self.requests if r.code == code and r.when >= since]

    def of(self, code):
        with self.lock:
            return [r for r in self.requests if r.code == code]

    def wait_for(self, code, timeout, since=0.0):
        """The first request with `code` at or after `since`, or None."""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            with self.lock:
                for r in self.requests:
                    if r.code == code and r.when >= since:
                        return r
            time.sleep(0.05)
        return None

    def close(self):
        self._stop = True
        self._accept.join(5)
        for t in self._threads:
            t.join(2)
        self.listener.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
