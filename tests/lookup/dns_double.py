"""A double of a DNS server whose zone for some names has stalled: UDP and
TCP on port 53 of 127.0.0.1, for a resolv.conf that names 127.0.0.1. Every
query is counted (name, type, transport). A query for one of the `stalled`
names is never answered, or, with `late_address`, its A query is answered
with that address after `delay_s` seconds (other types then get an empty
answer). Every other name is answered "no such name" at once.

  dns = DnsDouble({"lookup.example.com"}).start()      needs root (port 53)
  dns.queries("lookup.example.com")                    the queries for a name
  dns.wait_for("query", 30, where=lambda e: e["name"] == "lookup.example.com")
  dns.stop()
"""
import os
import socket
import struct
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lib"))
from double_base import DoubleBase  # noqa: E402

TYPE_A, CLASS_IN = 1, 1
NXDOMAIN = 3


def parse_query(packet):
    """(id, flags, name, qtype, question bytes) of a query, or None for bytes
    that are not one."""
    if len(packet) < 12:
        return None
    qid, flags, qdcount = struct.unpack_from(">HHH", packet, 0)
    if qdcount != 1 or flags & 0x8000:
        return None
    labels, at = [], 12
    while True:
        if at >= len(packet):
            return None
        n = packet[at]
        if n == 0:
            at += 1
            break
        if n > 63 or at + 1 + n > len(packet):
            return None  # no compression in a question, no overlong label
        labels.append(packet[at + 1:at + 1 + n].decode("ascii", "replace").lower())
        at += 1 + n
    if at + 4 > len(packet):
        return None
    qtype, qclass = struct.unpack_from(">HH", packet, at)
    return qid, flags, ".".join(labels), qtype, packet[12:at + 4]


def answer(qid, flags, question, qtype, rcode=0, address=None):
    """A response to the query: the question again, and an A record when
    an address is given and an A was asked."""
    records = b""
    if address and qtype == TYPE_A and rcode == 0:
        records = struct.pack(">HHHIH", 0xC00C, TYPE_A, CLASS_IN, 60, 4) + socket.inet_aton(address)
    out_flags = 0x8000 | (flags & 0x0100) | 0x0080 | rcode  # QR, RD as asked, RA
    return struct.pack(">HHHHHH", qid, out_flags, 1, 1 if records else 0, 0, 0) + question + records


class DnsDouble(DoubleBase):
    def __init__(self, stalled, late_address=None, delay_s=0.0, host="127.0.0.1", port=53, log_path=None,
                 echo=False):
        self.stalled = {n.lower().rstrip(".") for n in stalled}
        self.late_address, self.delay_s = late_address, delay_s
        self.host, self.port = host, port
        DoubleBase.__init__(self, log_path, echo)

    def start(self):
        self.udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.udp.bind((self.host, self.port))
        self.udp.settimeout(0.2)
        self.tcp = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.tcp.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.tcp.bind((self.host, self.port))
        self.tcp.listen(16)
        self.tcp.settimeout(0.2)
        self.sockets += [self.udp, self.tcp]
        self._thread(self._udp_loop)
        self._thread(self._accept_loop, self.tcp, self._tcp_serve)
        return self

    def queries(self, name):
        return self.of_kind("query", lambda e: e["name"] == name)

    # --- the answers

    def _reply_for(self, packet, transport):
        """The response to send and after how long; None for none at all."""
        q = parse_query(packet)
        if q is None:
            return None
        qid, flags, name, qtype, question = q
        self.record({"kind": "query", "name": name, "type": qtype, "transport": transport, "time": time.time()})
        self.write_line("%s %s query %s type %d" % (time.strftime("%H:%M:%S"), transport, name, qtype))
        if name not in self.stalled:
            return answer(qid, flags, question, qtype, NXDOMAIN), 0.0
        if self.late_address is None:
            return None
        return answer(qid, flags, question, qtype, 0, self.late_address), self.delay_s

    def _later(self, delay, send):
        def run():
            if not self.stopping.wait(delay):
                try:
                    send()
                except OSError:
                    pass
        self._thread(run)

    def _udp_loop(self):
        while not self.stopping.is_set():
            try:
                packet, peer = self.udp.recvfrom(4096)
            except socket.timeout:
                continue
            except OSError:
                return
            reply = self._reply_for(packet, "udp")
            if reply:
                self._later(reply[1], lambda r=reply[0], p=peer: self.udp.sendto(r, p))

    def _tcp_serve(self, conn):
        data = b""
        conn.settimeout(0.5)
        while not self.stopping.is_set():
            try:
                chunk = conn.recv(4096)
            except socket.timeout:
                continue
            except OSError:
                return
            if not chunk:
                return
            data += chunk
            while len(data) >= 2 and len(data) >= 2 + struct.unpack_from(">H", data)[0]:
                n = struct.unpack_from(">H", data)[0]
                reply = self._reply_for(data[2:2 + n], "tcp")
                data = data[2 + n:]
                if reply:  # a stalled name holds the connection open
                    self._later(reply[1], lambda r=reply[0]: conn.sendall(struct.pack(">H", len(r)) + r))
