"""The control channel's frame in Python, written apart from the C++ code so
that end-to-end tests can talk to OrchardSvc (127.0.0.1:9090) as its user
interface does, and check the server's frames on their own terms.

Frame, both directions, little-endian: u32 total (4 + body length), u32
checksum of the plain body (CRC-32 on the reflected table, register started
at 0xFFFFFFFE, no final inversion), then the body XORed with mask byte
(checksum + i) mod 1024.
"""

import select
import socket
import struct
import threading
import zlib

__all__ = [
    "ChannelError", "ChannelClient", "ChannelServerDouble", "MAX_TOTAL", "MAX_REQUEST_TOTAL",
    "crc_update", "scramble", "encode_frame", "command", "split_status",
]

# The largest total the real sessions accept; larger ones close the connection.
MAX_TOTAL = 256 << 20
# The largest total of a request the real server accepts: requests are a
# command code and fixed-size fields, none longer than the export request.
MAX_REQUEST_TOTAL = 4096

# The constant second table of the mask; the same words as in the programs.
_SALT = [
    0x28723C6D, 0xD8685C83, 0x4BE3D168, 0x8DC026EF, 0x864B97FF, 0x78E08389,
    0x145B8E09, 0xEB5EFE04, 0x01D6997A, 0xE1F49973, 0xD888818E, 0xAACB92F3,
    0x7DCB8C99, 0x6B0FEB6E, 0xB8720656, 0x02BC31E0, 0x96DD6468, 0xAB542E6C,
    0xD4F1FF2E, 0x20C4F912, 0x2E410131, 0x1F368130, 0x5B39B3DB, 0xEE9F26FB,
    0x10FE178A, 0x8BDA472F, 0xDAEBF145, 0x2AA38DE3, 0xC7E909F3, 0x3C359558,
    0xD31AE1FB, 0x50978BD9, 0x5C90D5C7, 0xF3CCFB8C, 0x21ED01A4, 0x8D9E5D7C,
    0x9E9CF822, 0x337713C7, 0xC2FB44DA, 0xBC50D900, 0x362FA45E, 0x2BA665F6,
    0x089C36BF, 0x249DCD82, 0x8F0E2E68, 0x788B56AF, 0x3BAD852A, 0x7AF4615C,
    0x6834DDBA, 0x83DF6C1C, 0x4E50C261, 0x5BD53EA2, 0x94A5D799, 0x289330F0,
    0x0D63837F, 0x3E9695A2, 0x3861E6DF, 0xF42A52D0, 0xFC88CEF5, 0x9C37144A,
    0x8EC0B7CC, 0x21D9021B, 0xC94C292B, 0xC5CD3409, 0x05253B9E, 0x2B41C1B3,
    0x007E3CD5, 0xA6D33C3D, 0x3666177F, 0x8B3D659A, 0x72F1BE01, 0x6F26BBA7,
    0x134F58F0, 0x0E113A25, 0x747BED7E, 0xE099FAB2, 0x438B65D1, 0xCBB7BF44,
    0xE1DE9464, 0xBCB3DC70, 0x8B71CECA, 0xA77CDB68, 0x99857559, 0x8DAFDDA0,
    0xC2B3B45F, 0xF1DE6E8C, 0xD2ED8198, 0xC78163C3, 0xA772D081, 0x87B4001E,
    0x80CED8BA, 0xFCD2E41D, 0x9A87A951, 0x8B614F93, 0xA9F9B23F, 0xA3250C31,
    0x1004A437, 0x93C2DFA5, 0x65333604, 0xA32ACA13, 0x41146311, 0xECA40528,
    0xE356B57D, 0xB106B170, 0x6A10CF72, 0x452BE5C1, 0xB4BC7ED2, 0x278C3F4D,
    0xA198C014, 0xE807E2AE, 0x351625B4, 0xE4288DDC, 0x146B1D9B, 0x592677A2,
    0xCA1A2157, 0x5DFB9E16, 0x31D48FFA, 0xF5831006, 0x60EBF267, 0xF4A7EBDB,
    0x151D4871, 0xF05B7598, 0x563AF28E, 0x333C667A, 0x3782D4B1, 0xCA55DE07,
    0xB549E25A, 0x82C81671, 0x3706DD4D, 0x1E54A5D5, 0x799A6329, 0x885BCEB1,
    0x3DFD8CE1, 0x602FF574, 0x3F321FCF, 0x2B24F964, 0x575317C3, 0xE8EFF92A,
    0x8DFD78B4, 0xFE1908F2, 0xBB9A8CA0, 0x6CEFB5ED, 0xAB7B7499, 0x89984361,
    0xE2F50FB6, 0xB7D1B2C7, 0x9FBE27C2, 0xB07CA174, 0xE750AA0E, 0x4A09585B,
    0xD873402C, 0x2D1B4568, 0x842E24AE, 0x342D803E, 0x976BECD6, 0xE221FD42,
    0xBE1974EE, 0x4C1914A0, 0x1750F81A, 0x7B0502C7, 0x0006D6E0, 0x97E66241,
    0x13526AD3, 0x9819F5C4, 0x387049EE, 0x8A49A59C, 0x1DB02136, 0x82C0E10E,
    0x43E3F5A1, 0x6D454A7E, 0xF0C985AC, 0x250DF483, 0xAFE37C8A, 0x15EEDD18,
    0xA720B8E4, 0xC1356BFA, 0xA2E5B683, 0xBE7A39B9, 0x85F0DDD3, 0xA4E7E48B,
    0x7496F4B8, 0xA1E1CCC5, 0xC6AEF4A6, 0xD42A5DFE, 0x437640FC, 0xB5101392,
    0x8B0C444C, 0x68448B6B, 0x92A25A5C, 0x9A301DFD, 0xE827ADFF, 0x1E085594,
    0xBCDF9EE5, 0xA96C9879, 0xB3F67F3B, 0x50224F0B, 0xC7CBDFAD, 0xAB7B3020,
    0x81E46C13, 0x591BF6C0, 0xE49B7CEC, 0xA23CE3E0, 0xF9D76EB9, 0x190E79B0,
    0xA8CCA155, 0xBA7851A7, 0x76263504, 0x1B2D7C2C, 0xCC093A9C, 0x441DD8D8,
    0x946619C1, 0x96EAE30F, 0xF6E18843, 0x4B8BB38C, 0x249B9495, 0x4912F3FC,
    0xEDD38E19, 0x31104D91, 0xA39F8CB8, 0xE05F94F1, 0x257B6118, 0x5A154487,
    0x2BD719EA, 0x7A0AB0FA, 0x8B5E1344, 0xD7E7861E, 0x8910C9A0, 0x6A2107FF,
    0x0F691269, 0xA0334E01, 0xDADC7FA5, 0x4B582E3A, 0x3A5927A9, 0xB3B9A9EE,
    0xF19F605B, 0x12DCE046, 0xDCA41F6D, 0x4E1072BB, 0x5294A239, 0xA3C7C637,
    0xA25356F4, 0xFBAB4B63, 0x8E9847D5, 0x1E5327C3, 0x17A2E3C0, 0x31730037,
    0x5761F5BA, 0xE6FA5DB2, 0x6A20C702, 0xC21E2E3E, 0x7FBD4939, 0x21105B9F,
    0xF2E9615D, 0x4D39A5C5, 0xD28EC5FA, 0x1941C199,
]


