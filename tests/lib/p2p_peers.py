"""Scripted downloading peers of the P2P upload core, for the end-to-end tests.

TcpPeer connects to the core's TCP listening port and speaks the peer protocol
inside the enciphered stream: Check_Have, Req_data (downloads with a window of
pieces, answering back-offs), finish_range, Req_VerifyRange, Req_Active and
junk; it can also stay idle or stop reading. UdpPeer talks to the core's UDP
port after the super node relayed its call-me: getfiledata with
retransmission, wrapped or plain, swap version, have-maps and verify range.
Both record when each data byte arrived, so a test can check a rate.
Standard library only, on p2p_wire.

    peer = TcpPeer(port, user_id=42)
    answer = peer.check_have(fid)            # dict with result and size
    data = peer.download(0, size)            # bytes, checked by the caller
"""
import collections
import os
import random
import socket
import struct
import time

import p2p_wire as w


class PeerError(Exception):
    pass


_SO_TIMESTAMPNS = getattr(socket, "SO_TIMESTAMPNS", 35)


def _kernel_time(ancillary):
    """Seconds at which the kernel received a datagram (SO_TIMESTAMPNS), else now."""
    for level, kind, value in ancillary:
        if level == socket.SOL_SOCKET and kind == _SO_TIMESTAMPNS and len(value) >= 16:
            seconds, nanoseconds = struct.unpack_from("qq", value)
            return seconds + nanoseconds / 1e9
    return time.time()


