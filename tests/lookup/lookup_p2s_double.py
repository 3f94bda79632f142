#!/usr/bin/env python3
"""A local double of the lookup service and the p2s command server, which
share one HTTP address ("P2SCfg.ini" [Serv] Host and Port). A raw TCP server
(not http.server): it keeps the exact bytes of every request head and can
answer in ways no polite HTTP server would.

  GET /summary_query?key=fid&fid=<32 hex>   answered "fid=..|qid=..|cid=..|size=..|" for a
                                            known fid, else 404
  POST /commit?cmd=finfo                    a p2s packet (tests/lib/p2s_wire.py), answered
                                            with a reply packet of the chosen status

Import it from a test (LookupP2sDouble) and set `lookup_mode`, `p2s_mode` and
`p2s_status` as the test goes, or run it as a program:

    python3 tests/lookup/lookup_p2s_double.py --port 18080 --log p2s_double.log --tally tallyhub_reports.txt

With --tally it learns the ids it answers from the statistics reports that
the Tallyhub stand-in writes (fid 1539, size 1538, cid 1540, qid 1541), as the
real lookup service learns them from the statistics.

Modes (for either path): "answer", "404", "no-length", "long-head",
"zero-length", "over-limit", "early-close", "trailing", "drip" (one byte per
`drip_s` seconds), "never" (holds the connection and says nothing);
for the p2s path also "broken-check" (a reply whose check value is wrong).
"""
import argparse
import os
import re
import socket
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lib"))
import p2s_wire as w  # noqa: E402
from double_base import DoubleBase  # noqa: E402

MODES = ("answer", "404", "no-length", "long-head", "zero-length", "over-limit", "early-close", "trailing", "drip",
         "never", "broken-check")


def http_response(body, status="200 OK", length=None, extra_head=b""):
    length = len(body) if length is None else length
    head = b"HTTP/1.1 " + status.encode() + b"\r\n" + extra_head
    if length != "none":
        head += b"Content-Length: " + str(length).encode() + b"\r\n"
    return head + b"\r\n" + body