def _crc_table():
    table = []
    for i in range(256):
        c = i
        for _ in range(8):
            c = (0xEDB88320 ^ (c >> 1)) if c & 1 else (c >> 1)
        table.append(c)
    return table


_CRC_TABLE = _crc_table()


def crc_update(data, start=0xFFFFFFFE):
    """The channel checksum: reflected CRC-32 from `start`, never inverted."""
    # zlib inverts the register before and after; undo both to start at `start`.
    return ~zlib.crc32(bytes(data), ~start & 0xFFFFFFFF) & 0xFFFFFFFF


def _build_mask():
    words = [((_CRC_TABLE[j] >> 8) + _SALT[255 - j]) & 0xFFFFFFFF for j in range(256)]
    return struct.pack("<256I", *words)


MASK = _build_mask()


def scramble(body, checksum):
    """XOR with the mask from index checksum mod 1024; the same call undoes it."""
    start = checksum % 1024
    # One mask-length key rotated to the start index, repeated over the body.
    key = (MASK[start:] + MASK[:start]) * (len(body) // 1024 + 1)
    n = len(body)
    if n == 0:
        return b""
    return (int.from_bytes(body, "little") ^ int.from_bytes(key[:n], "little")).to_bytes(n, "little")


def encode_frame(body, checksum=None, total=None):
    """A whole frame for `body`. `checksum` or `total` override the true
    values, for tests that send broken frames."""
    body = bytes(body)
    true_checksum = crc_update(body)
    scrambled = scramble(body, true_checksum)
    if checksum is None:
        checksum = true_checksum
    if total is None:
        total = len(body) + 4
    return struct.pack("<II", total & 0xFFFFFFFF, checksum & 0xFFFFFFFF) + scrambled


def command(code, args=b""):
    """A request body: u16 command code, then its arguments."""
    return struct.pack("<H", code) + bytes(args)


def split_status(reply):
    """(u16 status, the rest) of a reply body; status None for an empty reply."""
    if len(reply) < 2:
        return None, bytes(reply)
    return struct.unpack_from("<H", reply)[0], bytes(reply[2:])


class ChannelError(Exception):
    """The peer closed, timed out, or sent a frame that does not check."""


def _recv_exact(sock, n):
    parts = []
    while n > 0:
        chunk = sock.recv(min(n, 1 << 20))
        if not chunk:
            raise ChannelError("connection closed by the peer")
        parts.append(chunk)
        n -= len(chunk)
    return b"".join(parts)


def read_frame(sock):
    """(total, checksum, plain body, checksum ok) of the next frame on sock."""
    total, = struct.unpack("<I", _recv_exact(sock, 4))
    if total < 4 or total > MAX_TOTAL:
        raise ChannelError("frame total %d out of range" % total)
    rest = _recv_exact(sock, total)
    checksum, = struct.unpack_from("<I", rest)
    plain = scramble(rest[4:], checksum)
    return total, checksum, plain, crc_update(plain) == checksum


class ChannelClient:
    """One persistent connection to a channel server.

    send(body) -> reply body; raises ChannelError on time-out, close or a
    reply whose checksum does not match. The raw helpers send and receive
    frames (or any bytes) for tests of the server's handling of bad input.
    """

    def __init__(self, host="127.0.0.1", port=9090, timeout=10.0):
        self.host, self.port, self.timeout = host, port, timeout
        self.sock = socket.create_connection((host, port), timeout=timeout)
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def send(self, body):
        self.send_raw(encode_frame(body))
        _, _, plain, ok = self.recv_frame()
        if not ok:
            raise ChannelError("reply checksum does not match")
        return plain

    def send_raw(self, data):
        self.sock.sendall(bytes(data))

    def recv_frame(self, timeout=None):
        """(total, checksum, plain body, checksum ok); raises socket.timeout
        when nothing arrives within timeout (default: the client's)."""
        self.sock.settimeout(self.timeout if timeout is None else timeout)
        try:
            return read_frame(self.sock)
        finally:
            self.sock.settimeout(self.timeout)

    def closed_by_peer(self, timeout=3.0):
        """True when the server closes the connection within timeout."""
        self.sock.settimeout(timeout)
        try:
            return self.sock.recv(1) == b""
        except socket.timeout:
            return False
        except OSError:
            return True
        finally:
            self.sock.settimeout(self.timeout)

    def close(self):
        self.sock.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class ChannelServerDouble:
    """A channel server on loopback for tests of a real client. For each
    request frame, `respond(plain_body, checksum_ok)` returns the raw bytes
    to send back (use encode_frame), or None to send nothing. Requests are
    recorded in `requests` as (plain body, checksum ok)."""

    def __init__(self, respond, port=0, host="127.0.0.1"):
        self.respond = respond
        self.requests = []
        self.connections = 0
        self.listener = socket.create_server((host, port))
        self.port = self.listener.getsockname()[1]
        self._stop = False
        self._thread = threading.Thread(target=self._serve, daemon=True)
        self._thread.start()

    def _serve(self):
        self.listener.settimeout(0.2)
        while not self._stop:
            try:
                conn, _ = self.listener.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            self.connections += 1
            with conn:
                conn.settimeout(5.0)
                while not self._stop:
                    if not select.select([conn], [], [], 0.2)[0]:
                        continue
                    try:
                        _, _, plain, ok = read_frame(conn)
                    except (ChannelError, OSError):
                        break
                    self.requests.append((plain, ok))
                    answer = self.respond(plain, ok)
                    if answer is not None:
                        conn.sendall(answer)

    def close(self):
        self._stop = True
        self._thread.join(5)
        self.listener.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