class TcpPeer:
    def __init__(self, port, user_id=1, host="127.0.0.1", timeout=10.0, receive_buffer=None):
        """receive_buffer: a small socket buffer for a peer that will stop reading."""
        self.user_id = user_id
        self.writer = w.StreamWriter()
        self.reader = w.StreamReader()
        self.pending = []  # frames received and not yet taken
        self.closed = False
        self.arrivals = []  # (time, bytes) of every block frame
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        if receive_buffer:
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, receive_buffer)
        self.sock.settimeout(timeout)
        try:
            self.sock.connect((host, port))
        except OSError:
            self.sock.close()
            raise
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def close(self):
        if self.sock:
            self.sock.close()
            self.sock = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # --- frames

    def send(self, command, body=b""):
        self.sock.sendall(self.writer.pack(command, body))

    def junk(self, n=4096, seed=1):
        """Bytes that are no stream: after a valid opening, random frames' bytes.
        The core may close the connection while they are still going out."""
        rnd = random.Random(seed)
        try:
            self.send(w.P_CHECK_HAVE, w.check_have(self.user_id, bytes(16)))
            self.sock.sendall(bytes(rnd.randrange(256) for _ in range(n)))
        except OSError:
            self.closed = True

    def random_frames(self, count=200, seed=2):
        """Well-framed requests with random commands and bodies, after a Check_Have
        of no shared file; stops when the core closes the connection."""
        rnd = random.Random(seed)
        try:
            self.send(w.P_CHECK_HAVE, w.check_have(self.user_id, bytes(16)))
            for _ in range(count):
                command = rnd.choice([w.P_REQ_DATA, w.P_FINISH_RANGE, w.P_REQ_VERIFY, rnd.randrange(256)])
                self.send(command, bytes(rnd.randrange(256) for _ in range(rnd.randrange(300))))
        except OSError:
            self.closed = True

    def _fill(self, deadline):
        """Reads once; False when the time is up or the connection closed."""
        left = deadline - time.monotonic()
        if left <= 0 or self.closed:
            return False
        self.sock.settimeout(min(left, 0.5))
        try:
            data = self.sock.recv(262144)
        except socket.timeout:
            return True
        except OSError:
            self.closed = True
            return False
        if not data:
            self.closed = True
            return False
        frames = self.reader.feed(data)
        now = time.monotonic()
        for command, body in frames:
            if command == w.P_BLOCK_DATA:
                self.arrivals.append((now, max(len(body) - 6, 0)))
        self.pending.extend(frames)
        return True

    def frame(self, commands, timeout=10.0):
        """The next frame whose command is in `commands`; other frames stay pending."""
        deadline = time.monotonic() + timeout
        while True:
            for i, (command, body) in enumerate(self.pending):
                if command in commands:
                    del self.pending[i]
                    return command, body
            if not self._fill(deadline):
                return None

    def wait_closed(self, timeout=10.0):
        deadline = time.monotonic() + timeout
        while not self.closed and self._fill(deadline):
            pass
        return self.closed

    # --- requests

    def check_have(self, fid, timeout=10.0):
        self.send(w.P_CHECK_HAVE, w.check_have(self.user_id, fid))
        got = self.frame({w.P_CHECK_HAVE_ANSWER}, timeout)
        if got is None:
            raise PeerError("no Check_Have answer")
        return w.parse_check_have_answer(got[1])

    def download(self, offset, length, piece_blocks=64, window=3, timeout=60.0, max_back_off=5.0):
        """Bytes [offset, offset + length) of the file (offset a multiple of 1024),
        asked for in pieces of piece_blocks blocks, window pieces at a time. A
        back-off (25) makes the peer wait (at most max_back_off seconds) and ask
        again for what is missing."""
        if offset % w.BLOCK:
            raise ValueError("offset must start a block")
        first = offset // w.BLOCK
        last = (offset + length - 1) // w.BLOCK
        got = {}  # block index of a frame -> its data
        todo = [(b, min(b + piece_blocks - 1, last)) for b in range(first, last + 1, piece_blocks)]
        outstanding = {}  # request id -> (first, last)
        next_id = 1
        deadline = time.monotonic() + timeout
        back_offs = 0

        def complete(piece):
            need = (min(piece[1] * w.BLOCK + w.BLOCK, offset + length) - piece[0] * w.BLOCK)
            have = sum(len(got[b]) for b in range(piece[0], piece[1] + 1, 4) if b in got)
            return have >= need

        while todo or outstanding:
            while todo and len(outstanding) < window:
                piece = todo.pop(0)
                outstanding[next_id] = piece
                self.send(w.P_REQ_DATA, w.req_data(next_id, [piece]))
                next_id += 1
            item = self.frame({w.P_BLOCK_DATA, w.P_BACK_OFF}, max(deadline - time.monotonic(), 0.01))
            if item is None:
                raise PeerError("download stalled: %d pieces outstanding, %d to ask" % (len(outstanding), len(todo)))
            command, body = item
            if command == w.P_BACK_OFF:
                back_offs += 1
                value, ms = w.parse_back_off(body)
                time.sleep(min(ms / 1000.0, max_back_off))
                # Ask again for every piece not yet complete.
                for rid, piece in list(outstanding.items()):
                    if not complete(piece):
                        todo.insert(0, piece)
                    del outstanding[rid]
                continue
            block, data = w.parse_block_frame(body)
            got[block] = data
            for rid, piece in list(outstanding.items()):
                if complete(piece):
                    del outstanding[rid]
        out = b"".join(got[b] for b in sorted(got) if first <= b <= last)
        self.back_offs = back_offs
        return out[offset - first * w.BLOCK:offset - first * w.BLOCK + length]

    def verify(self, start, length, flags=7, crc_unit=1024, timeout=10.0):
        """The verify answer (22) for a range of the Check_Have file, and the request it echoes."""
        request = w.verify_request(bytes(16), start, length, flags, crc_unit)
        self.send(w.P_REQ_VERIFY, request)
        got = self.frame({w.P_VERIFY_ANSWER, w.P_BACK_OFF}, timeout)
        return request, got

    def finish_range(self, fid, ranges, unit=w.BLOCK):
        self.send(w.P_FINISH_RANGE, w.have_map(0, fid, ranges, unit=unit))

    def req_active(self, timeout=10.0):
        """Req_Active: the frames that came before the core closed the connection."""
        self.send(w.P_REQ_ACTIVE)
        self.wait_closed(timeout)
        return self.pending


