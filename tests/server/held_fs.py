"""A double of a network drive that stalls: a read-only FUSE filesystem,
served from this process over /dev/fuse (mounted with mount(2) through
ctypes), whose reads of chosen files are held unanswered until the test lets
them go, as a drive whose server stopped answering holds a reader.

  fs = HeldFs(mountpoint, {"clip.avi": data}).start()   root only, in a mount
                                                         namespace of the caller's
  fs.hold("clip.avi"); fs.wait_held(30)   a reader of the file now waits
  fs.release()                            the held reads are answered
  fs.reads, fs.interrupted                what was read; held reads a signal ended
  fs.stop()                               unmounts; a reader still held gets an error

Speaks the kernel's FUSE protocol (7.31 replies) for the few requests a
reader makes: lookup, getattr, open, read, readdir, release, statfs, and
the interrupt of a held read (answered EINTR: without it the kernel keeps a
killed reader's process until the read is answered); any other request is
answered ENOSYS."""

import ctypes
import ctypes.util
import errno
import os
import stat
import struct
import subprocess
import threading
import time

IN_HEADER = struct.Struct("<IIQQIIII")  # len, opcode, unique, nodeid, uid, gid, pid, padding
OUT_HEADER = struct.Struct("<IiQ")      # len, error, unique
ATTR = struct.Struct("<QQQQQQIIIIIIIIII")  # ino size blocks a/m/ctime, their nsec, mode nlink uid gid rdev blksize flags

LOOKUP, FORGET, GETATTR, OPEN, READ, STATFS, RELEASE, FLUSH, INIT = 1, 2, 3, 14, 15, 17, 18, 25, 26
OPENDIR, READDIR, RELEASEDIR, ACCESS, INTERRUPT, DESTROY, BATCH_FORGET = 27, 28, 29, 34, 36, 38, 42
NO_REPLY = (FORGET, BATCH_FORGET)
ROOT = 1
FOPEN_DIRECT_IO = 1
MAX_WRITE = 1 << 17


