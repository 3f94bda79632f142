"""Seeding peers for the download side of the P2P core, on loopback UDP.

A SeedingPeer holds one file and answers a downloading core as a peer that
shares it would: the super node's relayed call-me (9, answered with the
handshake 15, straight to the core or through the super node), have-maps
(52 answered with 53 and its own map), swap version (48 answered with 49)
and getfiledata (16, answered with one data packet per block, in the outer
layer when the request came in it). Kinds of peer:

    honest  every block right
    liar    wrong bytes for the blocks `lie` names
    lossy   drops a share of the data packets it would send
    silent  answers the handshake and have-maps, then serves `serve` blocks
            and answers nothing more
    slow    waits `delay` seconds before each answer

Every request is logged with its time so that a test can ask what the core
sent and when. Standard library only, on p2p_wire.

    seeder = SeedingPeer(fid, data, user_id=5001).start()
    sp.peer_lists[fid] = [seeder.entry()]
"""
import random
import socket
import struct
import time

import p2p_wire as w
from double_base import DoubleBase


class SeedingPeer(DoubleBase):
    def __init__(self, fid, data, user_id, kind="honest", host="127.0.0.1", nat_type=0x11, lie=None,
                 drop_share=0.3, serve=0, delay=0.05, have=None, percent=None, seed=1, answer_via=None):
        DoubleBase.__init__(self)
        self.fid = bytes(fid)
        self.data = bytes(data)
        self.user_id = user_id
        self.kind = kind
        self.host = host
        self.nat_type = nat_type
        self.lie = lie if lie is not None else (lambda block: True)
        self.drop_share = drop_share
        self.serve = serve
        self.delay = delay
        self.blocks = (len(self.data) + w.BLOCK - 1) // w.BLOCK
        # The map it claims: (start, end) in blocks; the whole file by default.
        self.have = have if have is not None else [(0, self.blocks)]
        self.percent = percent if percent is not None else (100 if self.have == [(0, self.blocks)] else 99)
        self.random = random.Random(seed)
        self.answer_via = answer_via  # (host, port) of the super node that relays its handshake answers
        self.sock = None
        self.port = None
        self.served = 0
        self.sequence = 0

    # --- start and stop

    def start(self):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1 << 20)
        self.sock.bind((self.host, 0))
        self.sock.settimeout(0.2)
        self.port = self.sock.getsockname()[1]
        self.sockets.append(self.sock)
        self._thread(self._loop)
        return self

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    def entry(self, second_ip="0.0.0.0"):
        """This peer as the super node names it in a peer list (33 bytes)."""
        return w.peer_entry(self.user_id, self.host, self.port, nat_type=self.nat_type, second_ip=second_ip,
                            call_ip=self.host, call_port=self.port, percent=self.percent)

    # --- what happened

    def log(self, kind, **fields):
        self.record(dict(fields, kind=kind, time=time.time()))

    def count(self, kind, since=0.0):
        return len(self.of_kind(kind, lambda e: e["time"] >= since))

    # --- the peer protocol

    def _loop(self):
        while not self.stopping.is_set():
            try:
                data, src = self.sock.recvfrom(65536)
            except socket.timeout:
                continue
            except OSError:
                return
            packet = w.parse_datagram(data)
            if packet is None:
                self.log("bad_datagram", length=len(data))
                continue
            try:
                self._on_command(packet, src)
            except (w.BodyError, struct.error) as e:
                self.log("bad_body", command=packet.command, error=str(e))

    def _send(self, body, dst, wrapped=True):
        packet = w.command_packet(body, self.user_id)
        self.sock.sendto(w.outer(packet) if wrapped else packet, dst)

    def _on_command(self, packet, src):
        c = packet.command
        quiet = self.kind == "silent" and self.served >= self.serve
        if c in (w.CALL_ME, w.CALL_ME2):
            call = w.parse_call_me(packet.body)
            self.log("call_me", peer=call["peer_id"], source="%s:%d" % src)
            answer = w.handshake_answer(self.fid, self.user_id, len(self.data), self.nat_type, 0)
            if self.answer_via:
                self._send(answer, self.answer_via, packet.had_outer)
            else:
                self._send(answer, (call["peer_ip"], call["peer_port"]), packet.had_outer)
        elif c in (w.HAVE_MAP, w.HAVE_MAP_ANSWER):
            m = w.parse_have_map(packet.body)
            self.log("have_map", code=c, ranges=m["ranges"], flag=m["flag"], sender=packet.user_id)
            if c == w.HAVE_MAP and not quiet:
                self._send(w.have_map(w.HAVE_MAP_ANSWER, self.fid, self.have), src, packet.had_outer)
        elif c in (w.SWAP_VERSION, w.SWAP_VERSION_ANSWER):
            v = w.parse_swap_version(packet.body)
            self.log("swap_version", code=c, user_id=v["user_id"])
            if c == w.SWAP_VERSION and not quiet:
                self._send(w.swap_version(w.SWAP_VERSION_ANSWER, self.fid, self.user_id, b"seeder.exe"), src,
                           packet.had_outer)
        elif c == w.GET_FILE_DATA:
            r = w.parse_get_file_data(packet.body)
            self.log("get_file_data", blocks=r["blocks"], user_id=r["user_id"], wrapped=packet.had_outer)
            if r["fid"] != self.fid:
                return
            for block in r["blocks"]:
                self._serve(block, src, packet.had_outer)
        else:
            self.log("other", command=c)

    def _serve(self, block, dst, wrapped):
        if block >= self.blocks:
            return
        if self.kind == "silent":
            if self.served >= self.serve:
                return
        if self.kind == "slow":
            time.sleep(self.delay)
        self.served += 1
        data = self.data[block * w.BLOCK:(block + 1) * w.BLOCK]
        if self.kind == "liar" and self.lie(block):
            data = bytes((b ^ 0x5A) for b in data)
        if self.kind == "lossy" and self.random.random() < self.drop_share:
            self.log("dropped", block=block)
            return
        packet = w.block_packet(self.fid, self.user_id, block, data, self.sequence)
        self.sequence += 1
        self.sock.sendto(w.wrap_data(packet) if wrapped else packet, dst)
        self.log("sent", block=block)
