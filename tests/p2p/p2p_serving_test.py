#!/usr/bin/env python3
"""Seedlift serves peers, end to end under Wine: OrchardSvc with its P2P core
logged in against the P2P doubles publishes generated files with command 2;
scripted peers download them over TCP (Check_Have, Req_data) and over UDP
(introduced by a call-me the super node relays), whole and by ranges, wrapped
and plain, and every byte matches the file; verify requests get the right
digests; the peers show in command 97 and the uploads in command 98; a native
peer fetches a large file; a peer that stops reading, 200 idle connections and
peers sending junk leave the others served; an upload limit holds in every
1000 ms of a 10 s download; a cancelled share stops being served and its
cached blocks are freed."""

import glob
import os
import re
import socket
import struct
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)
import orchard_channel as oc  # noqa: E402
import orchard_proc as op  # noqa: E402
import orchard_server as osv  # noqa: E402
import p2p_peers as pp  # noqa: E402
import p2p_wire as w  # noqa: E402
from p2p_doubles import free_port  # noqa: E402

ARGS = None
PORT = osv.PORT
USER_RECORD = 456
SHARE_RECORD = 304
PUBLISHED = 8
NATIVE_PEER = os.path.join(ROOT, "build", "host", "bin", "p2p_native_peer")
LIMIT_KB = 256


def rows(payload, size):
    if not payload:
        return []
    (n,) = struct.unpack_from("<I", payload, 0)
    return [payload[4 + i * size:4 + (i + 1) * size] for i in range(n)]


