#!/usr/bin/env python3
"""Local doubles of the P2P servers the upload core talks to, on loopback.

A registration server (UDP, and TCP for the fallback), a super node (UDP), an
upload server (TCP) and a NAT test server (UDP). They speak the core's protocol
through tests/lib/p2p_wire.py and log every request they receive (registrations,
logins, keepalives, share batches with their file ids, logouts) to stdout and
to a log file. For the download side the super node answers peer queries
(46) with the peer lists a test sets (47 or 32), relays a downloader's call-me
(8) to the peer it names (9) and a seeder's handshake answer (15) back to the
core, and can introduce a peer to a task (14). Import it from a test (Doubles)
or run it as a program:

    python3 tests/p2p/p2p_doubles.py --log p2p_doubles.log

Default ports: registration server UDP 18000 and TCP 8000 (the core connects to
port 8000 over TCP), super node 18002, upload server 18004, NAT test 18006.
"""
import argparse
import json
import os
import random
import socket
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lib"))
import p2p_wire as w  # noqa: E402
from double_base import DoubleBase  # noqa: E402


_handed_out = set()
_port_random = random.SystemRandom()  # no test's seed can make two processes draw alike


def free_port(kind=socket.SOCK_DGRAM):
    """A loopback port free at the moment of the call, for a test's own doubles.

    Taken at random below the kernel's ephemeral range (32768 and up), so that
    no outgoing connection of a program under test, and no other test's port
    0 bind, is handed the same number before its owner binds it."""
    while True:
        port = _port_random.randrange(20000, 32768)
        if port in _handed_out:
            continue
        s = socket.socket(socket.AF_INET, kind)
        try:
            s.bind(("127.0.0.1", port))
        except OSError:
            continue
        finally:
            s.close()
        _handed_out.add(port)
        return port


def _pad(packet):
    """The outer layer's pad of a request as hex (None without the layer), to see the sender's random draws."""
    return None if packet.pad is None else packet.pad.hex()