class UdpPeer:
    """A downloading peer over UDP, at its own loopback port."""

    def __init__(self, core_port, user_id, host="127.0.0.1"):
        self.core = (host, core_port)
        self.user_id = user_id
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind((host, 0))
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4 << 20)
        # Arrival times from the kernel, not from when this process got round to reading.
        self.sock.setsockopt(socket.SOL_SOCKET, _SO_TIMESTAMPNS, 1)
        self.port = self.sock.getsockname()[1]
        self.sequence = 0
        self.arrivals = []  # (time, data bytes) of every block packet
        self.commands = []  # command packets received and not yet taken

    def close(self):
        self.sock.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def send(self, body, wrapped=True):
        self.sequence += 1
        inner = w.command_packet(body, self.user_id, self.sequence)
        self.sock.sendto(w.outer(inner) if wrapped else inner, self.core)

    def _receive(self, timeout):
        """One datagram: ("data", packet dict, had_outer) or ("command", Packet); None on a time-out."""
        self.sock.settimeout(max(timeout, 0.001))
        try:
            data, ancillary, _, _ = self.sock.recvmsg(65536, 64)
        except socket.timeout:
            return None
        plain, had_outer = w.unwrap_data(data)
        if plain and plain[0] == 2:
            p = w.parse_block_packet(plain)
            if p is None:
                raise PeerError("damaged data packet")
            self.arrivals.append((_kernel_time(ancillary), len(p["data"])))
            return "data", p, had_outer
        packet = w.parse_datagram(data)
        if packet is None:
            raise PeerError("damaged command packet")
        return "command", packet

    def command(self, codes, timeout=5.0):
        """The next command packet with a code in `codes` (data packets meanwhile are dropped)."""
        deadline = time.monotonic() + timeout
        while True:
            for i, p in enumerate(self.commands):
                if p.command in codes:
                    del self.commands[i]
                    return p
            got = self._receive(deadline - time.monotonic())
            if got is None:
                return None
            if got[0] == "command":
                self.commands.append(got[1])

    def download(self, fid, size, blocks=None, wrapped=True, window=4, retry=0.3, timeout=120.0, seconds=None):
        """The blocks (all of the file by default) as {index: data}, asked for
        16 at a time, window requests in flight; unanswered blocks are asked
        again after `retry` seconds. With `seconds`, stops then with what came.
        Checks that the packets carry this file and notes whether they came
        wrapped (wrapped_answers)."""
        todo = list(range((size + w.BLOCK - 1) // w.BLOCK)) if blocks is None else list(dict.fromkeys(blocks))
        wanted = set(todo)
        queue = collections.deque(todo)
        got = {}
        in_flight = {}  # request number -> (time sent, its blocks)
        number = 0
        start = time.monotonic()
        deadline = start + timeout
        self.wrapped_answers = set()
        while len(got) < len(wanted):
            now = time.monotonic()
            if seconds is not None and now - start >= seconds:
                break
            if now > deadline:
                raise PeerError("download stalled with %d of %d blocks" % (len(got), len(wanted)))
            for key, (at, req) in list(in_flight.items()):
                missing = [b for b in req if b not in got]
                if not missing:
                    del in_flight[key]
                elif now - at > retry:
                    del in_flight[key]
                    queue.extendleft(reversed(missing))  # asked again first
            while queue and len(in_flight) < window:
                req = []
                while queue and len(req) < 16:
                    b = queue.popleft()
                    if b not in got and b not in req:
                        req.append(b)
                if not req:
                    break
                self.send(w.get_file_data(fid, self.user_id, req), wrapped)
                number += 1
                in_flight[number] = (time.monotonic(), req)
            item = self._receive(0.05)
            if item is None:
                continue
            if item[0] == "command":
                self.commands.append(item[1])
                continue
            _, p, had_outer = item
            if p["fid"] != bytes(fid):
                raise PeerError("a block of another file")
            self.wrapped_answers.add(had_outer)
            if p["block"] in wanted:
                got[p["block"]] = p["data"]
        return got

    def verify(self, fid, start, length, flags=7, crc_unit=1024, wrapped=False, timeout=5.0):
        request = w.verify_request(fid, start, length, flags, crc_unit)
        self.send(request, wrapped)
        return request, self.command({w.VERIFY_ANSWER}, timeout)

    def swap_version(self, fid, program=b"udp-peer.exe", timeout=5.0):
        self.send(w.swap_version(w.SWAP_VERSION, fid, self.user_id, program), False)
        return self.command({w.SWAP_VERSION_ANSWER}, timeout)

    def have_map(self, fid, ranges, timeout=5.0):
        self.send(w.have_map(w.HAVE_MAP, fid, ranges), False)
        return self.command({w.HAVE_MAP_ANSWER}, timeout)


def window_peak(arrivals, window=1.0):
    """The most bytes that arrived within any `window` seconds (a sliding window
    over the arrival times)."""
    arrivals = sorted(arrivals)
    best = total = 0
    start = 0
    for end in range(len(arrivals)):
        total += arrivals[end][1]
        while arrivals[end][0] - arrivals[start][0] >= window:
            total -= arrivals[start][1]
            start += 1
        best = max(best, total)
    return best


def random_bytes(n, seed):
    rnd = random.Random(seed)
    return rnd.randbytes(n) if hasattr(rnd, "randbytes") else os.urandom(n)