class ServingServer(osv.PublishingServerTest):
    """OrchardSvc with its P2P core against the doubles, the files it publishes
    and the peers that fetch them; a serving test adds its cases."""
    work_prefix = "orchard_serving_"
    cache_block_kb = 64  # small cache blocks, so that files span several

    def setUp(self):
        super().setUp()
        # Ports the peers are told, the cache blocks, a few workers.
        self.udp_port = free_port()
        self.tcp_port = free_port(socket.SOCK_STREAM)
        osv.write(self.work, "od_svr_cfg.ini", "[service]\nservicetype=3\n[p2p]\nport=%d\nloglevel=9\n"
                  "[ftp]\nuser=bob\npswd=pw\n" % self.udp_port)
        osv.write(self.work, "P2PCfg.ini", "[Netcard]\ntcp_port=%d\n[OthersSet]\nServHost=127.0.0.1\nServPort=%d\n"
                  "Debug=9\nUploadThreadCount=4\nCacheBlockSize=%d\nMaxCacheSize=64\n[AdvanceSet]\nUserID=0\n"
                  % (self.tcp_port, self.doubles.ports["cp"], self.cache_block_kb))

    def make(self, name, data):
        path = os.path.join(self.tree, "Show", name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def p2p_log(self):
        text = ""
        for path in glob.glob(os.path.join(self.work, "log", "*.log")):
            with open(path, "rb") as f:
                text += f.read().decode("gbk", errors="replace")
        return text

    def limiter_grants(self, log_start):
        """(seconds, bytes) of every grant the limiter's trace lines (level 1) show after log_start."""
        grants = [(int(m.group(1)) / 1000.0, int(m.group(2))) for m in
                  re.finditer(r"nowtick=\[(\d+)\].*?ret=\[(\d+)\]", self.p2p_log()[log_start:])]
        return [(t, n) for t, n in grants if n > 0]

    def command(self, code, args=b""):
        with oc.ChannelClient(port=PORT) as c:
            return oc.split_status(c.send(oc.command(code, args)))

    def publish(self, files):
        show = osv.win(os.path.join(self.tree, "Show"))
        self.assertEqual(self.command(2, osv.path_field(show))[0], 200)

        def listed():
            with oc.ChannelClient(port=PORT) as c:
                return {name.rsplit("\\", 1)[-1]: r for name, r in self.listing(c, show).items()}

        self.assertTrue(op.wait_until(lambda: all(listed().get(n, {}).get("state") == PUBLISHED for n in files), 180),
                        "not every file was published")
        fids = {n: bytes.fromhex(r["fid"]) for n, r in listed().items() if n in files}
        shared = lambda: {f.hex().upper() for f in fids.values()} <= {
            x for e in self.doubles.events if e["kind"] == "share_batch" for x in e["fids"]}
        self.assertTrue(op.wait_until(shared, 60), "the super node never got every file id")
        return fids

    def udp_peer_for(self, user_id, fid, size, version=None):
        peer = pp.UdpPeer(self.udp_port, user_id)
        self.doubles.relay_call_me(user_id, peer.port, fid, size, version=version)
        answer = peer.command({w.HANDSHAKE_ANSWER}, 10)
        self.assertIsNotNone(answer, "no handshake answer to the call-me")
        self.assertTrue(answer.had_outer)  # the call-me came wrapped
        got = w.parse_handshake_answer(answer.body)
        self.assertEqual((got["result"], got["size"], got["fid"]), (0, size, bytes(fid)))
        return peer


class Serving(ServingServer):
    def setUp(self):
        self.assertTrue(os.path.exists(NATIVE_PEER), "build the host tree first (tools/build.sh host): no %s"
                        % NATIVE_PEER)
        super().setUp()

    def test_serving(self):
        data = {"a.avi": pp.random_bytes(3 * 2 ** 20 + 777, 1), "b.mkv": pp.random_bytes(2 ** 20 + 5, 2),
                "c.mp4": pp.random_bytes(5000, 3), "big.wmv": pp.random_bytes(48 * 2 ** 20 + 1, 4)}
        paths = {n: self.make(n, d) for n, d in data.items()}
        proc = self.start()
        fid = self.publish(data)
        a, b, c, big = data["a.avi"], data["b.mkv"], data["c.mp4"], data["big.wmv"]

        with self.subTest("TCP: whole file, ranges, verify"):
            with pp.TcpPeer(self.tcp_port, user_id=7001) as peer:
                answer = peer.check_have(fid["a.avi"])
                self.assertEqual((answer["result"], answer["size"]), (0, len(a)))
                self.assertEqual(peer.download(0, len(a)), a)
                ranges = [(64 * 1024, 100000), (5 * 1024, 1), (len(a) - len(a) % 1024, len(a) % 1024)]
                for offset, length in ranges:
                    self.assertEqual(peer.download(offset, length, piece_blocks=7), a[offset:offset + length],
                                     (offset, length))
                request, got = peer.verify(1000, 5000)
                self.assertIsNotNone(got)
                expected = w.verify_expected(w.verify_request(fid["a.avi"], 1000, 5000), a[1000:6000])
                self.assertEqual(got, (w.P_VERIFY_ANSWER, expected))
                peer.finish_range(fid["a.avi"], [(0, 10)])
                self.assertEqual(peer.download(0, 4096), a[:4096])  # still served after the notice

        with self.subTest("UDP: call-me, blocks wrapped and plain, verify, swap version, have-map"):
            with self.udp_peer_for(8001, fid["b.mkv"], len(b)) as peer:
                blocks = peer.download(fid["b.mkv"], len(b), wrapped=True)
                self.assertEqual(b"".join(blocks[i] for i in sorted(blocks)), b)
                self.assertEqual(peer.wrapped_answers, {True})
                some = [3, 4, 5, 200, 1024]  # and the file's short last block
                blocks = peer.download(fid["b.mkv"], len(b), blocks=some, wrapped=False)
                self.assertEqual(peer.wrapped_answers, {False})
                for i in some:
                    self.assertEqual(blocks[i], b[i * 1024:(i + 1) * 1024], i)
                request, got = peer.verify(fid["b.mkv"], 2048, 8192, crc_unit=512)
                self.assertIsNotNone(got)
                self.assertEqual(got.body, w.verify_expected(request, b[2048:2048 + 8192]))
                version = peer.swap_version(fid["b.mkv"])
                self.assertIsNotNone(version)
                self.assertEqual(w.parse_swap_version(version.body)["program"], b"OrchardSvc.exe")
                ours = peer.have_map(fid["b.mkv"], [(0, 3)])
                self.assertIsNotNone(ours)
                self.assertEqual(w.parse_have_map(ours.body)["ranges"], [(0, (len(b) + 1023) // 1024)])
            with self.udp_peer_for(8002, fid["c.mp4"], len(c), version=b"\x01\x00\x03\x24" + bytes(4) + b"peer-v2.exe"):
                pass

        with self.subTest("peers in command 97, uploads in command 98"):
            st, payload = self.command(97)
            self.assertEqual(st, 200)
            users = {struct.unpack_from("<Q", r, 4)[0]: r for r in rows(payload, USER_RECORD)}
            self.assertLessEqual({7001, 8001, 8002}, set(users))
            self.assertGreaterEqual(struct.unpack_from("<Q", users[7001], 336)[0], len(a))
            self.assertEqual(users[8002][28:60].split(b"\0", 1)[0], b"peer-v2.exe")
            time.sleep(1.5)  # a roll of the statistics after the last transfer
            st, payload = self.command(117)
            self.assertEqual((st, len(payload)), (200, 80))
            uploaded_total, = struct.unpack_from("<Q", payload, 0)
            cache_hits, cache_misses, cache_bytes, disk_bytes = struct.unpack_from("<QQQQ", payload, 24 + 8)
            self.assertGreaterEqual(uploaded_total, len(a) + len(b))
            self.assertTrue(cache_hits and cache_misses and cache_bytes and disk_bytes, payload.hex())
            st, payload = self.command(98)
            self.assertEqual(st, 200)
            shares = {r[:16]: r for r in rows(payload, SHARE_RECORD)}
            for name in ("a.avi", "b.mkv"):
                handshakes, requests, uploaded = struct.unpack_from("<IIQ", shares[fid[name]], 280)
                self.assertGreaterEqual(handshakes, 1, name)
                self.assertGreater(requests, 0, name)
                self.assertGreaterEqual(uploaded, len(data[name]), name)

        with self.subTest("a native peer downloads 48 MiB"):
            out = subprocess.run([NATIVE_PEER, "tcp", "--port", str(self.tcp_port), "--fid", fid["big.wmv"].hex(),
                                  "--size", str(len(big)), "--whole", "--compare", paths["big.wmv"],
                                  "--piece-blocks", "64"], capture_output=True, text=True, timeout=300)
            self.assertEqual(out.returncode, 0, out.stdout + out.stderr)
            self.assertIn("mismatched=0", out.stdout)

        with self.subTest("a peer that stops reading, 200 idle connections, junk: the others are served"):
            good = pp.TcpPeer(self.tcp_port, user_id=7101)
            self.assertEqual(good.check_have(fid["big.wmv"])["result"], 0)
            stuck = pp.TcpPeer(self.tcp_port, user_id=7102, receive_buffer=8192)
            self.assertEqual(stuck.check_have(fid["big.wmv"])["result"], 0)
            try:
                for first in range(0, 64 * 240, 64 * 60):  # 15 MiB asked for, never read
                    stuck.send(w.P_REQ_DATA, w.req_data(first, [(b, b + 63) for b in range(first, first + 64 * 60, 64)]))
            except OSError:
                pass  # already closed by the core: what this case is about
            idle = []
            for _ in range(200):
                s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
                s.setblocking(False)
                s.connect_ex(("127.0.0.1", self.tcp_port))
                idle.append(s)
            junk = pp.TcpPeer(self.tcp_port, user_id=7103)
            junk.junk()
            frames = pp.TcpPeer(self.tcp_port, user_id=7104)
            frames.random_frames()
            try:
                self.assertEqual(good.download(0, 4 * 2 ** 20, piece_blocks=64), big[:4 * 2 ** 20])
                self.assertTrue(junk.wait_closed(20), "the junk peer was not closed")
                time.sleep(2)
                self.assertTrue(stuck.wait_closed(30), "the peer that stopped reading was not closed")
                # Once the idle connections time out, a new peer is let in and served.
                late = None
                deadline = time.monotonic() + 60
                while time.monotonic() < deadline and late is None:
                    try:
                        candidate = pp.TcpPeer(self.tcp_port, user_id=7105, timeout=5)
                        if candidate.check_have(fid["c.mp4"], timeout=5)["result"] == 0:
                            late = candidate
                        else:
                            candidate.close()
                    except (OSError, pp.PeerError):
                        time.sleep(1)
                self.assertIsNotNone(late, "no new peer was served after the idle connections")
                self.assertEqual(late.download(0, len(c)), c)
                late.close()
                self.assertEqual(good.download(4 * 2 ** 20, 2 ** 20, piece_blocks=64), big[4 * 2 ** 20:5 * 2 ** 20])
            finally:
                for s in idle:
                    s.close()
                for p in (good, stuck, junk, frames):
                    p.close()

        with self.subTest("an upload limit holds in every 1000 ms of a 10 s download"):
            limit = LIMIT_KB * 1024
            span = range(3 * 1024)  # 3 MiB, more than 10 s at the limit
            with self.udp_peer_for(8003, fid["big.wmv"], len(big)) as peer:
                # Cached first, so that what the peer receives follows the grants closely.
                self.assertEqual(len(peer.download(fid["big.wmv"], len(big), blocks=span, wrapped=False)), len(span))
                peer.arrivals.clear()
                self.assertEqual(self.command(115, struct.pack("<H", 8))[0], 200)  # the limiter's trace lines
                log_start = len(self.p2p_log())
                self.assertEqual(self.command(114, struct.pack("<I", LIMIT_KB))[0], 200)
                # Refused requests get no answer: the peer asks again soon.
                blocks = peer.download(fid["big.wmv"], len(big), blocks=span, wrapped=False, window=8, retry=0.05,
                                       seconds=10)
                self.assertEqual(self.command(114, struct.pack("<I", 0))[0], 200)
                self.assertEqual(self.command(115, struct.pack("<H", 9))[0], 200)
                for i in list(blocks)[:50]:
                    self.assertEqual(blocks[i], big[i * 1024:(i + 1) * 1024])
            # The limit: what the library granted, by its own clock, in every 1000 ms.
            granted = self.limiter_grants(log_start)
            self.assertGreater(len(granted), 10, "no trace of the limiter's grants")
            self.assertLessEqual(pp.window_peak(granted), limit)
            # What the peer received: the same within the delivery's delay on a busy machine.
            got = sum(n for _, n in peer.arrivals)
            peak = pp.window_peak(peer.arrivals)
            self.assertLessEqual(peak, limit * 1.25, "%d bytes arrived within one second" % peak)
            self.assertGreaterEqual(got, 5 * limit, "the limit starved the download: %d bytes in 10 s" % got)

        with self.subTest("a cancelled share is not served and its cached blocks are freed"):
            udp = self.udp_peer_for(8004, fid["a.avi"], len(a))
            self.assertEqual(len(udp.download(fid["a.avi"], len(a), blocks=range(16))), 16)
            self.assertEqual(self.command(18, osv.path_field(osv.win(paths["a.avi"]))), (None, b""))
            with pp.TcpPeer(self.tcp_port, user_id=7201) as peer:
                self.assertTrue(op.wait_until(lambda: peer.check_have(fid["a.avi"])["result"] == 1, 30),
                                "the cancelled file is still offered")
            udp.send(w.get_file_data(fid["a.avi"], 8004, list(range(16))), False)
            self.assertIsNone(udp._receive(1.0), "a block of the cancelled file was sent")
            udp.close()
            dropped = [line for line in self.p2p_log().splitlines()
                       if "drop_file" in line and fid["a.avi"].hex().upper() in line]
            self.assertTrue(dropped, "no cached blocks of the cancelled share were freed")

        self.stop(proc)
        self.passed = True


def main():
    op.run_unittests()


if __name__ == "__main__":
    main()