class Doubles(DoubleBase):
    def __init__(self, host="127.0.0.1", cp_port=18000, cp_tcp_port=8000, sp_port=18002, up_port=18004,
                 nat_port=18006, log_path=None, no_udp_answers=False, keepalive_status=0,
                 keepalive_status_once=None, tcp_keepalive_status=0, sp_reply="73", login_target=2,
                 keepalive_s=60, first_user_id=1000, nat_probe=True, echo=True):
        self.host = host
        self.ports = {"cp": cp_port, "cp_tcp": cp_tcp_port, "sp": sp_port, "up": up_port, "nat": nat_port}
        self.no_udp_answers = no_udp_answers
        self.keepalive_status = keepalive_status
        self.keepalive_status_once = keepalive_status_once
        self.tcp_keepalive_status = tcp_keepalive_status
        self.sp_reply = sp_reply
        self.login_target = login_target
        self.keepalive_s = keepalive_s
        self.next_user_id = first_user_id
        self.nat_probe = nat_probe
        DoubleBase.__init__(self, log_path, echo)
        self.core = None  # (ip, port) of the core's UDP socket, learnt from its login
        # Peer lists the super node answers queries (46) with: file id -> peer entries.
        self.peer_lists = {}
        self.peer_list_code = w.PEER_LIST2

    # --- event log

    def log(self, kind, **fields):
        event = dict(fields, kind=kind, time=round(time.time(), 3))
        self.record(event)
        self.write_line("p2p-doubles: " + json.dumps(event, sort_keys=True))

    # --- start and stop

    def start(self):
        self.cp = self._udp(self.ports["cp"])
        self.sp = self._udp(self.ports["sp"])
        self.nat = self._udp(self.ports["nat"])
        self.spoofer = self._udp(0)
        self._thread(self._udp_loop, self.cp, self._on_cp)
        self._thread(self._udp_loop, self.sp, self._on_sp)
        self._thread(self._udp_loop, self.nat, self._on_nat)
        if self.ports["cp_tcp"]:
            self._thread(self._tcp_listen, self._tcp(self.ports["cp_tcp"]), "cp", self._on_cp_tcp)
        if self.ports["up"]:
            self._thread(self._tcp_listen, self._tcp(self.ports["up"]), "up", self._on_up_tcp)
        self.log("started", **self.ports)
        return self

    def _udp(self, port):
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.bind((self.host, port))
        s.settimeout(0.2)
        self.sockets.append(s)
        return s

    def _tcp(self, port):
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.bind((self.host, port))
        s.listen(8)
        s.settimeout(0.2)
        self.sockets.append(s)
        return s

    # --- UDP

    def _udp_loop(self, sock, handler):
        while not self.stopping.is_set():
            try:
                data, src = sock.recvfrom(65536)
            except socket.timeout:
                continue
            except OSError:
                return
            packet = w.parse_datagram(data)
            if packet is None:
                self.log("bad_datagram", length=len(data), source="%s:%d" % src)
                continue
            try:
                handler(sock, packet, src)
            except w.BodyError as e:
                self.log("bad_body", command=packet.command, error=str(e), source="%s:%d" % src)

    def _send(self, sock, body, dst):
        if self.no_udp_answers:
            return
        sock.sendto(w.datagram(body), dst)

    def _on_cp(self, sock, packet, src):
        fields = w.parse_request(packet.body)
        if packet.command == w.REGISTER:
            user_id = self.next_user_id
            self.next_user_id += 1
            self.log("register", transport="udp", node_type=fields["node_type"], user_id=user_id,
                     machine_id=fields["machine_id"].hex().upper(), source="%s:%d" % src, answered=not self.no_udp_answers,
                     pad=_pad(packet))
            self._send(sock, w.register_reply(user_id, 1), src)
        elif packet.command == w.QUERY_SP:
            self.log("query", node_type=fields["node_type"], user_id=packet.user_id, source="%s:%d" % src,
                     answered=not self.no_udp_answers, pad=_pad(packet))
            self._send(sock, self.super_node_reply(), src)
        else:
            self.log("cp_other", command=packet.command)

    def super_node_reply(self):
        if self.sp_reply == "11":
            return w.sp_list([(5, 1, self.host, self.ports["sp"], 0x11)])
        if self.sp_reply == "27":
            return w.sp_reply(self.host, self.ports["sp"])
        return w.sp_servers(self.host, self.ports["sp"], self.host, self.ports["up"], login_target=self.login_target,
                            keepalive_s=self.keepalive_s)

    def _on_sp(self, sock, packet, src):
        source = "%s:%d" % src
        if packet.command in (w.LOGIN_SP, w.LOGIN_UP):
            f = w.parse_request(packet.body)
            self.core = src
            self.log("login", transport="udp", target="sp" if packet.command == w.LOGIN_SP else "up",
                     user_id=f["user_id"], lan_port=f["lan_port"], source=source, answered=not self.no_udp_answers,
                     pad=_pad(packet))
            code = w.LOGIN_REPLY if packet.command == w.LOGIN_SP else w.LOGIN_UP_REPLY
            self._send(sock, w.login_reply(src[0], src[1], 1, code), src)
            if self.nat_probe and not self.no_udp_answers:
                self._probe_nat(src, f["user_id"])
        elif packet.command in (w.KEEPALIVE, w.KEEPALIVE2):
            f = w.parse_request(packet.body)
            status = self.keepalive_status
            if self.keepalive_status_once is not None:
                status, self.keepalive_status_once = self.keepalive_status_once, None
            self.log("keepalive", transport="udp", form=packet.command, user_id=f["user_id"], status=status,
                     source=source)
            code = w.KEEPALIVE_REPLY if packet.command == w.KEEPALIVE else w.KEEPALIVE2_REPLY
            self._send(sock, w.keepalive_reply(src[0], src[1], status, 0, code), src)
        elif packet.command == w.SHARE_REPORT:
            f = w.parse_request(packet.body)
            self.log("share_batch", transport="udp", serial_id=f["serial_id"], node_id=f["node_id"],
                     fids=[x.hex().upper() for x in f["fids"]], values=sorted(f["values"]), source=source)
            self._send(sock, w.share_accepted(f["serial_id"]), src)
        elif packet.command == w.LOGOUT:
            f = w.parse_request(packet.body)
            self.log("logout", transport="udp", user_id=f["user_id"], source=source)
        elif packet.command == w.KEEP_NAT:
            f = w.parse_request(packet.body)
            self.log("keep_nat", user_id=f["user_id"], source=source)
        elif packet.command == w.QUERY_PEERS:
            self._on_peer_query(sock, packet, src)
        elif packet.command == w.CALL_ME_REQUEST:
            self._relay_call_me_request(sock, packet, src)
        elif packet.command == w.HANDSHAKE_ANSWER:
            # A seeder that cannot reach the downloader answers through us.
            answer = w.parse_handshake_answer(packet.body)
            self.log("handshake_relay", user_id=answer["user_id"], result=answer["result"], source=source)
            if self.core:
                sock.sendto(w.datagram(packet.body), self.core)
        else:
            self.log("sp_other", command=packet.command, length=len(packet.body), source=source)

    def _probe_nat(self, core, user_id):
        # Full cone and restricted probes come from the NAT test server's port; the
        # call-me probe asks for the answer at that port as well.
        self.nat.sendto(w.datagram(w.nat_probe(w.NAT_FULLCONE, user_id)), core)
        self.nat.sendto(w.datagram(w.nat_probe(w.NAT_RESTRICTED, user_id)), core)
        self.nat.sendto(w.datagram(w.nat_probe(w.NAT_CALLME, user_id, self.ports["nat"])), core)

    def _on_nat(self, sock, packet, src):
        names = {w.NAT_FULLCONE_ANSWER: "fullcone", w.NAT_CALLME_ANSWER: "callme",
                 w.NAT_RESTRICTED_ANSWER: "restricted"}
        if packet.command in names:
            f = w.parse_request(packet.body)
            self.log("nat_answer", test=names[packet.command], user_id=f["user_id"], source="%s:%d" % src)
            answered = {e["test"] for e in self.events if e["kind"] == "nat_answer"}
            if len(answered) == 3 and self.core:
                self.sp.sendto(w.datagram(w.nat_result(0x11)), self.core)
                self.log("nat_result", nat_type=0x11)
        else:
            self.log("nat_other", command=packet.command, source="%s:%d" % src)

    def relay_call_me(self, peer_id, peer_port, fid, size, peer_host="127.0.0.1", version=None, wrapped=True):
        """The super node passes a downloading peer's call-me (9, or 50 with its
        version) on to the core, which then answers the peer directly."""
        if not self.core:
            raise RuntimeError("the core has not logged in")
        body = w.call_me(peer_id, peer_host, peer_port, fid, size, target_ip=self.core[0], target_port=self.core[1],
                         version=version)
        packet = w.command_packet(body)
        self.sp.sendto(w.outer(packet) if wrapped else packet, self.core)
        self.log("call_me", peer_id=peer_id, peer="%s:%d" % (peer_host, peer_port), fid=bytes(fid).hex().upper(),
                 form=body[0])

    def _on_peer_query(self, sock, packet, src):
        f = w.parse_peer_query(packet.body)
        fid = bytes(f["fid"])
        entries = self.peer_lists.get(fid)
        self.log("peer_query", user_id=f["user_id"], fid=fid.hex().upper(), query=f["query"], wanted=f["wanted"],
                 peers=None if entries is None else len(entries), source="%s:%d" % src)
        if entries is not None and not self.no_udp_answers:
            sock.sendto(w.datagram(w.peer_list(f["user_id"], fid, list(entries), self.peer_list_code)), src)

    def _relay_call_me_request(self, sock, packet, src):
        """A downloader's call-me (8) goes on to the peer it names as 9, from the super node."""
        f = w.parse_call_me(packet.body)
        self.log("call_me_request", peer_id=f["peer_id"], target_id=f["target_id"], fid=f["fid"].hex().upper(),
                 answer_to="%s:%d" % (f["peer_ip"], f["peer_port"]), source="%s:%d" % src)
        relayed = w.struct.pack("<H", w.CALL_ME) + packet.body[2:]
        sock.sendto(w.datagram(relayed), (f["target_ip"], f["target_port"]))

    def introduce(self, fid, size, peer_id, peer_host, peer_port, nat_type=0x11):
        """Task command 14: the super node tells the core's task of a peer that wants to swap."""
        if not self.core:
            raise RuntimeError("the core has not logged in")
        body = w.call_me(peer_id, peer_host, peer_port, fid, size, nat_type=nat_type)
        self.sp.sendto(w.datagram(w.struct.pack("<H", w.TASK_COMMAND) + body[2:]), self.core)
        self.log("introduce", peer_id=peer_id, fid=bytes(fid).hex().upper())

    def spoof(self, body):
        """Sends a reply to the core from a port that is no server of its own."""
        if self.core:
            self.spoofer.sendto(w.datagram(body), self.core)
            self.log("spoofed", command=w.struct.unpack_from("<H", body)[0])

    # --- TCP

    def _tcp_listen(self, listener, name, handler):
        while not self.stopping.is_set():
            try:
                conn, src = listener.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            self.sockets.append(conn)
            self._thread(self._tcp_conn, conn, src, name, handler)

    def _tcp_conn(self, conn, src, name, handler):
        conn.settimeout(0.2)
        reader, writer = w.StreamReader(), w.StreamWriter()
        source = "%s:%d" % src
        self.log("tcp_connect", server=name, source=source)
        while not self.stopping.is_set():
            try:
                data = conn.recv(65536)
            except socket.timeout:
                continue
            except OSError:
                break
            if not data:
                break
            try:
                frames = reader.feed(data)
            except w.StreamError as e:
                self.log("bad_stream", error=str(e), source=source)
                break
            for command, body in frames:
                try:
                    for reply_command, reply in handler(command, body, src):
                        conn.sendall(writer.pack(reply_command, reply))
                except w.BodyError as e:
                    self.log("bad_body", transport="tcp", command=command, error=str(e), source=source)
        self.log("tcp_close", server=name, source=source)
        conn.close()

    def _on_cp_tcp(self, command, body, src):
        if command == w.T_REGISTER:
            f = w.parse_tcp_request(command, body)
            user_id = f["user_id"] or self.next_user_id
            if not f["user_id"]:
                self.next_user_id += 1
            self.log("register", transport="tcp", user_id=user_id, node_type=f["node_type"],
                     pcid=f["pcid"].rstrip(b"\0").decode("ascii", "replace"))
            yield w.T_REGISTER_REPLY, w.tcp_register_reply(user_id, self.host, self.ports["sp"], self.host,
                                                           self.ports["up"], keepalive_s=self.keepalive_s)
        else:
            self.log("cp_tcp_other", command=command, length=len(body))

    def _on_up_tcp(self, command, body, src):
        if command == w.T_LOGIN:
            f = w.parse_tcp_request(command, body)
            self.log("login", transport="tcp", target="up", user_id=f["user_id"], lan_port=f["lan_port"])
            yield w.T_LOGIN_REPLY, w.tcp_login_reply(src[0], f["lan_port"], 1)
        elif command == w.T_KEEPALIVE:
            w.parse_tcp_request(command, body)
            self.log("keepalive", transport="tcp", status=self.tcp_keepalive_status)
            yield w.T_KEEPALIVE_REPLY, w.tcp_result(self.tcp_keepalive_status)
        elif command == w.T_SHARE_BATCH:
            f = w.parse_tcp_request(command, body)
            self.log("share_batch", transport="tcp", type=f["type"], fids=[x.hex().upper() for x in f["fids"]],
                     values=sorted(f["values"]))
            yield w.T_SHARE_ACCEPTED, b""
        elif command == w.T_LOGOUT:
            w.parse_tcp_request(command, body)
            self.log("logout", transport="tcp")
        else:
            self.log("up_tcp_other", command=command, length=len(body))


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--host", default="127.0.0.1")
    ap.add_argument("--cp-port", type=int, default=18000, help="registration server UDP port (ServPort)")
    ap.add_argument("--cp-tcp-port", type=int, default=8000, help="registration server TCP port, 0 for none")
    ap.add_argument("--sp-port", type=int, default=18002, help="super node UDP port")
    ap.add_argument("--up-port", type=int, default=18004, help="upload server TCP port, 0 for none")
    ap.add_argument("--nat-port", type=int, default=18006, help="NAT test server UDP port")
    ap.add_argument("--log", help="file the received requests are appended to")
    ap.add_argument("--no-udp-answers", action="store_true", help="answer no UDP request (forces the TCP fallback)")
    ap.add_argument("--keepalive-status", type=int, default=0, help="status of every UDP keepalive reply")
    ap.add_argument("--keepalive-status-once", type=int, help="status of the first UDP keepalive reply only")
    ap.add_argument("--tcp-keepalive-status", type=int, default=0, help="result of the TCP keepalive replies")
    ap.add_argument("--sp-reply", choices=["73", "11", "27"], default="73", help="kind of super-node reply")
    ap.add_argument("--login-target", type=int, default=2, help="login target in reply 73 (2 super node)")
    ap.add_argument("--no-nat-probe", action="store_true", help="send no NAT probes after a login")
    ap.add_argument("--spoof-after-login", action="store_true",
                    help="after each login send forged replies from another port (logout, user id, redirect)")
    args = ap.parse_args(argv)
    d = Doubles(args.host, args.cp_port, args.cp_tcp_port, args.sp_port, args.up_port, args.nat_port, args.log,
                args.no_udp_answers, args.keepalive_status, args.keepalive_status_once, args.tcp_keepalive_status,
                args.sp_reply, args.login_target, nat_probe=not args.no_nat_probe)
    d.start()
    spoofed = 0
    try:
        while True:
            time.sleep(0.2)
            logins = d.count("login")
            if args.spoof_after_login and logins > spoofed and d.core:
                spoofed = logins
                for body in forged_replies(args.host):
                    d.spoof(body)
    except KeyboardInterrupt:
        pass
    finally:
        d.stop()


def forged_replies(host):
    """Replies that would log the core out, change its user id or move its super node."""
    return [
        w.keepalive_reply("10.9.9.9", 9, status=2),
        w.register_reply(424242, 9),
        w.login_reply("10.9.9.9", 9),
        w.sp_servers("10.9.9.9", 9, "10.9.9.9", 9),
    ]


if __name__ == "__main__":
    main()