class LookupP2sDouble(DoubleBase):
    def __init__(self, host="127.0.0.1", port=0, log_path=None, tally_path=None, echo=False):
        self.host, self.port = host, port
        self.known = {}  # upper-case fid -> (qid, cid, size)
        self.tally_path = tally_path
        self.lookup_mode = "answer"
        self.p2s_mode = "answer"
        self.p2s_status = w.STATUS_OK
        self.drip_s = 1.0
        DoubleBase.__init__(self, log_path, echo)

    # --- events

    def log(self, kind, text, **fields):
        self.record(dict(fields, kind=kind, text=text, time=time.time()))
        self.write_line("%s %s" % (time.strftime("%H:%M:%S"), text))

    # --- start and stop

    def start(self):
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind((self.host, self.port))
        self.port = self.listener.getsockname()[1]
        self.listener.listen(64)
        self.listener.settimeout(0.2)
        self.sockets.append(self.listener)
        self._thread(self._accept_loop, self.listener, self._serve)
        self.log("started", "lookup and p2s double on %s:%d" % (self.host, self.port))
        return self

    # --- one connection

    def _read_request(self, conn):
        data = b""
        conn.settimeout(10)
        while b"\r\n\r\n" not in data:
            chunk = conn.recv(4096)
            if not chunk:
                return None, None
            data += chunk
            if len(data) > 65536:
                return None, None
        head, _, body = data.partition(b"\r\n\r\n")
        m = re.search(rb"(?im)^content-length:\s*(\d+)\s*$", head)
        need = int(m.group(1)) if m else 0
        while len(body) < need:
            chunk = conn.recv(65536)
            if not chunk:
                break
            body += chunk
        return head + b"\r\n\r\n", body

    def _serve(self, conn):
        try:
            head, body = self._read_request(conn)
            if head is None:
                return
            line = head.split(b"\r\n", 1)[0].decode("latin-1")
            parts = line.split(" ")
            path = parts[1] if len(parts) == 3 else ""
            if path.startswith("/summary_query?"):
                self._lookup(conn, head, path)
            elif path == "/commit?cmd=finfo":
                self._commit(conn, head, body)
            else:
                self.log("other", "other request: %s" % line, head=head, body=body)
                self._send(conn, "404", b"")
        except OSError:
            pass
        finally:
            if conn in self.sockets:
                self.sockets.remove(conn)
            try:
                conn.close()
            except OSError:
                pass

    def _lookup(self, conn, head, path):
        fid = path.rsplit("=", 1)[-1].upper() if "key=fid&fid=" in path else ""
        ids = self.known.get(fid) or self._from_tally(fid)
        mode = self.lookup_mode
        body = ("fid=%s|qid=%s|cid=%s|size=%d|\r\n" % ((fid,) + tuple(ids))).encode() if ids else b"unknown"
        if mode == "answer" and ids:
            text = "lookup %s -> qid %s, cid %s" % (fid, ids[0], ids[1])
        else:
            mode = "404" if mode == "answer" else mode
            text = "lookup %s -> %s" % (fid, "not known (404)" if mode == "404" else mode)
        self.log("lookup", text, head=head, fid=fid, mode=mode)
        self._send(conn, mode, body)

    def _commit(self, conn, head, body):
        try:
            kind, info = w.read_commit(body)
        except (ValueError, IndexError, KeyError) as e:
            self.log("commit", "report that does not decode (%s)" % e, head=head, body=body, info=None)
            self._send(conn, "answer", w.reply_packet(0))
            return
        fid = info.get("F", b"").hex().upper()
        urls = [u.get("I", "") for u in info.get("C", [])]
        mode, status = self.p2s_mode, self.p2s_status
        self.log("commit", "report %s size %d, %d piece digests, url %s -> %s" % (
            fid, info.get("Z", 0), len(info.get("H", b"")) // 16, ", ".join(urls) or "none",
            "status %d" % status if mode == "answer" else mode), head=head, body=body, info=info, fid=fid, mode=mode,
            status=status)
        if mode == "broken-check":
            reply = w.reply_packet(w.STATUS_OK, {"F": info.get("F", b"")}, check=0x12345678)
            mode = "answer"
        else:
            reply = w.reply_packet(status, {"F": info.get("F", b""), "Z": info.get("Z", 0)})
        self._send(conn, mode, reply)

    def _from_tally(self, fid):
        """Ids of a fid from the statistics reports: "1539=md5:FID", "1540=bytes:HEX", ..."""
        if not self.tally_path or not fid or not os.path.exists(self.tally_path):
            return None
        with open(self.tally_path, encoding="latin-1") as f:
            for line in f:
                fields = dict(t.split("=", 1) for t in line.split() if "=" in t)
                if fields.get("1539") != "md5:" + fid:
                    continue
                try:
                    cid = bytes.fromhex(fields["1540"].split(":", 1)[1]).decode()
                    qid = bytes.fromhex(fields["1541"].split(":", 1)[1]).decode()
                    size = int(fields.get("1538", "u64:0").split(":", 1)[1])
                except (KeyError, ValueError, IndexError):
                    continue
                return qid, cid, size
        return None

    # --- answers

    def _send(self, conn, mode, body):
        if mode == "answer":
            out = http_response(body)
        elif mode == "404":
            out = http_response(b"Not Found", "404 Not Found")
        elif mode == "no-length":
            out = http_response(body, length="none")
        elif mode == "long-head":
            out = http_response(body, extra_head=b"X-Padding: " + b"p" * 3000 + b"\r\n")
        elif mode == "zero-length":
            out = http_response(b"", length=0)
        elif mode == "over-limit":
            out = http_response(body, length=0x500001)
        elif mode == "early-close":
            out = http_response(body[:max(0, len(body) // 2)], length=len(body) + 10)
        elif mode == "trailing":
            out = http_response(body) + b"TRAILING"
        elif mode == "drip":
            self._drip(conn, http_response(body))
            return
        elif mode == "never":
            self._hold(conn)
            return
        else:
            raise ValueError(mode)
        conn.sendall(out)
        time.sleep(0.05)

    def _drip(self, conn, data):
        for i in range(len(data)):
            if self.stopping.is_set():
                return
            conn.sendall(data[i:i + 1])
            if self._closed_within(conn, self.drip_s):
                return

    def _hold(self, conn):
        while not self.stopping.is_set() and not self._closed_within(conn, 0.2):
            pass

    def _closed_within(self, conn, seconds):
        """True once the client has closed (or reset) the connection."""
        conn.settimeout(seconds)
        try:
            return conn.recv(1) == b""
        except socket.timeout:
            return False
        except OSError:
            return True


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--host", default="127.0.0.1")
    ap.add_argument("--port", type=int, default=18080)
    ap.add_argument("--log", help="file the requests are appended to")
    ap.add_argument("--tally", help="the Tallyhub stand-in's report file, to learn the ids of files from")
    ap.add_argument("--p2s-status", type=int, default=w.STATUS_OK, help="status of every p2s reply")
    args = ap.parse_args(argv)
    d = LookupP2sDouble(args.host, args.port, args.log, args.tally, echo=True)
    d.p2s_status = args.p2s_status
    d.start()
    try:
        while True:
            time.sleep(1)
    except KeyboardInterrupt:
        pass
    finally:
        d.stop()


if __name__ == "__main__":
    main()