class HeldFs:
    def __init__(self, mountpoint, files):
        self.mountpoint = mountpoint
        self.names = sorted(files)
        self.data = {ROOT + 1 + i: files[n] for i, n in enumerate(self.names)}
        self.nodes = {n: ROOT + 1 + i for i, n in enumerate(self.names)}
        self.lock = threading.Condition()
        self.held_names = set()
        self.waiting = []  # (unique, node, offset, size) of held reads
        self.reads = []    # (name, offset, size) of every read asked for
        self.interrupted = 0  # held reads given up by a signalled reader
        self.fd = None
        self.thread = None
        self.mtime = int(time.time())

    # --- the test's side

    def start(self):
        self.fd = os.open("/dev/fuse", os.O_RDWR)
        libc = ctypes.CDLL(ctypes.util.find_library("c"), use_errno=True)
        options = "fd=%d,rootmode=40000,user_id=0,group_id=0,allow_other" % self.fd
        if libc.mount(b"heldfs", self.mountpoint.encode(), b"fuse", 0x2 | 0x4, options.encode()) != 0:
            e = ctypes.get_errno()
            os.close(self.fd)
            raise OSError(e, "mount of a FUSE filesystem on %s: %s" % (self.mountpoint, os.strerror(e)))
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()
        return self

    def hold(self, name):
        with self.lock:
            self.held_names.add(name)

    def wait_held(self, timeout):
        """True once a read of a held file waits for its answer."""
        deadline = time.monotonic() + timeout
        with self.lock:
            while not self.waiting:
                left = deadline - time.monotonic()
                if left <= 0:
                    return False
                self.lock.wait(left)
            return True

    def release(self):
        with self.lock:
            self.held_names.clear()
            waiting, self.waiting = self.waiting, []
        for unique, node, offset, size in waiting:
            self._answer_read(unique, node, offset, size)

    def stop(self):
        """Unmounts (lazily, so a reader still inside does not keep it) and
        closes the device, which fails every request still unanswered."""
        if self.fd is None:
            return
        subprocess.run(["umount", "-l", self.mountpoint], stdin=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        fd, self.fd = self.fd, None
        os.close(fd)
        if self.thread:
            self.thread.join(10)

    # --- the kernel's side

    def _serve(self):
        while True:
            try:
                request = os.read(self.fd, MAX_WRITE + 4096)
            except OSError as e:
                if e.errno in (errno.EINTR, errno.EAGAIN, errno.ENOENT):
                    continue  # ENOENT: a request taken back by its interrupted reader
                return  # ENODEV after the unmount, EBADF after the close
            if len(request) < IN_HEADER.size:
                continue
            _, opcode, unique, node, _, _, pid, _ = IN_HEADER.unpack_from(request)
            body = request[IN_HEADER.size:]
            if opcode in NO_REPLY:
                continue
            if opcode == INTERRUPT:
                self._interrupt(struct.unpack_from("<Q", body)[0])
                continue
            if opcode == DESTROY:
                self._reply(unique, 0, b"")
                return
            try:
                self._handle(opcode, unique, node, body)
            except OSError:
                return

    def _reply(self, unique, error, payload):
        if self.fd is None:
            return
        try:
            os.write(self.fd, OUT_HEADER.pack(OUT_HEADER.size + len(payload), -error, unique) + payload)
        except OSError as e:
            if e.errno != errno.ENOENT:  # a reader that gave up
                raise

    def _attr(self, node):
        if node == ROOT:
            mode, size, nlink = stat.S_IFDIR | 0o755, 4096, 2
        else:
            mode, size, nlink = stat.S_IFREG | 0o644, len(self.data[node]), 1
        t = self.mtime
        return ATTR.pack(node, size, (size + 511) // 512, t, t, t, 0, 0, 0, mode, nlink, 0, 0, 0, 4096, 0)

    def _handle(self, opcode, unique, node, body):
        if opcode == INIT:
            major, minor, readahead, flags = struct.unpack_from("<IIII", body)
            # major, minor, max_readahead, flags, max_background, congestion, max_write, time_gran,
            # max_pages, map_alignment, flags2, unused
            self._reply(unique, 0, struct.pack("<IIIIHHIIHHI7I", 7, 31, readahead, 0, 16, 12, MAX_WRITE, 1,
                                               MAX_WRITE // 4096, 0, 0, *([0] * 7)))
        elif opcode == LOOKUP:
            name = body.split(b"\0", 1)[0].decode("utf-8", "replace")
            found = self.nodes.get(name) if node == ROOT else None
            if found is None:
                self._reply(unique, errno.ENOENT, b"")
            else:  # nodeid, generation, entry_valid, attr_valid, their nsec, attr
                self._reply(unique, 0, struct.pack("<QQQQII", found, 1, 1, 1, 0, 0) + self._attr(found))
        elif opcode == GETATTR:
            self._reply(unique, 0, struct.pack("<QII", 1, 0, 0) + self._attr(node))
        elif opcode in (OPEN, OPENDIR):  # files without the page cache: every read comes here
            self._reply(unique, 0, struct.pack("<QII", 0, FOPEN_DIRECT_IO if opcode == OPEN else 0, 0))
        elif opcode == READ:
            fh, offset, size = struct.unpack_from("<QQI", body)
            name = self.names[node - ROOT - 1]
            with self.lock:
                self.reads.append((name, offset, size))
                if name in self.held_names:
                    self.waiting.append((unique, node, offset, size))
                    self.lock.notify_all()
                    return
            self._answer_read(unique, node, offset, size)
        elif opcode == READDIR:
            fh, offset, size = struct.unpack_from("<QQI", body)
            self._reply(unique, 0, self._dirents(offset, size))
        elif opcode in (RELEASE, RELEASEDIR, FLUSH):
            self._reply(unique, 0, b"")
        elif opcode == STATFS:  # blocks, bfree, bavail, files, ffree, bsize, namelen, frsize, padding, spare
            self._reply(unique, 0, struct.pack("<QQQQQIIII6I", 1 << 20, 0, 0, len(self.names) + 1, 0, 4096, 255,
                                               4096, 0, *([0] * 6)))
        else:
            self._reply(unique, errno.ENOSYS, b"")

    def _interrupt(self, unique):
        """A held reader got a signal: its read fails with EINTR, as on a
        drive mounted to let signalled readers go. A killed reader can then
        end; any other retries and is held again."""
        with self.lock:
            held = [w for w in self.waiting if w[0] == unique]
            self.waiting = [w for w in self.waiting if w[0] != unique]
            self.interrupted += len(held)
        if held:
            self._reply(unique, errno.EINTR, b"")

    def _answer_read(self, unique, node, offset, size):
        self._reply(unique, 0, bytes(self.data[node][offset:offset + size]))

    def _dirents(self, offset, size):
        entries = [(ROOT, ".", stat.S_IFDIR), (ROOT, "..", stat.S_IFDIR)] + \
            [(self.nodes[n], n, stat.S_IFREG) for n in self.names]
        out = b""
        for i in range(offset, len(entries)):
            ino, name, kind = entries[i]
            raw = name.encode()
            entry = struct.pack("<QQII", ino, i + 1, len(raw), kind >> 12) + raw
            entry += b"\0" * (-len(entry) % 8)
            if len(out) + len(entry) > size:
                break
            out += entry
        return out
